#include "app/AdminCommands.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/ProcessSetup.h"
#include "platform/Terminal.h"
#include "store/AddressLists.h"
#include "store/IniFile.h"
#include "store/PasswordHash.h"
#include "store/Settings.h"
#include "store/UserFile.h"

namespace nubo {

const char* const kAdminUsage =
    "Account commands (they edit the files in the --dir folder and exit; a running server\n"
    "uses the change from the next login):\n"
    "  user list\n"
    "  user show NAME\n"
    "  user add NAME --home DIR [--perm LETTERS] [LIMITS] [--memo TEXT] [--enter-message TEXT]\n"
    "           [--exit-message TEXT] [--disabled] [--stdin | --no-password]\n"
    "  user set NAME [--home DIR] [--perm LETTERS] [LIMITS] [--memo TEXT] [--enter-message TEXT]\n"
    "           [--exit-message TEXT] [--disabled | --enabled]\n"
    "  user passwd NAME [--stdin]\n"
    "  user remove NAME\n"
    "  user vdir add NAME ALIAS DIR [--perm LETTERS]\n"
    "  user vdir remove NAME ALIAS\n"
    "  deny list | deny add ADDRESS | deny remove ADDRESS\n"
    "  allow list | allow add ADDRESS | allow remove ADDRESS\n"
    "  LIMITS: --max-users N  --max-per-ip N  --timeout MINUTES (0-600)\n"
    "          --max-speed KB/s  --max-up-speed KB/s  (0: no limit)\n"
    "  LETTERS: any of D (download) U (upload) A (access denied) E (delete) M (make folder)\n"
    "           R (remove folder) Y (rename) V (virtual) S (subfolders), e.g. DUEMRYS\n"
    "  Passwords are never taken from the command line: user add and user passwd ask twice\n"
    "  on the terminal without echo, or read one line from standard input when it is not\n"
    "  a terminal (or with --stdin). ADDRESS: an address, a prefix (10.0.0.0/8) or a\n"
    "  pattern with * and ? (192.168.*).\n";

namespace {

constexpr const char* kProgram = "nuboftpd";

// The limit options and the keys they set, in the order show prints them.
struct TLimitOption {
    const char* Option;
    const char* Key;
    const char* Label;
    const char* Unit;
};
constexpr TLimitOption kLimitOptions[] = {{"--max-users", "MaxUser", "max-users", ""},
                                          {"--max-per-ip", "MaxUserIP", "max-per-ip", ""},
                                          {"--timeout", "Time-Out", "timeout", " min"},
                                          {"--max-speed", "MaxSpeed", "max-speed", " KB/s"},
                                          {"--max-up-speed", "MaxUpSpeed", "max-up-speed", " KB/s"}};

std::string* LimitField(TUserFile::TAccount& a, std::string_view key) {
    if (key == "MaxUser") return &a.MaxUser;
    if (key == "MaxUserIP") return &a.MaxUserIP;
    if (key == "Time-Out") return &a.TimeOut;
    if (key == "MaxSpeed") return &a.MaxSpeed;
    return &a.MaxUpSpeed;
}

// An error with the exit code it ends the program with.
struct TRefusal {
    int Code;
    std::string Text;
};
TRefusal Refused(std::string text) {
    return {1, std::move(text)};
}
TRefusal BadUsage(std::string text) {
    return {2, std::move(text)};
}

std::string Quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

class TAdmin {
public:
    TAdmin(std::string dir, std::vector<std::string> words) : dir_(std::move(dir)), words_(std::move(words)) {}

    // The exit code; messages on standard output and error.
    int Run();

private:
    // Splits the words after the command's own into positional arguments and options;
    // values lists the options that take a value, flags those that do not.
    void Parse(size_t from, const std::set<std::string>& values, const std::set<std::string>& flags);
    void Positionals(size_t count, const char* names);
    bool Has(const std::string& option) const { return options_.count(option) > 0; }
    const std::string* Option(const std::string& option) const {
        const auto it = options_.find(option);
        return it == options_.end() ? nullptr : &it->second;
    }

    void UserList();
    void UserShow();
    void UserAdd();
    void UserSet();
    void UserPasswd();
    void UserRemove();
    void VdirAdd();
    void VdirRemove();
    void AddressCommand(std::string_view section, const std::string& list);

    // The checked option values of add and set, applied to a.
    void ApplyAccountOptions(TUserFile::TAccount& a, std::string& homeLetters);
    std::string CheckedFolder(const std::string& folder, const char* what) const;
    // A new password as it will be stored, read before any lock is taken.
    std::string NewStoredPassword();
    void Done(const std::string& text) const { std::printf("%s\n", text.c_str()); }

    TUserFile Users() const { return TUserFile(dir_ + std::string(kUsersFileName)); }
    std::string ConfigPath() const { return dir_ + std::string(kSettingsFileName); }

    std::string dir_;
    std::vector<std::string> words_;
    std::string command_; // "user add", for messages
    std::vector<std::string> args_;
    std::map<std::string, std::string> options_;
};

const std::set<std::string> kAccountValues = {"--home",          "--perm",         "--max-users", "--max-per-ip",
                                              "--max-speed",     "--max-up-speed", "--timeout",   "--memo",
                                              "--enter-message", "--exit-message"};

int TAdmin::Run() {
    // The account commands: their words, options with a value, flags, and positional
    // arguments (-1: the command checks them itself).
    struct TVerb {
        const char* Words;
        std::set<std::string> Values, Flags;
        int Args;
        const char* ArgNames;
        void (TAdmin::*Act)();
    };
    static const TVerb verbs[] = {
        {"list", {}, {}, 0, "", &TAdmin::UserList},
        {"show", {}, {}, 1, "NAME", &TAdmin::UserShow},
        {"add", kAccountValues, {"--disabled", "--stdin", "--no-password"}, -1, "", &TAdmin::UserAdd},
        {"set", kAccountValues, {"--disabled", "--enabled"}, -1, "", &TAdmin::UserSet},
        {"passwd", {}, {"--stdin"}, -1, "", &TAdmin::UserPasswd},
        {"remove", {}, {}, 1, "NAME", &TAdmin::UserRemove},
        {"vdir add", {"--perm"}, {}, 3, "NAME ALIAS DIR", &TAdmin::VdirAdd},
        {"vdir remove", {}, {}, 2, "NAME ALIAS", &TAdmin::VdirRemove},
    };
    try {
        const std::string& group = words_[0];
        std::string verb = words_.size() > 1 ? words_[1] : "";
        if (verb == "vdir" && words_.size() > 2) verb += " " + words_[2];
        command_ = group + (verb.empty() ? "" : " " + verb);
        if (group != "user") {
            Parse(1, {}, {});
            AddressCommand(group == "deny" ? kDenySection : kAllowSection, group);
            return 0;
        }
        const TVerb* found = nullptr;
        for (const TVerb& v : verbs)
            if (verb == v.Words) found = &v;
        if (!found) {
            if (verb.empty()) throw BadUsage("expected a command (see --help)");
            if (verb == "vdir") throw BadUsage("expected 'add' or 'remove' (see --help)");
            throw BadUsage("unknown command " + Quoted(verb));
        }
        Parse(verb.find(' ') == std::string::npos ? 2 : 3, found->Values, found->Flags);
        if (found->Args >= 0) Positionals(size_t(found->Args), found->ArgNames);
        (this->*found->Act)();
        return 0;
    } catch (const TRefusal& r) {
        std::fprintf(stderr, "%s: %s: %s\n", kProgram, command_.c_str(), r.Text.c_str());
        if (r.Code == 2) std::fprintf(stderr, "Try '%s --help'.\n", kProgram);
        return r.Code;
    } catch (const std::exception& e) {
        // The files could not be read or written; nothing was half done (writes are atomic).
        std::fprintf(stderr, "%s: %s: %s\n", kProgram, command_.c_str(), e.what());
        return 1;
    }
}

void TAdmin::Parse(size_t from, const std::set<std::string>& values, const std::set<std::string>& flags) {
    bool optionsEnded = false;
    for (size_t i = from; i < words_.size(); ++i) {
        std::string w = words_[i];
        // After "--" every word is an argument, so an alias may start with dashes.
        if (optionsEnded || w.rfind("--", 0) != 0) {
            args_.push_back(w);
            continue;
        }
        if (w == "--") {
            optionsEnded = true;
            continue;
        }
        std::optional<std::string> value;
        if (const size_t eq = w.find('='); eq != std::string::npos) {
            value = w.substr(eq + 1);
            w.resize(eq);
        }
        if (w == "--password" || w == "--pass" || w == "--passwd")
            throw BadUsage("passwords are not taken from the command line (other users can read it); "
                           "use 'user passwd NAME', which reads the terminal or standard input");
        if (values.count(w)) {
            if (!value) {
                if (i + 1 >= words_.size()) throw BadUsage(w + ": missing value");
                value = words_[++i];
            }
            options_[w] = *value;
        } else if (flags.count(w) && !value) {
            options_[w] = "";
        } else {
            throw BadUsage("unknown option " + Quoted(w));
        }
    }
}

void TAdmin::Positionals(size_t count, const char* names) {
    if (args_.size() < count) throw BadUsage(std::string("expected ") + names);
    if (args_.size() > count) throw BadUsage("unexpected argument " + Quoted(args_[count]));
}

std::string TAdmin::CheckedFolder(const std::string& folder, const char* what) const {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(folder, ec).lexically_normal();
    if (folder.empty() || ec || !std::filesystem::is_directory(p, ec))
        throw Refused(std::string(what) + " " + Quoted(folder) + " is not an existing folder");
    std::string s = p.string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    // As the dialogs' folder chooser: a DirN value could not hold it.
    if (!IsSafeEntryField(s)) throw Refused(std::string(what) + " " + Quoted(folder) + " holds '|' or a line break");
    return s;
}

void TAdmin::ApplyAccountOptions(TUserFile::TAccount& a, std::string& homeLetters) {
    for (const TLimitOption& l : kLimitOptions) {
        const std::string* v = Option(l.Option);
        if (!v) continue;
        int64_t max = 0;
        for (const TLimitRange& r : kLimitRanges)
            if (r.Key == l.Key) max = r.Max;
        if (!ValidLimit(l.Key, *v))
            throw Refused(std::string(l.Option) + ": " + Quoted(*v) + " is not a whole number from 0 to " +
                          std::to_string(max));
        *LimitField(a, l.Key) = *v;
    }
    if (const std::string* v = Option("--perm")) {
        const auto letters = NormalizeLetters(*v);
        if (!letters)
            throw Refused("--perm: " + Quoted(*v) + " is not a set of the letters D U A E M R Y V S, each once");
        homeLetters = *letters;
    }
    if (const std::string* v = Option("--home")) a.HomePath = CheckedFolder(*v, "home folder");
    // A message or memo is one INI value: a line break would end it.
    for (const auto& [option, field] : {std::pair{"--memo", &a.UserMemo}, std::pair{"--enter-message", &a.EnterMessage},
                                        std::pair{"--exit-message", &a.ExitMessage}}) {
        const std::string* v = Option(option);
        if (!v) continue;
        if (v->find_first_of("\r\n") != std::string::npos) throw Refused(std::string(option) + ": no line breaks");
        *field = *v;
    }
    if (Has("--disabled")) a.UserDisable = true;
    if (Has("--enabled")) a.UserDisable = false;
}

std::string TAdmin::NewStoredPassword() {
    std::string password;
    if (Has("--stdin") || !StdinIsTerminal()) {
        const auto line = ReadStdinLine(kMaxPasswordLength);
        if (!line) throw Refused("no password on standard input");
        password = *line;
    } else {
        const auto first = ReadHiddenLine("New password: ");
        const auto again = first ? ReadHiddenLine("Repeat the password: ") : std::nullopt;
        if (!first || !again) throw Refused("no password read from the terminal");
        if (*first != *again) throw Refused("the passwords do not match");
        password = *first;
    }
    if (password.empty()) throw Refused("the password is empty");
    // The server refuses longer ones before it looks at them.
    if (password.size() > kMaxPasswordLength)
        throw Refused("the password is longer than " + std::to_string(kMaxPasswordLength) + " bytes");
    if (TSettingsFile(ConfigPath()).PlainPasswords()) return password;
    return MakePasswordHash(password);
}

void TAdmin::UserList() {
    const TUserFile users = Users().Held();
    for (const std::string& name : users.Accounts()) {
        const TUserFile::TAccount a = users.ReadAccount(name);
        std::printf("%s\t%s\t%s\n", name.c_str(), a.UserDisable ? "disabled" : "enabled", a.HomePath.c_str());
    }
}

void TAdmin::UserShow() {
    const std::string& name = args_[0];
    const TUserFile users = Users().Held();
    if (!users.HasAccount(name)) throw Refused("no account " + Quoted(name));
    const TUserFile::TAccount a = users.ReadAccount(name);
    std::string password;
    if (IsAnonymousAccount(name))
        password = "any (anonymous account)";
    else if (a.Password.empty())
        password = "none (an empty password logs in)";
    else if (const TStoredKind kind = StoredKind(a.Password); kind == TStoredKind::Plain)
        password = "plain text";
    else if (kind == TStoredKind::Hashed)
        password = std::string("hashed (") + std::string(kPbkdf2Scheme) + ", " +
                   std::to_string(ParsePasswordHash(a.Password)->Iterations) + " iterations)";
    else
        password = "not a valid hash (its login is refused)";
    const auto line = [](const char* label, const std::string& value) {
        std::printf("%-14s %s\n", label, value.c_str());
    };
    line("account:", name);
    line("state:", a.UserDisable ? "disabled" : "enabled");
    line("password:", password);
    line("memo:", a.UserMemo);
    line("home:", a.HomePath);
    TUserFile::TAccount copy = a;
    for (const TLimitOption& l : kLimitOptions)
        line((std::string(l.Label) + ":").c_str(), *LimitField(copy, l.Key) + l.Unit);
    line("enter-message:", a.EnterMessage);
    line("exit-message:", a.ExitMessage);
    line("downloaded:", std::to_string(users.TotalDownload(name)) + " KB");
    line("uploaded:", std::to_string(users.TotalUpload(name)) + " KB");
    const std::vector<TVirtualEntry> dirs = users.DialogEntries(name);
    for (size_t i = 0; i < dirs.size(); ++i)
        std::printf("%-14s %s  %s  %s\n", i == 0 ? "home folder:" : "folder:", i == 0 ? "/" : dirs[i].Alias.c_str(),
                    dirs[i].Folder.c_str(), dirs[i].Letters.c_str());
}

void TAdmin::UserAdd() {
    Positionals(1, "NAME");
    const std::string& name = args_[0];
    if (name.empty()) throw Refused("the account name is empty");
    if (!IsSafeAccountId(name))
        throw Refused("account name " + Quoted(name) +
                      " may not hold ']', '=' or a line break, nor blanks at either end");
    if (!Has("--home")) throw BadUsage("--home DIR is required");
    if (Has("--stdin") && Has("--no-password")) throw BadUsage("--stdin and --no-password exclude each other");
    TUserFile::TAccount a;
    std::string letters(kNewHomeLetters);
    ApplyAccountOptions(a, letters);
    TUserFile users = Users();
    // Checked before the password is asked for, and again under the lock.
    if (users.HasAccount(name)) throw Refused("account " + Quoted(name) + " already exists");
    const bool noPassword = IsAnonymousAccount(name) || Has("--no-password");
    if (!noPassword) a.Password = NewStoredPassword();
    users.CreateIfMissing(dir_);
    bool exists = false;
    users.Update([&](const TUserFile& now) -> std::vector<TIniFile::TEntry> {
        if ((exists = now.HasAccount(name))) return {};
        return TUserFile::AccountEntries(name, a, letters);
    });
    if (exists) throw Refused("account " + Quoted(name) + " already exists");
    Done("account " + Quoted(name) + " added");
    if (noPassword && !IsAnonymousAccount(name))
        std::fprintf(stderr,
                     "%s: %s: warning: account '%s' has no password: it logs in with an empty one until "
                     "'%s user passwd %s'\n",
                     kProgram, command_.c_str(), name.c_str(), kProgram, name.c_str());
}

void TAdmin::UserSet() {
    Positionals(1, "NAME");
    const std::string& name = args_[0];
    if (options_.empty()) throw BadUsage("nothing to change (see --help)");
    if (Has("--disabled") && Has("--enabled")) throw BadUsage("--disabled and --enabled exclude each other");
    bool missing = false;
    TUserFile users = Users();
    // Only the keys asked for are written: a change another program made to the
    // account's other keys stays.
    TUserFile::TAccount wanted;
    std::string letters;
    ApplyAccountOptions(wanted, letters);
    users.Update([&](const TUserFile& now) {
        std::vector<TIniFile::TEntry> e;
        if ((missing = !now.HasAccount(name))) return e;
        const std::string u = name;
        for (const TLimitOption& l : kLimitOptions)
            if (Has(l.Option)) e.push_back({u, l.Key, *LimitField(wanted, l.Key)});
        if (Has("--memo")) e.push_back({u, "User_Memo", wanted.UserMemo});
        if (Has("--enter-message")) e.push_back({u, "EnterMessage", wanted.EnterMessage});
        if (Has("--exit-message")) e.push_back({u, "ExitMessage", wanted.ExitMessage});
        if (Has("--disabled") || Has("--enabled")) e.push_back({u, "UserDisable", wanted.UserDisable ? "1" : "0"});
        if (Has("--home") || Has("--perm")) {
            std::vector<TVirtualEntry> dirs = now.DialogEntries(name);
            if (dirs.empty()) dirs.push_back({now.ReadAccount(name).HomePath, std::string(kNewHomeLetters), ""});
            if (Has("--home")) dirs[0].Folder = wanted.HomePath;
            if (Has("--perm")) dirs[0].Letters = letters;
            for (auto& d : TUserFile::DirEntries(name, dirs)) e.push_back(std::move(d));
        }
        return e;
    });
    if (missing) throw Refused("no account " + Quoted(name));
    Done("account " + Quoted(name) + " changed");
}

void TAdmin::UserPasswd() {
    if (args_.size() > 1)
        throw BadUsage("passwords are not taken from the command line (other users can read it); "
                       "type it when asked, or give it on standard input");
    Positionals(1, "NAME");
    const std::string& name = args_[0];
    TUserFile users = Users();
    if (!users.HasAccount(name)) throw Refused("no account " + Quoted(name));
    if (IsAnonymousAccount(name)) throw Refused("the anonymous account takes any password; it has none to set");
    const std::string stored = NewStoredPassword();
    bool missing = false;
    users.Update([&](const TUserFile& now) -> std::vector<TIniFile::TEntry> {
        if ((missing = !now.HasAccount(name))) return {};
        return {{name, "Password", stored}};
    });
    if (missing) throw Refused("no account " + Quoted(name));
    Done("password of " + Quoted(name) + " set");
}

void TAdmin::UserRemove() {
    const std::string& name = args_[0];
    if (IsAnonymousAccount(name))
        throw Refused("the anonymous account cannot be removed; 'user set anonymous --disabled' turns it off");
    bool missing = false;
    Users().Update([&](const TUserFile& now) -> std::vector<TIniFile::TEntry> {
        if ((missing = !now.HasAccount(name))) return {};
        return {{name, "", std::nullopt}};
    });
    if (missing) throw Refused("no account " + Quoted(name));
    Done("account " + Quoted(name) + " removed");
}

void TAdmin::VdirAdd() {
    const std::string &name = args_[0], &alias = args_[1];
    std::string letters(kNewDirLetters);
    if (const std::string* v = Option("--perm")) {
        const auto l = NormalizeLetters(*v);
        if (!l) throw Refused("--perm: " + Quoted(*v) + " is not a set of the letters D U A E M R Y V S, each once");
        // A virtual folder always carries its V, as the accounts dialog writes it.
        letters = *l;
        letters[7] = 'V';
    }
    const std::string folder = CheckedFolder(args_[2], "folder");
    std::optional<TRefusal> problem;
    Users().Update([&](const TUserFile& now) {
        std::vector<TIniFile::TEntry> e;
        if (!now.HasAccount(name)) return problem = Refused("no account " + Quoted(name)), e;
        std::vector<TVirtualEntry> dirs = now.DialogEntries(name);
        if (dirs.empty()) return problem = Refused("account " + Quoted(name) + " has no home folder"), e;
        if (dirs.size() >= size_t(kMaxVirtualEntries))
            return problem = Refused("account " + Quoted(name) + " already has " +
                                     std::to_string(kMaxVirtualEntries - 1) + " virtual folders, the most it may"),
                   e;
        std::vector<TVirtualEntry> others = dirs;
        others[0].Alias = "/";
        switch (CheckDirEntry(others, alias, folder)) {
        case TDirProblem::None: break;
        case TDirProblem::EmptyAlias: return problem = Refused("the alias is empty"), e;
        case TDirProblem::UnsafeAlias: return problem = Refused("an alias may not hold '|' or a line break"), e;
        case TDirProblem::EmptyFolder: return problem = Refused("the folder is empty"), e;
        case TDirProblem::SameAlias:
            return problem = Refused("account " + Quoted(name) + " already has a folder named " + Quoted(alias)), e;
        case TDirProblem::SameFolder:
            return problem = Refused("account " + Quoted(name) + " already has the folder " + Quoted(folder)), e;
        }
        dirs.push_back({folder, letters, alias});
        return TUserFile::DirEntries(name, dirs);
    });
    if (problem) throw *problem;
    Done("folder " + Quoted(alias) + " added to " + Quoted(name));
}

void TAdmin::VdirRemove() {
    const std::string &name = args_[0], &alias = args_[1];
    if (alias == "/") throw Refused("the home folder cannot be removed; 'user set NAME --home DIR' changes it");
    std::optional<TRefusal> problem;
    Users().Update([&](const TUserFile& now) {
        std::vector<TIniFile::TEntry> e;
        if (!now.HasAccount(name)) return problem = Refused("no account " + Quoted(name)), e;
        std::vector<TVirtualEntry> dirs = now.DialogEntries(name);
        for (size_t i = 1; i < dirs.size(); ++i) {
            if (dirs[i].Alias != alias) continue;
            dirs.erase(dirs.begin() + i);
            return TUserFile::DirEntries(name, dirs);
        }
        return problem = Refused("account " + Quoted(name) + " has no folder named " + Quoted(alias)), e;
    });
    if (problem) throw *problem;
    Done("folder " + Quoted(alias) + " removed from " + Quoted(name));
}

void TAdmin::AddressCommand(std::string_view section, const std::string& list) {
    const std::string verb = args_.empty() ? "" : args_[0];
    TIniFile config(ConfigPath());
    if (verb == "list") {
        if (args_.size() > 1) throw BadUsage("unexpected argument " + Quoted(args_[1]));
        for (const std::string& entry : ReadAddressList(config, section)) std::printf("%s\n", entry.c_str());
        return;
    }
    if (verb != "add" && verb != "remove")
        throw BadUsage(verb.empty() ? "expected list, add or remove" : "unknown command " + Quoted(verb));
    command_ = list + " " + verb;
    if (args_.size() != 2)
        throw BadUsage(args_.size() < 2 ? "expected ADDRESS" : "unexpected argument " + Quoted(args_[2]));
    const std::string& entry = args_[1];
    TSettingsFile(ConfigPath()).CreateIfMissing();
    const TListChange r =
        verb == "add" ? AddAddressEntry(config, section, entry) : RemoveAddressEntry(config, section, entry);
    switch (r) {
    case TListChange::Done: break;
    case TListChange::Invalid: throw Refused(Quoted(entry) + " is not an address, a prefix or a pattern");
    case TListChange::Duplicate: throw Refused(Quoted(entry) + " is already in the " + list + " list");
    case TListChange::Missing: throw Refused(Quoted(entry) + " is not in the " + list + " list");
    }
    Done(Quoted(entry) + (verb == "add" ? " added to the " : " removed from the ") + list + " list");
}

} // namespace

int RunAdminCommandLine(int argc, char** argv) {
    std::string dir;
    std::vector<std::string> words;
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        // The program's own options may stand anywhere before the command's words.
        if (words.empty() && (a == "--dir" || a == "--port") && i + 1 < argc) {
            if (a == "--dir") dir = argv[i + 1];
            ++i;
            continue;
        }
        if (words.empty() && a.rfind("--", 0) == 0 && a != "--help") return -1;
        if (a == "--help" || a == "-h") {
            help = true;
            continue;
        }
        words.push_back(a);
    }
    if (words.empty() || (words[0] != "user" && words[0] != "deny" && words[0] != "allow")) return -1;
    if (help) {
        std::printf("Usage: %s [--dir DIR] COMMAND ...\n%s", kProgram, kAdminUsage);
        return 0;
    }
    if (dir.empty()) dir = ExecutableFolder();
    // Absolute, since a first account file names the anonymous folder inside it.
    std::error_code ec;
    if (const auto absolute = std::filesystem::absolute(dir, ec); !ec) dir = absolute.lexically_normal().string();
    if (dir.back() != '/') dir += '/';
    return TAdmin(dir, words).Run();
}

} // namespace nubo
