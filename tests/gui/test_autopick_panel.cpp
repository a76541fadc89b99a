// Box > Auto Pick on a synthetic micrograph: the picks become red boxes of the
// mouse panel's size (read back from the X server), hand-cut boxes stay, the
// threshold and the other filter controls re-filter without picking again,
// Export Picks writes them, and bad input changes nothing.
#include "tests/gui/gui_testutil.h"
// (first: GoogleTest before Xlib)
#include "core/picks.h"
#include "gui/shell/autopick_panel.h"
#include "tests/core/pick_synth.h"

namespace {

// 1024 x 1024 pixels of 2 A, 25 particles 150 A across, one contamination blob.
struct Scene {
    PickSynth s;
    PickSynthImage m;
    MRCData* d = nullptr;
    Scene() {
        s.nx = s.ny = 1024, s.pixel = 2, s.diameter = 150, s.snr = 0.06f, s.particles = 25, s.contamination = 1;
        s.seed = 3;
        m = pick_synth(s);
        d = new MRCData();
        d->setRealData(m.pixels.data(), s.nx, s.ny, 1);
        d->setName("mic");
        d->setFile("mic.mrc");
        d->setPixres(2);
        d->addBox(0, 0, 40, 40, "mic_001.img", 0);  // cut by hand
        fresh({d});
        MMode.boxX = MMode.boxY = 100;
        current_view()->setZoom(0.25f);  // the whole micrograph in the view
        menu_run("Box", "Auto Pick...");
        fl_set_input(autopick_panel->diameter, "150");
    }
    std::vector<BoxRecord> autoBoxes() const {
        std::vector<BoxRecord> out;
        for (int i = 0; i < d->nBoxes(); i++)
            if (autopick_is_auto_box(d->Boxes()[i])) out.push_back(d->Boxes()[i]);
        return out;
    }
    void threshold(double t) {
        fl_set_slider_value(autopick_panel->threshold, t);
        ap_filter(autopick_panel->threshold, 0);
    }
};

// The server pixel in the middle of a box's left edge, where the view draws it
// (in its pixmap, the window's background: the panel may hide the window).
unsigned long leftEdge(const BoxRecord& b) {
    DataWin* v = current_view();
    XSync(fl_display, False);
    const int X = (int)(v->getZoom() * b.x) - v->getXor();
    const int Y = (v->getYor() + v->canvasHeight()) - (int)(v->getZoom() * b.y);
    const int h = (int)(v->getZoom() * b.ysize);
    return serverPixel(v->pixmapId(), X, Y + 1 - h / 2);
}

std::string title() {
    return current_view()->formRecord()->datawin->label;
}

}  // namespace

TEST(AutopickPanel, PicksBecomeRedBoxesAndTheThresholdRefiltersThem) {
    Scene sc;
    ap_pick(autopick_panel->pick, 0);
    const std::vector<BoxRecord> first = sc.autoBoxes();
    const int n = (int)first.size();
    ASSERT_GE(n, 23);
    // The hand-cut box first, as it was; then boxes of the mouse panel's size on the particles.
    ASSERT_EQ(sc.d->nBoxes(), n + 1);
    EXPECT_STREQ(sc.d->Boxes()[0].name, "mic_001.img");
    std::vector<AutoPick> centres;
    for (const BoxRecord& b : first) {
        EXPECT_EQ(b.xsize * 1000 + b.ysize, 100100);
        centres.push_back({(float)(b.x + 50), (float)(b.y + 50), {}, 0});
    }
    const PickScore score = pick_score(centres, sc.m.truth, 0.2 * 75);
    EXPECT_EQ(score.hits, n);
    EXPECT_GE(score.recall(), 0.92);
    EXPECT_EQ(title(), "Auto Pick: " + std::to_string(n) + " picks");
    EXPECT_EQ(std::string(autopick_panel->status->label), title());
    const unsigned long red = fl_get_pixel(FL_RED);
    for (const BoxRecord& b : first) EXPECT_EQ(leftEdge(b), red) << b.x << "," << b.y;

    // Above every score: no automatic box is left, nor drawn; the hand-cut one stays.
    const int computed = autopick_panel_computations();
    sc.threshold(15);
    EXPECT_TRUE(sc.autoBoxes().empty());
    EXPECT_EQ(sc.d->nBoxes(), 1);
    EXPECT_EQ(title(), "Auto Pick: 0 picks");
    for (const BoxRecord& b : first) EXPECT_NE(leftEdge(b), red) << b.x << "," << b.y;
    // Back: the same boxes again, from the same candidates.
    sc.threshold(5);
    const std::vector<BoxRecord> again = sc.autoBoxes();
    ASSERT_EQ(again.size(), first.size());
    for (size_t i = 0; i < first.size(); i++)
        EXPECT_EQ(again[i].x * 10000 + again[i].y, first[i].x * 10000 + first[i].y);
    // A minimum distance of 600 A leaves fewer.
    fl_set_input(autopick_panel->minDistance, "600");
    ap_filter(autopick_panel->minDistance, 0);
    EXPECT_LT(sc.autoBoxes().size(), first.size() / 2);
    fl_set_input(autopick_panel->minDistance, "0");
    ap_filter(autopick_panel->minDistance, 0);
    EXPECT_EQ(sc.autoBoxes().size(), first.size());
    EXPECT_EQ(autopick_panel_computations(), computed);
    // Picking again with the same settings uses the same candidates too.
    ap_pick(autopick_panel->pick, 0);
    EXPECT_EQ(sc.autoBoxes().size(), first.size());
    EXPECT_EQ(autopick_panel_computations(), computed);
    // The contamination switch off computes anew, and picks on the contamination.
    fl_set_button(autopick_panel->reject, 0);
    ap_reject(autopick_panel->reject, 0);
    EXPECT_EQ(autopick_panel_computations(), computed + 1);
    std::vector<AutoPick> all;
    for (const BoxRecord& b : sc.autoBoxes()) all.push_back({(float)(b.x + 50), (float)(b.y + 50), {}, 0});
    EXPECT_GT(pick_on_contamination(all, sc.m, 0), 0);
    fl_set_button(autopick_panel->reject, 1);
    ap_reject(autopick_panel->reject, 0);
    EXPECT_EQ(busy_depth(), 0);

    // Export Picks writes them, the hand-cut box with them.
    const std::string file = shell_tmpdir() + "/mic.star";
    dlg_push_files({file});
    menu_run("Box", "Export Picks");
    std::vector<Pick> back;
    ASSERT_EQ(readStarPicks(file.c_str(), 100, 100, &back), 1);
    ASSERT_EQ((int)back.size(), n + 1);
    EXPECT_EQ(back[1].x, first[0].x);
    EXPECT_EQ(back[1].y, first[0].y);
}

// Scripts choose menu items by number: the new entries follow "Import Picks",
// whose number stays.
TEST(AutopickPanel, BoxMenuEntriesFollowImportPicks) {
    std::vector<std::string> items;
    for (int i = 1; i <= fl_get_menu_maxitems(control->boxMenu); i++)
        items.push_back(fl_get_menu_item_text(control->boxMenu, i));
    ASSERT_GE(items.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(items.end() - 3, items.end()),
              (std::vector<std::string>{"Import Picks", "Auto Pick...", "Extract Particles..."}));
}

TEST(AutopickPanel, BadInputChangesNothing) {
    Scene sc;
    MRCData* cplx = make_complex(64, 64, "fft");
    add_to_group({cplx, make_data(1024, 1024, "other")});
    struct Case {
        std::vector<int> lines;
        const char* diameter;
        int mode;  // 1 blob, 2 template
        std::string message;
    } cases[] = {
        {{1, 3}, "150", 1, "message: Please select a single data set.||"},
        {{2}, "150", 1, "message: Auto Pick works on micrographs, not on Fourier transforms.||"},
        {{1},
         "5000",
         1,
         "message: Auto pick: a 5000 A particle (2500 pixels, box 100) does not fit a 1024 x 1024 "
         "micrograph||"},
        // No box cut by hand lies inside (the one at the corner is too close to the edge), no file chosen.
        {{1},
         "150",
         2,
         "message: Template mode needs a template:|cut a few particles by hand on this micrograph,|"
         "or choose a template file."},
    };
    for (const Case& c : cases) {
        select_images(c.lines);
        const size_t logged = dlg_log().size();
        fl_set_input(autopick_panel->diameter, c.diameter);
        fl_set_choice(autopick_panel->mode, c.mode);
        ap_pick(autopick_panel->pick, 0);
        ASSERT_EQ(dlg_log().size(), logged + 1) << c.message;
        EXPECT_EQ(dlg_log().back(), c.message);
        EXPECT_EQ(sc.d->nBoxes(), 1) << c.message;
    }
    EXPECT_EQ(autopick_panel_computations(), 0);
    EXPECT_EQ(busy_depth(), 0);
}

TEST(AutopickPanel, TemplateFromHandBoxesAndTheMicrographGoingAway) {
    Scene sc;
    // Five particles cut by hand make the template.
    for (int i = 0; i < 5; i++)
        sc.d->addBox((int)sc.m.truth[i].x - 50, (int)sc.m.truth[i].y - 50, 100, 100, "mic_00x.img", 0);
    fl_set_choice(autopick_panel->mode, 2);
    ap_pick(autopick_panel->pick, 0);
    EXPECT_EQ(std::string(autopick_panel->templ->label), "Template: 5 boxes of mic");
    AutopickParams p;
    ASSERT_TRUE(autopick_panel_params(&p));
    EXPECT_EQ(p.mode, AUTOPICK_TEMPLATE);
    EXPECT_EQ(p.templNx * 1000 + p.templNy, 114114);  // 1.5 diameters of 75 pixels, even
    EXPECT_EQ(p.boxSize, 100);
    EXPECT_EQ(p.pixel, 0.0f);
    EXPECT_GE(sc.autoBoxes().size(), 20u);
    EXPECT_EQ(sc.d->nBoxes(), 6 + (int)sc.autoBoxes().size());
    // The micrograph goes: the threshold has nothing to act on, and says so.
    destroy_data(sc.d);
    sc.threshold(4);
    EXPECT_EQ(std::string(autopick_panel->status->label), "Press Pick");
    ap_close(autopick_panel->close, 0);
    EXPECT_EQ(autopick_panel, nullptr);
    // Closed: the settings are kept in the preferences.
    ASSERT_TRUE(autopick_panel_params(&p));
    EXPECT_EQ(p.diameter, 150.0f);
    EXPECT_EQ(p.threshold, 4.0f);
}
