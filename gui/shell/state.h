// The shared state of the workbench: display, panels, groups, views, cursors
// and the view font. Start-up fills it; everything else reads it.
#pragma once

#include <forms.h>

#include "gui/display/mmode.h"
#include "gui/display/mouse.h"
#include "gui/display/xglobals.h"

class List;
struct FD_control;
struct FD_HELP;

// Declared with the display module (gui/display/xglobals.h, gui/display/mouse.h):
// dpy, dataList (List of List of MRCData; entry k is group k+1), viewList
// (List of DataWin; entry k is view k+1), cursors, gfont, mpanel.
extern FD_control* control;
extern FD_HELP* helpPanel;

// Busy cursor and progress panel through the core hooks.
void install_ui_hooks();
// Runs f on every form shown on the screen.
void for_each_shown_form(void (*f)(FL_FORM*));
// Deactivates / reactivates every form (used by modal windows too).
void gui_deactivate_all();
void gui_activate_all();
