#include "gui/shell/inputs.h"

#include <cerrno>
#include <cfloat>
#include <cstdio>
#include <cstdlib>

#include "gui/shell/dialogs.h"

namespace {
std::string num(double v) {
    char t[32];
    std::snprintf(t, sizeof t, "%g", v);
    return t;
}
}  // namespace

std::string input_range_message(const char* field, const InputRange& r) {
    const bool hasLo = r.lo != -HUGE_VAL, hasHi = r.hi != HUGE_VAL;
    std::string s = std::string(field) + " must be ";
    if (r.whole && !hasLo && !hasHi) return s + "a whole number";
    if (hasLo && hasHi && !r.above) return s + "between " + num(r.lo) + " and " + num(r.hi);
    if (hasLo) s += (r.above ? "above " : "at least ") + num(r.lo);
    if (hasLo && hasHi) s += " and ";
    if (hasHi) s += "at most " + num(r.hi);
    return s;
}

bool input_parse(const char* text, const InputRange& r, double* v) {
    if (!text) return false;
    errno = 0;
    char* end = nullptr;
    double d;
    if (r.whole) {
        long long i = std::strtoll(text, &end, 10);
        d = (double)i;
    } else {
        d = std::strtod(text, &end);
    }
    if (end == text || errno == ERANGE) return false;
    while (*end == ' ' || *end == '\t') end++;
    if (*end) return false;
    // Only numbers a float holds: every value ends up in one.
    if (!std::isfinite(d) || std::fabs(d) > FLT_MAX) return false;
    if (d < r.lo || (r.above && d <= r.lo) || d > r.hi) return false;
    *v = d;
    return true;
}

void input_refuse(FL_OBJECT* ob, const std::string& message, const std::string& inForce) {
    if (ob) fl_set_input(ob, inForce.c_str());
    dlg_message("", message.c_str(), "");
}

bool input_number(FL_OBJECT* ob, const char* field, const InputRange& r, const std::string& inForce, double* v) {
    if (input_parse(ob ? fl_get_input(ob) : nullptr, r, v)) return true;
    input_refuse(ob, input_range_message(field, r), inForce);
    return false;
}

std::string input_text(double v, int decimals) {
    char t[64];
    std::snprintf(t, sizeof t, "%.*f", decimals, v);
    return t;
}
