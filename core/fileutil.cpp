#include "core/fileutil.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Temporaries of saves in progress, for the signal handler; fixed slots since
// a handler may not allocate.
const int kSlots = 16;
char g_temps[kSlots][4096];
volatile sig_atomic_t g_used[kSlots];

int registerTemp(const std::string& path) {
    if (path.size() >= sizeof g_temps[0]) return -1;
    for (int i = 0; i < kSlots; i++)
        if (!g_used[i]) {
            std::memcpy(g_temps[i], path.c_str(), path.size() + 1);
            g_used[i] = 1;
            return i;
        }
    return -1;
}

void unregisterTemp(int slot) {
    if (slot >= 0) g_used[slot] = 0;
}

void onSignal(int sig) {
    for (int i = 0; i < kSlots; i++)
        if (g_used[i]) unlink(g_temps[i]);
    signal(sig, SIG_DFL);
    raise(sig);
}

}  // namespace

void install_save_cleanup() {
    signal(SIGXFSZ, SIG_IGN);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, onSignal);
}

AtomicFile::~AtomicFile() {
    abandon();
}

FILE* AtomicFile::open(const char* path) {
    abandon();
    target = path;
    temp = target + ".tmpXXXXXX";
    std::string buf = temp;
    int fd = mkstemp(&buf[0]);
    if (fd < 0) {
        temp.clear();
        return nullptr;
    }
    temp = buf;
    slot = registerTemp(temp);
    // Keep the mode of the file being replaced; new files get the usual 0666 & ~umask.
    struct stat st;
    mode_t mode;
    if (stat(path, &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode_t um = umask(0);
        umask(um);
        mode = 0666 & ~um;
    }
    fchmod(fd, mode);
    f = fdopen(fd, "wb");
    if (!f) {
        close(fd);
        abandon();
    }
    return f;
}

int AtomicFile::commit() {
    if (!f) return 0;
    bool ok = std::fflush(f) == 0 && !std::ferror(f);
    ok = (std::fclose(f) == 0) && ok;
    f = nullptr;
    if (ok && std::rename(temp.c_str(), target.c_str()) == 0) {
        temp.clear();
        unregisterTemp(slot);
        slot = -1;
        return 1;
    }
    abandon();
    return 0;
}

void AtomicFile::abandon() {
    if (f) {
        std::fclose(f);
        f = nullptr;
    }
    if (!temp.empty()) {
        unlink(temp.c_str());
        temp.clear();
    }
    unregisterTemp(slot);
    slot = -1;
}

int write_file_atomic(const char* path, const void* data, size_t n) {
    AtomicFile af;
    FILE* fp = af.open(path);
    if (!fp) return 0;
    if (n && std::fwrite(data, 1, n, fp) != n) return 0;
    return af.commit();
}

std::string shell_quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += "'";
    return out;
}

std::string utf8_text(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = s[i];
        const int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = n > 0 && i + n <= s.size();
        for (int k = 1; ok && k < n; k++) ok = ((unsigned char)s[i + k] >> 6) == 2;
        if (ok) {
            out.append(s, i, n);
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            i++;
        }
    }
    return out;
}

std::string json_quote(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : utf8_text(s)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

bool is_compressed_name(const char* file) {
    size_t n = std::strlen(file);
    return (n >= 3 && std::strcmp(file + n - 3, ".gz") == 0) || (n >= 2 && std::strcmp(file + n - 2, ".Z") == 0);
}

FILE* open_input(const char* file, bool* piped) {
    *piped = is_compressed_name(file);
    if (!*piped) return std::fopen(file, "rb");
    // zcat reports a missing file itself; check first so the caller can say so.
    if (access(file, R_OK) != 0) return nullptr;
    std::string cmd = "zcat " + shell_quote(file);
    return popen(cmd.c_str(), "r");
}

int close_input(FILE* fp, bool piped) {
    if (!fp) return 0;
    return piped ? pclose(fp) : std::fclose(fp);
}

long long file_size(FILE* fp) {
    struct stat st;
    if (fstat(fileno(fp), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return (long long)st.st_size;
}

size_t read_fully(FILE* fp, void* buf, size_t n) {
    size_t done = 0;
    char* p = static_cast<char*>(buf);
    while (done < n) {
        size_t r = std::fread(p + done, 1, n - done, fp);
        if (r == 0) break;
        done += r;
    }
    return done;
}

bool skip_bytes(FILE* fp, long long n) {
    char buf[65536];
    while (n > 0) {
        size_t k = (size_t)std::min<long long>(n, sizeof buf);
        if (read_fully(fp, buf, k) != k) return false;
        n -= (long long)k;
    }
    return true;
}

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    tmp = std::tmpfile();
    if (!tmp) return;  // nothing captured: messages keep going out
    saved = dup(1);
    if (saved < 0 || dup2(fileno(tmp), 1) < 0) {
        if (saved >= 0) close(saved);
        saved = -1;
        std::fclose(tmp);
        tmp = nullptr;
    }
}

StdoutCapture::~StdoutCapture() {
    if (saved < 0) return;
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::fclose(tmp);
}

std::string StdoutCapture::take() {
    std::string s;
    if (!tmp) return s;
    std::fflush(stdout);
    std::rewind(tmp);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, tmp)) > 0) s.append(buf, n);
    // Start over: the descriptor shares the file's offset with stdout.
    if (ftruncate(fileno(tmp), 0) == 0) std::rewind(tmp);
    lseek(1, 0, SEEK_SET);
    return s;
}

std::string StdoutCapture::firstLine(const std::string& text) {
    size_t p = 0;
    while (p < text.size()) {
        size_t e = text.find('\n', p);
        if (e == std::string::npos) e = text.size();
        if (e > p) return text.substr(p, e - p);
        p = e + 1;
    }
    return "";
}
