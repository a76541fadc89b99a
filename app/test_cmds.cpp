#include "app/test_cmds.h"

#include "app/menus.h"

void m_Test_image(int) {
    not_available("Test Image", "Test images");
}
void m_Test_Smooth() {
    not_available("Test Image", "Smooth");
}

const MenuTable& test_menu() {
    static const char* kHelp =
        "This will generate a variety of test images. The names should be fairly self explanatory.";
    static const MenuTable t = {
        {"1.0", [] { m_Test_image(1); }, kHelp},
        {"Sin(x)", [] { m_Test_image(2); }, kHelp},
        {"Sin(y)", [] { m_Test_image(3); }, kHelp},
        {"Sin(x+y)", [] { m_Test_image(4); }, kHelp},
        {"Sin(x+y)+1.0", [] { m_Test_image(5); }, kHelp},
        {"Gauss y", [] { m_Test_image(6); }, kHelp},
        {"Gauss xy", [] { m_Test_image(7); }, kHelp},
        {"Steps", [] { m_Test_image(8); }, kHelp},
        {"Pixels", [] { m_Test_image(9); }, kHelp},
        {"Gauss x Slip", [] { m_Test_image(10); }, kHelp},
        {"Smooth", m_Test_Smooth, "Smoothes amplitudes using neighboring pixels\n"},
    };
    return t;
}
