// The File menu's door to the file formats. Readers and writers that are not
// in this build answer -1 (or null with *missing set), so the menu can say so.
#pragma once

class List;
class MRCData;

// kind: 0 MRC, 1 Scans-A-Lot, 2 picture (PGM and converters), 4 SPIDER.
int fmt_read(int kind, MRCData* d, const char* path);
int fmt_writeSPIDER(MRCData* d, const char* path);
int fmt_appendImagic(MRCData* d, const char* path);
int fmt_appendPIF(MRCData* d, const char* path);
int fmt_writePGM(MRCData* d, const char* path);
List* fmt_readIMAGIC(const char* path, bool* missing);
List* fmt_readPIF(const char* path, bool* missing);
// Tells the user that a format is not in this build.
void fmt_unavailable(const char* what);
