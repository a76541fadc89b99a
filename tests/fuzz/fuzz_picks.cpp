// libFuzzer target: the pick file readers (RELION .star, EMAN2 .box) on
// arbitrary text, then a write of what they read, and particle extraction of
// a small micrograph at whatever centres the text holds.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include <cmath>

#include "core/picks.h"
#include "pick/extract.h"
#include "tests/fuzz/fuzz_util.h"

static std::string g_base;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_base = fuzz_init("picks");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = g_base + ".in", out = g_base + "-out.star";
    fuzz_put(in, data, size);
    std::vector<Pick> p;
    if (readStarPicks(in.c_str(), 64, 48, &p)) writeStarPicks(out.c_str(), p);
    if (readBoxPicks(in.c_str(), &p)) writeBoxPicks(out.c_str(), p);
    std::vector<PickCentre> c;
    if (readStarCentres(in.c_str(), &c))
        for (const PickCentre& k : c)
            if (!(k.x >= 0 && k.y >= 0 && k.x <= 1e6 && k.y <= 1e6)) __builtin_trap();
    // The extraction job reads the same text as the picks of micrograph NAME.mrc.
    const std::string stem = g_base + "-m", picks = stem + "_p.star", dir = g_base + "-out";
    fuzz_put(picks, data, size);
    static std::vector<float> mic(96 * 80, 1.0f);
    for (size_t i = 0; i < mic.size(); i++) mic[i] = (float)((i * 37) % 11);
    ExtractJob job;
    job.params.size = 16;
    job.params.fillEdge = size % 2;
    job.params.flip = size % 3 == 0;
    job.outDir = dir;
    job.picksSuffix = "_p.star";
    std::vector<CtfStarRow> ctf(1);
    ctf[0].micrograph = stem + ".mrc";
    job.ctf = &ctf;
    ExtractSource src;
    src.micrograph = stem + ".mrc";
    src.pixels = mic.data();
    src.nx = 96;
    src.ny = 80;
    src.pixel = 2;
    job.sources.push_back(src);
    std::vector<ExtractReport> reports;
    std::string why;
    extract_job(job, &reports, nullptr, &why);
    unlink(picks.c_str());
    unlink((dir + "/" + "tarvik-fuzz-picks-" + std::to_string(getpid()) + "-m.mrcs").c_str());
    unlink((dir + "/particles.star").c_str());
    rmdir(dir.c_str());
    unlink(in.c_str());
    unlink(out.c_str());
    return 0;
}
