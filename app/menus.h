// The menu bar: item strings and the dispatchers of the menus whose
// commands live elsewhere (or come later).
#pragma once

#include <forms.h>

extern const char* const kFileItems;
extern const char* const kBoxItems;
extern const char* const kToolsItems;
extern const char* const kUserItems;
extern const char* const kCtfItems;
extern const char* const kTestItems;
extern const char* const kHelpItems;

// Sets every menu of the control panel to its items.
void set_menu_items();

void m_Box(FL_OBJECT*, long);
void m_Tools(FL_OBJECT*, long);
void m_User(FL_OBJECT*, long);
void m_Ctf(FL_OBJECT*, long);
void m_Test(FL_OBJECT*, long);
// Dispatch by 1-based item number (what the callbacks do with the menu's choice).
void m_Box_item(int item);
void m_Tools_item(int item);
void m_User_item(int item);
void m_Ctf_item(int item);
void m_Test_item(int item);

void m_Tools_Prefs();
