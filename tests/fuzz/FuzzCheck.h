#pragma once
// Shared by the fuzz targets: an invariant check that stops the process with a message
// (libFuzzer then keeps the input as a crash; the replay test fails), and a scratch
// folder per process that goes away at exit.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

namespace nubo::fuzz {

// Bytes as C-style escapes, so that a report shows exactly what was compared.
inline std::string Shown(std::string_view s, size_t limit = 400) {
    std::string out;
    for (size_t i = 0; i < s.size() && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    if (s.size() > limit) out += "...(" + std::to_string(s.size()) + " bytes)";
    return out;
}

[[noreturn]] inline void Fail(const char* file, int line, const char* what, const std::string& detail) {
    std::fprintf(stderr, "\n==== fuzz invariant broken at %s:%d: %s\n%s\n", file, line, what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

// A folder of its own under the system's temporary folder (or /dev/shm, where writes
// cost no disk), removed when the process ends normally. A process that crashed leaves
// its folder behind: folders of processes that no longer run are removed here.
inline std::filesystem::path ScratchFolder(const char* tag) {
    namespace fs = std::filesystem;
    fs::path base = fs::temp_directory_path();
    std::error_code ec;
    if (fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0) base = "/dev/shm";
    for (const auto& e : fs::directory_iterator(base, ec)) {
        const std::string name = e.path().filename().string();
        const size_t at = name.rfind("-pid");
        int pid = 0;
        if (name.rfind("nubo-fuzz-", 0) != 0 || at == std::string::npos ||
            std::sscanf(name.c_str() + at + 4, "%d", &pid) != 1 || pid <= 0)
            continue;
        if (::kill(pid, 0) != 0 && errno == ESRCH) fs::remove_all(e.path(), ec);
    }
    std::string tmpl = (base / (std::string("nubo-fuzz-") + tag + "-XXXXXX-pid" + std::to_string(::getpid()))).string();
    // mkdtemp wants the six X at the end: make the name, then add the process number.
    std::string made = tmpl.substr(0, tmpl.rfind("-pid"));
    if (!::mkdtemp(made.data())) Fail(__FILE__, __LINE__, "mkdtemp", made);
    const fs::path folder = made + tmpl.substr(tmpl.rfind("-pid"));
    fs::rename(made, folder, ec);
    if (ec) Fail(__FILE__, __LINE__, "rename", ec.message());
    static std::vector<fs::path>* folders = new std::vector<fs::path>;
    folders->push_back(folder);
    if (folders->size() == 1)
        std::atexit([] {
            for (const auto& f : *folders) {
                std::error_code e;
                fs::remove_all(f, e);
            }
        });
    return folder;
}

} // namespace nubo::fuzz

// FUZZ_CHECK(condition, detail): detail is any expression yielding a std::string.
#define FUZZ_CHECK(cond, detail)                                                                                       \
    do {                                                                                                               \
        if (!(cond)) ::nubo::fuzz::Fail(__FILE__, __LINE__, #cond, (detail));                                          \
    } while (0)
