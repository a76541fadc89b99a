// The one door to the user's answers: message boxes, questions, three-button
// choices, text input and the file selector's result. Tests queue answers
// here instead of clicking.
#pragma once

#include <forms.h>

#include <functional>
#include <string>
#include <vector>

// Three-line message box.
void dlg_message(const char* l1, const char* l2 = "", const char* l3 = "");
// Yes/No question: 1 yes, 0 no.
int dlg_question(const char* msg, int def);
// Choice dialog with three lines and nb (1..3) buttons; returns 1..nb.
int dlg_choice(const char* l1, const char* l2, const char* l3, int nb, const char* b1, const char* b2, const char* b3,
               int def);
// Text input; false when cancelled (out untouched).
bool dlg_input(const char* prompt, const char* def, std::string* out);
// File selector, single mode: the full path (directory + "/" + name).
bool dlg_file_single(std::string* path);
// File selector, multiple mode: the full paths in browser order.
bool dlg_file_multiple(std::vector<std::string>* paths);
// Runs a modal form until one of the given objects is returned (or none);
// scripted answers name the button by its label.
FL_OBJECT* dlg_run_form(FL_FORM* form, const std::vector<FL_OBJECT*>& enders);

// ---- scripted answers (tests)
struct DlgAnswer {
    enum Kind { Button, Text, Files, Form } kind = Button;
    int button = 1;                      // question: 1 yes 0 no; choice: 1..3
    bool cancel = false;                 // input / file selector cancelled
    std::string text;                    // input text, or the form button label
    std::vector<std::string> files;      // full paths
    std::function<void(FL_FORM*)> fill;  // Form: edits the fields before the button
};
// Scripted mode: dialogs never block; each takes the next queued answer, and
// an unexpected dialog (empty queue or wrong kind) is logged and cancelled.
void dlg_set_scripted(bool on);
bool dlg_scripted();
void dlg_push(const DlgAnswer& a);
void dlg_push_button(int b);
void dlg_push_text(const std::string& t);
void dlg_push_cancel();
void dlg_push_files(const std::vector<std::string>& f);
void dlg_push_form(const std::string& button, std::function<void(FL_FORM*)> fill = nullptr);
int dlg_pending();
void dlg_clear();
// What was asked, one entry per dialog ("message: ...", "choice: ...", ...).
const std::vector<std::string>& dlg_log();
// Dialogs that found no fitting answer in scripted mode.
int dlg_unexpected();
