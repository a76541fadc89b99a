#include "ufn/ufn_panel.h"

#include <forms.h>

#include "app/menus.h"

namespace {
MenuTable& userTable() {
    static MenuTable t;
    return t;
}
}  // namespace

void do_ufn_panel() {
    not_available("User", "Modify Functions");
}

void umenu_init() {
    MenuTable& t = userTable();
    t = {{"No Items", do_ufn_panel, nullptr, true}, {"Modify Functions", do_ufn_panel}};
    refresh_menu("User");
}

const MenuTable& user_menu() {
    return userTable();
}
