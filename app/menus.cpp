#include "app/menus.h"

#include <cstdio>
#include <string>

#include "app/control.h"
#include "app/dialogs.h"
#include "app/help.h"
#include "app/state.h"

const char* const kFileItems =
    "Open MRC|Open IMAGIC|Open SPIDER|Open PIF|Open ScansALot|Read List w Interleave|Open Picture%l|Save MRC|"
    "Save Short MRC|Save MRC new ext|Save IMAGIC|Save SPIDER|Save PIF|Save PGM%l|Print%l|Quit";
const char* const kBoxItems =
    "Read Box DB|Save Box DB|Rebox Using DB|Align All to New|New Permanent|Clear Box DB|Copy Boxes With Align.|"
    "Coincidence";
const char* const kToolsItems =
    "Clip colors|Average|FFT Average|Filter|Normalize|Edge Normalize|Subtract|V. Flip|Flood Edge|Mask Step|"
    "Mask Noise%l|Analyze|Pad for FFT|FFT|IFT%l|DWT|IWT|Wavlt Filt%l|Preferences";
const char* const kUserItems = "No Items%l|Modify Functions";
const char* const kCtfItems =
    "Apply CTF|CTF Filter|Fix Phases|Step 1|FPM|FTM|FPM (Set)%l|Rot/Trans|ACF|Center (center)|Center (corner)|CCF|"
    "Trans. Align|RCF|Rot. Align|Align RT|Center + Ali RT|Phase Origin Shift";
const char* const kTestItems =
    "1.0|Sin(x)|Sin(y)|Sin(x+y)|Sin(x+y)+1.0|Gauss y|Gauss xy|Steps|Pixels|Gauss x Slip|Smooth";
const char* const kHelpItems = "Home Page|Help";

void set_menu_items() {
    fl_set_menu(control->fileMenu, kFileItems);
    fl_set_menu(control->boxMenu, kBoxItems);
    fl_set_menu(control->toolsMenu, kToolsItems);
    fl_set_menu(control->userMenu, kUserItems);
    fl_set_menu(control->ctfMenu, kCtfItems);
    fl_set_menu(control->testMenu, kTestItems);
    fl_set_menu(control->helpMenu, kHelpItems);
}

namespace {
int itemCount(const char* items) {
    int n = 1;
    for (const char* p = items; *p; p++)
        if (*p == '|') n++;
    return n;
}

// Entries whose commands are not in this build yet.
void notYet(const char* menu, int item, const char* items) {
    if (item < 1 || item > itemCount(items)) return;
    std::string s(items), name;
    int k = 1;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); i++)
        if (i == s.size() || s[i] == '|') {
            if (k == item) name = s.substr(start, i - start);
            k++;
            start = i + 1;
        }
    size_t pct = name.find('%');
    if (pct != std::string::npos) name.resize(pct);
    if (dohelp()) {
        help((menu + std::string(" > ") + name + ": not available in this version.").c_str());
        return;
    }
    dlg_message(menu, name.c_str(), "is not available in this version.");
}
}  // namespace

void m_Box_item(int item) {
    notYet("Box", item, kBoxItems);
}

void m_Tools_item(int item) {
    if (item == 19)
        m_Tools_Prefs();
    else
        notYet("Tools", item, kToolsItems);
}

void m_User_item(int item) {
    notYet("User", item, kUserItems);
}
void m_Ctf_item(int item) {
    notYet("CTF", item, kCtfItems);
}
void m_Test_item(int item) {
    notYet("Test Image", item, kTestItems);
}

void m_Box(FL_OBJECT* ob, long) {
    m_Box_item(fl_get_menu(ob));
}
void m_Tools(FL_OBJECT* ob, long) {
    m_Tools_item(fl_get_menu(ob));
}
void m_User(FL_OBJECT* ob, long) {
    m_User_item(fl_get_menu(ob));
}
void m_Ctf(FL_OBJECT* ob, long) {
    m_Ctf_item(fl_get_menu(ob));
}
void m_Test(FL_OBJECT* ob, long) {
    m_Test_item(fl_get_menu(ob));
}
