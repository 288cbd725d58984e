#include "platform/FileIO.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace nubo {

namespace {

// 0, or the error number; a write of no bytes counts as a full disk.
int WriteAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        done += size_t(n);
    }
    return 0;
}

// The temporary is made by mkstemp: the file's name, a dot and six letters or digits.
constexpr size_t kTemporarySuffix = 6;

} // namespace

int ReadWholeFile(const std::string& path, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return err;
        }
        if (n == 0) break;
        bytes.append(buf, size_t(n));
    }
    ::close(fd);
    return 0;
}

int AppendToFile(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    const int err = WriteAll(fd, bytes);
    ::close(fd);
    return err;
}

TAtomicWrite WriteFileAtomically(const std::string& path, std::string_view bytes, bool onlyIfMissing, int& error,
                                 int newFileMode) {
    std::string tmp = path + "." + std::string(kTemporarySuffix, 'X');
    // mkstemp makes the temporary 0600; its final mode is set before it has any content.
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        error = errno;
        return TAtomicWrite::Failed;
    }
    auto fail = [&](int err, bool open) {
        if (open) ::close(fd);
        ::unlink(tmp.c_str());
        error = err;
        return TAtomicWrite::Failed;
    };
    // The new file keeps the permissions of the one it replaces; one that may only be made
    // never takes those of a file it will not replace.
    struct stat st;
    const bool replaces = !onlyIfMissing && ::stat(path.c_str(), &st) == 0;
    const mode_t mode = replaces ? mode_t(st.st_mode & 07777) : mode_t(newFileMode);
    if (::fchmod(fd, mode) != 0) return fail(errno, true);
    if (const int err = WriteAll(fd, bytes); err != 0) return fail(err, true);
    if (::fsync(fd) != 0) return fail(errno, true);
    if (::close(fd) != 0) return fail(errno, false);
    if (onlyIfMissing) {
        // A link never replaces an existing name: the check and the write are one step.
        const int r = ::link(tmp.c_str(), path.c_str());
        const int err = errno;
        ::unlink(tmp.c_str());
        if (r == 0) return TAtomicWrite::Written;
        if (err == EEXIST) return TAtomicWrite::KeptExisting;
        error = err;
        return TAtomicWrite::Failed;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) return fail(errno, false);
    return TAtomicWrite::Written;
}

std::vector<std::string> RemoveStaleTemporaries(const std::string& path) {
    namespace fs = std::filesystem;
    std::vector<std::string> removed;
    const fs::path file(path);
    const std::string prefix = file.filename().string() + ".";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(file.parent_path().empty() ? "." : file.parent_path(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() != prefix.size() + kTemporarySuffix || name.compare(0, prefix.size(), prefix) != 0) continue;
        if (!std::all_of(name.begin() + long(prefix.size()), name.end(),
                         [](char c) { return std::isalnum(uint8_t(c)); }))
            continue;
        std::error_code rc;
        if (entry.is_regular_file(rc) && fs::remove(entry.path(), rc)) removed.push_back(entry.path().string());
    }
    return removed;
}

bool RegularFileIdentity(const std::string& path, TFileIdentity& id) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    id = {uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size), st.st_mtim.tv_sec,
          st.st_mtim.tv_nsec,  st.st_ctim.tv_sec,   st.st_ctim.tv_nsec};
    return true;
}

} // namespace nubo
