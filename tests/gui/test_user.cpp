// The User menu built from the definition files, running a function, and the setup panel.
#include "tests/gui/gui_testutil.h"
// (first: GoogleTest before Xlib)
#include "gui/shell/help.h"
#include "gui/ufn/ufn_panel.h"
#include "ufn/usrfn.h"

namespace {

std::string home(const char* f) {
    return std::string(std::getenv("HOME")) + "/" + f;
}
void put(const char* f, const std::string& text) {
    FILE* fp = std::fopen(home(f).c_str(), "w");
    std::fputs(text.c_str(), fp);
    std::fclose(fp);
}
std::string userMenu() {
    umenu_init();
    return menu_items(user_menu());
}

}  // namespace

TEST(UserMenu, TextFromTheFilesAndACatFunctionMakesHashName) {
    fresh({make_data(24, 16, "img", "/data/f.mrc")});
    EXPECT_EQ(userMenu(), "No Items%l|Modify Functions");
    const std::string longName(300, 'n');
    put(".tvglobfn", "A\ncat\n\n\n\n1 1 1 2\nB\ncat\n\n\n\n1 1 1 2\n");
    put(".tvufn", "Cat|50%\ncat\n\n\n\n1 1 1 2\n" + longName + "\ncat\n\n\n\n1 1 1 2\n");
    // '|' and '%' would split the menu and set flags: they are shown as blanks.
    EXPECT_EQ(userMenu(), "A|B%l|Cat 50 |" + longName + "%l|Modify Functions");
    ufn_set_tempdir(shell_tmpdir().c_str());
    ASSERT_EQ(menu_run("User", "Cat|50%"), 1);
    ufn_set_tempdir(nullptr);
    ASSERT_EQ(count(current_group()), 2);
    MRCData* r = at(1);
    EXPECT_STREQ(r->Name(), "#img");
    EXPECT_STREQ(r->File(), "/data/f.mrc");
    ASSERT_EQ(r->xSize() * 100 + r->ySize(), 2416);
    for (int i = 0; i < 24 * 16; i++) ASSERT_EQ(r->getRealData()[i], at(0)->getRealData()[i]) << i;
    EXPECT_STREQ(fl_get_browser_line(control->images, 2), "2. #img 24x16");
    EXPECT_EQ(busy_depth(), 0);
}

TEST(UserMenu, SetupPanelNewSetDeleteAndSharedItems) {
    shell_reset();
    std::remove(home(".tvglobfn").c_str());
    std::remove(home(".tvufn").c_str());
    umenu_init();
    // In help mode the entry only explains itself.
    menu_run("Help", "Help");
    menu_run("User", "Modify Functions");
    EXPECT_EQ(panel, nullptr);
    EXPECT_NE(help_text().find("This brings up a panel"), std::string::npos);
    help_dismiss(nullptr, 0);

    menu_run("User", "No Items");
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(fl_form_is_activated(control->control));
    dlg_push_text("Mine");
    ufn_new(nullptr, 0);
    EXPECT_EQ(dlg_log(), std::vector<std::string>{"input: Enter the menu name for the new item:"});
    ASSERT_EQ(fl_get_browser_maxline(panel->items), 1);
    EXPECT_STREQ(fl_get_browser_line(panel->items, 1), "Mine");
    fl_set_input(panel->command, "cat");
    fl_set_input(panel->option[1], "-n");
    fl_set_input(panel->option[2], "-u");
    fl_set_choice(panel->input, 1);
    fl_set_choice(panel->result, 2);
    ufn_set(nullptr, 0);
    ufn_close(nullptr, 0);
    EXPECT_EQ(panel, nullptr);
    EXPECT_TRUE(fl_form_is_activated(control->control));
    EXPECT_EQ(read_file(home(".tvufn")), "Mine\ncat\n\n-n\n-u\n1 1 1 2\n");
    EXPECT_EQ(menu_items(user_menu()), "Mine%l|Modify Functions");

    // Deleting the last function leaves an empty file, so it stays deleted,
    // and the panel's list shows what is left.
    do_ufn_panel();
    fl_select_browser_line(panel->items, 1);
    ufn_item(nullptr, 0);
    EXPECT_STREQ(fl_get_input(panel->option[2]), "-u");
    ufn_del(nullptr, 0);
    EXPECT_EQ(fl_get_browser_maxline(panel->items), 0);
    EXPECT_EQ(std::string(fl_get_input(panel->command)) + fl_get_input(panel->option[1]), "");  // every field cleared
    EXPECT_TRUE(exists(home(".tvufn")) && read_file(home(".tvufn")).empty());
    ufn_close(nullptr, 0);
    EXPECT_EQ(userMenu(), "No Items%l|Modify Functions");

    // A shared function cannot be changed and is never written to the user's file.
    put(".tvglobfn", "G\necho\n\n\n\n1 1 1 2\n");
    umenu_init();
    do_ufn_panel();
    fl_select_browser_line(panel->items, 1);
    fl_set_input(panel->command, "rm");
    ufn_set(nullptr, 0);
    EXPECT_STREQ(fl_get_input(panel->command), "echo");
    EXPECT_STREQ(((UsrFn*)umenu->objectAt(0))->getcommand(), "echo");
    ufn_close(nullptr, 0);
    EXPECT_EQ(read_file(home(".tvufn")), "");
    EXPECT_EQ(menu_items(user_menu()), "G%l|Modify Functions");
    EXPECT_EQ(dlg_unexpected(), 0);
}
