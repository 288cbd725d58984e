// The corpus replay of a fuzz target in the normal build: every file of the folders
// (or the files) named on the command line goes once through LLVMFuzzerTestOneInput,
// in name order. A broken invariant aborts with the file's name on standard error, and
// so does an input that runs longer than 30 seconds (a hang is a finding too).
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
constexpr unsigned kInputSeconds = 30;

void TimedOut(int) {
    static const char msg[] = "\n==== fuzz replay: the input above ran longer than 30 seconds (a hang)\n";
    (void)!::write(2, msg, sizeof msg - 1);
    std::abort();
}
} // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg = argv[i];
        if (fs::is_directory(arg)) {
            for (const auto& e : fs::recursive_directory_iterator(arg))
                if (e.is_regular_file()) files.push_back(e.path());
        } else if (fs::is_regular_file(arg)) {
            files.push_back(arg);
        } else {
            std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
            return 2;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER_OR_FILE... (found no input)\n", argv[0]);
        return 2;
    }
    std::sort(files.begin(), files.end());
    std::signal(SIGALRM, TimedOut);
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::fprintf(stderr, "replay %s (%zu bytes)\n", f.c_str(), bytes.size());
        // A copy of exactly the input's size, as libFuzzer gives it: a read past the end
        // is then caught by AddressSanitizer in the sanitizer build.
        std::vector<uint8_t> data(bytes.begin(), bytes.end());
        ::alarm(kInputSeconds);
        LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
        ::alarm(0);
    }
    std::fprintf(stderr, "%zu inputs replayed\n", files.size());
    return 0;
}
