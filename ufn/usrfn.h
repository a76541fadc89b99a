// User functions: external filter commands run on a data set through
// temporary files, and the two definition files ~/.tvglobfn and ~/.tvufn.
#pragma once

#include <cstdio>
#include <string>

class List;
class MRCData;

class UsrFn {
public:
    UsrFn() = default;
    ~UsrFn();
    UsrFn(const UsrFn&) = delete;
    UsrFn& operator=(const UsrFn&) = delete;

    // Stores copies (null or empty gives an empty text); control characters and
    // bytes 128..255 become blanks.
    void set(const char* menu, const char* command, const char* opt0, const char* opt1, const char* opt2, char ftype,
             char input, char output, char result);
    // One record of a definitions file; 0 at the end of the file.
    int readself(FILE* fp);
    int writeself(FILE* fp);

    const char* getmenu();
    const char* getcommand();
    const char* getoption(int i);
    int getftype() const { return ftype; }
    int getinput() const { return input; }
    int getoutput() const { return output; }
    int getresult() const { return result; }
    int isGlobal() const { return global; }
    void setGlobal(int g) { global = (char)(g != 0); }

    // The shell line run for the temporary base name T.
    std::string commandLine(const std::string& T);
    // Runs the function on d: the new data set for "New", else null (also
    // when the command's output could not be read).
    MRCData* doFile(MRCData* d);

private:
    char* menu = nullptr;
    char* command = nullptr;
    char* option[3] = {nullptr, nullptr, nullptr};
    int ftype = 0, input = 0, output = 0, result = 0;
    char global = 0;
};

// Runs u on d as the User menu does: a new result is named "#" and d's name
// and takes d's file name; null when there is none (Replace, No Output, failure).
MRCData* ufn_apply(UsrFn* u, MRCData* d);

// "$HOME/.tvglobfn" (shared, read only) and "$HOME/.tvufn" (the user's own).
std::string ufn_global_path();
std::string ufn_user_path();
// Appends the shared items (global set) and then the user's items to l;
// returns 1 when the user's file exists.
int umenu_read(List* l);
// Writes the user's items of l (global 0) to the user's file, replacing it; 1 on success.
int umenu_write(List* l);
// The function of l whose menu text is name (the first one), or null.
UsrFn* umenu_find(List* l, const char* name);
// Deletes the UsrFn objects of l and empties it.
void umenu_clear(List* l);

// Base name of the temporary files, "/tmp/usrfn<uid>"; tests may move them
// into a folder of their own.
std::string ufn_tempbase();
void ufn_set_tempdir(const char* dir);  // null: back to /tmp
