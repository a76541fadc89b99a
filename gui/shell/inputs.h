// What is typed into an input becomes a value only through here: the whole
// text must be a number (a whole number where sizes and counts are asked)
// inside the field's range. A refused value changes nothing: the user is told
// which field takes which range, and the field shows the value in force again.
#pragma once

#include <forms.h>

#include <cmath>
#include <string>

struct InputRange {
    double lo = -HUGE_VAL, hi = HUGE_VAL;  // HUGE_VAL: no bound on that side
    bool above = false;                    // lo itself is refused ("above 0")
    bool whole = false;                    // whole numbers only
};
// Ranges by their wording.
inline InputRange between(double lo, double hi) {
    return {lo, hi, false, false};
}
inline InputRange whole_between(double lo, double hi) {
    return {lo, hi, false, true};
}
inline InputRange above(double lo, double hi = HUGE_VAL) {
    return {lo, hi, true, false};
}

// Pixel sizes (A), magnifications (k) and scanner steps (um).
inline InputRange scale_range() {
    return above(0, 100000);
}

// "Box size must be between 1 and 2048", "Pixel size must be above 0".
std::string input_range_message(const char* field, const InputRange& r);
// The text as a value of the range (blanks around it are allowed); false for
// anything else: other characters, no number, NaN, infinity, beyond a float.
bool input_parse(const char* text, const InputRange& r, double* v);
// The number typed into ob. When it is refused: the message box, ob shows
// inForce again, and false.
bool input_number(FL_OBJECT* ob, const char* field, const InputRange& r, const std::string& inForce, double* v);
// Refuses what was typed into ob (the check is the caller's): the message
// box (naming the field and what it takes), and ob shows inForce again.
void input_refuse(FL_OBJECT* ob, const std::string& message, const std::string& inForce);
// A value as a field shows it, with that many decimals.
std::string input_text(double v, int decimals);
