#include "platform/FileSearch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "platform/PathMap.h"
#include "platform/Wildcard.h"

namespace nubo {

namespace {

bool IsDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

// The read-only attribute mirrors the permission bits that apply to the server's own
// user, not its privileges: a file nobody may write reads as read-only even to root.
bool WritableByUs(const struct statx& sx) {
    if (sx.stx_uid == geteuid()) return sx.stx_mode & S_IWUSR;
    if (sx.stx_gid == getegid()) return sx.stx_mode & S_IWGRP;
    gid_t groups[256];
    int n = getgroups(256, groups);
    for (int i = 0; i < n; ++i)
        if (groups[i] == sx.stx_gid) return sx.stx_mode & S_IWGRP;
    return sx.stx_mode & S_IWOTH;
}

// Fills Rec from the entry Name of the folder dirFd, following links. False for a
// dangling link and for anything that is neither a file nor a folder.
bool StatAt(int dirFd, const char* name, int biasMinutes, TSearchRec& rec) {
    struct statx sx {};
    if (statx(dirFd, name, AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
    bool dir = S_ISDIR(sx.stx_mode);
    if (!dir && !S_ISREG(sx.stx_mode)) return false;
    rec.Name = name;
    if (auto slash = rec.Name.rfind('/'); slash != std::string::npos) rec.Name.erase(0, slash + 1);
    rec.Attr = 0;
    if (dir) rec.Attr |= faDirectory;
    if (!rec.Name.empty() && rec.Name[0] == '.' && !IsDotEntry(rec.Name)) rec.Attr |= faHidden;
    if (!WritableByUs(sx)) rec.Attr |= faReadOnly;
    rec.Size = dir ? 0 : int64_t(sx.stx_size);
    rec.LastWriteTime = UnixToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    const auto& born = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
    rec.CreationTime = UnixToFileTime(born.tv_sec, born.tv_nsec);
    // Local time by the bias in force now, so that local time plus TimeZoneBias() gives
    // back the UTC time exactly, whatever season the file was written in.
    rec.Time = FileTimeToDateTime(rec.LastWriteTime) - biasMinutes / 1440.0;
    return true;
}

// The root may also be reached as "/../" and the like: compare the folder itself.
bool IsRootFolder(int dirFd) {
    struct stat self {
    }, root{};
    return fstat(dirFd, &self) == 0 && stat("/", &root) == 0 && self.st_dev == root.st_dev &&
           self.st_ino == root.st_ino;
}

bool Wanted(const TSearchRec& rec, int attr) {
    return (rec.Attr & ~attr & (faHidden | faSysFile | faDirectory)) == 0;
}

} // namespace

struct TFileSearch::State {
    DIR* dir = nullptr;
    std::string mask;
    int attr = 0;
    int bias = 0;
    bool root = false;
};

TFileSearch::TFileSearch() = default;
TFileSearch::~TFileSearch() {
    Close();
}

void TFileSearch::Close() {
    if (st_ && st_->dir) closedir(st_->dir);
    st_.reset();
}

bool TFileSearch::First(const std::string& pattern, int attr, TSearchRec& rec) {
    Close();
    std::string native = NativePath(pattern);
    size_t slash = native.rfind('/');
    if (native.empty() || slash == native.size() - 1) return false; // nothing, or no name
    std::string folder = native.substr(0, slash + 1);
    std::string mask = native.substr(slash + 1);
    if (!HasWildcards(mask)) {
        if (!StatAt(AT_FDCWD, native.c_str(), TimeZoneBias(), rec)) return false;
        return Wanted(rec, attr);
    }
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    st_ = std::make_unique<State>();
    st_->dir = dir;
    st_->mask = mask;
    st_->attr = attr;
    st_->bias = TimeZoneBias();
    st_->root = IsRootFolder(dirfd(dir));
    return Next(rec);
}

bool TFileSearch::Next(TSearchRec& rec) {
    if (!st_) return false;
    while (dirent* d = readdir(st_->dir)) {
        std::string name = d->d_name;
        if (st_->root && IsDotEntry(name)) continue;
        if (!MatchesMask(name, st_->mask)) continue;
        if (!StatAt(dirfd(st_->dir), name.c_str(), st_->bias, rec)) continue;
        if (Wanted(rec, st_->attr)) return true;
    }
    Close();
    return false;
}

bool FindFirstEntry(const std::string& pattern, int attr, TSearchRec& rec) {
    TFileSearch search;
    return search.First(pattern, attr, rec);
}

bool StatEntry(const std::string& path, TSearchRec& rec) {
    std::string native = NativePath(path);
    return !native.empty() && StatAt(AT_FDCWD, native.c_str(), TimeZoneBias(), rec);
}

} // namespace nubo
