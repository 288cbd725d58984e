#include "host/LoadSettings.h"

#include <algorithm>
#include <climits>
#include <filesystem>

#include "store/UserFile.h"

namespace nubo {

namespace {

// Out-of-range numbers reach the server's own range check, which refuses them.
int ClampToInt(int64_t v) {
    return int(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

} // namespace

void LoadSettings(const TSettingsFile& file, TFtpServer& server, TSettings& settings) {
    settings.AddDate = file.AddDate();
    settings.Log = file.Log();
    server.Port = file.Port();
    server.Addr = file.ListenAddress();
    settings.MaxUser = file.MaxUser();
    server.SetPasvPortRangeStart(ClampToInt(file.LowPASV()));
    const int64_t size = file.HighPASV() - server.PasvPortRangeStart();
    if (server.PasvPortRangeStart() + size > 65536)
        throw ERangeError("Invalid PasvPortRangeSize " + std::to_string(size) + ".");
    server.SetPasvPortRangeSize(ClampToInt(size));
    settings.HideVersion = file.HideVersion();
    settings.LoginTimeOut = file.LoginTimeOut();
    server.PasvTimeoutSec = ClampToInt(file.PasvTimeOut());
    settings.MaxPendingIP = file.MaxPendingIP();
    settings.PlainPasswords = file.PlainPasswords();
    settings.LoginFailDelay = file.LoginFailDelay();
    settings.BanFailures = file.BanFailures();
    settings.BanWindow = file.BanWindow();
    settings.BanTime = file.BanTime();
    settings.BanLoopback = file.BanLoopback();
}

void CreateFirstStartFiles(std::string_view programDir) {
    const std::string dir(programDir);
    std::filesystem::create_directories(dir + "log");
    std::filesystem::create_directories(dir + "down");
    TSettingsFile(dir + std::string(kSettingsFileName)).CreateIfMissing();
    TUserFile(dir + std::string(kUsersFileName)).CreateIfMissing(dir);
}

} // namespace nubo
