// Writes the micrograph of the Analyze scenario: 1024 x 1024 pixels of 2.5 A
// seen through a CTF of 1.5 um underfocus at 100 kV and Cs 5.6 mm (the
// workbench's default microscope), amplitude contrast 0.07.
#include "core/MRCData.h"
#include "tests/core/ctf_synth.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    SynthCtf s;
    s.nx = s.ny = 1024, s.pixel = 2.5f, s.kv = 100, s.cs = 5.6f, s.defocus = 1.5f, s.bfactor = 400, s.noise = 0.3f;
    MRCData d;
    d.setRealData(synth_micrograph(s).data(), s.nx, s.ny, 1);
    d.setPixres(s.pixel);
    d.setName("ctf sample");
    return d.writeMRCData(argv[1], 0) ? 0 : 1;
}
