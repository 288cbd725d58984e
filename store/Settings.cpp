#include "store/Settings.h"

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
    ini_.Write({{s, "Port", v.Port},
                {s, "MaxUser", std::to_string(v.MaxUser)},
                {s, "LowPASV", std::to_string(v.LowPASV)},
                {s, "HighPASV", std::to_string(v.HighPASV)},
                {s, "TrayIcon", v.TrayIcon ? "1" : "0"},
                {s, "Log", v.Log ? "1" : "0"},
                {s, "EnterMessage", v.EnterMessage},
                {s, "ExitMessage", v.ExitMessage}});
}

} // namespace nubo
