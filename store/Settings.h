#pragma once
// The server settings file ftp_config.ini, section "Setup": its keys, defaults and
// first-start text. Every getter reads the file afresh.

#include <cstdint>
#include <string>
#include <string_view>

#include "store/IniFile.h"

namespace nubo {

inline constexpr std::string_view kSettingsFileName = "ftp_config.ini";
inline constexpr std::string_view kSetupSection = "Setup";

// The values the server keeps in memory between two loads of the file.
struct TSettings {
    bool AddDate = false;
    bool Log = false;
    int64_t MaxUser = 0;
    bool HideVersion = false;
    std::string LangSpec;
    // Seconds a connection may take to log in, and connections from one address that
    // may wait for their login at once (0: no limit).
    int64_t LoginTimeOut = 60;
    int64_t MaxPendingIP = 10;
    // Passwords stay plain text in the account file (for a file that goes back to an
    // older installation); otherwise they are stored hashed.
    bool PlainPasswords = false;
    // Failed logins: seconds before the "530" (0: at once); failures from one address
    // within BanWindow seconds that ban it for BanTime seconds (0: no bans); whether
    // loopback addresses may be banned.
    int64_t LoginFailDelay = 1;
    int64_t BanFailures = 5;
    int64_t BanWindow = 600;
    int64_t BanTime = 3600;
    bool BanLoopback = false;
};

// The text written when the file is missing at start.
std::string FirstStartSettingsText();

class TSettingsFile {
public:
    explicit TSettingsFile(std::string path) : ini_(std::move(path)) {}

    // Writes the first-start text when the file does not exist; an existing file,
    // whatever it holds, is never touched. Returns whether it wrote.
    bool CreateIfMissing() const;

    std::string Port() const { return ini_.ReadString(kSetupSection, "Port", "21"); }
    // The address the server listens on; empty: every address, IPv4 and IPv6.
    std::string ListenAddress() const { return ini_.ReadString(kSetupSection, "ListenAddress", ""); }
    int64_t MaxUser() const { return ini_.ReadInteger(kSetupSection, "MaxUser", 0); }
    int64_t LowPASV() const { return ini_.ReadInteger(kSetupSection, "LowPASV", 0); }
    int64_t HighPASV() const { return ini_.ReadInteger(kSetupSection, "HighPASV", 0); }
    // The address PASV announces to clients outside the local network: an address, a
    // name, or "auto" (the online service's view); empty: the local address.
    std::string PassiveAddress() const { return ini_.ReadString(kSetupSection, "PassiveAddress", ""); }
    bool TrayIcon() const { return ini_.ReadBool(kSetupSection, "TrayIcon", false); }
    bool Log() const { return ini_.ReadBool(kSetupSection, "Log", false); }
    bool AddDate() const { return ini_.ReadBool(kSetupSection, "AddDate", false); }
    bool HideVersion() const { return ini_.ReadBool(kSetupSection, "HideVersion", false); }
    int64_t LoginTimeOut() const { return ini_.ReadInteger(kSetupSection, "LoginTimeOut", 60); }
    int64_t PasvTimeOut() const { return ini_.ReadInteger(kSetupSection, "PasvTimeOut", 30); }
    int64_t MaxPendingIP() const { return ini_.ReadInteger(kSetupSection, "MaxPendingIP", 10); }
    bool PlainPasswords() const { return ini_.ReadBool(kSetupSection, "PlainPasswords", false); }
    // A value outside its range reads as the default.
    int64_t LoginFailDelay() const { return Bounded("LoginFailDelay", 1, 0, 60); }
    int64_t BanFailures() const { return Bounded("BanFailures", 5, 0, 1000); }
    int64_t BanWindow() const { return Bounded("BanWindow", 600, 1, 86400); }
    int64_t BanTime() const { return Bounded("BanTime", 3600, 1, 2592000); }
    bool BanLoopback() const { return ini_.ReadBool(kSetupSection, "BanLoopback", false); }
    bool DisableNOOP() const { return ini_.ReadBool(kSetupSection, "DisableNOOP", false); }
    std::string EnterMessage() const { return ini_.ReadString(kSetupSection, "EnterMessage", ""); }
    std::string ExitMessage() const { return ini_.ReadString(kSetupSection, "ExitMessage", ""); }
    std::string LangSpec() const { return ini_.ReadString(kSetupSection, "LangSpec", ""); }
    // The web service's base address (ending with "nuboftp/"); empty: no online calls.
    std::string ServiceURL() const { return ini_.ReadString(kSetupSection, "ServiceURL", ""); }
    // TLS: 0 off (what a file without the key means), 1 offered, 2 required.
    int64_t Encryption() const { return ini_.ReadInteger(kSetupSection, "Encryption", 0); }
    // The PEM files of the server's certificate and key, as the file names them.
    std::string TlsCertificate() const { return ini_.ReadString(kSetupSection, "TlsCertificate", "ftp_cert.pem"); }
    std::string TlsKey() const { return ini_.ReadString(kSetupSection, "TlsKey", "ftp_key.pem"); }
    // The same as paths: a relative name is in this file's folder (the program folder).
    std::string TlsCertificatePath() const { return Beside(TlsCertificate()); }
    std::string TlsKeyPath() const { return Beside(TlsKey()); }
    // The port of implicit TLS, encrypted from the first byte (commonly 990); 0: none.
    std::string ImplicitTlsPort() const { return ini_.ReadString(kSetupSection, "ImplicitTlsPort", "0"); }

    // What the settings dialog stores, as its fields hold it (no checks).
    struct TDialogValues {
        std::string Port;
        int64_t MaxUser = 0;
        int64_t LowPASV = 0;
        int64_t HighPASV = 0;
        bool TrayIcon = false;
        bool Log = false;
        std::string EnterMessage;
        std::string ExitMessage;
        int64_t Encryption = 0;
        std::string ImplicitTlsPort = "0";
        std::string PassiveAddress;
    };
    void SaveDialog(const TDialogValues& v);

    // The same file also holds the address lists.
    TIniFile& Ini() { return ini_; }
    const TIniFile& Ini() const { return ini_; }

private:
    std::string Beside(const std::string& name) const;
    int64_t Bounded(const char* key, int64_t fallback, int64_t low, int64_t high) const {
        const int64_t v = ini_.ReadInteger(kSetupSection, key, fallback);
        return v < low || v > high ? fallback : v;
    }

    TIniFile ini_;
};

} // namespace nubo
