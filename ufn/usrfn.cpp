#include "ufn/usrfn.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/formats.h"

namespace {

char* dupText(const char* s, bool clean) {
    if (!s) s = "";
    size_t n = std::strlen(s);
    char* d = static_cast<char*>(std::malloc(n + 1));
    std::memcpy(d, s, n + 1);
    if (clean)
        for (size_t i = 0; i < n; i++)
            if ((signed char)d[i] < 32) d[i] = ' ';
    return d;
}

// One line of at most 511 characters; its newline is dropped, and a longer
// line's rest is the next line. False at the end of the file.
bool readLine(FILE* fp, char* buf) {
    if (!std::fgets(buf, 512, fp)) return false;
    size_t n = std::strlen(buf);
    if (n && buf[n - 1] == '\n') buf[n - 1] = 0;
    return true;
}

std::string tempDir;

// Makes path a new empty file of ours: whatever stood there is removed first,
// and the file is created exclusively and never through a symbolic link, so
// nobody else can have planted a link or a file for us to write into.
bool freshFile(const std::string& path) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        std::printf("Cannot replace %s\n", path.c_str());
        return false;
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd < 0) {
        std::printf("Cannot create %s\n", path.c_str());
        return false;
    }
    ::close(fd);
    return true;
}

int runShell(const std::string& line) {
    std::fflush(stdout);
    return std::system(line.c_str());
}

}  // namespace

UsrFn::~UsrFn() {
    std::free(menu);
    std::free(command);
    for (char*& o : option) std::free(o);
}

void UsrFn::set(const char* m, const char* c, const char* o0, const char* o1, const char* o2, char ft, char in,
                char out, char res) {
    std::free(menu);
    std::free(command);
    for (char*& o : option) std::free(o);
    menu = dupText(m, true);
    command = dupText(c, true);
    option[0] = dupText(o0, true);
    option[1] = dupText(o1, true);
    option[2] = dupText(o2, true);
    ftype = ft;
    input = in;
    output = out;
    result = res;
}

int UsrFn::readself(FILE* fp) {
    std::free(menu);
    std::free(command);
    for (char*& o : option) std::free(o);
    menu = command = nullptr;
    option[0] = option[1] = option[2] = nullptr;
    char buf[512];
    if (!readLine(fp, buf)) return 0;
    menu = dupText(buf, false);
    if (!readLine(fp, buf)) return 0;
    command = dupText(buf, false);
    for (char*& o : option) {
        if (!readLine(fp, buf)) buf[0] = 0;
        o = dupText(buf, false);
    }
    ftype = input = output = result = 0;
    if (readLine(fp, buf)) std::sscanf(buf, " %d %d %d %d", &ftype, &input, &output, &result);
    return 1;
}

int UsrFn::writeself(FILE* fp) {
    return std::fprintf(fp, "%s\n%s\n%s\n%s\n%s\n%1d %1d %1d %1d\n", getmenu(), getcommand(), getoption(0),
                        getoption(1), getoption(2), ftype, input, output, result) > 0;
}

const char* UsrFn::getmenu() {
    if (!menu) menu = dupText("", false);
    return menu;
}
const char* UsrFn::getcommand() {
    if (!command) command = dupText("", false);
    return command;
}
const char* UsrFn::getoption(int i) {
    if (i < 0 || i > 2) return "";
    if (!option[i]) option[i] = dupText("", false);
    return option[i];
}

std::string UsrFn::commandLine(const std::string& T) {
    // The user's command and options are shell text of the user's own: pasted
    // as they are. The file names are ours and always quoted.
    const std::string C = getcommand(), O0 = getoption(0), O1 = getoption(1), O2 = getoption(2);
    const std::string in = shell_quote(T), out = shell_quote(T + ".out");
    if (input == 1)
        return output == 1 ? C + " " + O0 + " " + O1 + " " + O2 + " <" + in + " >" + out
                           : C + " " + O0 + " " + O1 + " " + out + " " + O2 + " <" + in;
    return output == 1 ? C + " " + O0 + " " + in + " " + O1 + " " + O2 + " >" + out
                       : C + " " + O0 + " " + in + " " + O1 + " " + out + " " + O2;
}

std::string ufn_tempbase() {
    char b[64];
    std::snprintf(b, sizeof b, "usrfn%1d", (int)getuid());
    return (tempDir.empty() ? std::string("/tmp") : tempDir) + "/" + b;
}

void ufn_set_tempdir(const char* dir) {
    tempDir = dir ? dir : "";
}

MRCData* UsrFn::doFile(MRCData* d) {
    if (ftype == 3 && result == 1) {
        std::printf("Sorry, replace mode not supported for imagic files.\n");
        return nullptr;
    }
    if (ftype < 1 || ftype > 5) {
        std::printf("No file type chosen for this function.\n");
        return nullptr;
    }
    // The file holds a transform for "Complex MRC", a real image for the others.
    std::unique_ptr<MRCData> temp;
    MRCData* W = d;
    if (ftype == 2 && !d->isComplex()) {
        temp.reset(d->doFFT(0));
        if (!temp) return nullptr;
        W = temp.get();
    } else if (ftype != 2 && d->isComplex()) {
        temp.reset(d->doIFT(0));
        if (!temp) return nullptr;
        W = temp.get();
    }
    const std::string T = ufn_tempbase(), out = T + ".out", orName = T + ".or", fx = T + ".fx";
    int ok = 0;
    switch (ftype) {
        case 1:
        case 2:
            ok = freshFile(T) && freshFile(out) && W->writeMRCData(T.c_str(), 0);
            break;
        case 3:
            // appendImagic(T) writes T.hed/T.img; a stale pair would make the stack grow.
            ok = freshFile(T) && freshFile(T + ".hed") && freshFile(T + ".img") && freshFile(out + ".hed") &&
                 freshFile(out + ".img") && W->appendImagic(T.c_str());
            break;
        case 4:
            ok = freshFile(T) && freshFile(out) && W->writePGM(T.c_str());
            break;
        case 5:
            ok = freshFile(T) && freshFile(out) && freshFile(orName) && W->writePGM(orName.c_str()) &&
                 runShell("ppmtogif " + shell_quote(orName) + " >" + shell_quote(T)) == 0;
            break;
    }
    temp.reset();
    if (!ok) return nullptr;

    runShell(commandLine(T));
    if (result == 3) return nullptr;

    // A "New" result that could not be read is no result: the reader has said why.
    std::unique_ptr<MRCData> fresh(result == 1 ? nullptr : new MRCData());
    MRCData* target = result == 1 ? d : fresh.get();
    int read = 0;
    switch (ftype) {
        case 1:
        case 2:
            read = target->readMRCData(out.c_str());
            break;
        case 3: {
            // The command's output stack is the pair T.out.hed / T.out.img.
            List* l = readIMAGIC((out + ".hed").c_str());
            if (!l) return nullptr;
            fresh.reset(static_cast<MRCData*>(l->objectAt(0)));
            for (int i = 1; i < l->count(); i++) delete static_cast<MRCData*>(l->objectAt(i));
            delete l;
            read = fresh != nullptr;
            break;
        }
        case 4:
            read = target->readPGM(out.c_str());
            break;
        case 5:
            if (freshFile(fx)) {
                runShell("giftopnm " + shell_quote(out) + " | ppmtopgm >" + shell_quote(fx));
                read = target->readPGM(fx.c_str());
            }
            break;
    }
    if (result == 1 || !read) return nullptr;
    return fresh.release();
}

MRCData* ufn_apply(UsrFn* u, MRCData* d) {
    MRCData* r = u->doFile(d);
    if (!r) return nullptr;
    r->setFile(d->File());
    r->setName((std::string("#") + d->Name()).c_str());
    return r;
}

UsrFn* umenu_find(List* l, const char* name) {
    for (int i = 0; i < count(l); i++) {
        UsrFn* u = static_cast<UsrFn*>(l->objectAt(i));
        if (std::strcmp(u->getmenu(), name) == 0) return u;
    }
    return nullptr;
}

// Definition files ------------------------------------------------------------

static std::string homeFile(const char* name) {
    const char* h = std::getenv("HOME");
    return std::string(h ? h : "") + "/" + name;
}

std::string ufn_global_path() {
    return homeFile(".tvglobfn");
}
std::string ufn_user_path() {
    return homeFile(".tvufn");
}

static void readFile(List* l, const std::string& path, int global) {
    FILE* fp = std::fopen(path.c_str(), "r");
    if (!fp) return;
    for (;;) {
        UsrFn* u = new UsrFn();
        if (!u->readself(fp)) {
            delete u;
            break;
        }
        u->setGlobal(global);
        l->addObject(u);
    }
    std::fclose(fp);
}

int umenu_read(List* l) {
    readFile(l, ufn_global_path(), 1);
    const std::string user = ufn_user_path();
    if (access(user.c_str(), F_OK) != 0) return 0;
    readFile(l, user, 0);
    return 1;
}

int umenu_write(List* l) {
    // Written even when no item of the user's is left, so that a deleted last
    // item does not come back from the old file.
    AtomicFile out;
    FILE* fp = out.open(ufn_user_path().c_str());
    if (!fp) return 0;
    for (int i = 0; i < count(l); i++) {
        UsrFn* u = static_cast<UsrFn*>(l->objectAt(i));
        if (!u->isGlobal()) u->writeself(fp);
    }
    return out.commit();
}

void umenu_clear(List* l) {
    for (int i = 0; i < count(l); i++) delete static_cast<UsrFn*>(l->objectAt(i));
    if (l) l->empty();
}
