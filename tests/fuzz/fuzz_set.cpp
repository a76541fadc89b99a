// libFuzzer target: a micrograph set folder from arbitrary text. The input is
// cut at lines "#--" into set.star, micrographs_ctf.star, a picks file and a
// micrographs STAR file; the set is opened from its folder and from the STAR
// file, written back, and opened again: every line keeps a status, and what
// this program wrote itself reads back whole.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/micset.h"
#include "tests/fuzz/fuzz_util.h"

static std::string g_dir;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_dir = fuzz_init("set");
    return 0;
}

static void put(const std::string& path, const std::string& text) {
    fuzz_put(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
    mkdir(g_dir.c_str(), 0700);
    mkdir((g_dir + "/tarvik_set").c_str(), 0700);
    {
        std::vector<float> v(64 * 48, 1.0f);
        MRCData d(30, 8.333f);
        d.setRealData(v.data(), 64, 48, 1);
        d.writeMRCData((g_dir + "/a.mrc").c_str(), 0);
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* files[] = {"/tarvik_set/set.star", "/tarvik_set/micrographs_ctf.star", "/tarvik_set/a_manualpick.star",
                           "/list.star"};
    size_t from = 0;
    for (const char* f : files) {
        const size_t cut = text.find("\n#--\n", from);
        put(g_dir + f, text.substr(from, cut == std::string::npos ? std::string::npos : cut - from));
        if (cut == std::string::npos) break;
        from = cut + 5;
    }
    for (const std::string& what : {g_dir, g_dir + "/list.star"}) {
        MicSet s;
        micset_open(what, &s);
        if (s.entries.empty()) __builtin_trap();
        for (int i = 0; i < (int)s.entries.size(); i++)
            if (micset_line(s, i).empty()) __builtin_trap();
        micset_write_state(s);
        micset_write_ctf(s, CtfEstimateParams());
        if (micset_usable(s.entries[0])) micset_write_picks(s, 0, {{1, 2, 8, 8}}, {kManualPickFom});
        MicSet again;
        micset_open(what, &again);
        for (const std::string& n : again.notes)
            if (n.find("tarvik_set/set.star") != std::string::npos ||
                n.find("micrographs_ctf.star") != std::string::npos)
                __builtin_trap();  // a file this program wrote that it cannot read whole
    }
    std::filesystem::remove_all(g_dir, ec);
    return 0;
}
