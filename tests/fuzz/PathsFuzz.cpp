// Fuzz target: path rules and confinement. The engine's helpers build a local path
// from the working folder and a client's argument (TFtpCtrlSocket::ChangeDir,
// TFtpServer::ResolveFilePath, TTempDirStep, OverlapRoot), the platform resolves "."
// and ".." (ExpandFileName) and maps engine paths to native ones, and the account's
// tree (host TVirtualTree) decides what stays inside the home. The input is up to 16
// lines; each line is used as a CWD argument and as a file argument, in a real folder
// tree made once per process:
//
//   root/home/            the home (DUS)     home/a.txt, home/sub/deep/, home/sub/b.txt
//   root/home/locked/     access denied (A)  home/lk -> locked
//   root/home/link -> root/out (leads out)   home/inner -> home/sub (stays inside)
//   root/home/up -> ..    (leads out)        root/homex/ (shares the home's prefix)
//   root/music/           virtual folder "mp3" (DVS)
//
// Each line goes through the host's steps: ChangeDir, then NormalizePath, alias
// mapping, IsRestricted and Contains, as FtpServerChangeDirectory and CheckFile do.
// Invariants:
// - ExpandFileName: the result is idempotent, has no "/" and, with a drive, no ".", ".."
//   or empty component; a native path maps to the engine and back unchanged;
// - ChangeDir: a new working folder has a drive, ends with "\" and is fully expanded; a
//   refused one leaves the folder as it was; TTempDirStep always restores it;
// - OverlapRoot: empty or a prefix of the working folder ending with "\";
// - confinement: whatever the tree lets through (a folder for CWD, a file argument for
//   every file command) lies, by the system's own resolution of links and "..", inside
//   the home or the virtual folder, and never inside the denied folder.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/FtpServer.h"
#include "host/VirtualTree.h"
#include "platform/FileSystem.h"
#include "platform/PathMap.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace nubo;
using nubo::fuzz::Shown;
namespace fs = std::filesystem;

namespace {

bool HasDriveText(const std::string& p) {
    return p.size() >= 2 && p[1] == ':' && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

// No ".", ".." or empty component after the drive's root; a trailing "\" allowed.
bool CleanComponents(const std::string& e) {
    if (!HasDriveText(e) || e.size() < 3 || e[2] != '\\') return false;
    size_t i = 3;
    while (i < e.size()) {
        size_t j = e.find('\\', i);
        if (j == std::string::npos) j = e.size();
        const std::string part = e.substr(i, j - i);
        if (part.empty() || part == "." || part == "..") return false;
        i = j + 1;
    }
    return true;
}

bool Inside(const fs::path& child, const fs::path& parent) {
    const std::string c = child.string(), p = parent.string();
    return c == p || (c.size() > p.size() && c.compare(0, p.size(), p) == 0 && c[p.size()] == '/');
}

struct THarness {
    TEventLoop& loop = TEventLoop::Current();
    TFtpServer server{loop};
    fs::path root, realHome, realMusic, realLocked;
    std::string home; // engine form, trailing '\'
    std::vector<TVirtualEntry> entries;

    THarness() {
        root = fuzz::ScratchFolder("paths");
        fs::create_directories(root / "home" / "sub" / "deep");
        fs::create_directories(root / "home" / "locked");
        fs::create_directories(root / "homex");
        fs::create_directories(root / "out");
        fs::create_directories(root / "music" / "sub");
        for (const char* f :
             {"home/a.txt", "home/sub/b.txt", "home/locked/x.txt", "homex/h.txt", "out/secret.txt", "music/m.mp3"})
            std::ofstream(root / f) << "x";
        fs::create_directory_symlink(root / "out", root / "home" / "link");
        fs::create_directory_symlink(root / "home" / "sub", root / "home" / "inner");
        fs::create_directory_symlink("..", root / "home" / "up");
        fs::create_directory_symlink("locked", root / "home" / "lk");
        realHome = fs::canonical(root / "home");
        realMusic = fs::canonical(root / "music");
        realLocked = fs::canonical(root / "home" / "locked");
        home = EnginePath((root / "home").string()) + "\\";
        entries = {{EnginePath((root / "home").string()), "DUS", ""},
                   {EnginePath((root / "music").string()), "DVS", "mp3"},
                   {EnginePath((root / "home" / "locked").string()), "A", ""}};
    }
};

// What the tree lets through must lie inside it, by the system's resolution.
void CheckConfined(const THarness& h, const TVirtualTree& tree, const std::string& t, const std::string& ctx) {
    if (tree.IsRestricted(t) || !tree.Contains(t)) return;
    const std::string native = NativePath(t);
    FUZZ_CHECK(!native.empty(), "Contains accepted a path that names nothing: " + ctx);
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(native, ec);
    FUZZ_CHECK(!ec, "Contains accepted a path the system cannot resolve (" + ec.message() + "): " + ctx);
    FUZZ_CHECK(Inside(real, h.realHome) || Inside(real, h.realMusic),
               "confinement escape: accepted path resolves to " + real.string() + ": " + ctx);
    FUZZ_CHECK(!Inside(real, h.realLocked), "the denied folder is reachable at " + real.string() + ": " + ctx);
}

void CheckExpand(const std::string& line) {
    const std::string e = ExpandFileName(line);
    const std::string ctx = "ExpandFileName(\"" + Shown(line) + "\") = \"" + Shown(e) + "\"";
    FUZZ_CHECK(ExpandFileName(e) == e, "not idempotent, again: \"" + Shown(ExpandFileName(e)) + "\"; " + ctx);
    FUZZ_CHECK(e.find('/') == std::string::npos, ctx);
    if (!(e.size() >= 2 && e[0] == '\\' && e[1] == '\\')) {
        FUZZ_CHECK(CleanComponents(e), "a component is left unresolved: " + ctx);
        if (HasDriveText(line)) FUZZ_CHECK(e.compare(0, 2, line, 0, 2) == 0, "the drive changed: " + ctx);
    }
    if (!line.empty() && line[0] == '/' && line.find('\\') == std::string::npos && line.find('\0') == std::string::npos)
        FUZZ_CHECK(NativePath(EnginePath(line)) == line,
                   "native path does not map back: \"" + Shown(NativePath(EnginePath(line))) + "\"; " + ctx);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static THarness* h = new THarness;
    const std::string input(reinterpret_cast<const char*>(data), size);
    TFtpCtrlSocket client(h->loop);
    client.FtpState = ftpcReady;
    client.HomePath = h->home;
    client.CurrentDir = h->home;
    const TVirtualTree tree(h->entries, h->home);

    size_t pos = 0;
    for (int n = 0; n < 16 && pos <= input.size(); ++n) {
        size_t nl = input.find('\n', pos);
        if (nl == std::string::npos) nl = input.size();
        const std::string line = input.substr(pos, nl - pos);
        pos = nl + 1;
        const std::string before = client.CurrentDir;
        const std::string ctx = "line \"" + Shown(line) + "\" in \"" + Shown(before) + "\"";

        // OverlapRoot of the working folder and the argument.
        const std::string overlap = OverlapRoot(before, ToLocalSeparators(line));
        FUZZ_CHECK(overlap.empty() || (before.compare(0, overlap.size(), overlap) == 0 && overlap.back() == '\\'),
                   "OverlapRoot gave \"" + Shown(overlap) + "\": " + ctx);

        // The line as a file argument: the engine's resolution, then the host's check.
        std::string local;
        bool resolved = false;
        try {
            TTempDirStep step(client, line);
            local = h->server.ResolveFilePath(client, client.CurrentDir, line);
            resolved = true;
        } catch (const std::exception&) {
        }
        FUZZ_CHECK(client.CurrentDir == before,
                   "TTempDirStep left the folder at \"" + Shown(client.CurrentDir) + "\": " + ctx);
        if (resolved) {
            const std::string t = tree.MapVirtualPath(NormalizePath(local));
            CheckConfined(*h, tree, t, ctx + " file path \"" + Shown(local) + "\" checked as \"" + Shown(t) + "\"");
        }

        CheckExpand(line);

        // The line as a CWD argument.
        try {
            client.ChangeDir(ToLocalSeparators(line));
        } catch (const std::exception&) {
            FUZZ_CHECK(client.CurrentDir == before, "a refused ChangeDir moved: " + ctx);
            continue;
        }
        const std::string moved = client.CurrentDir;
        const std::string mctx = ctx + " ChangeDir gave \"" + Shown(moved) + "\"";
        FUZZ_CHECK(!moved.empty() && moved.back() == '\\', mctx);
        FUZZ_CHECK(CleanComponents(moved) && ExpandFileName(moved) == moved, "not fully expanded: " + mctx);
        const std::string f = tree.MapVirtualPath(NormalizePath(moved));
        try {
            client.ChangeDir(f);
        } catch (const std::exception&) {
            client.CurrentDir = before;
            continue;
        }
        if (DirectoryExists(f) && !tree.IsRestricted(f) && tree.Contains(f))
            CheckConfined(*h, tree, f, mctx + " folder \"" + Shown(f) + "\"");
        else
            client.CurrentDir = before;
    }
    return 0;
}
