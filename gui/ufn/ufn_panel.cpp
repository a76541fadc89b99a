#include "gui/ufn/ufn_panel.h"

#include <cstdlib>
#include <string>

#include "gui/shell/cmd_util.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/help.h"
#include "gui/shell/menus.h"
#include "gui/shell/state.h"
#include "gui/shell/registry.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "ufn/usrfn.h"

List* umenu = nullptr;
FD_USERFN* panel = nullptr;

namespace {

const char* kPanelHelp =
    "This brings up a panel which allows you to specify your own external image filters. A few options do not work "
    "properly yet. Usage examples will be provided in a later version.";
const char* kItemHelp = "Runs this user function on each selected image. \"Modify Functions\" sets the functions up.";

MenuTable& userTable() {
    static MenuTable t;
    return t;
}

UsrFn* item(int line) {
    return static_cast<UsrFn*>(objectAt(umenu, line - 1));
}

FL_OBJECT* choice(int x, int y, const char* label, const char* items) {
    FL_OBJECT* o = fl_add_choice(FL_NORMAL_CHOICE, x, y, 150, 25, label);
    fl_addto_choice(o, items);
    return o;
}

FD_USERFN* create_form_USERFN() {
    FD_USERFN* p = static_cast<FD_USERFN*>(std::calloc(1, sizeof(FD_USERFN)));
    p->USERFN = fl_bgn_form(FL_UP_BOX, 520, 330);
    p->items = fl_add_browser(FL_HOLD_BROWSER, 10, 30, 180, 250, "Menu Item:");
    fl_set_object_lalign(p->items, FL_ALIGN_TOP_LEFT);
    fl_set_browser_specialkey(p->items, '\x1f');  // names are shown as they are
    fl_set_object_callback(p->items, ufn_item, 0);
    const char* labels[] = {"Command:", "Pre-input:", "Pre-Output:", "Post-Output"};
    FL_OBJECT** inputs[] = {&p->command, &p->option[0], &p->option[1], &p->option[2]};
    for (int i = 0; i < 4; i++) *inputs[i] = fl_add_input(FL_NORMAL_INPUT, 290, 30 + 30 * i, 220, 25, labels[i]);
    p->ftype = choice(290, 150, "File Type:", "Real MRC|Complex MRC|Imagic|PGM|GIF");
    p->input = choice(290, 180, "Input:", "Redirect|Filename|Multiple");
    p->output = choice(290, 210, "Output:", "Redirect|Filename");
    p->result = choice(290, 240, "Result:", "Replace|New|No Output");
    struct B {
        FL_OBJECT** slot;
        const char* label;
        FL_CALLBACKPTR cb;
    } buttons[] = {{&p->set, "SET", ufn_set},
                   {&p->nw, "NEW", ufn_new},
                   {&p->del, "DELETE", ufn_del},
                   {&p->dismiss, "Dismiss", ufn_close}};
    int x = 10;
    for (B& b : buttons) {
        *b.slot = fl_add_button(FL_NORMAL_BUTTON, x, 290, 115, 30, b.label);
        fl_set_object_callback(*b.slot, b.cb, 0);
        x += 127;
    }
    fl_end_form();
    // The window manager's close is "Dismiss"; the form is freed after the
    // toolkit is done with the close event, not inside it.
    fl_set_form_atclose(
        p->USERFN,
        [](FL_FORM*, void*) {
            fl_add_timeout(
                1, [](int, void*) { ufn_close(nullptr, 0); }, nullptr);
            return (int)FL_IGNORE;
        },
        nullptr);
    return p;
}

void fillBrowser() {
    fl_clear_browser(panel->items);
    for (int i = 0; i < count(umenu); i++) fl_add_browser_line(panel->items, item(i + 1)->getmenu());
}

void clearFields() {
    for (FL_OBJECT* o : {panel->command, panel->option[0], panel->option[1], panel->option[2]}) fl_set_input(o, "");
}

}  // namespace

void umenu_init() {
    if (!umenu) umenu = new List();
    umenu_clear(umenu);
    umenu_read(umenu);
    MenuTable& t = userTable();
    t.clear();
    // Labels are strings of any length; the menu shows '|' and '%' as blanks.
    const int n = umenu->count();
    if (n == 0) t.push_back({"No Items", do_ufn_panel, kPanelHelp, true});
    for (int i = 0; i < n; i++) {
        UsrFn* u = item(i + 1);
        UsrFn* next = item(i + 2);
        const bool divider = !next || (u->isGlobal() && !next->isGlobal());
        t.push_back({u->getmenu(), [i] { m_User_run(i + 1); }, kItemHelp, divider});
    }
    t.push_back({"Modify Functions", do_ufn_panel, kPanelHelp});
    refresh_menu("User");
}

void umenu_save() {
    if (!umenu_write(umenu)) std::printf("Cannot write %s\n", ufn_user_path().c_str());
}

const MenuTable& user_menu() {
    return userTable();
}

void m_User_run(int k) {
    UsrFn* u = item(k);
    if (!u) return;
    BusyScope b;
    Selection sel;
    List* g = current_group();
    for (int i = 0; i < sel.count(); i++)
        if (MRCData* r = ufn_apply(u, sel.at(i))) g->addObject(r);
    // "Replace" changed the selected images themselves.
    refresh_after_add();
    refresh_after_change();
}

void do_ufn_panel() {
    if (panel) return;
    panel = create_form_USERFN();
    fillBrowser();
    gui_deactivate_all();
    fl_activate_form(panel->USERFN);
    fl_show_form(panel->USERFN, FL_PLACE_CENTER, FL_FULLBORDER, "User Function Setup");
}

void ufn_item(FL_OBJECT*, long) {
    if (help_for("The user functions: choose one to see or change its settings.")) return;
    UsrFn* u = panel ? item(fl_get_browser(panel->items)) : nullptr;
    if (!u) return;
    fl_set_input(panel->command, u->getcommand());
    for (int i = 0; i < 3; i++) fl_set_input(panel->option[i], u->getoption(i));
    fl_set_choice(panel->ftype, u->getftype());
    fl_set_choice(panel->input, u->getinput());
    fl_set_choice(panel->output, u->getoutput());
    fl_set_choice(panel->result, u->getresult());
}

void ufn_set(FL_OBJECT*, long) {
    if (help_for("Stores the command, options and choices shown for the chosen function. Shared functions cannot be "
                 "changed."))
        return;
    if (!panel) return;
    const int line = fl_get_browser(panel->items);
    UsrFn* u = item(line);
    if (!u) return;
    if (u->isGlobal()) {
        ufn_item(nullptr, 0);
        return;
    }
    const std::string menu = fl_get_browser_line(panel->items, line);
    u->set(menu.c_str(), fl_get_input(panel->command), fl_get_input(panel->option[0]), fl_get_input(panel->option[1]),
           fl_get_input(panel->option[2]), (char)fl_get_choice(panel->ftype), (char)fl_get_choice(panel->input),
           (char)fl_get_choice(panel->output), (char)fl_get_choice(panel->result));
}

void ufn_new(FL_OBJECT*, long) {
    if (help_for("Adds a new function under a menu name you give.")) return;
    if (!panel) return;
    std::string name;
    if (!dlg_input("Enter the menu name for the new item:", "New_Item", &name)) return;
    UsrFn* u = new UsrFn();
    u->set(name.c_str(), "", "", "", "", 1, 2, 1, 0);
    umenu->addObject(u);
    fl_add_browser_line(panel->items, u->getmenu());
    fl_select_browser_line(panel->items, count(umenu));
    ufn_item(nullptr, 0);
}

void ufn_del(FL_OBJECT*, long) {
    if (help_for("Deletes the chosen function and saves your functions.")) return;
    if (!panel) return;
    UsrFn* u = item(fl_get_browser(panel->items));
    if (!u) return;
    umenu->removeObject(u);
    delete u;
    umenu_save();
    umenu_init();
    // The rebuilt list is what the menu shows now.
    fillBrowser();
    clearFields();
}

void ufn_close(FL_OBJECT*, long) {
    if (help_for("Saves your functions, rebuilds the User menu and closes this panel.")) return;
    if (!panel) return;
    umenu_save();
    umenu_init();
    fl_hide_form(panel->USERFN);
    fl_free_form(panel->USERFN);
    std::free(panel);
    panel = nullptr;
    gui_activate_all();
}
