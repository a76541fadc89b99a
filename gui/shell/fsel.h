// The modal "File Selector" window: directory listing, path and file fields,
// shortcut directories, single and multiple mode.
#pragma once

#include <forms.h>

#include <string>
#include <vector>

class List;

struct FD_fsel {
    FL_FORM* fsel;
    FL_OBJECT* browser;  // multi-selection listing; line 1 is ".."
    FL_OBJECT* path;     // "Path:"
    FL_OBJECT* file;     // "File:"
    FL_OBJECT* ok;
    FL_OBJECT* cancel;
    FL_OBJECT* home;
    FL_OBJECT* dot;
    FL_OBJECT* tmp;
    FL_OBJECT* last;
    FL_OBJECT* usr[3];
    FL_OBJECT* usrSet[3];
    FL_OBJECT* all;
    FL_OBJECT* none;
};

extern FD_fsel* filesel;
extern int fsel_single;

void fsel_init();
int fsel_run_single();
int fsel_run_multiple();
const char* fsel_get_path();
const char* fsel_get_name();
// Copies (malloc'ed) of the selected names from line 2 on; caller frees.
List* fsel_get_names();
std::vector<std::string> fsel_names();
void fsel_set_path(const char* path);

// The listing of a directory as "ls -p" gives it (no hidden entries, sorted,
// directories with a trailing "/"), read without a shell.
std::vector<std::string> fsel_list_dir(const std::string& dir);
// Browser line n (1-based) as a name; "" outside the list.
std::string fsel_line(int n);
int fsel_lines();

// Callbacks (also driven by the tests).
void fsel_path(FL_OBJECT*, long);
void fsel_dbl(FL_OBJECT*, long);
void fsel_sel(FL_OBJECT*, long);
void fsel_file(FL_OBJECT*, long);
void fsel_button(FL_OBJECT*, long);
// Modal result set by a double click on a file (1) when no loop runs.
int fsel_accepted();
