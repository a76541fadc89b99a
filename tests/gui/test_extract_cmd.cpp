// Box > "Extract Particles...": the panel with the command's defaults, the
// folder from the file selector, the stack written and opened as a mosaic.
#include "tests/gui/gui_testutil.h"
// (first: GoogleTest before Xlib)

namespace {

FL_OBJECT* byLabel(FL_FORM* f, const char* label) {
    for (FL_OBJECT* o = f->first; o; o = o->next)
        if (o->label && std::string(o->label) == label) return o;
    ADD_FAILURE() << "no field " << label;
    return f->first;
}

}  // namespace

TEST(ExtractCmd, BoxesOfTheSelectedImageBecomeAStackOpenedAsAMosaic) {
    const std::string dir = shell_tmpdir();
    MRCData* mic = image(200, 160, [](int x, int y) { return (float)((x * 7 + y * 13) % 101); }, "mic");
    mic->setFile((dir + "/mic.mrc").c_str());
    mic->setPixres(1.5f);
    mic->addBox(20, 30, 32, 32, "a", 0);
    mic->addBox(100, 60, 32, 32, "b", 0);
    mic->addBox(180, 150, 32, 32, "off the image at the top", 0);
    mic->addBox(10, 10, 50, 90, "filament", 12);
    fresh({mic, image(64, 64, [](int, int) { return 1.0f; }, "no boxes")});

    // Values that cannot be used: said, nothing written.
    dlg_push_form("Extract", [](FL_FORM* f) { fl_set_input(byLabel(f, "Box size (pixels)"), "33"); });
    menu_run("Box", "Extract Particles...");
    EXPECT_EQ(dlg_logged("message:"),
              std::vector<std::string>{"message: Cannot extract:|Box size 33: an even number of pixels from 8 to 16384|"});
    dlg_push_form("Cancel");
    menu_run("Box", "Extract Particles...");
    EXPECT_EQ(dlg_unexpected(), 0);
    EXPECT_FALSE(exists(dir + "/parts"));

    // The defaults of tarvik-proc extract, the box size the boxes' own; raw values, inverted.
    dlg_push_form("Extract", [](FL_FORM* f) {
        EXPECT_STREQ(fl_get_input(byLabel(f, "Box size (pixels)")), "32");
        EXPECT_STREQ(fl_get_input(byLabel(f, "Bin by")), "1");
        EXPECT_STREQ(fl_get_input(byLabel(f, "Background radius")), "0");
        const char* on[] = {"Normalise", "Subtract ramp"};
        const char* off[] = {"Invert contrast", "Phase flip", "Keep edge boxes"};
        for (const char* l : on) EXPECT_EQ(fl_get_button(byLabel(f, l)), 1) << l;
        for (const char* l : off) EXPECT_EQ(fl_get_button(byLabel(f, l)), 0) << l;
        fl_set_button(byLabel(f, "Normalise"), 0);
        fl_set_button(byLabel(f, "Invert contrast"), 1);
    });
    dlg_push_files({dir + "/parts"});
    const std::string out = said([] { menu_run("Box", "Extract Particles..."); });
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), dir + "/mic.mrc: 2 particles written, 1 skipped at the edge, " + dir + "/parts/mic.mrcs\n");
    EXPECT_EQ(dlg_unexpected(), 0);
    EXPECT_TRUE(exists(dir + "/parts/particles.star"));
    EXPECT_NE(read_file(dir + "/parts/particles.star").find("36.000000 46.000000 1@" + dir + "/parts/mic.mrcs"),
              std::string::npos);
    // The stack in a group of its own, every particle shown: the mosaic.
    ASSERT_EQ(count(dataList), 2);
    EXPECT_EQ(fl_get_browser(control->groups), 2);
    EXPECT_EQ(group_names(current_group()), (std::vector<std::string>{"mic.mrcs:1", "mic.mrcs:2"}));
    EXPECT_EQ(count(current_view()->data()), 2);
    const int corner[2][2] = {{20, 30}, {100, 60}};
    for (int k = 0; k < 2; k++) {
        MRCData* p = at(k);
        ASSERT_EQ(p->xSize() * 100 + p->ySize(), 3232);
        EXPECT_FLOAT_EQ(p->Pixres(), 1.5f);
        for (int y = 0; y < 32; y++)
            for (int x = 0; x < 32; x++)
                ASSERT_EQ(p->getRealData()[y * 32 + x], -mic->valueAt(corner[k][0] + x, corner[k][1] + y)) << k;
    }

    // An image without boxes says so.
    fl_select_browser_line(control->groups, 1);
    sel_Group(nullptr, 0);
    select_images({2});
    menu_run("Box", "Extract Particles...");
    EXPECT_EQ(dlg_logged("message:").back(), "message: The selected image has no boxes to extract.||");
}
