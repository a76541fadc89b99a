// The menu bar as data: every menu is a table of {label as shown, handler,
// help text}. The toolkit's item string is made from the table, the menu's
// callback dispatches by index into it, and help mode is answered here once
// for every entry that has a help text.
#pragma once

#include <forms.h>

#include <functional>
#include <string>
#include <vector>

struct MenuEntry {
    std::string label;           // exactly as shown
    std::function<void()> run;   // the command
    const char* help = nullptr;  // shown instead of running in help mode; null: acts in help mode too
    bool dividerAfter = false;   // a line under this entry ("%l")
};
using MenuTable = std::vector<MenuEntry>;

// The menus of the control panel, each defined with its commands.
const MenuTable& file_menu();   // gui/shell/file_cmds.cpp
const MenuTable& box_menu();    // gui/shell/box_cmds.cpp
const MenuTable& tools_menu();  // gui/shell/tools_cmds.cpp
const MenuTable& user_menu();   // ufn/ufn_panel.cpp (rebuilt by umenu_init)
const MenuTable& ctf_menu();    // ctf/ctf_cmds.cpp
const MenuTable& test_menu();   // gui/shell/test_cmds.cpp
const MenuTable& help_menu();   // gui/shell/help.cpp

// The toolkit's item string of a table: labels joined by "|", "%l" after a
// divided entry ('|' and '%' inside a label are shown as blanks).
std::string menu_items(const MenuTable& t);
// Runs entry `item` (1-based, as the toolkit numbers them) of a table; in help
// mode an entry with a help text only shows it. Other numbers do nothing.
void menu_dispatch(const MenuTable& t, int item);

// Sets every menu of the control panel to its items.
void set_menu_items();
// Sets one menu ("File", "Box", "Tools", "User", "CTF", "Test Image", "Help")
// again from its table, after the table changed (the User menu).
void refresh_menu(const char* menu);

// An entry by menu name and label (null when there is none), and running it
// exactly as choosing it from the menu would. menu_run returns 0 when there
// is no such entry.
const MenuEntry* menu_entry(const char* menu, const char* label);
int menu_run(const char* menu, const char* label);

// The menu callbacks of the control panel.
void m_File(FL_OBJECT*, long);
void m_Box(FL_OBJECT*, long);
void m_Tools(FL_OBJECT*, long);
void m_User(FL_OBJECT*, long);
void m_Ctf(FL_OBJECT*, long);
void m_Test(FL_OBJECT*, long);
void m_Help(FL_OBJECT*, long);

// Entries whose commands are not in this build: say so.
void not_available(const char* menu, const char* label);
