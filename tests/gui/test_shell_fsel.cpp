// File selector: listing without a shell, path rules, clicks and typing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/control.h"
#include "app/dialogs.h"
#include "app/fsel.h"
#include "app/state.h"
#include "core/List.h"
#include "core/prefs.h"
#include "tests/gui/shell_env.h"

namespace {
void touch(const std::string& p) {
    std::ofstream(p) << "x";
}

std::vector<int> selected() {
    std::vector<int> v;
    for (int i = 1; i <= fl_get_browser_maxline(filesel->browser); i++)
        if (fl_isselected_browser_line(filesel->browser, i)) v.push_back(i);
    return v;
}

int lineOf(const std::string& name) {
    for (int i = 1; i <= fsel_lines(); i++)
        if (fsel_line(i) == name) return i;
    return -1;
}

// A folder with awkward names.
std::string makeTree() {
    std::string d = shell_tmpdir();
    touch(d + "/image1.mrc");
    touch(d + "/image2.mrc");
    touch(d + "/a1.mrc");
    touch(d + "/with blank.mrc");
    touch(d + "/$(touch pwned);'q\".mrc");
    touch(d + "/@bold");
    touch(d + "/.hidden");
    mkdir((d + "/sub dir").c_str(), 0700);
    touch(d + "/sub dir/inner.mrc");
    return d;
}
}  // namespace

TEST(ShellFsel, ListsLikeLsWithoutAShell) {
    std::string d = makeTree();
    std::vector<std::string> want = {
        "$(touch pwned);'q\".mrc", "@bold", "a1.mrc", "image1.mrc", "image2.mrc", "sub dir/", "with blank.mrc"};
    EXPECT_EQ(fsel_list_dir(d), want);
    EXPECT_FALSE(exists(d + "/pwned"));
    EXPECT_TRUE(fsel_list_dir(d + "/nonexistent").empty());
}

TEST(ShellFsel, PathRules) {
    fsel_init();
    std::string d = makeTree();
    fsel_set_path((d + "/").c_str());
    EXPECT_EQ(std::string(fl_get_input(filesel->path)), d);  // shown and listed without the "/"
    EXPECT_EQ(fsel_line(1), "..");
    EXPECT_EQ(fsel_lines(), 8);
    // The browser shows names as they are, '@' included.
    EXPECT_STREQ(fl_get_browser_line(filesel->browser, lineOf("@bold")), "@bold");
    // An inaccessible path is cut back to its longest accessible prefix.
    fsel_set_path((d + "/no/such/dir").c_str());
    EXPECT_EQ(std::string(fl_get_input(filesel->path)), d);
    fsel_set_path("nowhere-at-all");
    EXPECT_EQ(std::string(fl_get_input(filesel->path)), "/");
    // Long paths are fine.
    std::string longp = d;
    for (int i = 0; i < 300; i++) longp += "/abcdefghijklmnopqrstuvwxyz";
    fsel_set_path(longp.c_str());
    EXPECT_EQ(std::string(fl_get_input(filesel->path)), d);
}

TEST(ShellFsel, DoubleClicks) {
    fsel_init();
    std::string d = makeTree();
    fsel_single = 1;
    fsel_set_path(d.c_str());
    fl_select_browser_line(filesel->browser, lineOf("sub dir/"));
    fsel_dbl(nullptr, 0);
    EXPECT_EQ(std::string(fl_get_input(filesel->path)), d + "/sub dir");
    EXPECT_EQ(fsel_line(2), "inner.mrc");
    fl_select_browser_line(filesel->browser, 1);  // ".."
    fsel_dbl(nullptr, 0);
    EXPECT_EQ(std::string(fl_get_input(filesel->path)), d);
    // A file is accepted like OK.
    fl_select_browser_line(filesel->browser, lineOf("with blank.mrc"));
    fsel_dbl(nullptr, 0);
    EXPECT_EQ(fsel_accepted(), 1);
    EXPECT_EQ(std::string(fsel_get_path()) + "/" + fsel_get_name(), d + "/with blank.mrc");
    // Drain the OK the double click queued.
    while (fl_check_forms()) {
    }
}

TEST(ShellFsel, ClicksTypingAndAll) {
    fsel_init();
    std::string d = makeTree();
    fsel_single = 0;
    fsel_set_path(d.c_str());
    fl_set_input(filesel->file, "im");
    fsel_file(nullptr, 0);
    EXPECT_EQ(selected(), (std::vector<int>{lineOf("image1.mrc"), lineOf("image2.mrc")}));
    std::vector<std::string> names = fsel_names();
    EXPECT_EQ(names, (std::vector<std::string>{"image1.mrc", "image2.mrc"}));
    List* l = fsel_get_names();
    ASSERT_EQ(l->count(), 2);
    for (int i = 0; i < l->count(); i++) free(l->objectAt(i));
    delete l;
    fsel_button(filesel->all, 10);  // never ".."
    std::vector<int> all = selected();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front(), 2);
    EXPECT_EQ((int)all.size(), fsel_lines() - 1);
    fsel_button(filesel->none, 11);
    EXPECT_TRUE(selected().empty());
    // Single mode: exact match, and "All" picks line 1.
    fsel_single = 1;
    fl_set_input(filesel->file, "a1.mrc");
    fsel_file(nullptr, 0);
    EXPECT_EQ(selected(), (std::vector<int>{lineOf("a1.mrc")}));
    fsel_button(filesel->all, 10);
    EXPECT_EQ(selected(), (std::vector<int>{1}));
}

TEST(ShellFsel, ShortcutDirectories) {
    fsel_init();
    std::string d = makeTree();
    fsel_set_path(d.c_str());
    fsel_button(filesel->usrSet[1], 8);  // ">" beside U2
    EXPECT_EQ(std::string(getenv2("usr_dir_2")), d);
    fsel_button(filesel->tmp, 2);
    EXPECT_EQ(std::string(fl_get_input(filesel->path)), "/tmp");
    fsel_button(filesel->usr[1], 5);
    EXPECT_EQ(std::string(fl_get_input(filesel->path)), d);
    fsel_button(filesel->home, 0);
    EXPECT_EQ(std::string(fl_get_input(filesel->path)), std::string(getenv("HOME")));
}

// The real modal loop, answered from a timer inside it.
TEST(ShellFsel, ModalRunsReturnTheChoice) {
    fsel_init();
    std::string d = makeTree();
    fsel_set_path(d.c_str());
    dlg_set_scripted(false);
    fl_add_timeout(
        30,
        [](int, void*) {
            fl_set_input(filesel->file, "with blank.mrc");
            fl_trigger_object(filesel->ok);
        },
        nullptr);
    std::string p;
    bool ok = dlg_file_single(&p);
    EXPECT_TRUE(ok);
    EXPECT_EQ(p, d + "/with blank.mrc");
    EXPECT_EQ(std::string(getenv2d("last_dir", "")), d);
    EXPECT_FALSE(filesel->fsel->visible);
    EXPECT_EQ(control->control->deactivated, 0);

    fl_add_timeout(
        30,
        [](int, void*) {
            fl_set_input(filesel->file, "im");
            fsel_file(nullptr, 0);
            fl_trigger_object(filesel->ok);
        },
        nullptr);
    std::vector<std::string> many;
    EXPECT_TRUE(dlg_file_multiple(&many));
    EXPECT_EQ(many, (std::vector<std::string>{d + "/image1.mrc", d + "/image2.mrc"}));

    setenv2("last_dir", "/");
    fl_add_timeout(
        30, [](int, void*) { fl_trigger_object(filesel->cancel); }, nullptr);
    EXPECT_FALSE(dlg_file_single(&p));
    EXPECT_EQ(std::string(getenv2d("last_dir", "")), "/");  // Cancel changes no preference
    dlg_set_scripted(true);
    EXPECT_EQ(control->control->deactivated, 0);
}
