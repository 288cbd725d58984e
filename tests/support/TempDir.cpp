#include "tests/support/TempDir.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>

#include "platform/PathMap.h"

namespace nubo::test {

namespace fs = std::filesystem;

TTempDir::TTempDir() {
    std::string tmpl = (fs::temp_directory_path() / "nubo-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed for " + tmpl);
    path_ = tmpl;
}

TTempDir::~TTempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string TTempDir::Engine(const std::string& name) const {
    return EnginePath(path_.string()) + "\\" + name;
}

void TTempDir::Write(const std::string& name, const std::string& bytes) const {
    WriteBytes(File(name), bytes);
}

std::string TTempDir::Read(const std::string& name) const {
    return ReadBytes(File(name));
}

std::string ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

} // namespace nubo::test
