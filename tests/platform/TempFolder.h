#pragma once
// A real temporary folder for a test, removed with everything in it afterwards.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/PathMap.h"

namespace nubo::test {

class TempFolder {
public:
    TempFolder() {
        char tmpl[] = "/tmp/nubo-platform-XXXXXX";
        native_ = mkdtemp(tmpl);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::permissions(native_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(native_, ec);
    }
    // Native path of a name inside, and its engine path (the folder itself with "").
    std::string Native(const std::string& name = "") const { return native_ + "/" + name; }
    std::string Engine(const std::string& name = "") const { return EnginePath(native_) + "\\" + name; }

    void Write(const std::string& name, const std::string& content) const {
        std::ofstream(Native(name), std::ios::binary) << content;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Native(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string native_;
};

} // namespace nubo::test
