#include "gui/shell/menus.h"

#include <cstring>
#include <exception>
#include <new>

#include "gui/shell/control.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/help.h"
#include "gui/shell/state.h"

namespace {
struct MenuDef {
    const char* name;
    const MenuTable& (*table)();
    FL_OBJECT* FD_control::*slot;
};

const MenuDef kMenus[] = {
    {"File", file_menu, &FD_control::fileMenu},    {"Box", box_menu, &FD_control::boxMenu},
    {"Tools", tools_menu, &FD_control::toolsMenu}, {"User", user_menu, &FD_control::userMenu},
    {"CTF", ctf_menu, &FD_control::ctfMenu},       {"Test Image", test_menu, &FD_control::testMenu},
    {"Help", help_menu, &FD_control::helpMenu},
};

const MenuDef* findMenu(const char* name) {
    for (const MenuDef& m : kMenus)
        if (std::strcmp(m.name, name) == 0) return &m;
    return nullptr;
}
}  // namespace

std::string menu_items(const MenuTable& t) {
    std::string s;
    for (size_t i = 0; i < t.size(); i++) {
        if (i) s += '|';
        // The toolkit would read these as separators and flags.
        for (char c : t[i].label) s += (c == '|' || c == '%') ? ' ' : c;
        if (t[i].dividerAfter) s += "%l";
    }
    return s;
}

void menu_dispatch(const MenuTable& t, int item) {
    if (item < 1 || item > (int)t.size()) return;
    // The command may rebuild its own menu's table (the User menu): work on a copy.
    MenuEntry e = t[item - 1];
    if (e.help && dohelp()) {
        help(e.help);
        return;
    }
    // The command boundary: what the core throws (memory running out in the middle of an
    // operation) abandons the command with a message instead of ending the program.
    try {
        if (e.run) e.run();
    } catch (const std::bad_alloc&) {
        dlg_message("Out of memory.", "The command was abandoned.", "");
    } catch (const std::exception& x) {
        dlg_message("The command failed:", x.what(), "");
    }
}

void set_menu_items() {
    for (const MenuDef& m : kMenus) fl_set_menu(control->*m.slot, menu_items(m.table()).c_str());
}

void refresh_menu(const char* menu) {
    const MenuDef* m = findMenu(menu);
    if (m && control) fl_set_menu(control->*m->slot, menu_items(m->table()).c_str());
}

const MenuEntry* menu_entry(const char* menu, const char* label) {
    const MenuDef* m = findMenu(menu);
    if (!m) return nullptr;
    for (const MenuEntry& e : m->table())
        if (e.label == label) return &e;
    return nullptr;
}

int menu_run(const char* menu, const char* label) {
    const MenuDef* m = findMenu(menu);
    if (!m) return 0;
    const MenuTable& t = m->table();
    for (size_t i = 0; i < t.size(); i++)
        if (t[i].label == label) {
            menu_dispatch(t, (int)i + 1);
            return 1;
        }
    return 0;
}

void m_File(FL_OBJECT* ob, long) {
    menu_dispatch(file_menu(), fl_get_menu(ob));
}
void m_Box(FL_OBJECT* ob, long) {
    menu_dispatch(box_menu(), fl_get_menu(ob));
}
void m_Tools(FL_OBJECT* ob, long) {
    menu_dispatch(tools_menu(), fl_get_menu(ob));
}
void m_User(FL_OBJECT* ob, long) {
    menu_dispatch(user_menu(), fl_get_menu(ob));
}
void m_Ctf(FL_OBJECT* ob, long) {
    menu_dispatch(ctf_menu(), fl_get_menu(ob));
}
void m_Test(FL_OBJECT* ob, long) {
    menu_dispatch(test_menu(), fl_get_menu(ob));
}
void m_Help(FL_OBJECT* ob, long) {
    menu_dispatch(help_menu(), fl_get_menu(ob));
}

void not_available(const char* menu, const char* label) {
    dlg_message(menu, label, "is not available in this version.");
}
