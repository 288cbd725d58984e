#include "store/Settings.h"

#include <filesystem>

namespace nubo {

std::string FirstStartSettingsText() {
    return "[Setup]\r\n"
           "Port=21\r\n"
           "MaxUser=0\r\n"
           "LowPASV=2020\r\n"
           "HighPASV=2040\r\n"
           "TrayIcon=0\r\n"
           "Log=0\r\n"
           "Encryption=1\r\n"
           "EnterMessage=Nubo FTP 서버에 접속을 환영합니다. !\r\n"
           "ExitMessage=Nubo FTP 서버를 종료합니다.\r\n";
}

bool TSettingsFile::CreateIfMissing() const {
    return ReplaceFileAtomically(ini_.FileName(), FirstStartSettingsText(), true);
}

void TSettingsFile::SaveDialog(const TDialogValues& v) {
    const std::string s(kSetupSection);
    std::vector<TIniFile::TEntry> entries = {{s, "Port", v.Port},
                                             {s, "MaxUser", std::to_string(v.MaxUser)},
                                             {s, "LowPASV", std::to_string(v.LowPASV)},
                                             {s, "HighPASV", std::to_string(v.HighPASV)},
                                             {s, "TrayIcon", v.TrayIcon ? "1" : "0"},
                                             {s, "Log", v.Log ? "1" : "0"},
                                             {s, "EnterMessage", v.EnterMessage},
                                             {s, "ExitMessage", v.ExitMessage}};
    // The later keys are written only when they change what the file means, so that a
    // file without them stays byte for byte what it was.
    if (v.Encryption != Encryption()) entries.push_back({s, "Encryption", std::to_string(v.Encryption)});
    if (v.ImplicitTlsPort != ImplicitTlsPort()) entries.push_back({s, "ImplicitTlsPort", v.ImplicitTlsPort});
    if (v.PassiveAddress != PassiveAddress()) entries.push_back({s, "PassiveAddress", v.PassiveAddress});
    ini_.Write(entries);
}

std::string TSettingsFile::Beside(const std::string& name) const {
    const std::filesystem::path p(name);
    return p.is_absolute() ? name : (std::filesystem::path(ini_.FileName()).parent_path() / p).string();
}

} // namespace nubo
