// Fuzz target: the INI reader and writer (store/IniFile) and the text decoding of the
// stores (platform/TextCodec). The input is the whole file, any bytes (UTF-8, CP949, CR
// LF or LF, a byte-order mark, NULs).
//
// Invariants:
// - decoding: the text of any bytes is valid UTF-8, valid UTF-8 is kept as it is, and
//   IsValidUtf8 agrees with an independent validator (RFC 3629);
// - reading agrees with a reference reading of the documented rules: "[name]" lines
//   (name up to the first "]", trimmed), "key=value" lines (trimmed, a value in matching
//   quotes read without them, ";" lines are comments), sections and keys matched
//   without ASCII case, the first section of a name and the first key in it winning;
//   ReadSections lists each name once in file order; a held reading answers the same;
// - numbers: a value that reads as a number reads the same after printing it back;
// - writing a value that was read, a new key, a deletion and a section's removal
//   change only what they mean to: every other key reads as before, every other line
//   stays byte for byte, and the written key reads back what was written (values that
//   only round-trip in part, with a line break or in quotes, are left out of that one
//   comparison);
// - after all writes the file still reads as the reference reading of its bytes.
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TextCodec.h"
#include "store/IniFile.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace nubo;
using nubo::fuzz::Shown;

namespace {

// RFC 3629: the well-formed byte sequences, table 3-7 of the Unicode standard.
bool ReferenceUtf8(std::string_view s) {
    size_t i = 0;
    const auto in = [&](size_t k, unsigned lo, unsigned hi) {
        if (i + k >= s.size()) return false;
        const unsigned c = static_cast<unsigned char>(s[i + k]);
        return c >= lo && c <= hi;
    };
    while (i < s.size()) {
        const unsigned c = static_cast<unsigned char>(s[i]);
        if (c <= 0x7F) {
            i += 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            if (!in(1, 0x80, 0xBF)) return false;
            i += 2;
        } else if (c == 0xE0) {
            if (!in(1, 0xA0, 0xBF) || !in(2, 0x80, 0xBF)) return false;
            i += 3;
        } else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) {
            if (!in(1, 0x80, 0xBF) || !in(2, 0x80, 0xBF)) return false;
            i += 3;
        } else if (c == 0xED) {
            if (!in(1, 0x80, 0x9F) || !in(2, 0x80, 0xBF)) return false;
            i += 3;
        } else if (c == 0xF0) {
            if (!in(1, 0x90, 0xBF) || !in(2, 0x80, 0xBF) || !in(3, 0x80, 0xBF)) return false;
            i += 4;
        } else if (c >= 0xF1 && c <= 0xF3) {
            if (!in(1, 0x80, 0xBF) || !in(2, 0x80, 0xBF) || !in(3, 0x80, 0xBF)) return false;
            i += 4;
        } else if (c == 0xF4) {
            if (!in(1, 0x80, 0x8F) || !in(2, 0x80, 0xBF) || !in(3, 0x80, 0xBF)) return false;
            i += 4;
        } else {
            return false;
        }
    }
    return true;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

struct TRefKey {
    std::string Key, Value;
};
struct TRefSection {
    std::string Name;
    std::vector<TRefKey> Keys; // first occurrence of each key, in file order
};

// Lines of a file's text, each with its own line end.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) {
            out.push_back(text.substr(pos));
            break;
        }
        out.push_back(text.substr(pos, nl + 1 - pos));
        pos = nl + 1;
    }
    return out;
}

std::string FileText(const std::string& bytes) {
    std::string_view b = bytes;
    while (b.starts_with("\xEF\xBB\xBF")) b.remove_prefix(3); // every leading mark, as the reader does
    return DecodeStoredText(b);
}

// The reference reading: the sections whose name occurs first, with their keys.
std::vector<TRefSection> ReferenceRead(const std::string& bytes) {
    std::vector<TRefSection> sections;
    bool inFirst = false; // the current block belongs to the first section of its name
    for (std::string line : Lines(FileText(bytes))) {
        // A CR is part of the line end only before an LF.
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            if (!line.empty() && line.back() == '\r') line.pop_back();
        }
        const std::string_view s = Trim(line);
        if (!s.empty() && s.front() == '[') {
            std::string_view name = s.substr(1);
            if (const size_t close = name.find(']'); close != std::string_view::npos) name = name.substr(0, close);
            name = Trim(name);
            inFirst = true;
            for (const auto& sec : sections)
                if (SameText(sec.Name, name)) inFirst = false;
            if (inFirst) sections.push_back({std::string(name), {}});
            continue;
        }
        if (!inFirst || s.empty() || s.front() == ';') continue;
        const size_t eq = s.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = Trim(s.substr(0, eq));
        std::string_view value = Trim(s.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        bool seen = false;
        for (const auto& k : sections.back().Keys) seen = seen || SameText(k.Key, key);
        if (!seen) sections.back().Keys.push_back({std::string(key), std::string(value)});
    }
    return sections;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    const std::string tmp = path + ".new";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        f.write(bytes.data(), std::streamsize(bytes.size()));
    }
    std::rename(tmp.c_str(), path.c_str()); // a new file each time, as an editor saves one
}

const char kMissing[] = "\x01missing\x01";

// The library reads every key of the reference reading as the reference does.
void CheckReading(const TIniFile& ini, const std::vector<TRefSection>& ref, const std::string& ctx) {
    const std::vector<std::string> names = ini.ReadSections();
    std::string want, got;
    for (const auto& s : ref) want += "[" + Shown(s.Name) + "] ";
    for (const auto& n : names) got += "[" + Shown(n) + "] ";
    FUZZ_CHECK(got == want, "ReadSections: got " + got + " wanted " + want + "\n" + ctx);
    const TIniFile held = ini.Held();
    for (const auto& s : ref) {
        FUZZ_CHECK(ini.HasSection(s.Name), "HasSection(" + Shown(s.Name) + ") false\n" + ctx);
        for (const auto& k : s.Keys) {
            const std::string v = ini.ReadString(s.Name, k.Key, kMissing);
            FUZZ_CHECK(v == k.Value, "[" + Shown(s.Name) + "] " + Shown(k.Key) + " read \"" + Shown(v) +
                                         "\", wanted \"" + Shown(k.Value) + "\"\n" + ctx);
            FUZZ_CHECK(held.ReadString(s.Name, k.Key, kMissing) == v, "held reading differs\n" + ctx);
            const auto n = ParseIniInteger(v);
            FUZZ_CHECK(ini.ReadInteger(s.Name, k.Key, -77) == n.value_or(-77), "ReadInteger\n" + ctx);
            if (n) FUZZ_CHECK(ParseIniInteger(std::to_string(*n)) == n, "number does not reprint: " + Shown(v));
        }
        FUZZ_CHECK(ini.ReadString(s.Name, "\x01no key\x01", "dflt") == "dflt", "missing key not default\n" + ctx);
    }
}

// Every key of before, except the one named, reads in after as it did.
void CheckOthersKept(const std::vector<TRefSection>& before, const TIniFile& ini, std::string_view skipSection,
                     std::string_view skipKey, bool skipWholeSection, const std::string& ctx) {
    for (const auto& s : before) {
        const bool sameSection = SameText(s.Name, skipSection);
        if (sameSection && skipWholeSection) continue;
        for (const auto& k : s.Keys) {
            if (sameSection && SameText(k.Key, skipKey)) continue;
            const std::string v = ini.ReadString(s.Name, k.Key, kMissing);
            FUZZ_CHECK(v == k.Value, "[" + Shown(s.Name) + "] " + Shown(k.Key) + " changed to \"" + Shown(v) +
                                         "\" from \"" + Shown(k.Value) + "\"\n" + ctx);
        }
    }
}

// Lines of the old and new text are the same but for at most one of them, and the new
// text has `added` lines more, at the place of that change. A last line without a line
// end may get one, when the new line goes after it.
bool LinesKept(std::vector<std::string> a, const std::vector<std::string>& b, int added) {
    if (b.size() != a.size() + size_t(added)) return false;
    size_t i = 0;
    while (i < a.size() && a[i] == b[i]) ++i;
    size_t ja = a.size(), jb = b.size();
    while (ja > i && jb > i && a[ja - 1] == b[jb - 1]) --ja, --jb;
    return ja - i <= 1 && jb - i <= size_t(added) + 1;
}

void CheckLinesKept(const std::string& oldText, const std::string& newText, int added, const std::string& ctx) {
    const std::vector<std::string> a = Lines(oldText), b = Lines(newText);
    bool kept = LinesKept(a, b, added);
    if (!kept && added > 0 && !a.empty() && a.back().back() != '\n') {
        std::vector<std::string> ended = a;
        ended.back() += "\r\n";
        kept = LinesKept(ended, b, added);
    }
    if (kept) return;
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    fuzz::Fail(__FILE__, __LINE__, "a write keeps every other line",
               "a write changed more lines than its own (" + std::to_string(a.size()) + " -> " +
                   std::to_string(b.size()) + " lines), first at line " + std::to_string(i) + ": \"" +
                   (i < a.size() ? Shown(a[i]) : std::string()) + "\" -> \"" +
                   (i < b.size() ? Shown(b[i]) : std::string()) + "\"\n" + ctx);
}

// Values are written as they are, never quoted (the profile-file convention), so three
// kinds of value read back otherwise: one with blanks at its ends (read from quotes),
// one that itself begins and ends with the same quote, and one with a lone CR (written
// as a blank, since it could end the line). They are left out of the round-trip
// comparison; every other invariant still holds for them.
bool RoundTrips(const std::string& v) {
    if (v.find('\r') != std::string::npos) return false;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) return false;
    if (!v.empty() && (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t')) return false;
    return true;
}

struct THarness {
    std::string path = (nubo::fuzz::ScratchFolder("ini") / "fuzz.ini").string();
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static THarness* h = new THarness;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string ctx = "file: \"" + Shown(bytes, 2000) + "\"";

    // Decoding.
    FUZZ_CHECK(IsValidUtf8(bytes) == ReferenceUtf8(bytes), "IsValidUtf8 disagrees with RFC 3629\n" + ctx);
    const std::string text = DecodeStoredText(bytes);
    FUZZ_CHECK(ReferenceUtf8(text), "decoded text is not UTF-8: \"" + Shown(text) + "\"\n" + ctx);
    if (ReferenceUtf8(bytes)) FUZZ_CHECK(text == bytes, "valid UTF-8 changed by decoding\n" + ctx);

    // Reading.
    WriteBytes(h->path, bytes);
    TIniFile ini(h->path);
    std::vector<TRefSection> ref = ReferenceRead(bytes);
    CheckReading(ini, ref, ctx);

    // Writing: a few keys that were read, each written back with the value it read.
    // What every key reads now; a written value that only round-trips in part reads
    // differently from then on.
    std::vector<TRefSection> now = ref;
    int writes = 0;
    for (size_t si = 0; si < ref.size(); ++si) {
        const TRefSection& s = ref[si];
        for (size_t ki = 0; ki < s.Keys.size(); ++ki) {
            const TRefKey& k = s.Keys[ki];
            if (writes++ >= 4) break;
            const std::string oldText = FileText(ReadBytes(h->path));
            const std::string step = ctx + "\nwriting [" + Shown(s.Name) + "] " + Shown(k.Key) + "=" + Shown(k.Value);
            try {
                ini.WriteString(s.Name, k.Key, k.Value);
            } catch (const EIniFileException& e) {
                FUZZ_CHECK(false, std::string("write failed: ") + e.what() + "\n" + step);
            }
            CheckOthersKept(now, ini, s.Name, k.Key, false, step);
            const std::string back = ini.ReadString(s.Name, k.Key, kMissing);
            if (RoundTrips(k.Value))
                FUZZ_CHECK(back == k.Value, "written value reads \"" + Shown(back) + "\"\n" + step);
            now[si].Keys[ki].Value = back;
            CheckLinesKept(oldText, FileText(ReadBytes(h->path)), 0, step);
        }
    }
    ref = ReferenceRead(ReadBytes(h->path));

    if (!ref.empty()) {
        // A new key in the first section, then a number, then its deletion.
        const TRefSection& s = ref.front();
        const std::string key = "FuzzNewKey";
        bool existed = false;
        for (const auto& k : s.Keys) existed = existed || SameText(k.Key, key);
        const std::string oldText = FileText(ReadBytes(h->path));
        const std::string step = ctx + "\nadding [" + Shown(s.Name) + "] " + key;
        ini.WriteString(s.Name, key, "a = b ; c");
        FUZZ_CHECK(ini.ReadString(s.Name, key, kMissing) == "a = b ; c", "new key reads back wrong\n" + step);
        CheckOthersKept(ref, ini, s.Name, key, false, step);
        CheckLinesKept(oldText, FileText(ReadBytes(h->path)), existed ? 0 : 1, step);
        ini.WriteInteger(s.Name, key, -9223372036854775807LL - 1);
        FUZZ_CHECK(ini.ReadInteger(s.Name, key, 0) == -9223372036854775807LL - 1, "integer round trip\n" + step);
        ini.DeleteKey(s.Name, key);
        FUZZ_CHECK(ini.ReadString(s.Name, key, kMissing) == kMissing, "deleted key still reads\n" + step);
        CheckOthersKept(ref, ini, s.Name, key, false, step);
    }

    // The last section goes; every other one stays.
    ref = ReferenceRead(ReadBytes(h->path));
    CheckReading(ini, ref, ctx + "\nafter the writes: \"" + Shown(ReadBytes(h->path), 2000) + "\"");
    if (!ref.empty()) {
        const std::string last = ref.back().Name;
        ini.EraseSection(last);
        FUZZ_CHECK(!ini.HasSection(last), "erased section still there\n" + ctx);
        CheckOthersKept(ref, ini, last, "", true, ctx + "\nerasing [" + Shown(last) + "]");
    }

    // A section that is not in the file is added at its end.
    ini.WriteString("Fuzz New Section", "Key", "value");
    FUZZ_CHECK(ini.ReadString("fuzz new section", "KEY", kMissing) == "value", "new section\n" + ctx);

    const std::string final = ReadBytes(h->path);
    FUZZ_CHECK(ReferenceUtf8(final), "the written file is not UTF-8\n" + ctx);
    CheckReading(ini, ReferenceRead(final), ctx + "\nfinal file: \"" + Shown(final, 2000) + "\"");
    return 0;
}
