#include "platform/Stream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/PathMap.h"

namespace nubo {

namespace {

struct TAccess {
    bool read, write;           // what this opener does
    bool shareRead, shareWrite; // what it lets others do
};

TAccess AccessOf(TFileMode mode) {
    switch (mode) {
    case TFileMode::Read: return {true, false, true, true};
    case TFileMode::ReadDenyWrite: return {true, false, true, false};
    case TFileMode::Create:
    case TFileMode::Replace: return {true, true, false, false};
    case TFileMode::Write: return {false, true, true, false};
    case TFileMode::Append: return {true, true, true, false};
    }
    return {};
}

// The open files of this process by device and inode, so that a file being uploaded is not
// truncated under a download and two uploads never write one file at once. One thread
// uses it (the event loop's).
struct TOpeners {
    int readers = 0, writers = 0, denyRead = 0, denyWrite = 0;
};
std::map<std::pair<uint64_t, uint64_t>, TOpeners>& ShareTable() {
    static std::map<std::pair<uint64_t, uint64_t>, TOpeners> table;
    return table;
}

bool MayOpen(const TOpeners& o, const TAccess& a) {
    return !(a.read && o.denyRead) && !(a.write && o.denyWrite) && !(!a.shareRead && o.readers) &&
           !(!a.shareWrite && o.writers);
}

void Count(TOpeners& o, const TAccess& a, int step) {
    o.readers += a.read ? step : 0;
    o.writers += a.write ? step : 0;
    o.denyRead += a.shareRead ? 0 : step;
    o.denyWrite += a.shareWrite ? 0 : step;
}

constexpr const char* kSharingViolation =
    "The process cannot access the file because it is being used by another process.";

} // namespace

bool FileBeingWritten(const std::string& path) {
    const std::string native = NativePath(path);
    struct stat st {};
    if (native.empty() || stat(native.c_str(), &st) != 0) return false;
    const auto it = ShareTable().find({uint64_t(st.st_dev), uint64_t(st.st_ino)});
    return it != ShareTable().end() && it->second.writers > 0;
}

TFileStream::TFileStream(const std::string& path, TFileMode mode) : path_(path), mode_(mode) {
    const bool creating = mode == TFileMode::Create || mode == TFileMode::Replace;
    const TAccess access = AccessOf(mode);
    auto fail = [&](const char* reason) {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        throw EStreamError(std::string(creating ? "Cannot create file \"" : "Cannot open file \"") + path + "\". " +
                           reason);
    };

    std::string native = NativePath(path);
    if (native.empty()) fail(std::strerror(ENOENT));
    int flags = (access.read && access.write) ? O_RDWR : access.write ? O_WRONLY : O_RDONLY;
    // O_NONBLOCK keeps a named pipe from stalling the loop at open; it is refused below.
    flags |= O_NONBLOCK | O_CLOEXEC;
    fd_ = open(native.c_str(), flags);
    if (fd_ < 0 && creating && errno == ENOENT) {
        // O_EXCL never follows a link: a dangling link fails instead of creating its target.
        fd_ = open(native.c_str(), flags | O_CREAT | O_EXCL, 0666);
    }
    if (fd_ < 0) fail(std::strerror(errno));

    struct stat st {};
    if (fstat(fd_, &st) != 0) fail(std::strerror(errno));
    if (S_ISDIR(st.st_mode)) fail(std::strerror(EISDIR));
    if (!S_ISREG(st.st_mode)) fail(std::strerror(ENODEV));
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    TOpeners& openers = ShareTable()[{dev_, ino_}];
    if (!MayOpen(openers, access)) {
        if (!openers.readers && !openers.writers) ShareTable().erase({dev_, ino_});
        fail(kSharingViolation);
    }
    if (mode == TFileMode::Create && st.st_size > 0 && ftruncate(fd_, 0) != 0) fail(std::strerror(errno));
    keepsOldContent_ = mode == TFileMode::Replace;
    Count(openers, access, +1);
    if (mode == TFileMode::Append) pos_ = int64_t(st.st_size);
}

TFileStream::~TFileStream() {
    if (fd_ < 0) return;
    auto it = ShareTable().find({dev_, ino_});
    if (it != ShareTable().end()) {
        Count(it->second, AccessOf(mode_), -1);
        if (!it->second.readers && !it->second.writers) ShareTable().erase(it);
    }
    close(fd_);
}

size_t TFileStream::Read(void* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = pread(fd_, static_cast<char*>(buffer) + done, count - done, off_t(pos_));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EStreamError("Stream read error: " + std::string(std::strerror(errno)));
        if (n == 0) break;
        done += size_t(n);
        pos_ += n;
    }
    return done;
}

void TFileStream::Truncate() {
    if (!keepsOldContent_) return;
    if (ftruncate(fd_, off_t(pos_)) != 0)
        throw EStreamError("Stream write error: " + std::string(std::strerror(errno)));
    keepsOldContent_ = false;
}

size_t TFileStream::Write(const void* buffer, size_t count) {
    Truncate();
    size_t done = 0;
    while (done < count) {
        ssize_t n = pwrite(fd_, static_cast<const char*>(buffer) + done, count - done, off_t(pos_));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // the short count tells the caller (disk full, ...)
        done += size_t(n);
        pos_ += n;
    }
    return done;
}

// The position is the stream's own (reads and writes say where), so that asking for it
// or moving it costs no system call; only a move from the end asks for the size.
int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t base = origin == TSeekOrigin::Begin ? 0 : origin == TSeekOrigin::Current ? pos_ : Size();
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) throw EStreamError("Invalid stream position");
    pos_ = base + offset;
    return pos_;
}

int64_t TFileStream::Size() const {
    struct stat st {};
    if (fstat(fd_, &st) != 0) throw EStreamError("Stream read error: " + std::string(std::strerror(errno)));
    return int64_t(st.st_size);
}

} // namespace nubo
