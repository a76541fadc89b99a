// Help mode: every control shows its own text instead of acting while the
// help window is open.
#pragma once

#include <forms.h>

#include <string>

struct FD_HELP {
    FL_FORM* HELP;
    FL_OBJECT* text;
    FL_OBJECT* dismiss;
    FL_OBJECT* info;
};

extern int helpmode;

int dohelp();
void help(const char* text);
// Turns help mode on. From then on a press or key on a control of any of
// our windows only shows the control's text: the toolkit never sees it, so
// no slider, button, choice, list or input changes.
void help_mode_begin();
// The first step of every control callback: in help mode show the control's
// text and return 1 (the callback then does nothing else).
int help_for(const char* text);
// Line breaking of the help window: a blank met after column 36 becomes a newline.
std::string help_wrap(const std::string& text);
// The text now in the help window ("" when it is closed).
std::string help_text();
void help_dismiss(FL_OBJECT*, long);
void help_Info(FL_OBJECT*, long);
void info_Bye(FL_OBJECT*, long);
// The shell commands "Home Page" tries, in order, for a URL.
std::string help_browser_commands(const std::string& url, int which);
