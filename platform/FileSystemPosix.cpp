#include "platform/FileSystem.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileSearch.h"
#include "platform/PathMap.h"
#include "platform/Stream.h"

namespace nubo {

std::string ResolvedPath(const std::string& path) {
    std::string native = NativePath(ExpandFileName(path));
    if (native.empty()) return "";
    // Resolve the longest existing prefix; what follows it does not exist yet.
    std::string tail;
    while (true) {
        char buf[PATH_MAX];
        if (realpath(native.c_str(), buf)) {
            std::string real = buf;
            if (!tail.empty()) real += (real == "/" ? "" : "/") + tail;
            return EnginePath(real);
        }
        if (errno != ENOENT) return "";
        size_t slash = native.find_last_of('/');
        if (slash == std::string::npos || native == "/") return "";
        std::string last = native.substr(slash + 1);
        tail = tail.empty() ? last : last + "/" + tail;
        native = slash == 0 ? "/" : native.substr(0, slash);
    }
}

namespace {

// Follows links; a dangling link fails like a missing file.
bool StatNative(const std::string& path, struct stat& st) {
    std::string native = NativePath(path);
    return !native.empty() && stat(native.c_str(), &st) == 0;
}

// rename() that refuses to replace what is already at the target.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    std::string src = NativePath(from), dst = NativePath(to);
    if (src.empty() || dst.empty()) return false;
    if (renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: check, then rename (not atomic, but never a link).
    struct stat st {};
    if (lstat(dst.c_str(), &st) == 0 || errno != ENOENT) return false;
    return rename(src.c_str(), dst.c_str()) == 0;
}

} // namespace

bool FileExists(const std::string& path) {
    struct stat st {};
    return StatNative(path, st) && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return StatNative(path, st) && S_ISDIR(st.st_mode);
}

// A file being uploaded stays where it is: its upload would end in success with no file.
bool RemoveFile(const std::string& path) {
    std::string native = NativePath(path);
    return FileExists(path) && !FileBeingWritten(path) && unlink(native.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return !FileBeingWritten(from) && RenameNoReplace(from, to);
}

bool MoveDir(const std::string& from, const std::string& to) {
    return RenameNoReplace(from, to);
}

bool CreateDir(const std::string& path) {
    std::string native = NativePath(path);
    return !native.empty() && mkdir(native.c_str(), 0777) == 0;
}

bool RemoveDir(const std::string& path) {
    std::string native = NativePath(path);
    return !native.empty() && rmdir(native.c_str()) == 0;
}

bool FileLastWrite(const std::string& path, TDateTime& local) {
    TSearchRec rec;
    if (!StatEntry(path, rec)) return false;
    local = rec.Time;
    return true;
}

bool SetFileLastWrite(const std::string& path, TDateTime t, bool utc) {
    if (!FileExists(path)) return false;
    int fd = open(NativePath(path).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    if (!utc) t += TimeZoneBias() / 1440.0;
    int64_t ms = DateTimeToMs(t - kUnixDateDelta);
    int64_t sec = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // access time stays
    times[1].tv_sec = time_t(sec);
    times[1].tv_nsec = long(ms - sec * 1000) * 1000000;
    bool ok = futimens(fd, times) == 0;
    close(fd);
    return ok;
}

std::string CreateUniqueTempFile(const std::string& folder) {
    std::string dir = folder;
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '\\';
    std::string nativeDir = NativePath(dir);
    if (nativeDir.empty()) return {};
    // As the classic service does: start from the clock, step by one, four hex digits.
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    unsigned start = unsigned(ts.tv_nsec / 1000 ^ ts.tv_sec) & 0xFFFF;
    for (unsigned i = 0; i < 0xFFFF; ++i) {
        unsigned n = (start + i) % 0xFFFF + 1; // 1..FFFF
        char name[16];
        std::snprintf(name, sizeof name, "FTP%X.TMP", n);
        int fd = open((nativeDir + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return dir + name;
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

} // namespace nubo
