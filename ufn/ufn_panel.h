// The User menu and the "User Function Setup" panel.
#pragma once

// Rebuilds the list of user functions from ~/.tvglobfn and ~/.tvufn and the
// User menu from it.
void umenu_init();
// Opens the setup panel.
void do_ufn_panel();
