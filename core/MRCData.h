// One 2-D image data set: float values (real, or complex pairs), statistics,
// histogram, display range, scale, names, boxes and the headers it was read with.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/MRCheader.h"
#include "core/buffer.h"
#include "core/pstate.h"

class List;

// Kept headers of the other formats: the IMAGIC image header (256 words) and
// the first 1024 bytes of a SPIDER header.
struct IMAGICH {
    int32_t w[256];
};
struct SPIDERH {
    unsigned char b[1024];
};

// Coordinates are held whole (images may be wider than 32767 pixels); only
// the box database file is limited to 16-bit numbers, and refuses more.
struct BoxRecord {
    int32_t x, y, xsize, ysize;  // filament: (x, y) and (xsize, ysize) are its end points
    int32_t newx, newy;          // moved centre, -1 when not moved
    int32_t type;                // 0 rectangle, else filament width
    char name[40];
};

// Byte reversal of n 4-byte words / n 2-byte words, in place.
void brev(unsigned char* buf, int n);
void brevs(unsigned char* buf, int n);
// 1 on a little-endian machine.
int isLittleEndian();

// The preferences' magnification "mag" (thousands, default 30) and scanner step "scanres"
// (micrometres, default 25; missing ones are stored), and the pixel size they give a data set
// whose file records none. Reads the preferences: GUI thread (or a single-threaded tool) only.
struct ScanScale {
    float mag, scanres;
    float pixres() const { return scanres / mag * 10; }
};
ScanScale scan_scale_prefs();

class MRCData {
public:
    MRCData();  // Mag and Pixres from the preferences: GUI thread (or a single-threaded tool) only
    // Empty, with this scale; reads no preference, so worker threads may make one.
    MRCData(float mag, float pixres);
    explicit MRCData(MRCData* src);  // identity only, no pixels
    ~MRCData();
    MRCData(const MRCData&) = delete;
    MRCData& operator=(const MRCData&) = delete;

    // ---- accessors
    int xSize() const { return nx; }
    int ySize() const { return ny; }
    int zSize() const { return nz; }
    int Flags() const { return flags; }
    int isComplex() const { return flags & 1; }
    float* getRealData() { return data.data(); }
    const float* getRealData() const { return data.data(); }
    float* getImagData() { return data.data() + 1; }
    float Min() const { return min; }
    float Max() const { return max; }
    float Mean() const { return (float)mean; }
    float Sigma() const { return (float)sigma; }
    float EdgeMean() const { return (float)edgeMean; }
    float EdgeSigma() const { return (float)edgeSigma; }
    float Histmin() const { return histmin; }
    float Histmax() const { return histmax; }
    float Histscale() const { return (histmax - (float)mean) / (max - (float)mean); }
    const float* Histogram() const { return histogram; }
    float RenMin() const { return renMin; }
    float RenMax() const { return renMax; }
    float Mag() const { return mag; }
    float Pixres() const { return pixres; }
    int Seqno() const { return seqno; }
    const char* Name() const;
    const char* File() const;
    int nBoxes() const { return boxCount; }
    BoxRecord* Boxes() { return boxes.data(); }
    int boxCapacity() const { return (int)boxes.size(); }
    int hasPstate() const { return pstate != nullptr; }
    LC_pstate* Pstate();
    MRCheader* MRCHed() { return mrcHed; }
    IMAGICH* IMHed() { return imHed; }
    SPIDERH* SPIDERHed() { return spHed; }
    unsigned char* pifHeader() { return pifHed; }
    size_t dataCapacity() const { return data.size(); }

    // ---- setters
    void setFlags(int f) { flags = f; }
    void setSeqno(int s) { seqno = s; }
    void setMag(float m) { mag = m; }
    void setPixres(float p) { pixres = p; }
    // Mag and Pixres from scan_scale_prefs(), as for a file that records no pixel size.
    void setDefaultScale();
    void setRenMinMax(float lo, float hi) {
        renMin = lo;
        renMax = hi;
    }
    void setName(const char* n);
    int setFile(const char* f);
    void setMRCHed(MRCheader* h);
    void setIMHed(IMAGICH* h);
    void setSPIDERHed(SPIDERH* h);
    void setPifHeader(unsigned char* h);  // takes a malloc'ed 512-byte block

    // ---- data replacement
    void setSize(int nx, int ny, int nz);  // (nx+2)*ny*nz floats, contents undefined
    void setRealData(const float* src, int nx, int ny, int nz);
    void setComplData(const float* src, int nx, int ny, int nz);
    // Resizes the buffer to exactly n floats (at least 1); readers use it.
    void resizeData(size_t n);
    // Sets the sizes without touching the buffer (the caller made it large enough).
    void setSizes(int x, int y, int z) {
        goodStats = false;
        nx = x;
        ny = y;
        nz = z;
    }
    float valueAt(int x, int y) const;

    // ---- statistics
    int update();
    int rehist(float lo, float hi);
    double clipToHist();
    void normalize();
    void edgeNormalize();

    // ---- boxes
    int addBox(int x, int y, int xsize, int ysize, const char* name, int type);
    // Straightened filament from (x0, y0) towards (x1, y1): width columns
    // across, length rows along, bilinear samples, Mean outside (core/boxcut.cpp).
    int extractRealFila(float* dest, int x0, int y0, int x1, int y1, int width, int length);
    void delBox(int i);
    void clearBoxes() { boxCount = 0; }

    // ---- raw-stream readers (IMAGIC)
    int setFloatRealFromStream(FILE* fp, int nx, int ny, int nz, int swap);
    int setShortRealFromStream(FILE* fp, int nx, int ny, int nz, int swap);

    // ---- MRC files
    int readMRCData(const char* file);
    // The same without the preference table (thread-safe on a data set made with
    // MRCData(mag, pixres)): a file that records no pixel size gets s's scale.
    int readMRCData(const char* file, const ScanScale& s);
    int writeMRCData(const char* file, int shortMode);

    // ---- other file formats (core/spider.cpp, imagic.cpp, pif.cpp, picture.cpp, boxdb.cpp)
    // SPIDER: one real 2-D image; the first 1024 header bytes are kept and written back.
    int readSPIDER(const char* file);
    int writeSPIDER(const char* file);
    // Appends this image to the IMAGIC pair stem.hed/stem.img (created when missing).
    int appendImagic(const char* file);
    // Appends this image to a PIF file as scaled 32-bit integers (created when missing).
    int appendPIF(const char* file);
    // Pictures: binary PGM directly, other pictures through netpbm/djpeg converters.
    int readPGM(const char* file);
    // 8-bit PGM through the display range (renderAmp8), first row = top of the screen.
    int writePGM(const char* file);
    // Scans-A-Lot header/data pair (stem.HDR/.IMG).
    int readSAL(const char* file);
    // Box database in the ICE/boxmrc section layout.
    int saveBoxDB(const char* file);
    int loadBoxDB(const char* file);

    // ---- rendering (numeric/render.cpp)
    // Pixels of the data set into buffer (rows of bytesPerLine bytes), data row 0
    // at the bottom; xOff/yOff are the data coordinates of the screen's
    // lower-left corner; unfilled pixels keep what the caller put there. All return 1.
    int renderAmp8(unsigned char* buffer, int xOff, int yOff, int width, int height, int bytesPerLine, float zoom,
                   int lo, int hi);
    int renderPha8(unsigned char* buffer, int xOff, int yOff, int width, int height, int bytesPerLine, float zoom,
                   int lo, int hi);
    int renderAmpTC(unsigned char* buffer, int xOff, int yOff, int width, int height, int bytesPerLine, float zoom,
                    int redBits, int greenBits);
    // True colour through a lookup table: the 0..255 grey level (as renderAmp8
    // with lo 0, hi 255; the phase level for complex data when phase is set)
    // picks lut[level], stored in bytesPerPixel (1..4) bytes, MSB or LSB first.
    int renderLUT(unsigned char* buffer, int xOff, int yOff, int width, int height, int bytesPerLine, float zoom,
                  const uint32_t* lut, int bytesPerPixel, int msbFirst, int phase);

    // ---- Fourier, filters, masks, correlation (numeric/)
    // Complex data (after a transform) holds rows of NX+2 floats, NX/2+1 pairs,
    // rows centred on NY/2; pairs are (amplitude, phase), or (re, im) when Flags bit 2
    // is set. Only the first plane takes part in a transform: results have one plane.
    // numeric/fourier.cpp
    MRCData* doFFT(int keepReIm);
    MRCData* doIFT(int isReIm);
    int padTo(int noise, int newX, int newY);  // refuses complex data and shrinking
    void toCorner();
    int extractReal(float* dest, int x0, int y0, int width, int height);
    int extractCompl(float* dest, int x0, int y0, int width, int height);
    // numeric/radial.cpp. Fourier radii, the radial tables' abscissae and the
    // profiles' radial abscissae are in steps of the y frequency
    // (numeric/fradius.h): a radius r is r / (ySize x Pixres) per Angstrom.
    float* calcDist(int mode, int px, int py);
    // Adds amp^2 of every pair into n radial bins of width step (y-frequency steps,
    // linear weights), per sector of pi/nAngles centred on j*pi/nAngles (1: one
    // sector for all directions): W and P hold nAngles rows of n bins.
    void radialPower(float step, int n, int nAngles, float* W, float* P) const;
    void calcRDist(float* out, int count, int radius, float cx, float cy);
    void applyRadFn(int n, float* A, float* V);
    void setRadAmp(int n, float* A, float* V);
    void subRadFn(int n, float* A, float* V);
    void addRadNoise(int n, float* A, float* V, float spread);
    MRCData* smoothAmp();
    MRCData* simfilt(MRCData* other);
    int applyMask(int type, int radius);
    void edgeFlood(float value);
    void flipData();
    MRCData* makeClip(int x0, int y0, int width, int height);
    int makeAverage(List* sets, int mode);
    int makeFFTAvg(List* sets);
    // numeric/align.cpp
    struct Shift {
        float dx, dy;
    };
    MRCData* calcCCF(MRCData* other);
    Shift ACFcenter(int mode);
    Shift align(MRCData* other, int sign);
    float calcRCF(MRCData* other, float cx, float cy);
    // Number of rings calcRCF correlates around an offset (cx, cy); 0: none fits.
    int rcfRings(float cx, float cy) const;
    MRCData* rotateAndTranslate(float angle, float dx, float dy, int inPlace);
    void subData(MRCData* other);

    // ---- wavelets and CTF (wav/, ctf/)
    // Wavelet transform in place with bank `basis` (0..14, others Daub4); levels 0 or
    // out of range take the maximum. 0 on failure, the data untouched (wav/dwt.cpp).
    int doDWT(int basis, int levels);
    int doIWT(int basis, int levels);
    // Transform, threshold the detail bands with the ten level gains, invert.
    // The threshold argument is kept for the menu's call; the gains decide.
    int DWTFilt(int basis, int levels, float threshold, const float* gains);

    // Radial distance cache, owned by the radial profile code.
    std::vector<float> radCache;
    int radCacheKey = -1;
    float radCacheStep = 0;

private:
    void statsPass(double& sum, double& sumsq);
    void normalizeBy(double m, double dev);
    void autoRange();

    MRCheader* mrcHed = nullptr;
    IMAGICH* imHed = nullptr;
    SPIDERH* spHed = nullptr;
    unsigned char* pifHed = nullptr;
    int flags = 0;
    FloatBuffer data;
    int nx = 0, ny = 0, nz = 0;
    float min = 0, max = 0, histmax = 0, histmin = 0;
    double mean = 0, sigma = 0, edgeMean = 0, edgeSigma = 0;
    float mag = 30, pixres = 8.333f;
    float histogram[257] = {};
    float renMin = -999, renMax = -999;
    char* name = nullptr;
    char* file = nullptr;
    std::vector<BoxRecord> boxes;
    int boxCount = 0;
    int seqno = 0;
    LC_pstate* pstate = nullptr;
    bool goodStats = false;  // the last update found finite statistics
};
