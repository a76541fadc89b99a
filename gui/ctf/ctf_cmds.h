// The CTF menu's correction and merging commands.
#pragma once

class MRCData;
struct LC_pstate;

void m_Ctf_AppCTF();
void m_Ctf_Filt();
void m_Ctf_fixphase(MRCData* d, LC_pstate* p);
void m_Ctf_step1();
void m_Ctf_DfMerge(MRCData* d1, MRCData* d2, LC_pstate* p1, LC_pstate* p2, float lowpass, float highpass);
void m_Ctf_DfMerge3(MRCData* d1, MRCData* d2, MRCData* d3, LC_pstate* p1, LC_pstate* p2, LC_pstate* p3, float lowpass,
                    float highpass);
void m_Ctf_DfMergeSet();
