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
// Line breaking of the help window: a blank met after column 36 becomes a newline.
std::string help_wrap(const std::string& text);
// The text now in the help window ("" when it is closed).
std::string help_text();
void help_dismiss(FL_OBJECT*, long);
void help_Info(FL_OBJECT*, long);
void info_Bye(FL_OBJECT*, long);
void m_Help(FL_OBJECT* menu, long);
void m_Help_item(int item);
// The shell commands "Home Page" tries, in order, for a URL.
std::string help_browser_commands(const std::string& url, int which);
