#include "gui/shell/file_cmds.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "gui/shell/cmd_util.h"
#include "gui/shell/control.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/help.h"
#include "gui/shell/menus.h"
#include "gui/shell/state.h"
#include "gui/shell/viewlink.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "core/anyformat.h"
#include "core/fileutil.h"
#include "core/formats.h"
#include "core/hooks.h"
#include "core/prefs.h"
#include "gui/display/print.h"
#include "gui/sets/sets.h"

namespace {

const char* kSaveMrcHelp =
    "Saves all selected data sets as MRC files.\n\n If the selected data sets are in the \"Clips\" group, you will be "
    "allowed to use default filespecs (like boxmrc) in the current directory. Otherwise, single files will be saved "
    "with the name you select, multiple files will have an appended number.";

// The default-filespecs question of the multi-file savers: 1 yes, 0 no, -1 abort.
int askDefaultSpecs(List* sel) {
    MRCData* first = (MRCData*)sel->objectAt(0);
    if (sel->count() < 2 || std::strncmp(first->Name(), "Clip", 4) != 0) return 0;
    int r = dlg_choice("Should I use the default filespecs", "in the current directory, starting with", first->File(),
                       3, "Yes", "No", "Abort", 2);
    return r == 1 ? 1 : (r == 3 ? -1 : 0);
}

// Where a save goes: 1 for the default filespecs, 0 for the chosen path
// (extension dropped) in *prefix, -1 when the user gave up.
int askOutput(List* sel, std::string* prefix) {
    const int useDef = askDefaultSpecs(sel);
    if (useDef != 0) return useDef;
    if (!dlg_file_single(prefix)) return -1;
    *prefix = strip_ext(*prefix);
    return 0;
}

std::string seriesName(const char* f, const std::string& p, int i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, f, i);
    return p + buf;
}
}  // namespace

std::string strip_ext(const std::string& p) {
    if (p.size() >= 4 && p[p.size() - 4] == '.') return p.substr(0, p.size() - 4);
    return p;
}

int& interleave_counter() {
    static int c = 0;
    return c;
}

// ---------------------------------------------------------------- opening

namespace {

// Files that could not be opened, each with the reader's reason; the user
// hears of them once the command is no longer busy.
struct FailedOpens {
    std::vector<std::pair<std::string, std::string>> files;
    void tell() const {
        for (auto& f : files) dlg_message("Could not open", f.first.c_str(), f.second.c_str());
    }
};

bool readOk(int r) {
    return r == 1;
}
bool readOk(List* l) {
    return l && l->count() > 0;
}

// Why a reader failed: the last line it printed, or, when it said nothing, what is wrong with the file itself.
std::string failureReason(const std::string& said, const std::string& path) {
    // The information line comes first: the failure is the last thing said.
    size_t end = said.find_last_not_of("\r\n \t");
    if (end != std::string::npos) {
        size_t begin = said.find_last_of('\n', end);
        begin = begin == std::string::npos ? 0 : begin + 1;
        return said.substr(begin, end + 1 - begin);
    }
    // Readers are silent when not even a header could be read.
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "Is a directory";
    if (st.st_size == 0) return "The file is empty";
    return "No complete header could be read";
}

// Runs one reader with what it prints collected, passes that on to standard
// output unchanged and, when the reader fails, notes its reason.
template <class Read>
auto readNoting(const std::string& path, FailedOpens* failed, Read read) -> decltype(read()) {
    std::string said;
    decltype(read()) r;
    {
        StdoutCapture cap;
        r = read();
        said = cap.take();
    }
    std::fputs(said.c_str(), stdout);
    std::fflush(stdout);
    if (!readOk(r)) failed->files.push_back({path, failureReason(said, path)});
    return r;
}

// A stack of several images is a group of its own; single images join the group.
// Returns the stack's new group, or null.
List* placeRead(List* l, List* group) {
    if (!l) return nullptr;
    if (l->count() <= 1) {
        if (l->count()) group->addObject(l->objectAt(0));
        delete l;  // nothing read: no empty group
        return nullptr;
    }
    dataList->addObject(l);
    fl_add_browser_line(control->groups, "new group");
    return l;
}

// The last stack opened is shown: its group selected as a click on it would
// (the current view is bound to it) and every image selected, so the view
// shows the mosaic. Without a stack the image list is rebuilt.
void showOpened(List* lastStack) {
    if (!lastStack) {
        update_data_list();
        return;
    }
    fl_select_browser_line(control->groups, indexOf(dataList, lastStack) + 1);
    sel_Group(nullptr, 0);
    sel_All(nullptr, 0);
}

// Names without a '/' become "./NAME": the readers name data sets from the part after the last '/',
// and some only when there is one, as every path from the file selector has.
std::string withFolder(const char* name) {
    return std::strchr(name, '/') ? std::string(name) : "./" + std::string(name);
}

}  // namespace

void m_File_open(int kind) {
    std::vector<std::string> names;
    if (!dlg_file_multiple(&names)) return;
    FailedOpens failed;
    {
        BusyScope b;
        List* g = current_group();
        List* lastStack = nullptr;
        for (const std::string& n : names) {
            const char* f = n.c_str();
            if (kind == 0) {
                // MRC particle stacks come as several data sets.
                if (List* s = placeRead(readNoting(n, &failed, [f] { return readMRCFile(f); }), g)) lastStack = s;
                continue;
            }
            MRCData* d = new MRCData();
            int r = readNoting(n, &failed, [d, f, kind] {
                return kind == 1 ? d->readSAL(f) : kind == 2 ? d->readPGM(f) : d->readSPIDER(f);
            });
            if (readOk(r))
                g->addObject(d);
            else
                delete d;
        }
        showOpened(lastStack);
    }
    failed.tell();
}

static void openStack(bool pif) {
    std::string path;
    if (!dlg_file_single(&path)) return;
    FailedOpens failed;
    {
        BusyScope b;
        const char* f = path.c_str();
        List* l = readNoting(path, &failed, [f, pif] { return pif ? readPIF(f) : readIMAGIC(f); });
        showOpened(placeRead(l, current_group()));
    }
    failed.tell();
}

void m_File_open_im() {
    openStack(false);
}

void m_File_open_pif() {
    openStack(true);
}

void m_File_open_list() {
    std::string listFile;
    if (!dlg_file_single(&listFile)) return;
    List* g = current_group();
    if (g->count() == 0) interleave_counter() = 0;
    int m = ++interleave_counter();
    std::ifstream in(listFile);
    if (!in) {
        dlg_message("Could not open", listFile.c_str(), std::strerror(errno));
        return;
    }
    FailedOpens failed;
    {
        BusyScope b;
        std::string dir = listFile.substr(0, listFile.rfind('/') == std::string::npos ? 0 : listFile.rfind('/') + 1);
        int p = 0;
        std::string line;
        while (std::getline(in, line)) {
            size_t ws = line.find_first_of(" \t\r\v\f");
            if (ws != std::string::npos) line.resize(ws);
            if (line.empty()) continue;
            std::string name = line;
            // Names relative to the list's own folder are found too.
            if (access(name.c_str(), R_OK) != 0 && name[0] != '/' && !dir.empty()) name = dir + line;
            if (access(name.c_str(), R_OK) != 0) {
                // Not read, so nothing was said about it.
                failed.files.push_back({name, std::strerror(errno)});
                continue;
            }
            MRCData* d = new MRCData();
            const char* f = name.c_str();
            if (!readOk(readNoting(name, &failed, [d, f] { return d->readMRCData(f); }))) {
                delete d;
                continue;
            }
            g->insertObjectAt(d, p < g->count() ? p : g->count());
            p += m;
        }
        update_data_list();
    }
    failed.tell();
}

int open_startup_files(int n, char** names) {
    List* g = current_group();
    List* lastStack = nullptr;
    int added = 0, singles = 0;
    FailedOpens failed;
    for (int i = 0; i < n; i++) {
        const std::string path = withFolder(names[i]);
        const char* f = path.c_str();
        List* l = readNoting(names[i], &failed, [f] { return readAnyFile(f); });
        added += count(l);
        if (count(l) == 1) singles++;
        if (List* s = placeRead(l, g)) lastStack = s;
    }
    showOpened(lastStack);
    if (!lastStack && singles) {
        fl_select_browser_line(control->images, 1);
        sel_Image(nullptr, 0);
    }
    failed.tell();
    return added;
}

// ---------------------------------------------------------------- saving

void m_File_save_mrc(int isShort) {
    Selection sel;
    if (sel.count() == 0) return;
    int shortMode = 0;
    if (isShort) {
        int r =
            dlg_choice("", "Should I rescale the image to minimize information loss ?", "", 3, "Yes", "No", "Maybe", 2);
        if (r == 3) return;
        shortMode = r == 1 ? 1 : 2;
    }
    std::string P;
    const int useDef = askOutput(sel.l, &P);
    if (useDef < 0) return;
    BusyScope b;
    if (sel.count() == 1) {
        MRCData* d = sel.at(0);
        std::string file = P + (d->isComplex() ? ".tnf" : ".img");
        bool all = false;
        if (may_overwrite(file, false, &all)) d->writeMRCData(file.c_str(), shortMode);
        return;
    }
    bool all = false;
    for (int i = 0; i < sel.count(); i++) {
        MRCData* d = sel.at(i);
        std::string file;
        if (d->isComplex())
            // Under default filespecs no path was chosen: the transform goes
            // beside its own file name, as name.tnf.
            file = useDef ? strip_ext(d->File()) + ".tnf" : seriesName(".%03d.tnf", P, i);
        else
            file = useDef ? std::string(d->File()) : seriesName(".%03d.img", P, i);
        if (!may_overwrite(file, true, &all)) break;
        if (!d->writeMRCData(file.c_str(), shortMode)) break;
    }
}

void m_File_save_mrcext() {
    Selection sel;
    if (sel.count() == 0) return;
    std::string ext;
    if (!dlg_input("Enter the new extension (without the '.'):", "img", &ext) || ext.empty()) return;
    BusyScope b;
    bool all = false;
    bool series = sel.count() > 1;
    for (int i = 0; i < sel.count(); i++) {
        MRCData* d = sel.at(i);
        std::string f = d->File();
        // Only a '.' in the last path component starts an extension.
        size_t dot = f.rfind('.'), slash = f.rfind('/');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) f.resize(dot);
        std::string file = f + "." + ext;
        if (!may_overwrite(file, series, &all)) break;
        if (!d->writeMRCData(file.c_str(), 0)) break;
    }
}

void m_File_save_spider() {
    Selection sel;
    if (sel.count() == 0) return;
    std::string P;
    const int useDef = askOutput(sel.l, &P);
    if (useDef < 0) return;
    BusyScope b;
    bool all = false;
    bool series = sel.count() > 1;
    for (int i = 0; i < sel.count(); i++) {
        MRCData* d = sel.at(i);
        if (d->isComplex()) {
            std::printf("Cannot write complex SPIDER files.\n");
            break;
        }
        std::string file = !series ? P + ".DAT" : useDef ? std::string(d->File()) : seriesName("%03d.DAT", P, i + 1);
        if (!may_overwrite(file, series, &all)) break;
        if (d->writeSPIDER(file.c_str()) != 1) break;
    }
}

// Appends every selected data set to one stack file, stopping at the first failure.
static void appendSelected(int (MRCData::*append)(const char*), bool stem) {
    Selection sel;
    if (sel.count() == 0) return;
    std::string path;
    if (!dlg_file_single(&path)) return;
    if (stem) path = strip_ext(path);
    BusyScope b;
    for (int i = 0; i < sel.count(); i++)
        if ((sel.at(i)->*append)(path.c_str()) != 1) break;
}

void m_File_save_imagic() {
    appendSelected(&MRCData::appendImagic, true);
}

void m_File_save_pif() {
    appendSelected(&MRCData::appendPIF, false);
}

void m_File_save_pgm() {
    Selection sel;
    if (sel.count() == 0) return;
    std::string P;
    if (!dlg_file_single(&P)) return;
    P = strip_ext(P);
    if (sel.count() != 1) {
        dlg_message("Please select 1 image to save.", "", "");
        return;
    }
    std::string file = P + ".pgm";
    bool all = false;
    if (!may_overwrite(file, false, &all)) return;
    BusyScope b;
    sel.at(0)->writePGM(file.c_str());
}

// ---------------------------------------------------------------- quit, the menu

void m_File_quit_prepare() {
    saveenv2();
    set_close();  // the last picks of an open micrograph set
}

void m_File_quit() {
    m_File_quit_prepare();
    std::exit(0);
}

const MenuTable& file_menu() {
    static const MenuTable t = {
        {"Open MRC", [] { m_File_open(0); },
         "Reads MRC files.\n\nByte order is corrected for, so it should be able to read images created on any "
         "machine."},
        {"Open IMAGIC", m_File_open_im,
         "Reads imagic files.\n\nMultiple image files will be placed in a new group. Single images will be added "
         "to the current group."},
        {"Open SPIDER", [] { m_File_open(4); }, "Reads SPIDER files.\n\nOnly reads new 'unix' style spider files.\n"},
        {"Open PIF", m_File_open_pif,
         "Reads PIF files.\n\nMultiple image files will be placed in a new group. Single images will be added to "
         "the current group. Some types of PIF files cannot be read."},
        {"Open ScansALot", [] { m_File_open(1); },
         "Reads Scans-A-Lot files.\n\nThis is the file format produced by PDS scanners running scans-a-lot "
         "software on a PC."},
        {"Read List w Interleave", m_File_open_list, " "},
        {"Open Picture", [] { m_File_open(2); },
         "Reads a variety of image files.\n\nThis will read a variety of standard image formats including PGM, "
         "GIF and TIFF. Uses the netpbm library. Only pgm images are supported if this is not installed.",
         true},
        {"Save MRC", [] { m_File_save_mrc(0); }, kSaveMrcHelp},
        {"Save Short MRC", [] { m_File_save_mrc(1); }, kSaveMrcHelp},
        {"Save MRC new ext", m_File_save_mrcext,
         "Saves all selected data sets as MRC files.\n\nThe old filenames are used with a new extension. Files are "
         "saved in the current directory! "},
        {"Save IMAGIC", m_File_save_imagic,
         "Saves all selected data sets in a single imagic file.\n\n If the selected file already exists, the "
         "images will be appended to the end of the file."},
        {"Save SPIDER", m_File_save_spider,
         "Saves all selected data sets as SPIDER files.\n\n If the selected data sets are in the \"Clips\" group, "
         "you will be allowed to use default filespecs (like boxmrc) in the current directory. Otherwise, single "
         "files will be saved with the name you select, multiple files will have an appended number."},
        {"Save PIF", m_File_save_pif,
         "Saves all selected data sets in a single PIF file.\n\n If the selected file already exists, the images "
         "will be appended to the end of the file."},
        {"Save PGM", m_File_save_pgm,
         "Saves all selected data sets as 8 bit PGM files.\n\n The 256 greyscale values will be assigned using the "
         "limits currently used for display. The pgm format is a ppm format, ie - all of the ppm, pgm and pnm "
         "unix commands should work  with these files.",
         true},
        {"Print", print_panel, "Prints whatever is visible in the current view.", true},
        {"Quit", m_File_quit, "Saves the preferences and ends the program.", true},
        {"Open Micrograph Set...", m_File_open_set,
         "Opens a micrograph set to work through: choose a micrograph (its whole folder is the set), a "
         "micrographs STAR file or a set.star, or type a pattern such as *.mrc.\n\nThe Micrographs window lists "
         "the set with picks, CTF and status; Page Up and Page Down move through it. Picks are saved as you make "
         "them in the folder tarvik_set beside the micrographs, CTF is estimated in the background, and opening "
         "the set again resumes where you were."},
    };
    return t;
}
