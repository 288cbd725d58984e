#pragma once
// An INI file with the conventions of the platform's profile files: "[section]" lines,
// "key=value" lines, sections and keys matched without regard to ASCII letter case,
// the first occurrence of a section or key winning, reads that yield a default.
//
// Nothing is cached unless asked for (Held): every call reads the file afresh (an edit
// made on disk takes effect at the next read), and every write replaces the file
// atomically through a temporary file beside it, so a crash or a full disk leaves the
// old file whole. Each write is a read-modify-write under an advisory lock beside the
// file (platform/FileLock.h), so writers in other processes never lose one another's
// change.
// The file is written as UTF-8; one that is not valid UTF-8 is read as CP949.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileIO.h"

namespace nubo {

class EIniFileException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decimal, or hexadecimal after "0x" or "$", with an optional sign; nothing else.
std::optional<int64_t> ParseIniInteger(std::string_view text);

class TIniText;

class TIniFile {
public:
    explicit TIniFile(std::string path) : path_(std::move(path)) {}
    const std::string& FileName() const { return path_; }
    // A copy that reads the file once, now, and answers every later read from that
    // reading: one consistent view for the steps of one moment. Its writes still go
    // to the file, and a write drops the held reading.
    TIniFile Held() const;
    bool Exists() const;

    // A missing file, section or key yields def; a present but empty key yields "".
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // A missing key or a value that is not a whole number yields def.
    int64_t ReadInteger(std::string_view section, std::string_view key, int64_t def) const;
    // A number: 0 is false, anything else true.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    bool HasSection(std::string_view section) const;
    // Section names in file order, each once.
    std::vector<std::string> ReadSections() const;

    // Writers keep every other line of the file as it was. They throw
    // EIniFileException when the file cannot be replaced; the old file stays.
    // A missing key is added at the end of its section, a missing section at the end
    // of the file.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Several keys in one replacement of the file, in order: an entry with a value
    // sets the key, one without deletes it, and one with neither key nor value erases
    // the whole section. Nothing is written when nothing would change.
    struct TEntry {
        std::string Section, Key;
        std::optional<std::string> Value;
    };
    void Write(const std::vector<TEntry>& entries);
    // A change that depends on what the file holds (a check, a count, a list): update
    // gets the file as it is once the lock is held, and its entries are written before
    // any other writer of the file may read it. Throws as the writers do, and
    // EIniFileException when the lock is not had within a few seconds.
    void Update(const std::function<std::vector<TEntry>(const TIniFile& now)>& update);
    void WriteInteger(std::string_view section, std::string_view key, int64_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);
    void EraseSection(std::string_view section);
    void DeleteKey(std::string_view section, std::string_view key);

private:
    std::shared_ptr<const TIniText> Reading() const; // the held one, or a fresh one

    std::string path_;
    std::shared_ptr<const TIniText> held_;
};

// Writes bytes to path atomically (WriteFileAtomically of platform/FileIO.h, whose
// RemoveStaleTemporaries clears what an interrupted one left); throws
// EIniFileException on failure, leaving any old file untouched. With onlyIfMissing an
// existing file is kept and false is returned.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, bool onlyIfMissing = false);

} // namespace nubo
