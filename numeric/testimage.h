// Synthetic 512 x 512 images for trying out the display and the operations.
#pragma once

class MRCData;

constexpr int kTestImages = 10;
// Label of test image `item` (1..10, in menu order), null for other numbers.
const char* testImageLabel(int item);
// Item number of a label, 0 when there is none.
int testImageItem(const char* label);
// A new 512 x 512 data set "Test image" holding image `item`; null for an
// unknown item. "Gauss x Slip" draws from the shared random generator.
MRCData* makeTestImage(int item);
