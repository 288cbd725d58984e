#include "store/Settings.h"

namespace nubo {

std::string FirstStartSettingsText() {
    return "[Setup]\r\n"
           "Port=21\r\n"
           "MaxUser=0\r\n"
           "LowPASV=2020\r\n"
           "HighPASV=2021\r\n"
           "TrayIcon=0\r\n"
           "Log=0\r\n"
           "Encryption=0\r\n"
           "EnterMessage=Nubo FTP 서버에 접속을 환영합니다. !\r\n"
           "ExitMessage=Nubo FTP 서버를 종료합니다.\r\n";
}

bool TSettingsFile::CreateIfMissing() const {
    return ReplaceFileAtomically(ini_.FileName(), FirstStartSettingsText(), true);
}

void TSettingsFile::SaveDialog(const TDialogValues& v) {
    ini_.WriteString(kSetupSection, "Port", v.Port);
    ini_.WriteInteger(kSetupSection, "MaxUser", v.MaxUser);
    ini_.WriteInteger(kSetupSection, "LowPASV", v.LowPASV);
    ini_.WriteInteger(kSetupSection, "HighPASV", v.HighPASV);
    ini_.WriteBool(kSetupSection, "TrayIcon", v.TrayIcon);
    ini_.WriteBool(kSetupSection, "Log", v.Log);
    ini_.WriteString(kSetupSection, "EnterMessage", v.EnterMessage);
    ini_.WriteString(kSetupSection, "ExitMessage", v.ExitMessage);
}

} // namespace nubo
