// Renderers: geometry, fixed-point stepping, grey/phase/true-colour values.
#include "numeric/render.h"

#include "tests/core/numeric_testutil.h"

namespace {

const unsigned char kClear = 0xAA;
using Bytes = std::vector<unsigned char>;

// A real data set with values f(x, y) and a fixed display range.
template <class F>
Data shown(int nx, int ny, float lo, float hi, F f) {
    Data d = fnData(nx, ny, f);
    d->setRenMinMax(lo, hi);
    return d;
}

// A 66 x 64 transform: pair p of row r at floats r*66 + 2p.
Data complexSet() {
    std::vector<float> v(66 * 64, 0.0f);
    v[32 * 66 + 0] = 100;  // DC amplitude
    v[1 * 66 + 2 * 1 + 1] = 3.1415927f;
    v[1 * 66 + 2 * 2 + 1] = -3.1415927f;
    Data d(new MRCData());
    d->setComplData(v.data(), 66, 64, 1);
    d->setRenMinMax(0, 100);
    return d;
}

// Number of bytes of a w-wide buffer where got differs from want(row, col).
template <class W>
int countOff(const Bytes& got, int w, W want) {
    int bad = 0;
    for (size_t i = 0; i < got.size(); i++) bad += got[i] != want((int)i / w, (int)i % w);
    return bad;
}

TEST(Render, ZoomOneFillsBottomLeftOnly) {
    Data d = shown(100, 100, 0, 200, [](int x, int y) { return (float)((x + y) % 200); });
    Bytes buf(200 * 150, kClear);
    ASSERT_EQ(1, d->renderAmp8(buf.data(), 0, 0, 200, 150, 200, 1.0f, 10, 210));
    // Data row 0 at the bottom.
    auto want = [](int row, int col) { return row >= 50 && col < 100 ? 10 + (col + 149 - row) % 200 : kClear; };
    EXPECT_EQ(countOff(buf, 200, want), 0);
}

TEST(Render, ZoomTwoAndHalf) {
    Data d = shown(4, 4, 0, 100, [](int x, int y) { return (float)(x + 4 * y); });
    Bytes buf(8 * 8, kClear), half(4 * 4, kClear);
    d->renderAmp8(buf.data(), 0, 0, 8, 8, 8, 2.0f, 0, 100);
    EXPECT_EQ(countOff(buf, 8, [](int row, int col) { return col / 2 + 4 * ((7 - row) / 2); }), 0);
    Data e = shown(8, 8, 0, 100, [](int x, int y) { return (float)(x + 8 * y); });
    e->renderAmp8(half.data(), 0, 0, 4, 4, 4, 0.5f, 0, 100);
    EXPECT_EQ(countOff(half, 4, [](int row, int col) { return 2 * col + 8 * 2 * (3 - row); }), 0);
}

TEST(Render, WholeAndFractionalStepsDoNotDrift) {
    // Column k of a long row must show data column floor(k * step), with no drift.
    Data d = shown(3100, 3, 0, 200, [](int x, int) { return (float)(x % 200); });
    for (auto zs : {std::pair<float, double>{1.0f / 3.0f, 3.0}, {0.4f, 2.5}}) {
        Bytes buf(1000, kClear);
        d->renderAmp8(buf.data(), 0, 0, 1000, 1, 1000, zs.first, 0, 200);
        EXPECT_EQ(countOff(buf, 1000, [&](int, int k) { return (int)std::floor(k * zs.second) % 200; }), 0)
            << zs.second;
    }
}

TEST(Render, NegativeOffsetsAndDataAboveTheScreen) {
    Data d = shown(20, 20, 0, 2, [](int, int) { return 1.0f; }), e = shown(10, 10, 0, 2, [](int, int) { return 1.0f; });
    Bytes buf(50 * 40, 0), b2(10 * 10, 0);
    d->renderAmp8(buf.data(), -10, -5, 50, 40, 50, 1.0f, 0, 200);
    auto want = [](int row, int col) { return row >= 15 && row <= 34 && col >= 10 && col < 30 ? 100 : 0; };
    EXPECT_EQ(countOff(buf, 50, want), 0);
    // Rows past the data's top are left alone when the offset reaches beyond it.
    e->renderAmp8(b2.data(), 0, 5, 10, 10, 10, 1.0f, 0, 200);
    EXPECT_EQ(countOff(b2, 10, [](int row, int) { return row >= 5 ? 100 : 0; }), 0);
}

TEST(Render, EqualLimitsSplitAtTheValue) {
    Data d = shown(3, 3, 5, 5, [](int x, int) { return 4.0f + x; });
    Bytes buf(9, kClear);
    d->renderAmp8(buf.data(), 0, 0, 3, 3, 3, 1.0f, 7, 77);
    EXPECT_EQ(Bytes(buf.begin() + 6, buf.end()), Bytes({7, 7, 77}));  // 4, 5, 6
    EXPECT_FLOAT_EQ(4.99f, d->RenMax());
}

TEST(Render, ComplexShowsCentredSpectrum) {
    Bytes buf(100 * 64, kClear);
    complexSet()->renderAmp8(buf.data(), 0, 0, 100, 64, 100, 1.0f, 0, 200);
    EXPECT_EQ(
        countOff(buf, 100, [](int row, int col) { return col >= 64                ? kClear
                                                         : col == 32 && row == 32 ? 200
                                                                                  : 0; }), 0);
}

TEST(Render, PhaseEnds) {
    Bytes buf(64 * 64, kClear);
    complexSet()->renderPha8(buf.data(), 0, 0, 64, 64, 64, 1.0f, 1, 254);
    // Data row 0, columns X/2 and X/2+1 read pairs 1 and 2 of row 1; their
    // Friedel mates (row Y-2, columns X/2-2, X/2-3) show the negated phase;
    // phase 0 is mid-range.
    EXPECT_EQ(Bytes({buf[63 * 64 + 33], buf[63 * 64 + 34], buf[1 * 64 + 31], buf[1 * 64 + 30], buf[0]}),
              Bytes({254, 1, 1, 254, (unsigned char)(1 + (int)(3.1415927f * (253 / (2 * 3.1415927f))))}));
}

TEST(Render, TrueColourPacking) {
    Data d = shown(2, 2, 0, 1, [](int x, int) { return (float)x; });
    Bytes b24(2 * 3 * 2, kClear), b16(2 * 2 * 2, kClear), b(3, 0);
    d->renderAmpTC(b24.data(), 0, 0, 2, 2, 6, 1.0f, 8, 8);
    EXPECT_EQ(Bytes(b24.begin(), b24.begin() + 6), Bytes({0, 0, 0, 255, 255, 255}));
    d->renderAmpTC(b16.data(), 0, 0, 2, 2, 4, 1.0f, 5, 6);
    EXPECT_EQ(Bytes(b16.begin() + 2, b16.begin() + 4), Bytes({0xDF, 0xFF}));  // 31 + 31<<6 + 31<<11, low byte first
    // 8/8 red and green of different sizes show the byte order: bits 16-23 come first.
    shown(1, 2, 0, 1, [](int, int) { return 1.0f; })->renderAmpTC(b.data(), 0, 0, 1, 1, 3, 1.0f, 7, 9);
    uint32_t P = 127 + (127u << 9) + (127u << 16);
    EXPECT_EQ(b, Bytes({(unsigned char)(P >> 16), (unsigned char)(P >> 8), (unsigned char)P}));
}

TEST(Render, LookupTableMatchesGreyLevels) {
    Data d = shown(16, 16, 0, 255, [](int x, int y) { return (float)(x * 16 + y); });
    Bytes grey(16 * 16), lsb(16 * 16 * 4), msb(16 * 16 * 4), three(16 * 16 * 3);
    d->renderAmp8(grey.data(), 0, 0, 16, 16, 16, 1.0f, 0, 255);
    uint32_t lut[256];
    for (int i = 0; i < 256; i++) lut[i] = 0x11000000u | (uint32_t)i << 16 | (uint32_t)(255 - i) << 8 | 7u;
    d->renderLUT(lsb.data(), 0, 0, 16, 16, 64, 1.0f, lut, 4, 0, 0);
    d->renderLUT(msb.data(), 0, 0, 16, 16, 64, 1.0f, lut, 4, 1, 0);
    d->renderLUT(three.data(), 0, 0, 16, 16, 48, 1.0f, lut, 3, 1, 0);
    for (int i = 0; i < 256; i++) {
        const int L = grey[i];
        ASSERT_EQ(Bytes(&lsb[i * 4], &lsb[i * 4 + 4]), Bytes({7, (unsigned char)(255 - L), (unsigned char)L, 0x11}));
        ASSERT_EQ(Bytes({msb[i * 4], msb[i * 4 + 1], msb[i * 4 + 3]}), Bytes({0x11, (unsigned char)L, 7}));
        ASSERT_EQ(Bytes({three[i * 3], three[i * 3 + 2]}), Bytes({(unsigned char)L, 7}));
    }
    // Phase of a complex set through the table equals renderPha8's level.
    Data c = complexSet();
    Bytes p8(64 * 64), p32(64 * 64 * 4);
    c->renderPha8(p8.data(), 0, 0, 64, 64, 64, 1.0f, 0, 255);
    c->renderLUT(p32.data(), 0, 0, 64, 64, 256, 1.0f, lut, 4, 0, 1);
    for (int i = 0; i < 64 * 64; i++) ASSERT_EQ(p8[i], p32[i * 4 + 2]);
}

TEST(Render, DegenerateZoomsAndDataOffTheScreenDrawNothing) {
    Data d = shown(4, 4, 0, 2, [](int, int) { return 1.0f; });
    Bytes buf(16, kClear);
    for (float z : {0.0f, -1.0f, NAN, 1e-12f}) d->renderAmp8(buf.data(), 0, 0, 4, 4, 4, z, 0, 200);
    d->renderAmp8(buf.data(), 20, 0, 4, 4, 4, 1.0f, 0, 200);  // data entirely left of the screen
    EXPECT_EQ(buf, Bytes(16, kClear));
}

}  // namespace
