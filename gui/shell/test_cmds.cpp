#include "gui/shell/test_cmds.h"

#include <cstdio>

#include "gui/shell/cmd_util.h"
#include "gui/shell/menus.h"
#include "gui/shell/registry.h"
#include "core/MRCData.h"
#include "numeric/testimage.h"

void m_Test_image(int item) {
    BusyScope b;
    MRCData* d = makeTestImage(item);
    if (!d) return;
    current_group()->addObject(d);
    refresh_after_add();
}

void m_Test_Smooth() {
    BusyScope b;
    Selection sel;
    List* g = current_group();
    for (int i = 0; i < sel.count(); i++) {
        if (MRCData* r = sel.at(i)->smoothAmp())
            g->addObject(r);
        else
            std::printf("Void return\n");
    }
    refresh_after_add();
}

const MenuTable& test_menu() {
    static const char* kHelp =
        "This will generate a variety of test images. The names should be fairly self explanatory.";
    static const MenuTable t = [] {
        MenuTable m;
        for (int i = 1; i <= kTestImages; i++) m.push_back({testImageLabel(i), [i] { m_Test_image(i); }, kHelp});
        m.push_back({"Smooth", m_Test_Smooth, "Smoothes amplitudes using neighboring pixels\n"});
        return m;
    }();
    return t;
}
