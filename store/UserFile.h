#pragma once
// The user file ftp_users.ini: one section per account, named by the login name.
// Every getter reads the file afresh; folders are returned in the engine's path form.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/IniFile.h"

namespace nubo {

inline constexpr std::string_view kUsersFileName = "ftp_users.ini";
inline constexpr int kMaxVirtualEntries = 5; // Dir0 (home) plus four

// Letters of a new account's home entry and of a newly added virtual directory.
inline constexpr std::string_view kNewHomeLetters = "DU_EMRY_S__";
inline constexpr std::string_view kNewDirLetters = "DU_EMRYVS__";

// One DirN value: folder, permission letters and alias joined by "|".
struct TVirtualEntry {
    std::string Folder;
    std::string Letters;
    std::string Alias;
    bool operator==(const TVirtualEntry&) const = default;
};

// Fields split at every "|"; missing fields are empty.
TVirtualEntry ParseVirtualEntry(std::string_view value);
// The home entry (Dir0) is written with an empty alias: folder "|" letters "|".
std::string FormatVirtualEntry(const TVirtualEntry& e);

// The permission boxes of the account dialog.
struct TPermissionBoxes {
    bool Download = false;     // D
    bool Upload = false;       // U
    bool AccessDenied = false; // A
    bool Delete = false;       // E
    bool MakeDir = false;      // M
    bool RemoveDir = false;    // R
    bool Rename = false;       // Y
    bool Virtual = false;      // V
    bool SubDirs = false;      // S
};
// Eleven characters in the fixed order D U A E M R Y V S _ _, "_" for an absent letter.
std::string BuildLetters(const TPermissionBoxes& b);
// Only presence counts, case-sensitively; position does not.
inline bool HasLetter(std::string_view letters, char letter) {
    return letters.find(letter) != std::string_view::npos;
}

// The checks that the account dialogs and nuboftpd's account commands share.
//
// An account's ID names an INI section: "]", "=", a line break or blanks at either end
// would not read back as the same account.
bool IsSafeAccountId(std::string_view id);
// A field of a DirN value (an alias): "|" would split the entry, a line break end it.
bool IsSafeEntryField(std::string_view text);
// The anonymous account takes any password and cannot be removed.
bool IsAnonymousAccount(std::string_view id);
// Permission letters as an operator types them: any of D U A E M R Y V S, each at most
// once, in any order, "_" ignored; the stored eleven-character form, or nothing when a
// letter is unknown or doubled.
std::optional<std::string> NormalizeLetters(std::string_view typed);

// The limits an account's dialog fields hold, with the largest value each accepts:
// sessions per account and per address, the idle time-out in minutes, speeds in KB/s.
struct TLimitRange {
    std::string_view Key;
    int64_t Max;
};
inline constexpr int64_t kMaxTimeOutMinutes = 600;
inline constexpr TLimitRange kLimitRanges[] = {{"MaxUser", 1'000'000},
                                               {"MaxUserIP", 1'000'000},
                                               {"Time-Out", kMaxTimeOutMinutes},
                                               {"MaxSpeed", 100'000'000},
                                               {"MaxUpSpeed", 100'000'000}};
// A whole decimal number from 0 to the key's maximum (0: no limit).
bool ValidLimit(std::string_view key, std::string_view value);

// A virtual directory row against the account's other rows (the home row's alias
// reads "/"), as the directory dialog checks it.
enum class TDirProblem { None, EmptyAlias, UnsafeAlias, EmptyFolder, SameAlias, SameFolder };
TDirProblem CheckDirEntry(const std::vector<TVirtualEntry>& others, std::string_view alias, std::string_view folder);

// The text written when the file is missing at start; programDir ends with a separator.
std::string FirstStartUsersText(std::string_view programDir);

// Folders may be stored natively (/srv/ftp) or in engine form (C:\srv\ftp); readers
// return the engine form. An empty value stays empty.
std::string FolderInEngineForm(std::string_view folder);

class TUserFile {
public:
    explicit TUserFile(std::string path) : ini_(std::move(path)) {}
    // One reading of the file for the steps of one moment (see TIniFile::Held).
    TUserFile Held() const {
        TUserFile f(*this);
        f.ini_ = ini_.Held();
        return f;
    }

    // Writes the default anonymous account when the file does not exist; an existing
    // file is never rewritten. Returns whether it wrote.
    bool CreateIfMissing(std::string_view programDir) const;

    bool UserDisable(std::string_view user) const { return ini_.ReadBool(user, "UserDisable", false); }
    bool VirtualDir(std::string_view user) const { return ini_.ReadBool(user, "VirtualDir", false); }
    std::string Password(std::string_view user) const { return ini_.ReadString(user, "Password", ""); }
    std::string UserMemo(std::string_view user) const { return ini_.ReadString(user, "User_Memo", ""); }
    int64_t MaxUser(std::string_view user) const { return ini_.ReadInteger(user, "MaxUser", 0); }
    int64_t MaxUserIP(std::string_view user) const { return ini_.ReadInteger(user, "MaxUserIP", 0); }
    // Speed limits of downloads and uploads in KB/s, for all the account's sessions together.
    int64_t MaxSpeed(std::string_view user) const { return ini_.ReadInteger(user, "MaxSpeed", 0); }
    int64_t MaxUpSpeed(std::string_view user) const { return ini_.ReadInteger(user, "MaxUpSpeed", 0); }
    int64_t TimeOut(std::string_view user) const { return ini_.ReadInteger(user, "Time-Out", 0); }
    std::string EnterMessage(std::string_view user) const { return ini_.ReadString(user, "EnterMessage", ""); }
    std::string ExitMessage(std::string_view user) const { return ini_.ReadString(user, "ExitMessage", ""); }
    // In engine form, without a separator added.
    std::string HomePath(std::string_view user) const {
        return FolderInEngineForm(ini_.ReadString(user, "HomePath", ""));
    }
    int64_t TotalDownload(std::string_view user) const { return ini_.ReadInteger(user, "TotalDownload", 0); }
    int64_t TotalUpload(std::string_view user) const { return ini_.ReadInteger(user, "TotalUpload", 0); }
    struct TTotals {
        std::string User;
        int64_t Download, Upload;
    };
    // Both totals of every given account, in one replacement of the file.
    void WriteTotals(const std::vector<TTotals>& totals);

    // The server's view: Dir0, Dir1, ... up to the first missing or empty key, folders
    // in engine form.
    std::vector<TVirtualEntry> VirtualEntries(std::string_view user) const;
    // The dialog's view: every non-empty key of Dir0 to Dir4, as stored.
    std::vector<TVirtualEntry> DialogEntries(std::string_view user) const;

    bool HasAccount(std::string_view user) const { return ini_.HasSection(user); }
    // Account names in file order.
    std::vector<std::string> Accounts() const { return ini_.ReadSections(); }
    void EraseAccount(std::string_view user) { ini_.EraseSection(user); }

    // The identity page of the account dialog. The limits are kept as the operator
    // typed them: the server reads a value that is not a number as 0.
    struct TAccount {
        bool UserDisable = false;
        std::string Password;
        std::string UserMemo;
        std::string MaxUser = "0";
        std::string MaxUserIP = "0";
        std::string MaxSpeed = "0";
        std::string MaxUpSpeed = "0";
        std::string TimeOut = "0";
        std::string EnterMessage;
        std::string ExitMessage;
        std::string HomePath;
    };
    // The account as the dialogs show it; a missing limit reads "0".
    TAccount ReadAccount(std::string_view user) const;
    // New account (dir0Letters = kNewHomeLetters) or edit of its identity (the letters
    // Dir0 had): every identity key, the password included, and Dir0 on the home.
    void WriteAccount(std::string_view user, const TAccount& a, std::string_view dir0Letters);
    // The same edit, of only what differs from the account as the dialog was filled
    // (shown): a key another program changed meanwhile and the operator did not touch
    // keeps that change. A changed home rewrites Dir0 with dir0Letters.
    void WriteAccountChanges(std::string_view user, const TAccount& shown, const TAccount& a,
                             std::string_view dir0Letters);
    // Save of the main page: everything but the password; dirs[0] is the home entry.
    // Keys past the listed directories are deleted, so the numbering has no gap.
    void WriteMainPage(std::string_view user, const TAccount& a, const std::vector<TVirtualEntry>& dirs);
    // The same save, of only what differs from the page as it was shown (shown,
    // shownDirs): a key that another program changed meanwhile and the operator did not
    // touch keeps that change. The directories are one unit: any change writes them all.
    void WriteMainPageChanges(std::string_view user, const TAccount& shown, const std::vector<TVirtualEntry>& shownDirs,
                              const TAccount& a, const std::vector<TVirtualEntry>& dirs);

    // A change that depends on the file's content, with no other writer between the
    // reading and the write (see TIniFile::Update).
    void Update(const std::function<std::vector<TIniFile::TEntry>(const TUserFile& now)>& update);
    // What WriteAccount writes, for an Update.
    static std::vector<TIniFile::TEntry> AccountEntries(std::string_view user, const TAccount& a,
                                                        std::string_view dir0Letters);
    // Dir0 .. Dir4 as dirs lists them (dirs[0] the home entry, HomePath with it), the
    // keys past them deleted, for an Update.
    static std::vector<TIniFile::TEntry> DirEntries(std::string_view user, const std::vector<TVirtualEntry>& dirs);

    TIniFile& Ini() { return ini_; }

private:
    static void LimitEntries(std::string_view user, const TAccount& a, std::vector<TIniFile::TEntry>& out);
    TIniFile ini_;
};

} // namespace nubo
