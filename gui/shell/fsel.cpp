#include "gui/shell/fsel.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "gui/shell/inputs.h"
#include "gui/shell/state.h"
#include "core/List.h"
#include "core/prefs.h"

FD_fsel* filesel = nullptr;
int fsel_single = 1;

namespace {
// Browser lines as names: the browser only displays them, so names with
// blanks or format characters are never mangled on the way back.
std::vector<std::string> g_lines;
std::string g_pathRet, g_nameRet;
std::string g_listed = "/";  // the folder the listing shows
int g_accepted = 0;

bool isAccessibleDir(const std::string& p) {
    struct stat st;
    return !p.empty() && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(p.c_str(), X_OK) == 0;
}

std::string pathField() {
    const char* s = fl_get_input(filesel->path);
    return s ? s : "";
}

void setPathField(const std::string& p) {
    fl_set_input(filesel->path, p.c_str());
}

const char* prefOr(const char* key, const char* def) {
    return getenv2d(key, def);
}

void selectOnly(int line) {
    fl_deselect_browser(filesel->browser);
    if (line >= 1) fl_select_browser_line(filesel->browser, line);
}
}  // namespace

std::vector<std::string> fsel_list_dir(const std::string& dir) {
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (!d) return out;
    while (struct dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;  // as ls without -a
        std::string name = e->d_name;
        // A line feed cannot be shown on one browser line; such names are left out.
        if (name.find('\n') != std::string::npos) continue;
        std::string full = dir == "/" ? "/" + name : dir + "/" + name;
        struct stat st;
        if (stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) name += '/';
        out.push_back(name);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

std::string fsel_line(int n) {
    return n >= 1 && n <= (int)g_lines.size() ? g_lines[n - 1] : std::string();
}
int fsel_lines() {
    return (int)g_lines.size();
}
int fsel_accepted() {
    return g_accepted;
}

// A typed path must name a folder: otherwise it is refused and the folder
// listed is shown again.
static bool pathAccepted() {
    if (isAccessibleDir(pathField())) return true;
    input_refuse(filesel->path, "Path must name a folder you may open", g_listed);
    return false;
}

// False when the path field holds a path other than the folder listed: a
// folder is listed then, anything else refused.
static bool typedPathListed() {
    std::string p = pathField();
    if (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p == g_listed) return true;
    if (pathAccepted()) fsel_path(nullptr, 0);
    return false;
}

void fsel_path(FL_OBJECT* ob, long) {
    // Paths the program sets are cut back to a folder instead.
    if (ob && !pathAccepted()) return;
    fl_freeze_form(filesel->fsel);
    fl_clear_browser(filesel->browser);
    g_lines.assign(1, "..");
    fl_add_browser_line(filesel->browser, "..");
    std::string p = pathField();
    if (p.size() > 1 && p.back() == '/') p.pop_back();
    // Cut back to the longest accessible prefix, "/" at worst.
    while (!isAccessibleDir(p)) {
        size_t s = p.rfind('/');
        if (s == std::string::npos || p == "/") {
            p = "/";
            break;
        }
        p = s == 0 ? "/" : p.substr(0, s);
    }
    setPathField(p);
    g_listed = p;
    for (const std::string& n : fsel_list_dir(p)) {
        g_lines.push_back(n);
        fl_add_browser_line(filesel->browser, n.c_str());
    }
    fl_unfreeze_form(filesel->fsel);
}

void fsel_set_path(const char* path) {
    setPathField(path ? path : "/");
    fsel_path(nullptr, 0);
}

void fsel_dbl(FL_OBJECT*, long) {
    int n = fl_get_browser(filesel->browser);
    if (n < 0) n = -n;
    if (n < 1) return;
    std::string p = pathField();
    if (n == 1) {
        if (p.size() > 1 && p.back() == '/') p.pop_back();
        int drop = isAccessibleDir(p) ? 1 : 2;
        for (int k = 0; k < drop; k++) {
            size_t s = p.rfind('/');
            p = s == std::string::npos ? "" : p.substr(0, s);
        }
        if (p.empty()) p = "/";
        fsel_set_path(p.c_str());
        return;
    }
    std::string line = fsel_line(n);
    std::string probe = p + "/" + line + "/.qrz";
    errno = 0;
    if (access(probe.c_str(), F_OK) != 0 && errno == ENOTDIR) {
        selectOnly(n);
        if (fsel_single) fl_set_input(filesel->file, line.c_str());
        g_accepted = 1;
        fl_trigger_object(filesel->ok);
        return;
    }
    std::string np = (!p.empty() && p.back() == '/') ? p + line : p + "/" + line;
    fsel_set_path(np.c_str());
}

void fsel_sel(FL_OBJECT*, long) {
    int n = fl_get_browser(filesel->browser);
    if (fsel_single) {
        int a = n < 0 ? -n : n;
        selectOnly(a);
        fl_set_input(filesel->file, a >= 1 ? fsel_line(a).c_str() : "");
    } else {
        fl_set_input(filesel->file, n > 1 ? fsel_line(n).c_str() : "");
    }
}

void fsel_file(FL_OBJECT*, long) {
    const char* t = fl_get_input(filesel->file);
    std::string text = t ? t : "";
    fl_deselect_browser(filesel->browser);
    for (int i = 1; i <= (int)g_lines.size(); i++) {
        bool hit =
            fsel_single ? g_lines[i - 1] == text : (!text.empty() && g_lines[i - 1].compare(0, text.size(), text) == 0);
        if (hit) fl_select_browser_line(filesel->browser, i);
    }
}

void fsel_button(FL_OBJECT* ob, long which) {
    switch (which) {
        case 0: {
            const char* h = std::getenv("HOME");
            fsel_set_path(h ? h : "/");
            break;
        }
        case 1: {
            const char* w = std::getenv("PWD");
            std::string cwd;
            if (!w) {
                char buf[4096];
                if (getcwd(buf, sizeof buf)) cwd = buf;
            }
            fsel_set_path(w ? w : (cwd.empty() ? "/" : cwd.c_str()));
            break;
        }
        case 2:
            fsel_set_path("/tmp");
            break;
        case 3:
            fsel_set_path(prefOr("last_dir", "/"));
            break;
        case 4:
        case 5:
        case 6: {
            char key[16];
            std::snprintf(key, sizeof key, "usr_dir_%d", (int)which - 3);
            fsel_set_path(prefOr(key, "/"));
            break;
        }
        case 7:
        case 8:
        case 9: {
            char key[16];
            std::snprintf(key, sizeof key, "usr_dir_%d", (int)which - 6);
            setenv2(key, pathField().c_str());
            break;
        }
        case 10:  // All
            fl_deselect_browser(filesel->browser);
            if (fsel_single)
                fl_select_browser_line(filesel->browser, 1);
            else
                for (int i = 2; i <= (int)g_lines.size(); i++) fl_select_browser_line(filesel->browser, i);
            break;
        case 11:
            fl_deselect_browser(filesel->browser);
            break;
    }
}

void fsel_init() {
    if (filesel) return;
    filesel = (FD_fsel*)std::calloc(1, sizeof(FD_fsel));
    FD_fsel* f = filesel;
    f->fsel = fl_bgn_form(FL_UP_BOX, 430, 430);
    f->browser = fl_add_browser(FL_MULTI_BROWSER, 10, 10, 270, 300, "");
    fl_set_object_callback(f->browser, fsel_sel, 0);
    fl_set_browser_dblclick_callback(f->browser, fsel_dbl, 0);
    fl_set_browser_specialkey(f->browser, '\x1f');  // names starting with '@' stay literal
    const char* labels[] = {"Home", ".", "/tmp", "Last"};
    FL_OBJECT** slots[] = {&f->home, &f->dot, &f->tmp, &f->last};
    for (int i = 0; i < 4; i++) {
        *slots[i] = fl_add_button(FL_NORMAL_BUTTON, 290, 10 + 30 * i, 70, 25, labels[i]);
        fl_set_object_callback(*slots[i], fsel_button, i);
    }
    const char* ul[] = {"U1", "U2", "U3"};
    for (int i = 0; i < 3; i++) {
        f->usr[i] = fl_add_button(FL_NORMAL_BUTTON, 290, 130 + 30 * i, 50, 25, ul[i]);
        fl_set_object_callback(f->usr[i], fsel_button, 4 + i);
        f->usrSet[i] = fl_add_button(FL_NORMAL_BUTTON, 345, 130 + 30 * i, 25, 25, ">");
        fl_set_object_callback(f->usrSet[i], fsel_button, 7 + i);
    }
    f->all = fl_add_button(FL_NORMAL_BUTTON, 290, 230, 70, 25, "All");
    fl_set_object_callback(f->all, fsel_button, 10);
    f->none = fl_add_button(FL_NORMAL_BUTTON, 290, 260, 70, 25, "None");
    fl_set_object_callback(f->none, fsel_button, 11);
    f->path = fl_add_input(FL_NORMAL_INPUT, 60, 320, 360, 25, "Path:");
    fl_set_object_callback(f->path, fsel_path, 0);
    fl_set_input_maxchars(f->path, 0);
    f->file = fl_add_input(FL_NORMAL_INPUT, 60, 350, 360, 25, "File:");
    fl_set_object_callback(f->file, fsel_file, 0);
    fl_set_object_return(f->file, FL_RETURN_CHANGED);
    f->ok = fl_add_button(FL_RETURN_BUTTON, 60, 390, 100, 28, "OK");
    f->cancel = fl_add_button(FL_NORMAL_BUTTON, 200, 390, 100, 28, "Cancel");
    fl_end_form();
    fl_set_form_atclose(
        f->fsel,
        [](FL_FORM*, void* c) {
            fl_trigger_object((FL_OBJECT*)c);
            return (int)FL_IGNORE;
        },
        f->cancel);
    const char* pwd = std::getenv("PWD");
    char buf[4096];
    std::string start = pwd ? pwd : (getcwd(buf, sizeof buf) ? buf : "/");
    setPathField(start);
}

static int runModal(int single) {
    fsel_init();
    fsel_single = single;
    fsel_path(nullptr, 0);
    g_accepted = 0;
    gui_deactivate_all();
    fl_show_form(filesel->fsel, FL_PLACE_CENTER, FL_FULLBORDER, "File Selector");
    fl_activate_form(filesel->fsel);
    // A path typed without Return: OK refuses it unless it names a folder,
    // and lists that folder first (the names chosen belong to the old one).
    FL_OBJECT* o;
    while ((o = fl_do_forms()) && o != filesel->cancel && !(o == filesel->ok && typedPathListed())) {
    }
    fl_hide_form(filesel->fsel);
    gui_activate_all();
    if (o == filesel->ok) {
        setenv2("last_dir", pathField().c_str());
        return 1;
    }
    return 0;
}

int fsel_run_single() {
    fsel_init();
    fl_set_input(filesel->file, "");
    return runModal(1);
}

int fsel_run_multiple() {
    return runModal(0);
}

const char* fsel_get_path() {
    std::string p = pathField();
    if (!isAccessibleDir(p)) {
        size_t s = p.rfind('/');
        if (s != std::string::npos) p.resize(s);
    }
    g_pathRet = p;
    return g_pathRet.c_str();
}

const char* fsel_get_name() {
    if (fsel_single) {
        const char* t = fl_get_input(filesel->file);
        g_nameRet = t ? t : "";
    } else {
        g_nameRet.clear();
        for (int i = 1; i <= (int)g_lines.size(); i++)
            if (fl_isselected_browser_line(filesel->browser, i)) {
                g_nameRet = g_lines[i - 1];
                break;
            }
    }
    return g_nameRet.c_str();
}

std::vector<std::string> fsel_names() {
    std::vector<std::string> out;
    for (int i = 2; i <= (int)g_lines.size(); i++)
        if (fl_isselected_browser_line(filesel->browser, i)) out.push_back(g_lines[i - 1]);
    return out;
}

List* fsel_get_names() {
    List* l = new List();
    for (const std::string& n : fsel_names()) l->addObject(strdup(n.c_str()));
    return l;
}
