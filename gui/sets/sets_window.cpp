// The "Micrographs" window: one line per micrograph of the set, the buttons
// that move through it and work on it, a status line; and the Page Up /
// Page Down keys on every window of the workbench.
#include <X11/keysym.h>
#include <forms.h>

#include <map>

#include "core/hooks.h"
#include "gui/sets/sets.h"
#include "gui/sets/sets_state.h"
#include "gui/shell/help.h"
#include "gui/shell/state.h"

namespace sets {
namespace {

struct FD_sets {
    FL_FORM* form;
    FL_OBJECT *head, *list, *status;
    FL_OBJECT *prev, *next, *reject, *autopick, *extract, *exportBtn;
};
FD_sets* g_w = nullptr;

const char* const kListHelp =
    "The micrographs of the set: number, name, picks, defocus (micrometres, negative = underfocus), "
    "astigmatism (micrometres), resolution of the CTF fit (Angstrom) and status.\n\nClick a line to show that "
    "micrograph in the current view; Page Up and Page Down in any window go to the previous and next one. Its "
    "picks are its boxes, saved to the set folder as they change. CTF estimates fill in while you work.";

struct Button {
    FL_OBJECT* FD_sets::*slot;
    const char* label;
    void (*run)();
    const char* help;
};
const Button kButtons[] = {
    {&FD_sets::prev, "Previous", [] { set_prev(); }, "Shows the previous micrograph of the set (Page Up)."},
    {&FD_sets::next, "Next", [] { set_next(); }, "Shows the next micrograph of the set (Page Down)."},
    {&FD_sets::reject, "Reject", set_toggle_reject,
     "Rejects the shown micrograph, or keeps it again. Rejected micrographs are left out of Auto Pick All, "
     "Extract and Export."},
    {&FD_sets::autopick, "Auto Pick All", set_autopick_all,
     "Picks every kept micrograph automatically with the settings of the Auto Pick panel. The automatic picks "
     "replace earlier automatic ones; picks made by hand stay."},
    {&FD_sets::extract, "Extract", set_extract,
     "Extracts the particles of every kept micrograph into a folder you choose, with the settings of the "
     "extraction panel: one stack per micrograph and particles.star."},
    {&FD_sets::exportBtn, "Export", set_export,
     "Writes the kept micrographs that have a CTF estimate to a folder you choose: micrographs_ctf.star (RELION's "
     "micrographs table with the CTF), their coordinate files and coordinates.star."},
};

void cbButton(FL_OBJECT*, long k) {
    if (help_for(kButtons[k].help)) return;
    kButtons[k].run();
}

void cbList(FL_OBJECT* ob, long) {
    if (help_for(kListHelp)) return;
    const int line = fl_get_browser(ob);
    if (line > 0) set_show(line - 1);
}

FD_sets* build() {
    FD_sets* w = new FD_sets();
    w->form = fl_bgn_form(FL_UP_BOX, 640, 360);
    w->head = fl_add_text(FL_NORMAL_TEXT, 10, 5, 620, 20,
                          "   # name                      picks defocus  astig    res  status");
    fl_set_object_lstyle(w->head, FL_FIXED_STYLE);
    fl_set_object_lsize(w->head, FL_SMALL_SIZE);
    w->list = fl_add_browser(FL_HOLD_BROWSER, 10, 25, 620, 250, "");
    fl_set_browser_fontstyle(w->list, FL_FIXED_STYLE);
    fl_set_browser_fontsize(w->list, FL_SMALL_SIZE);
    fl_set_browser_specialkey(w->list, '\x1f');  // names are shown as they are
    fl_set_object_callback(w->list, cbList, 0);
    w->status = fl_add_text(FL_NORMAL_TEXT, 10, 280, 620, 22, "");
    fl_set_object_lalign(w->status, FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    for (int k = 0; k < (int)(sizeof kButtons / sizeof kButtons[0]); k++) {
        const int type = kButtons[k].slot == &FD_sets::reject ? FL_PUSH_BUTTON : FL_NORMAL_BUTTON;
        FL_OBJECT* b = fl_add_button(type, 10 + 104 * k, 312, 98, 28, kButtons[k].label);
        fl_set_object_callback(b, cbButton, k);
        fl_set_object_gravity(b, FL_SouthWest, FL_SouthWest);
        w->*kButtons[k].slot = b;
    }
    fl_set_object_gravity(w->head, FL_NorthWest, FL_NorthEast);
    fl_set_object_gravity(w->list, FL_NorthWest, FL_SouthEast);
    fl_set_object_gravity(w->status, FL_SouthWest, FL_SouthEast);
    fl_end_form();
    // Closing the window closes the set (saved); the menu opens it again.
    fl_set_form_atclose(
        w->form,
        [](FL_FORM*, void*) {
            set_close();
            return (int)FL_IGNORE;
        },
        nullptr);
    return w;
}

// ---- Page Up / Page Down

std::map<FL_FORM*, FL_RAW_CALLBACK> g_chained;

int pageKey(FL_FORM* f, void* ev) {
    XEvent* xe = static_cast<XEvent*>(ev);
    if (xe->type == KeyPress && st().open && !dohelp() && busy_depth() == 0) {
        const KeySym k = XLookupKeysym(&xe->xkey, 0);
        if (k == XK_Page_Down || k == XK_KP_Page_Down) {
            set_next();
            return FL_PREEMPT;
        }
        if (k == XK_Page_Up || k == XK_KP_Page_Up) {
            set_prev();
            return FL_PREEMPT;
        }
    }
    auto c = g_chained.find(f);
    return c != g_chained.end() && c->second ? c->second(f, ev) : 0;
}

void watchForm(FL_FORM* f) {
    if (!f || f->key_callback == pageKey) return;
    g_chained[f] = f->key_callback;  // a guard already there (help mode) still hears every key
    fl_register_raw_callback(f, KeyPressMask, pageKey);
}

}  // namespace

void window_show() {
    if (!g_w) g_w = build();
    if (!g_w->form->visible) {
        fl_set_form_position(g_w->form, 20, 650);
        fl_show_form(g_w->form, FL_PLACE_POSITION | FL_FREE_SIZE, FL_FULLBORDER, "Micrographs");
    }
    watch_page_keys();
}

void window_hide() {
    if (g_w && g_w->form->visible) fl_hide_form(g_w->form);
}

void window_fill() {
    if (!g_w) return;
    fl_freeze_form(g_w->form);
    fl_clear_browser(g_w->list);
    const MicSet& s = st().set;
    for (int i = 0; i < (int)s.entries.size(); i++) fl_add_browser_line(g_w->list, micset_line(s, i).c_str());
    fl_unfreeze_form(g_w->form);
}

void window_line(int i) {
    if (!g_w || i < 0 || i >= fl_get_browser_maxline(g_w->list)) return;
    fl_replace_browser_line(g_w->list, i + 1, micset_line(st().set, i).c_str());
}

void window_select(int i) {
    if (!g_w) return;
    if (i < 0) {
        fl_deselect_browser(g_w->list);
        return;
    }
    fl_select_browser_line(g_w->list, i + 1);
    // Keep the line in sight: a third of the way down when it had left it.
    const int top = fl_get_browser_topline(g_w->list), shown = fl_get_browser_screenlines(g_w->list);
    if (i + 1 < top || i + 1 >= top + shown) fl_set_browser_topline(g_w->list, std::max(1, i + 1 - shown / 3));
}

void window_status() {
    if (!g_w) return;
    State& s = st();
    std::string t = s.message;
    const int ctf = work_ctf_pending(), picks = set_autopick_pending();
    std::string work;
    if (ctf > 0) work += "CTF: " + std::to_string(ctf) + " to estimate";
    if (picks > 0) work += (work.empty() ? "" : ", ") + std::string("Auto Pick All: ") + std::to_string(picks) + " to pick";
    if (!work.empty()) t = work + (t.empty() ? "" : "  |  " + t);
    if (!t.empty() && t[0] == '@') t = " " + t;  // not a symbol
    fl_set_object_label(g_w->status, t.c_str());
    const int i = s.pos;
    fl_set_button(g_w->reject, i >= 0 && i < (int)s.set.entries.size() && s.set.entries[i].status == MIC_REJECTED);
}

void watch_page_keys() {
    for_each_shown_form(watchForm);
}

}  // namespace sets
