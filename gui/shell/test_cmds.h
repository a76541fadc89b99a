// The Test Image menu: synthetic 512 x 512 images and amplitude smoothing.
#pragma once

// Makes test image `item` (1..10, in menu order) in the current group.
void m_Test_image(int item);
void m_Test_Smooth();
