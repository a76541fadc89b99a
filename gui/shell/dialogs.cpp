#include "gui/shell/dialogs.h"

#include <deque>

#include "gui/shell/fsel.h"

namespace {
bool g_scripted = false;
std::deque<DlgAnswer> g_queue;
std::vector<std::string> g_log;
int g_unexpected = 0;

bool take(DlgAnswer::Kind k, DlgAnswer* out) {
    if (g_queue.empty() || g_queue.front().kind != k) {
        g_unexpected++;
        g_log.push_back("UNEXPECTED");
        return false;
    }
    *out = g_queue.front();
    g_queue.pop_front();
    return true;
}
}  // namespace

void dlg_set_scripted(bool on) {
    g_scripted = on;
}
bool dlg_scripted() {
    return g_scripted;
}
void dlg_push(const DlgAnswer& a) {
    g_queue.push_back(a);
}
void dlg_push_button(int b) {
    DlgAnswer a;
    a.button = b;
    dlg_push(a);
}
void dlg_push_text(const std::string& t) {
    DlgAnswer a;
    a.kind = DlgAnswer::Text;
    a.text = t;
    dlg_push(a);
}
void dlg_push_cancel() {
    DlgAnswer a;
    a.kind = DlgAnswer::Text;
    a.cancel = true;
    dlg_push(a);
}
void dlg_push_files(const std::vector<std::string>& f) {
    DlgAnswer a;
    a.kind = DlgAnswer::Files;
    a.files = f;
    a.cancel = f.empty();
    dlg_push(a);
}
void dlg_push_form(const std::string& button, std::function<void(FL_FORM*)> fill) {
    DlgAnswer a;
    a.kind = DlgAnswer::Form;
    a.text = button;
    a.fill = std::move(fill);
    dlg_push(a);
}
int dlg_pending() {
    return (int)g_queue.size();
}
void dlg_clear() {
    g_queue.clear();
    g_log.clear();
    g_unexpected = 0;
}
const std::vector<std::string>& dlg_log() {
    return g_log;
}
int dlg_unexpected() {
    return g_unexpected;
}

void dlg_message(const char* l1, const char* l2, const char* l3) {
    g_log.push_back(std::string("message: ") + l1 + "|" + l2 + "|" + l3);
    if (g_scripted) return;
    fl_show_message(l1, l2, l3);
}

int dlg_question(const char* msg, int def) {
    g_log.push_back(std::string("question: ") + msg);
    if (g_scripted) {
        DlgAnswer a;
        return take(DlgAnswer::Button, &a) ? (a.button ? 1 : 0) : 0;
    }
    return fl_show_question(msg, def) == 1 ? 1 : 0;
}

int dlg_choice(const char* l1, const char* l2, const char* l3, int nb, const char* b1, const char* b2, const char* b3,
               int def) {
    g_log.push_back(std::string("choice: ") + l1 + "|" + l2 + "|" + l3 + " [" + b1 + "|" + b2 + "|" + b3 + "]");
    if (g_scripted) {
        DlgAnswer a;
        // An unscripted choice takes the last button: the one that abandons.
        if (!take(DlgAnswer::Button, &a)) return nb;
        return a.button < 1 || a.button > nb ? nb : a.button;
    }
    return fl_show_choice(l1, l2, l3, nb, b1, b2, b3, def);
}

bool dlg_input(const char* prompt, const char* def, std::string* out) {
    g_log.push_back(std::string("input: ") + prompt);
    if (g_scripted) {
        DlgAnswer a;
        if (!take(DlgAnswer::Text, &a) || a.cancel) return false;
        *out = a.text;
        return true;
    }
    const char* r = fl_show_input(prompt, def ? def : "");
    if (!r) return false;
    *out = r;
    return true;
}

bool dlg_file_single(std::string* path) {
    g_log.push_back("fsel: single");
    if (g_scripted) {
        DlgAnswer a;
        if (!take(DlgAnswer::Files, &a) || a.cancel || a.files.empty()) return false;
        *path = a.files[0];
        return true;
    }
    if (!fsel_run_single()) return false;
    std::string name = fsel_get_name();
    // OK with an empty "File:" names no file: saving to "dir/.img" helps nobody.
    if (name.empty()) return false;
    *path = std::string(fsel_get_path()) + "/" + name;
    return true;
}

bool dlg_file_multiple(std::vector<std::string>* paths) {
    g_log.push_back("fsel: multiple");
    paths->clear();
    if (g_scripted) {
        DlgAnswer a;
        if (!take(DlgAnswer::Files, &a) || a.cancel) return false;
        *paths = a.files;
        return !paths->empty();
    }
    if (!fsel_run_multiple()) return false;
    std::string dir = fsel_get_path();
    for (const std::string& n : fsel_names()) paths->push_back(dir + "/" + n);
    return !paths->empty();
}

FL_OBJECT* dlg_run_form(FL_FORM* form, const std::vector<FL_OBJECT*>& enders) {
    g_log.push_back("form");
    if (g_scripted) {
        DlgAnswer a;
        if (!take(DlgAnswer::Form, &a)) return nullptr;
        if (a.fill) a.fill(form);
        for (FL_OBJECT* o : enders)
            if (a.text == fl_get_object_label(o)) return o;
        return nullptr;
    }
    while (true) {
        FL_OBJECT* o = fl_do_forms();
        if (!o) return nullptr;
        for (FL_OBJECT* e : enders)
            if (o == e) return o;
    }
}
