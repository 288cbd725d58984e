#include "store/UserFile.h"

#include "platform/PathMap.h"
#include "platform/Text.h"

namespace nubo {

TVirtualEntry ParseVirtualEntry(std::string_view value) {
    TVirtualEntry e;
    std::string* fields[] = {&e.Folder, &e.Letters, &e.Alias};
    size_t field = 0;
    for (char c : value) {
        if (c == '|') {
            if (++field == 3) break;
        } else {
            *fields[field] += c;
        }
    }
    return e;
}

std::string FormatVirtualEntry(const TVirtualEntry& e) {
    return e.Folder + "|" + e.Letters + "|" + e.Alias;
}

bool IsSafeAccountId(std::string_view id) {
    if (id.find_first_of("]=\r\n") != std::string_view::npos) return false;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
    return id.empty() || (!blank(id.front()) && !blank(id.back()));
}

bool IsSafeEntryField(std::string_view text) {
    return text.find_first_of("|\r\n") == std::string_view::npos;
}

bool IsAnonymousAccount(std::string_view id) {
    return SameText(id, "anonymous");
}

std::optional<std::string> NormalizeLetters(std::string_view typed) {
    TPermissionBoxes b;
    const std::pair<char, bool*> letters[] = {{'D', &b.Download}, {'U', &b.Upload},  {'A', &b.AccessDenied},
                                              {'E', &b.Delete},   {'M', &b.MakeDir}, {'R', &b.RemoveDir},
                                              {'Y', &b.Rename},   {'V', &b.Virtual}, {'S', &b.SubDirs}};
    for (char c : typed) {
        if (c == '_') continue;
        bool known = false;
        for (const auto& [letter, box] : letters) {
            if (c != letter) continue;
            if (*box) return std::nullopt;
            *box = known = true;
        }
        if (!known) return std::nullopt;
    }
    return BuildLetters(b);
}

bool ValidLimit(std::string_view key, std::string_view value) {
    if (value.empty() || value.size() > 18 || value.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    for (const TLimitRange& r : kLimitRanges)
        if (SameText(r.Key, key)) return std::stoll(std::string(value)) <= r.Max;
    return false;
}

TDirProblem CheckDirEntry(const std::vector<TVirtualEntry>& others, std::string_view alias, std::string_view folder) {
    if (alias.empty()) return TDirProblem::EmptyAlias;
    if (!IsSafeEntryField(alias)) return TDirProblem::UnsafeAlias;
    if (folder.empty()) return TDirProblem::EmptyFolder;
    for (const TVirtualEntry& e : others)
        if (e.Alias == alias) return TDirProblem::SameAlias;
    for (const TVirtualEntry& e : others)
        if (e.Folder == folder) return TDirProblem::SameFolder;
    return TDirProblem::None;
}

std::string BuildLetters(const TPermissionBoxes& b) {
    std::string s;
    const auto put = [&](bool on, char letter) { s += on ? letter : '_'; };
    put(b.Download, 'D');
    put(b.Upload, 'U');
    put(b.AccessDenied, 'A');
    put(b.Delete, 'E');
    put(b.MakeDir, 'M');
    put(b.RemoveDir, 'R');
    put(b.Rename, 'Y');
    put(b.Virtual, 'V');
    put(b.SubDirs, 'S');
    return s + "__";
}

std::string FolderInEngineForm(std::string_view folder) {
    return folder.empty() ? std::string() : EnginePath(folder);
}

std::string FirstStartUsersText(std::string_view programDir) {
    const std::string dir(programDir);
    return "[anonymous]\r\n"
           "UserDisable=0\r\n"
           "VirtualDir=1\r\n"
           "password=\r\n"
           "User_Memo=암호없이 접속가능한 익명연결\r\n"
           "MaxUser=0\r\n"
           "MaxUserIP=0\r\n"
           "MaxSpeed=0\r\n"
           "Time-Out=0\r\n"
           "EnterMessage=누보 FTP 서버에 오신것을 환영합니다 !\r\n"
           "ExitMessage=Goodbye !\r\n"
           "HomePath=" +
           dir + "down\r\n" +
           "TotalDownload=0\r\n"
           "TotalUpload=0\r\n"
           "Dir0=" +
           dir + "down|DU_EMRY_S_|\r\n";
}

bool TUserFile::CreateIfMissing(std::string_view programDir) const {
    return ReplaceFileAtomically(ini_.FileName(), FirstStartUsersText(programDir), true);
}

void TUserFile::WriteTotals(const std::vector<TTotals>& totals) {
    std::vector<TIniFile::TEntry> entries;
    for (const TTotals& t : totals) {
        entries.push_back({t.User, "TotalDownload", std::to_string(t.Download)});
        entries.push_back({t.User, "TotalUpload", std::to_string(t.Upload)});
    }
    ini_.Write(entries);
}

std::vector<TVirtualEntry> TUserFile::VirtualEntries(std::string_view user) const {
    std::vector<TVirtualEntry> out;
    for (int i = 0;; ++i) {
        const std::string v = ini_.ReadString(user, "Dir" + std::to_string(i), "");
        if (v.empty()) break;
        out.push_back(ParseVirtualEntry(v));
        out.back().Folder = FolderInEngineForm(out.back().Folder);
    }
    return out;
}

std::vector<TVirtualEntry> TUserFile::DialogEntries(std::string_view user) const {
    std::vector<TVirtualEntry> out;
    for (int i = 0; i < kMaxVirtualEntries; ++i) {
        const std::string v = ini_.ReadString(user, "Dir" + std::to_string(i), "");
        if (!v.empty()) out.push_back(ParseVirtualEntry(v));
    }
    return out;
}

TUserFile::TAccount TUserFile::ReadAccount(std::string_view user) const {
    TAccount a;
    a.UserDisable = UserDisable(user);
    a.Password = Password(user);
    a.UserMemo = UserMemo(user);
    a.MaxUser = ini_.ReadString(user, "MaxUser", "0");
    a.MaxUserIP = ini_.ReadString(user, "MaxUserIP", "0");
    a.MaxSpeed = ini_.ReadString(user, "MaxSpeed", "0");
    a.MaxUpSpeed = ini_.ReadString(user, "MaxUpSpeed", "0");
    a.TimeOut = ini_.ReadString(user, "Time-Out", "0");
    a.EnterMessage = EnterMessage(user);
    a.ExitMessage = ExitMessage(user);
    a.HomePath = ini_.ReadString(user, "HomePath", "");
    return a;
}

namespace {
std::string Flag(bool on) {
    return on ? "1" : "0";
}
} // namespace

// The dialog's keys of one account, appended in the order they have always been written.
void TUserFile::LimitEntries(std::string_view user, const TAccount& a, std::vector<TIniFile::TEntry>& out) {
    const std::string u(user);
    for (const auto& [key, value] : {std::pair<const char*, const std::string&>{"User_Memo", a.UserMemo},
                                     {"MaxUser", a.MaxUser},
                                     {"MaxUserIP", a.MaxUserIP},
                                     {"MaxSpeed", a.MaxSpeed},
                                     {"MaxUpSpeed", a.MaxUpSpeed},
                                     {"Time-Out", a.TimeOut},
                                     {"EnterMessage", a.EnterMessage},
                                     {"ExitMessage", a.ExitMessage}})
        out.push_back({u, key, value});
}

std::vector<TIniFile::TEntry> TUserFile::AccountEntries(std::string_view user, const TAccount& a,
                                                        std::string_view dir0Letters) {
    const std::string u(user);
    std::vector<TIniFile::TEntry> e{
        {u, "UserDisable", Flag(a.UserDisable)}, {u, "VirtualDir", "1"}, {u, "password", a.Password}};
    LimitEntries(user, a, e);
    e.push_back({u, "HomePath", a.HomePath});
    e.push_back({u, "Dir0", FormatVirtualEntry({a.HomePath, std::string(dir0Letters), ""})});
    return e;
}

// Each save is one replacement of the file: a crash never leaves half an account.
void TUserFile::WriteAccount(std::string_view user, const TAccount& a, std::string_view dir0Letters) {
    ini_.Write(AccountEntries(user, a, dir0Letters));
}

void TUserFile::WriteAccountChanges(std::string_view user, const TAccount& shown, const TAccount& a,
                                    std::string_view dir0Letters) {
    const std::string u(user);
    std::vector<TIniFile::TEntry> e;
    if (a.UserDisable != shown.UserDisable) e.push_back({u, "UserDisable", Flag(a.UserDisable)});
    if (a.Password != shown.Password) e.push_back({u, "password", a.Password});
    std::vector<TIniFile::TEntry> now, before;
    LimitEntries(user, a, now);
    LimitEntries(user, shown, before);
    for (size_t i = 0; i < now.size(); ++i)
        if (now[i].Value != before[i].Value) e.push_back(std::move(now[i]));
    if (a.HomePath != shown.HomePath) {
        e.push_back({u, "HomePath", a.HomePath});
        e.push_back({u, "Dir0", FormatVirtualEntry({a.HomePath, std::string(dir0Letters), ""})});
    }
    if (!e.empty()) ini_.Write(e);
}

std::vector<TIniFile::TEntry> TUserFile::DirEntries(std::string_view user, const std::vector<TVirtualEntry>& dirs) {
    const std::string u(user);
    std::vector<TIniFile::TEntry> e;
    for (size_t i = 0; i < dirs.size(); ++i) {
        TVirtualEntry d = dirs[i];
        if (i == 0) {
            d.Alias.clear();
            e.push_back({u, "HomePath", d.Folder});
        }
        e.push_back({u, "Dir" + std::to_string(i), FormatVirtualEntry(d)});
    }
    for (size_t i = dirs.size(); i < size_t(kMaxVirtualEntries); ++i)
        e.push_back({u, "Dir" + std::to_string(i), std::nullopt});
    return e;
}

void TUserFile::WriteMainPage(std::string_view user, const TAccount& a, const std::vector<TVirtualEntry>& dirs) {
    const std::string u(user);
    std::vector<TIniFile::TEntry> e{{u, "UserDisable", Flag(a.UserDisable)}, {u, "VirtualDir", "1"}};
    LimitEntries(user, a, e);
    for (auto& d : DirEntries(user, dirs)) e.push_back(std::move(d));
    ini_.Write(e);
}

void TUserFile::WriteMainPageChanges(std::string_view user, const TAccount& shown,
                                     const std::vector<TVirtualEntry>& shownDirs, const TAccount& a,
                                     const std::vector<TVirtualEntry>& dirs) {
    const std::string u(user);
    std::vector<TIniFile::TEntry> e;
    if (a.UserDisable != shown.UserDisable) e.push_back({u, "UserDisable", Flag(a.UserDisable)});
    std::vector<TIniFile::TEntry> now, before;
    LimitEntries(user, a, now);
    LimitEntries(user, shown, before);
    for (size_t i = 0; i < now.size(); ++i)
        if (now[i].Value != before[i].Value) e.push_back(std::move(now[i]));
    if (dirs != shownDirs)
        for (auto& d : DirEntries(user, dirs)) e.push_back(std::move(d));
    if (!e.empty()) ini_.Write(e);
}

void TUserFile::Update(const std::function<std::vector<TIniFile::TEntry>(const TUserFile& now)>& update) {
    ini_.Update([&](const TIniFile& now) {
        TUserFile view(*this);
        view.ini_ = now;
        return update(view);
    });
}

} // namespace nubo
