// The control panel's reads of a view's geometry, in one place.
#pragma once

#include "gui/display/datawin.h"

inline int view_fullW(DataWin* v) {
    return v->fullWidth();
}
inline int view_fullH(DataWin* v) {
    return v->fullHeight();
}
inline int view_canvasW(DataWin* v) {
    return v->canvasWidth();
}
inline int view_canvasH(DataWin* v) {
    return v->canvasHeight();
}
inline bool view_ok(DataWin* v) {
    return v && v->form;
}
