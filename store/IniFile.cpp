#include "store/IniFile.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/FileIO.h"
#include "platform/FileLock.h"
#include "platform/Text.h"
#include "platform/TextCodec.h"

namespace nubo {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// A line break inside a name or value would split it into lines of their own and
// could plant keys; it is stored as a blank instead.
std::string OneLine(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c == '\r' || c == '\n') c = ' ';
    return r;
}

} // namespace

struct TLine {
    std::string text;
    std::string eol; // "\r\n", "\n" or "" (last line without a break)
};

// The file as lines, each keeping its own line end, so a rewrite changes only the
// lines it means to change.
class TIniText {
public:
    // A missing file is empty. One that exists but cannot be read is empty for a
    // reader; a writer must not replace it (that would drop every other section), so
    // with forWrite the failure throws.
    static TIniText Load(const std::string& path, bool forWrite = false) {
        TIniText t;
        std::string bytes;
        if (const int err = ReadWholeFile(path, bytes); err != 0) {
            if (err == ENOENT || !forWrite) return t;
            throw EIniFileException("Unable to read " + path + ": " + std::strerror(err));
        }
        // Every leading byte-order mark goes: a kept second one would become the first
        // at the next write and vanish at the next read, changing the first line.
        while (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
        const std::string text = DecodeStoredText(bytes);
        size_t pos = 0;
        while (pos < text.size()) {
            const size_t nl = text.find('\n', pos);
            if (nl == std::string::npos) {
                t.lines_.push_back({text.substr(pos), ""});
                break;
            }
            const bool cr = nl > pos && text[nl - 1] == '\r';
            t.lines_.push_back({text.substr(pos, nl - pos - (cr ? 1 : 0)), cr ? std::string(kCrLf) : "\n"});
            pos = nl + 1;
        }
        // A reading is never changed: its sections are found through an index, so that a
        // file of many accounts costs no scan per question.
        if (!forWrite) {
            for (size_t i = 0; i < t.lines_.size(); ++i)
                if (const auto name = SectionName(t.lines_[i].text)) t.index_.try_emplace(LowerCase(*name), i);
        }
        return t;
    }

    // A copy to change: without the index, which changes would make wrong.
    TIniText Writable() const {
        TIniText t(*this);
        t.index_.clear();
        return t;
    }

    std::string Bytes() const {
        std::string out;
        for (const auto& l : lines_) out += l.text + l.eol;
        return out;
    }

    static std::optional<std::string_view> SectionName(const std::string& line) {
        std::string_view s = TrimSpaces(line);
        if (s.empty() || s.front() != '[') return std::nullopt;
        s.remove_prefix(1);
        const size_t close = s.find(']');
        if (close != std::string_view::npos) s = s.substr(0, close);
        return TrimSpaces(s);
    }

    struct TKeyLine {
        std::string_view key, value;
    };
    static std::optional<TKeyLine> KeyLine(const std::string& line) {
        std::string_view s = TrimSpaces(line);
        if (s.empty() || s.front() == ';' || s.front() == '[') return std::nullopt;
        const size_t eq = s.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        return TKeyLine{TrimSpaces(s.substr(0, eq)), TrimSpaces(s.substr(eq + 1))};
    }

    // Index of the header line of the first section with this name.
    std::optional<size_t> FindSection(std::string_view section, size_t from = 0) const {
        if (from == 0 && !index_.empty()) {
            const auto it = index_.find(LowerCase(section));
            if (it == index_.end()) return std::nullopt;
            return it->second;
        }
        for (size_t i = from; i < lines_.size(); ++i) {
            const auto name = SectionName(lines_[i].text);
            if (name && SameText(*name, section)) return i;
        }
        return std::nullopt;
    }

    // One past the last line of the section whose header is at header.
    size_t SectionEnd(size_t header) const {
        size_t i = header + 1;
        while (i < lines_.size() && !SectionName(lines_[i].text)) ++i;
        return i;
    }

    std::optional<size_t> FindKey(size_t header, std::string_view key) const {
        for (size_t i = header + 1, end = SectionEnd(header); i < end; ++i) {
            const auto kl = KeyLine(lines_[i].text);
            if (kl && SameText(kl->key, key)) return i;
        }
        return std::nullopt;
    }

    std::optional<std::string> Value(std::string_view section, std::string_view key) const {
        const auto h = FindSection(section);
        if (!h) return std::nullopt;
        const auto k = FindKey(*h, key);
        if (!k) return std::nullopt;
        std::string_view v = KeyLine(lines_[*k].text)->value;
        // A value enclosed in matching quotes is read without them.
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        return std::string(v);
    }

    std::vector<std::string> Sections() const {
        std::vector<std::string> out;
        for (const auto& l : lines_) {
            const auto name = SectionName(l.text);
            if (!name) continue;
            bool seen = false;
            for (const auto& s : out) seen = seen || SameText(s, *name);
            if (!seen) out.emplace_back(*name);
        }
        return out;
    }

    // Returns whether the text changed: a key that already holds the value is kept.
    bool Set(std::string_view section, std::string_view key, std::string_view value) {
        const auto h = FindSection(section);
        if (!h) {
            Insert(lines_.size(), "[" + OneLine(section) + "]");
            Insert(lines_.size(), OneLine(key) + "=" + OneLine(value));
            return true;
        }
        if (const auto k = FindKey(*h, key)) {
            const TKeyLine kl = *KeyLine(lines_[*k].text);
            if (kl.value == OneLine(value)) return false;
            // Keep the key as the file spells it.
            lines_[*k].text = std::string(kl.key) + "=" + OneLine(value);
            return true;
        }
        // After the section's last non-blank line, so blank separators stay below it.
        size_t at = SectionEnd(*h);
        while (at > *h + 1 && TrimSpaces(lines_[at - 1].text).empty()) --at;
        Insert(at, OneLine(key) + "=" + OneLine(value));
        return true;
    }

    bool EraseSection(std::string_view section) {
        bool changed = false;
        while (const auto h = FindSection(section)) {
            lines_.erase(lines_.begin() + *h, lines_.begin() + SectionEnd(*h));
            changed = true;
        }
        return changed;
    }

    bool DeleteKey(std::string_view section, std::string_view key) {
        const auto h = FindSection(section);
        if (!h) return false;
        bool changed = false;
        while (const auto k = FindKey(*h, key)) {
            lines_.erase(lines_.begin() + *k);
            changed = true;
        }
        return changed;
    }

private:
    void Insert(size_t at, std::string text) {
        if (at > 0 && lines_[at - 1].eol.empty()) lines_[at - 1].eol = kCrLf;
        lines_.insert(lines_.begin() + at, TLine{std::move(text), std::string(kCrLf)});
    }

    std::vector<TLine> lines_;
    std::unordered_map<std::string, size_t> index_; // lower-cased name -> first header line
};

namespace {

[[noreturn]] void WriteFailed(const std::string& path, int err) {
    throw EIniFileException("Unable to write to " + path + ": " + std::strerror(err));
}

} // namespace

std::optional<int64_t> ParseIniInteger(std::string_view s) {
    s = TrimSpaces(s);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    unsigned base = 10;
    if (s.starts_with("0x") || s.starts_with("0X")) {
        base = 16;
        s.remove_prefix(2);
    } else if (s.starts_with("$")) {
        base = 16;
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    uint64_t v = 0;
    const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    for (char c : s) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f')
            d = LowerAscii(c) - 'a' + 10;
        else
            return std::nullopt;
        if (v > (limit - d) / base) return std::nullopt;
        v = v * base + d;
    }
    return negative ? int64_t(0 - v) : int64_t(v);
}

bool TIniFile::Exists() const {
    TFileIdentity id;
    return RegularFileIdentity(path_, id);
}

namespace {

// The last reading of each file, kept while the file is the same one: device, inode,
// size and times unchanged. A file changed within the last two seconds is read afresh
// every time, since an edit in place within one tick of the file system's clock keeps
// its times; so an edit always counts from the next question.
struct TCachedReading {
    TFileIdentity id;
    bool settled = false;
    std::shared_ptr<const TIniText> text;
    TFileIdentity ownWrite; // the file as this process's last replacement left it
};

std::mutex cacheLock;
std::map<std::string, TCachedReading> cache;

std::shared_ptr<const TIniText> CurrentReading(const std::string& path) {
    TFileIdentity id;
    if (!RegularFileIdentity(path, id)) return std::make_shared<const TIniText>(TIniText::Load(path));
    std::lock_guard<std::mutex> guard(cacheLock);
    TCachedReading& c = cache[path];
    if (c.text && c.settled && c.id == id) return c.text;
    c.text = std::make_shared<const TIniText>(TIniText::Load(path));
    c.id = id;
    // A file this process has just put in place (a new inode) is as good as settled.
    c.settled = (std::time(nullptr) - id.ModifiedSec > 2 && std::time(nullptr) - id.ChangedSec > 2) || c.ownWrite == id;
    return c.text;
}

// The file's text to change and write back: the kept reading when it is certainly the
// file's present content, else a fresh reading that fails loudly.
TIniText WritableText(const std::string& path) {
    TFileIdentity id;
    if (RegularFileIdentity(path, id)) {
        std::lock_guard<std::mutex> guard(cacheLock);
        const auto it = cache.find(path);
        if (it != cache.end() && it->second.text && it->second.settled && it->second.id == id)
            return it->second.text->Writable();
    }
    return TIniText::Load(path, true);
}

void NoteOwnWrite(const std::string& path) {
    TFileIdentity id;
    if (!RegularFileIdentity(path, id)) return;
    std::lock_guard<std::mutex> guard(cacheLock);
    cache[path].ownWrite = id;
}

} // namespace

TIniFile TIniFile::Held() const {
    TIniFile f(path_);
    f.held_ = CurrentReading(path_);
    return f;
}

std::shared_ptr<const TIniText> TIniFile::Reading() const {
    return held_ ? held_ : CurrentReading(path_);
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
    auto v = Reading()->Value(section, key);
    return v ? std::move(*v) : std::string(def);
}

int64_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int64_t def) const {
    const auto v = Reading()->Value(section, key);
    if (!v) return def;
    return ParseIniInteger(*v).value_or(def);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::HasSection(std::string_view section) const {
    return Reading()->FindSection(section).has_value();
}

std::vector<std::string> TIniFile::ReadSections() const {
    return Reading()->Sections();
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    Write({{std::string(section), std::string(key), std::string(value)}});
}

namespace {

// The lock of path, or the reason it could not be had.
std::unique_ptr<TFileLock> LockFor(const std::string& path) {
    auto lock = std::make_unique<TFileLock>(path);
    if (!lock->Locked() && lock->Error() == EWOULDBLOCK)
        throw EIniFileException("Unable to write to " + path + ": another program keeps it locked");
    return lock;
}

// Applies entries to t, the file's present text, and writes the result; the caller
// holds the lock.
void ApplyEntries(const std::string& path, const std::vector<TIniFile::TEntry>& entries, TIniText t) {
    bool changed = false;
    for (const TIniFile::TEntry& e : entries) {
        if (e.Value) {
            changed = t.Set(e.Section, e.Key, *e.Value) || changed;
        } else if (e.Key.empty()) {
            changed = t.EraseSection(e.Section) || changed;
        } else {
            changed = t.DeleteKey(e.Section, e.Key) || changed;
        }
    }
    if (changed) ReplaceFileAtomically(path, t.Bytes());
}

} // namespace

void TIniFile::Write(const std::vector<TEntry>& entries) {
    held_.reset();
    const auto lock = LockFor(path_);
    ApplyEntries(path_, entries, WritableText(path_));
}

void TIniFile::Update(const std::function<std::vector<TEntry>(const TIniFile& now)>& update) {
    held_.reset();
    const auto lock = LockFor(path_);
    // Read afresh under the lock: a reading kept from before may predate another
    // process's write within the same tick of the file's clock.
    auto text = std::make_shared<const TIniText>(TIniText::Load(path_, true));
    TIniFile now(path_);
    now.held_ = text;
    ApplyEntries(path_, update(now), text->Writable());
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(std::string_view section) {
    Write({{std::string(section), "", std::nullopt}});
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
    Write({{std::string(section), std::string(key), std::nullopt}});
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, bool onlyIfMissing) {
    int err = 0;
    const TAtomicWrite result = WriteFileAtomically(path, bytes, onlyIfMissing, err);
    if (result == TAtomicWrite::Failed) WriteFailed(path, err);
    if (result == TAtomicWrite::KeptExisting) return false;
    NoteOwnWrite(path);
    return true;
}

} // namespace nubo
