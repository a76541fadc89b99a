// The correlation and alignment commands of the CTF menu.
#pragma once

void m_Ctf_Rotate_Translate();
// k = 0 "ACF", 1 "Center (center)", 2 "Center (corner)", 3 "CCF", 4 "Trans. Align", 5 "RCF",
// 6 "Rot. Align", 7 "Align RT", 8 "Center + Ali RT", 9 "Phase Origin Shift".
void m_Ctf_CCF(int k);
