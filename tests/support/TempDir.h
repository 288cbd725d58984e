#pragma once
// A fresh folder under the system's temporary folder for one test, removed with
// everything in it afterwards (also what a test made unwritable).

#include <filesystem>
#include <string>

namespace nubo::test {

class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    // The folder with its trailing separator, as the program keeps its own folder.
    std::string Dir() const { return path_.string() + "/"; }
    // The native path of a name inside, and its engine path ("" names the folder).
    std::string File(const std::string& name = "") const { return Dir() + name; }
    std::string Engine(const std::string& name = "") const;

    // A file inside, by name, with exactly these bytes; and a file's bytes.
    void Write(const std::string& name, const std::string& bytes) const;
    std::string Read(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// The whole content of a file ("" when it cannot be read), and a file made or replaced
// with exactly these bytes.
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

} // namespace nubo::test
