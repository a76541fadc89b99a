// libFuzzer target: the STAR reader on arbitrary text, through the tables
// read from it (CTF tables), then a write of what they read.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/star.h"
#include "ctf/report.h"
#include "tests/fuzz/fuzz_util.h"

static std::string g_base;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_base = fuzz_init("star");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StarFile st;
    std::string why;
    if (parseStar((const char*)data, size, &st, &why))
        for (const StarTable& t : st.tables)
            for (const auto& row : t.rows)
                if (row.size() != t.columns.size()) __builtin_trap();
    const std::string in = g_base + ".star";
    fuzz_put(in, data, size);
    std::vector<CtfStarRow> rows;
    if (ctf_star_read(in.c_str(), &rows) && !rows.empty()) {
        ctf_star_find(rows, rows[0].micrograph);
        CtfEstimateParams p;
        std::vector<CtfStarRow> ok;
        for (const CtfStarRow& r : rows)
            if (starValueOk(r.micrograph)) ok.push_back(r);
        ctf_star_file(ok, p);
    }
    unlink(in.c_str());
    return 0;
}
