// Stand-in definitions of the shared globals for builds without the shell
// (the display tests); the shell's own definitions take precedence.
#include "gui/display/xglobals.h"

#include <X11/Xlib.h>

#include "gui/display/mouse.h"

__attribute__((weak)) Display* dpy = nullptr;
__attribute__((weak)) List* dataList = nullptr;
__attribute__((weak)) List* viewList = nullptr;
__attribute__((weak)) Font gfont = 0;
__attribute__((weak)) Cursor cursors[10] = {};
__attribute__((weak)) FD_mouse* mpanel = nullptr;
ShellHooks shellHooks;
