// Renderers: geometry, fixed-point stepping, grey/phase/true-colour values.
#include "display/render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "core/MRCData.h"

namespace {

const unsigned char kClear = 0xAA;

// A real data set with values f(x, y) and a fixed display range.
template <class F>
void fillReal(MRCData& d, int nx, int ny, F f, float lo, float hi) {
    std::vector<float> v((size_t)nx * ny);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) v[(size_t)y * nx + x] = f(x, y);
    d.setRealData(v.data(), nx, ny, 1);
    d.setRenMinMax(lo, hi);
}

TEST(Render, ZoomOneFillsBottomLeftOnly) {
    MRCData d;
    fillReal(
        d, 100, 100, [](int x, int y) { return (float)((x + y) % 200); }, 0, 200);
    std::vector<unsigned char> buf(200 * 150, kClear);
    ASSERT_EQ(1, d.renderAmp8(buf.data(), 0, 0, 200, 150, 200, 1.0f, 10, 210));
    for (int row = 0; row < 150; row++)
        for (int col = 0; col < 200; col++) {
            unsigned char b = buf[row * 200 + col];
            if (row >= 50 && col < 100) {
                int y = 149 - row;  // data row 0 at the bottom
                ASSERT_EQ(10 + (col + y) % 200, b) << row << "," << col;
            } else {
                ASSERT_EQ(kClear, b) << row << "," << col;
            }
        }
}

TEST(Render, ZoomTwoAndHalf) {
    MRCData d;
    fillReal(
        d, 4, 4, [](int x, int y) { return (float)(x + 4 * y); }, 0, 100);
    std::vector<unsigned char> buf(8 * 8, kClear);
    d.renderAmp8(buf.data(), 0, 0, 8, 8, 8, 2.0f, 0, 100);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++)
            for (int dy = 0; dy < 2; dy++)
                for (int dx = 0; dx < 2; dx++) EXPECT_EQ(x + 4 * y, buf[(7 - 2 * y - dy) * 8 + 2 * x + dx]);

    MRCData e;
    fillReal(
        e, 8, 8, [](int x, int y) { return (float)(x + 8 * y); }, 0, 100);
    std::vector<unsigned char> half(4 * 4, kClear);
    e.renderAmp8(half.data(), 0, 0, 4, 4, 4, 0.5f, 0, 100);
    for (int row = 0; row < 4; row++)
        for (int col = 0; col < 4; col++) EXPECT_EQ(2 * col + 8 * 2 * (3 - row), half[row * 4 + col]);
}

// Column k of a long row must show data column floor(k * step), with no drift.
void checkNoDrift(float zoom, double step) {
    const int nx = 3100;
    MRCData d;
    fillReal(
        d, nx, 3, [](int x, int) { return (float)(x % 200); }, 0, 200);
    std::vector<unsigned char> buf(1000, kClear);
    d.renderAmp8(buf.data(), 0, 0, 1000, 1, 1000, zoom, 0, 200);
    for (int k = 0; k < 1000; k++) ASSERT_EQ((int)std::floor(k * step) % 200, buf[k]) << "column " << k;
}

TEST(Render, WholeAndFractionalStepsDoNotDrift) {
    checkNoDrift(1.0f / 3.0f, 3.0);
    checkNoDrift(0.4f, 2.5);
}

TEST(Render, NegativeOffsetsAndDataAboveTheScreen) {
    MRCData d;
    fillReal(
        d, 20, 20, [](int x, int y) { return 1.0f; }, 0, 2);
    std::vector<unsigned char> buf(50 * 40, 0);
    d.renderAmp8(buf.data(), -10, -5, 50, 40, 50, 1.0f, 0, 200);
    for (int row = 0; row < 40; row++)
        for (int col = 0; col < 50; col++) {
            bool in = row >= 15 && row <= 34 && col >= 10 && col < 30;
            ASSERT_EQ(in ? 100 : 0, buf[row * 50 + col]) << row << "," << col;
        }
    // Rows past the data's top are left alone when the offset reaches beyond it.
    MRCData e;
    fillReal(
        e, 10, 10, [](int x, int y) { return 1.0f; }, 0, 2);
    std::vector<unsigned char> b2(10 * 10, 0);
    e.renderAmp8(b2.data(), 0, 5, 10, 10, 10, 1.0f, 0, 200);
    for (int row = 0; row < 10; row++) EXPECT_EQ(row >= 5 ? 100 : 0, b2[row * 10]) << row;
}

TEST(Render, EqualLimitsSplitAtTheValue) {
    MRCData d;
    fillReal(
        d, 3, 3, [](int x, int) { return 4.0f + x; }, 5, 5);
    std::vector<unsigned char> buf(9, kClear);
    d.renderAmp8(buf.data(), 0, 0, 3, 3, 3, 1.0f, 7, 77);
    EXPECT_EQ(7, buf[6]);   // 4
    EXPECT_EQ(7, buf[7]);   // 5
    EXPECT_EQ(77, buf[8]);  // 6
    EXPECT_FLOAT_EQ(4.99f, d.RenMax());
}

// A 66 x 64 transform: pair p of row r at floats r*66 + 2p.
MRCData* complexSet() {
    MRCData* d = new MRCData();
    std::vector<float> v(66 * 64, 0.0f);
    v[32 * 66 + 0] = 100;  // DC amplitude
    v[1 * 66 + 2 * 1 + 1] = 3.1415927f;
    v[1 * 66 + 2 * 2 + 1] = -3.1415927f;
    d->setComplData(v.data(), 66, 64, 1);
    d->setRenMinMax(0, 100);
    return d;
}

TEST(Render, ComplexShowsCentredSpectrum) {
    std::unique_ptr<MRCData> d(complexSet());
    std::vector<unsigned char> buf(100 * 64, kClear);
    d->renderAmp8(buf.data(), 0, 0, 100, 64, 100, 1.0f, 0, 200);
    for (int row = 0; row < 64; row++)
        for (int col = 0; col < 100; col++) {
            unsigned char b = buf[row * 100 + col];
            if (col >= 64)
                ASSERT_EQ(kClear, b);
            else if (col == 32 && row == 63 - 31)
                ASSERT_EQ(200, b);
            else
                ASSERT_EQ(0, b) << row << "," << col;
        }
}

TEST(Render, PhaseEnds) {
    std::unique_ptr<MRCData> d(complexSet());
    std::vector<unsigned char> buf(64 * 64, kClear);
    d->renderPha8(buf.data(), 0, 0, 64, 64, 64, 1.0f, 1, 254);
    // Data row 0, columns X/2 and X/2+1 read pairs 1 and 2 of row 1.
    EXPECT_EQ(254, buf[63 * 64 + 33]);
    EXPECT_EQ(1, buf[63 * 64 + 34]);
    // Their Friedel mates (row Y-2, columns X/2-2, X/2-3) show the negated phase.
    EXPECT_EQ(1, buf[(63 - 62) * 64 + 31]);
    EXPECT_EQ(254, buf[(63 - 62) * 64 + 30]);
    EXPECT_EQ(1 + (int)(3.1415927f * (253 / (2 * 3.1415927f))), buf[0]);  // phase 0 is mid-range
}

TEST(Render, TrueColourPacking) {
    MRCData d;
    fillReal(
        d, 2, 2, [](int x, int) { return (float)x; }, 0, 1);
    std::vector<unsigned char> b24(2 * 3 * 2, kClear);
    d.renderAmpTC(b24.data(), 0, 0, 2, 2, 6, 1.0f, 8, 8);
    EXPECT_EQ(0, b24[0]);
    for (int i = 3; i < 6; i++) EXPECT_EQ(255, b24[i]);
    std::vector<unsigned char> b16(2 * 2 * 2, kClear);
    d.renderAmpTC(b16.data(), 0, 0, 2, 2, 4, 1.0f, 5, 6);
    EXPECT_EQ(0xDF, b16[2]);  // 31 + 31<<6 + 31<<11 = 0xFFDF, low byte first
    EXPECT_EQ(0xFF, b16[3]);
    // 8/8 red and green of different sizes show the byte order: bits 16-23 come first.
    MRCData e;
    fillReal(
        e, 1, 2, [](int, int) { return 1.0f; }, 0, 1);
    std::vector<unsigned char> b(3, 0);
    e.renderAmpTC(b.data(), 0, 0, 1, 1, 3, 1.0f, 7, 9);
    uint32_t P = 127 + (127u << 9) + (127u << 16);
    EXPECT_EQ((P >> 16) & 255, b[0]);
    EXPECT_EQ((P >> 8) & 255, b[1]);
    EXPECT_EQ(P & 255, b[2]);
}

TEST(Render, LookupTableMatchesGreyLevels) {
    MRCData d;
    fillReal(
        d, 16, 16, [](int x, int y) { return (float)(x * 16 + y); }, 0, 255);
    std::vector<unsigned char> grey(16 * 16);
    d.renderAmp8(grey.data(), 0, 0, 16, 16, 16, 1.0f, 0, 255);
    uint32_t lut[256];
    for (int i = 0; i < 256; i++) lut[i] = 0x11000000u | (uint32_t)i << 16 | (uint32_t)(255 - i) << 8 | 7u;
    std::vector<unsigned char> lsb(16 * 16 * 4), msb(16 * 16 * 4), three(16 * 16 * 3);
    d.renderLUT(lsb.data(), 0, 0, 16, 16, 64, 1.0f, lut, 4, 0, 0);
    d.renderLUT(msb.data(), 0, 0, 16, 16, 64, 1.0f, lut, 4, 1, 0);
    d.renderLUT(three.data(), 0, 0, 16, 16, 48, 1.0f, lut, 3, 1, 0);
    for (int i = 0; i < 256; i++) {
        int L = grey[i];
        const unsigned char* p = &lsb[i * 4];
        ASSERT_EQ(7, p[0]);
        ASSERT_EQ(255 - L, p[1]);
        ASSERT_EQ(L, p[2]);
        ASSERT_EQ(0x11, p[3]);
        const unsigned char* q = &msb[i * 4];
        ASSERT_EQ(0x11, q[0]);
        ASSERT_EQ(L, q[1]);
        ASSERT_EQ(7, q[3]);
        const unsigned char* t = &three[i * 3];
        ASSERT_EQ(L, t[0]);
        ASSERT_EQ(7, t[2]);
    }
    // Phase of a complex set through the table equals renderPha8's level.
    std::unique_ptr<MRCData> c(complexSet());
    std::vector<unsigned char> p8(64 * 64), p32(64 * 64 * 4);
    c->renderPha8(p8.data(), 0, 0, 64, 64, 64, 1.0f, 0, 255);
    c->renderLUT(p32.data(), 0, 0, 64, 64, 256, 1.0f, lut, 4, 0, 1);
    for (int i = 0; i < 64 * 64; i++) ASSERT_EQ(p8[i], p32[i * 4 + 2]);
}

TEST(Render, DegenerateZoomsAndDataOffTheScreenDrawNothing) {
    MRCData d;
    fillReal(
        d, 4, 4, [](int, int) { return 1.0f; }, 0, 2);
    std::vector<unsigned char> buf(16, kClear);
    for (float z : {0.0f, -1.0f, NAN, 1e-12f}) d.renderAmp8(buf.data(), 0, 0, 4, 4, 4, z, 0, 200);
    d.renderAmp8(buf.data(), 20, 0, 4, 4, 4, 1.0f, 0, 200);  // data entirely left of the screen
    for (unsigned char b : buf) EXPECT_EQ(kClear, b);
}

}  // namespace
