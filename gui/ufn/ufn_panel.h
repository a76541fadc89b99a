// The User menu and the "User Function Setup" panel.
#pragma once

#include <forms.h>

class List;

// Every user function: the shared ones (~/.tvglobfn) first, then the user's own.
extern List* umenu;

struct FD_USERFN {
    FL_FORM* USERFN;
    FL_OBJECT* items;                            // "Menu Item:"
    FL_OBJECT *command, *option[3];              // "Command:", "Pre-input:", "Pre-Output:", "Post-Output"
    FL_OBJECT *ftype, *input, *output, *result;  // the four choices
    FL_OBJECT *set, *nw, *del, *dismiss;
};
// The setup panel while it is open, else null.
extern FD_USERFN* panel;

// Rebuilds the list of user functions from ~/.tvglobfn and ~/.tvufn and the
// User menu from it.
void umenu_init();
// Writes the user's own functions to ~/.tvufn (an empty file when none is left).
void umenu_save();
// Runs user function k (1-based, menu order) on every selected data set.
void m_User_run(int k);

// Opens the setup panel (all other forms inactive until "Dismiss").
void do_ufn_panel();
void ufn_item(FL_OBJECT*, long);   // a browser line chosen: show that function
void ufn_set(FL_OBJECT*, long);    // "SET"
void ufn_new(FL_OBJECT*, long);    // "NEW"
void ufn_del(FL_OBJECT*, long);    // "DELETE"
void ufn_close(FL_OBJECT*, long);  // "Dismiss"
