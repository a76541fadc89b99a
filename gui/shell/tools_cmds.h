// The Tools menu: image operations on the selected data sets.
#pragma once

void m_Tools_ClipCmap();
void m_Tools_Average(int kind);  // 0 average, 1 FFT average
void m_Tools_Filter();
void m_Tools_Normalize(int kind);  // 0 mean/sigma, 1 edge
void m_Tools_Subtract();
void m_Tools_Flip();
void m_Tools_Flood();
void m_Tools_Mask(int type);  // 0 step, 2 noise
void m_Tools_Analyze();       // with the live CTF window (ctf/)
void m_Tools_Pad();
void m_Tools_FFT(int inverse);
void m_Tools_DWT(int inverse);
void m_Tools_DWTF();
