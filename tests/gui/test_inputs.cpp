// What users type and paste: every number field refuses a value outside its
// range with a message that names the field and the range, shows the value in
// force again and changes nothing; a middle click (the X paste gesture) on an
// input never crashes, whatever the server's cut buffer holds.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xatom.h>
#include <X11/Xutil.h>
// clang-format on

#include <string>
#include <vector>

#include "gui/ctf/livec.h"
#include "gui/display/mouse.h"
#include "gui/display/print.h"
#include "gui/shell/fsel.h"
#include "gui/shell/inputs.h"
#include "gui/shell/paste_guard.h"
#include "gui/shell/prefs_dialog.h"
#include "tests/gui/gui_testutil.h"
#include "tests/gui/xevents.h"

namespace {
// The message boxes shown since the last call.
std::vector<std::string> messages() {
    std::vector<std::string> m = dlg_logged("message: ");
    dlg_clear();
    return m;
}
std::string box(const std::string& text) {
    return "message: |" + text + "|";
}
using Msgs = std::vector<std::string>;

// Types text into an input and runs its callback, as Return does.
void enter(FL_OBJECT* ob, const char* text) {
    fl_set_input(ob, text);
    fl_call_object_callback(ob);
}
}  // namespace

class Inputs : public testing::Test {
protected:
    void SetUp() override { shell_reset(); }
};

TEST(InputRule, WholeTextInRangeAndTheMessage) {
    const InputRange size = whole_between(1, 2048), pixel = scale_range(), volts = above(0, 5000), any{};
    const struct {
        const char* text;
        InputRange r;
        bool ok;
        double v;
    } cases[] = {
        {"64", size, true, 64},    {" 2048 ", size, true, 2048}, {"1", size, true, 1},
        {"0", size, false, 0},     {"-40", size, false, 0},      {"2049", size, false, 0},
        {"12.5", size, false, 0},  {"1e3", size, false, 0},      {"64abc", size, false, 0},
        {"", size, false, 0},      {"  ", size, false, 0},       {"99999999999999999999", size, false, 0},
        {"2.5", pixel, true, 2.5}, {"1e-3", pixel, true, 0.001}, {"0", pixel, false, 0},
        {"-0", pixel, false, 0},   {"-3", pixel, false, 0},      {"nan", pixel, false, 0},
        {"inf", pixel, false, 0},  {"100001", pixel, false, 0},  {"5,5", pixel, false, 0},
        {"1e39", any, false, 0},   {"-1e38", any, true, -1e38},  {"0x10", any, true, 16},
        {"300", volts, true, 300}, {"5000.01", volts, false, 0},
    };
    for (auto& c : cases) {
        double v = -7;
        EXPECT_EQ(input_parse(c.text, c.r, &v), c.ok) << "'" << c.text << "'";
        EXPECT_EQ(v, c.ok ? c.v : -7) << "'" << c.text << "': nothing is written for a refused text";
    }
    EXPECT_EQ(input_range_message("Box size", size), "Box size must be between 1 and 2048");
    EXPECT_EQ(input_range_message("Pixel size (A)", pixel), "Pixel size (A) must be above 0 and at most 100000");
    EXPECT_EQ(input_range_message("Offset", between(-1.5, HUGE_VAL)), "Offset must be at least -1.5");
    EXPECT_EQ(input_range_message("Depth", {-HUGE_VAL, 8, false, false}), "Depth must be at most 8");
}

// A box size outside 1 .. the image's size is refused; the size in force
// still cuts boxes.
TEST_F(Inputs, BoxSize) {
    SharedStateGuard keep;
    setenv2("fftboxonly", "1");
    fresh({make_data(291, 200, "micrograph")});
    MMode.boxX = MMode.boxY = 64;
    m_Newsize(nullptr, 0);
    const std::string x = "Box size must be between 1 and 291", y = "Box size must be between 1 and 200";
    const struct {
        FL_OBJECT* ob;
        const char* text;
        std::string message;
    } refused[] = {{mpanel->sizeX, "0", x},
                   {mpanel->sizeX, "292", x},
                   {mpanel->sizeX, "abc", x},
                   {mpanel->sizeY, "201", y},
                   {mpanel->sizeY, "32.5", y}};
    for (auto& c : refused) {
        enter(c.ob, c.text);
        EXPECT_EQ(messages(), Msgs{box(c.message)}) << c.text;
        EXPECT_EQ(std::string(fl_get_input(mpanel->sizeX)) + "x" + fl_get_input(mpanel->sizeY), "64x64") << c.text;
        EXPECT_EQ(std::make_pair(MMode.boxX, MMode.boxY), std::make_pair(64, 64)) << c.text;
    }
    // The size in force cuts a 64 x 64 box where the pointer is.
    MMode.mode = BOX;
    DataWin* v = current_view();
    std::string out = said([&] { v->buttonPress(100, v->canvasHeight() - 101, EV_LEFT_PRESS, 0); });
    EXPECT_EQ(out.find("box too big"), std::string::npos) << out;
    ASSERT_NE(group("Clips"), nullptr);
    EXPECT_EQ(std::make_pair(at(0, group("Clips"))->xSize(), at(0, group("Clips"))->ySize()), std::make_pair(64, 64));
    // Accepted sizes round up to a valid transform size, but never past the
    // image: 291 becomes 288, the largest one that fits.
    fl_set_input(mpanel->sizeY, "100");
    enter(mpanel->sizeX, "291");
    EXPECT_EQ(messages(), Msgs{});
    EXPECT_EQ(std::string(fl_get_input(mpanel->sizeX)) + "x" + fl_get_input(mpanel->sizeY), "288x100");
    EXPECT_EQ(std::make_pair(MMode.boxX, MMode.boxY), std::make_pair(288, 100));
    // The wavelet level takes one of its ten sliders' levels.
    enter(mpanel->level, "11");
    EXPECT_EQ(messages(), Msgs{box("Level must be between 0 and 10")});
    EXPECT_STREQ(fl_get_input(mpanel->level), getenv2d("DWTlevel", "0"));
}

// Pixel size, magnification and scanner step: above 0; a value computed from
// them must fit too. A refused entry leaves the images as they were.
TEST_F(Inputs, PixelSizeMagnificationAndScannerStep) {
    MRCData* d = make_data(64, 64, "a");
    d->setPixres(5);
    d->setMag(50);
    fresh({d});
    ASSERT_STREQ(fl_get_input(control->scanres), "5.00");
    auto fields = [] {
        return std::string(fl_get_input(control->scanres)) + " " + fl_get_input(control->mag) + " " +
               fl_get_input(control->scanpix);
    };
    const std::string range = " must be above 0 and at most 100000", pixel = "Pixel size (A)" + range,
                      mag = "Magnification (k)" + range;
    // (10 x 25 um / 0.0001 A is a magnification of 2.5 million.)
    const struct {
        FL_OBJECT* ob;
        const char* text;
        std::string message;
    } refused[] = {{control->scanres, "0", pixel},   {control->scanres, "abc", pixel},
                   {control->scanres, "1e9", pixel}, {control->scanres, "0.0001", mag},
                   {control->mag, "-50", mag},       {control->scanpix, "nan", "Scanner step (um)" + range}};
    for (auto& c : refused) {
        enter(c.ob, c.text);
        EXPECT_EQ(messages(), Msgs{box(c.message)}) << c.text;
        EXPECT_EQ(fields(), "5.00 50.00 25.00") << c.text;
        EXPECT_EQ(std::make_pair(d->Pixres(), d->Mag()), std::make_pair(5.0f, 50.0f)) << c.text;
    }
    enter(control->scanres, "2.5");
    EXPECT_EQ(messages(), Msgs{});
    EXPECT_EQ(fields(), "2.50 100.00 25.00");
    EXPECT_EQ(std::make_pair(d->Pixres(), d->Mag()), std::make_pair(2.5f, 100.0f));
    // What was accepted is in force now.
    enter(control->mag, "0");
    EXPECT_EQ(fields(), "2.50 100.00 25.00");
    // The count of "#" is a whole number of images.
    fl_select_browser_line(control->images, 1);
    fl_set_input(control->numCount, "0");
    fl_call_object_callback(control->numdo);
    EXPECT_EQ(messages(), (Msgs{box(mag), box("Count must be between 1 and 100000")}));
    EXPECT_STREQ(fl_get_input(control->numCount), "10");
    EXPECT_EQ(selected_lines(control->images), std::vector<int>{1});
}

TEST_F(Inputs, PreferencesDialogKeepsItsStoredNumbers) {
    SharedStateGuard keep;
    setenvf("voltage", 300);
    auto field = [](FL_FORM* f, const char* label) {
        FL_OBJECT* o = f->first;
        while (o && !(o->label && std::string(o->label) == label)) o = o->next;
        return o;
    };
    std::string shownAgain;
    dlg_push_form("OK", [&](FL_FORM* f) { fl_set_input(field(f, "Accel V (KV)"), "-1"); });
    dlg_push_form("Cancel", [&](FL_FORM* f) { shownAgain = fl_get_input(field(f, "Accel V (KV)")); });
    m_Tools_Prefs();
    EXPECT_EQ(messages(), Msgs{box("Accel V (KV) must be above 0 and at most 5000")});
    EXPECT_EQ(shownAgain, "300.00");
    EXPECT_EQ(getenvf("voltage"), 300.0f);
    // Numbers that fit are stored as typed.
    dlg_push_form("OK", [&](FL_FORM* f) { fl_set_input(field(f, "Sph Aber (mm)"), "2.7"); });
    m_Tools_Prefs();
    EXPECT_EQ(messages(), Msgs{});
    EXPECT_STREQ(getenv2("spherab"), "2.7");
}

TEST_F(Inputs, FileSelectorPathAndPrintScale) {
    fsel_init();
    std::string dir = shell_tmpdir();
    fsel_set_path(dir.c_str());
    enter(filesel->path, (dir + "/no such folder").c_str());
    EXPECT_EQ(messages(), Msgs{box("Path must name a folder you may open")});
    EXPECT_EQ(fl_get_input(filesel->path), dir);
    enter(filesel->path, "/");
    EXPECT_EQ(messages(), Msgs{});
    EXPECT_STREQ(fl_get_input(filesel->path), "/");
    // A path typed without Return is checked by OK, and the selector stays:
    // refused, or listed (the names chosen were those of another folder).
    static std::string other;
    other = dir;
    static std::vector<std::string> seen;
    seen.clear();
    fl_add_timeout(
        50,
        [](int, void*) {
            fl_set_input(filesel->path, "inf");
            fl_trigger_object(filesel->ok);
            fl_add_timeout(
                50,
                [](int, void*) {
                    seen.push_back(fl_get_input(filesel->path));
                    fl_set_input(filesel->path, (other + "/").c_str());
                    fl_select_browser_line(filesel->browser, 2);
                    fl_trigger_object(filesel->ok);
                    fl_add_timeout(
                        50,
                        [](int, void*) {
                            seen.push_back(fl_get_input(filesel->path) + std::string(" ") +
                                           std::to_string(fsel_names().size()));
                            fl_trigger_object(filesel->cancel);
                        },
                        nullptr);
                },
                nullptr);
        },
        nullptr);
    EXPECT_EQ(fsel_run_multiple(), 0);  // cancelled after the refusal
    EXPECT_EQ(seen, (std::vector<std::string>{"/", dir + " 0"}));
    EXPECT_EQ(messages(), Msgs{box("Path must name a folder you may open")});
    // The scale bar's length is refused when "Print" is pressed; the panel stays.
    fresh({make_data(32, 32, "a")});
    print_panel();
    ASSERT_NE(ppanel, nullptr);
    fl_set_input(ppanel->nm, "-2");
    print_close(ppanel->ok, 0);
    EXPECT_EQ(messages(), Msgs{box("Scale bar (nm) must be above 0 and at most 100000")});
    ASSERT_NE(ppanel, nullptr);
    EXPECT_STREQ(fl_get_input(ppanel->nm), "10");
    print_close(ppanel->cancel, 1);
    EXPECT_EQ(ppanel, nullptr);
}

// The paste crash: with no cut buffer on the server, the toolkit handed a
// null text to the input under a middle click.
TEST_F(Inputs, MiddleClickPastesOnlyText) {
    ASSERT_TRUE(paste_guard_active());
    FL_OBJECT* in = control->groupName;
    fl_set_input(in, "Default");
    // No cut buffer, or one of another type than STRING; no owner of the
    // selection, or the input's own window.
    const Atom utf8 = XInternAtom(fl_display, "UTF8_STRING", False);
    for (int k = 0; k < 4; k++) {
        XDeleteProperty(fl_display, fl_root, XA_CUT_BUFFER0);
        if (k & 2)
            XChangeProperty(fl_display, fl_root, XA_CUT_BUFFER0, utf8, 8, PropModeReplace, (unsigned char*)"12", 2);
        XSetSelectionOwner(fl_display, XA_PRIMARY, k & 1 ? in->form->window : 0, CurrentTime);
        click(in, 0.9, 0.5);
        click(in, 0.9, 0.5, Button2);
        EXPECT_STREQ(fl_get_input(in), "Default") << k;
    }
    // Text in the cut buffer is pasted as ever.
    XSetSelectionOwner(fl_display, XA_PRIMARY, 0, CurrentTime);
    XStoreBuffer(fl_display, "-2", 2, 0);
    click(in, 0.9, 0.5, Button2);
    EXPECT_NE(std::string(fl_get_input(in)).find("-2"), std::string::npos) << fl_get_input(in);
}

// The live CTF window's defocus: micrometres, -100 to 100.
TEST_F(Inputs, LiveWindowDefocus) {
    SharedStateGuard keep;  // the model reads its preferences
    MRCData* t = make_complex(64, 64, "transform");
    fresh({t});
    livec_open();
    view_livecalc(t, 10, 32, 0.01f, -1.5f);
    ASSERT_STREQ(fl_get_input(livec->defocus), "-1.500");
    for (const char* text : {"abc", "-101", "1e5", "", "-1.5um", "nan"}) {
        enter(livec->defocus, text);
        EXPECT_EQ(messages(), Msgs{box("Defocus (um) must be between -100 and 100")}) << text;
        EXPECT_STREQ(fl_get_input(livec->defocus), "-1.500") << text;
        EXPECT_EQ(lcs.defocus, -1.5f) << text;
        EXPECT_EQ(t->Pstate()->defocus, -1.5f) << text;
    }
    livec_close();
}
