#include "host/LoadSettings.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

namespace nubo {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

TEST(LoadSettings, AppliesPortRangeAndFlags) {
    TTempDir tmp;
    const TSettingsFile file(tmp.File("ftp_config.ini"));
    file.CreateIfMissing();
    TFtpServer server;
    TSettings settings;
    LoadSettings(file, server, settings);
    EXPECT_EQ(server.Port, "21");
    EXPECT_EQ(server.PasvPortRangeStart(), 2020);
    EXPECT_EQ(server.PasvPortRangeSize(), 20); // 2040 itself is not used

    WriteBytes(file.Ini().FileName(), "[setup]\r\nport=2121\r\nMaxUser=3\r\nLog=5\r\nAddDate=1\r\n"
                                      "HideVersion=1\r\nLowPASV=0\r\nHighPASV=0\r\n");
    LoadSettings(file, server, settings);
    EXPECT_EQ(server.Port, "2121");
    EXPECT_EQ(server.PasvPortRangeStart(), 0);
    EXPECT_EQ(server.PasvPortRangeSize(), 0);
    EXPECT_TRUE(settings.Log && settings.AddDate && settings.HideVersion);
    EXPECT_EQ(settings.MaxUser, 3);
}

TEST(LoadSettings, FailedLoginKeysFallBackToTheirDefaultsOutOfRange) {
    TTempDir tmp;
    const TSettingsFile file(tmp.File("ftp_config.ini"));
    TFtpServer server;
    const struct {
        const char* text;
        int64_t delay, failures, window, time;
        bool loopback;
    } cases[] = {
        {"", 1, 5, 600, 3600, false},
        {"LoginFailDelay=0\r\nBanFailures=0\r\nBanWindow=1\r\nBanTime=1\r\nBanLoopback=1\r\n", 0, 0, 1, 1, true},
        {"LoginFailDelay=60\r\nBanFailures=1000\r\nBanWindow=86400\r\nBanTime=2592000\r\n", 60, 1000, 86400, 2592000,
         false},
        {"LoginFailDelay=61\r\nBanFailures=-1\r\nBanWindow=0\r\nBanTime=2592001\r\n", 1, 5, 600, 3600, false},
        {"LoginFailDelay=x\r\nBanFailures=1001\r\nBanWindow=-5\r\nBanTime=0\r\n", 1, 5, 600, 3600, false},
    };
    for (const auto& c : cases) {
        WriteBytes(file.Ini().FileName(), std::string("[Setup]\r\nLowPASV=0\r\nHighPASV=0\r\n") + c.text);
        TSettings settings;
        settings.LoginFailDelay = settings.BanFailures = settings.BanWindow = settings.BanTime = -7;
        LoadSettings(file, server, settings);
        EXPECT_EQ(settings.LoginFailDelay, c.delay) << c.text;
        EXPECT_EQ(settings.BanFailures, c.failures) << c.text;
        EXPECT_EQ(settings.BanWindow, c.window) << c.text;
        EXPECT_EQ(settings.BanTime, c.time) << c.text;
        EXPECT_EQ(settings.BanLoopback, c.loopback) << c.text;
    }
}

TEST(LoadSettings, InvalidRangesStopTheLoadAtTheirStep) {
    const struct {
        const char* range;
        const char* message;
    } cases[] = {
        {"LowPASV=2021\r\nHighPASV=2020", "Invalid PasvPortRangeSize -1."},
        {"LowPASV=70000\r\nHighPASV=70001", "Invalid PasvPortRangeStart 70000."},
        {"LowPASV=-1\r\nHighPASV=5", "Invalid PasvPortRangeStart -1."},
        {"LowPASV=65000\r\nHighPASV=65537", "Invalid PasvPortRangeSize 537."},
    };
    for (const auto& c : cases) {
        TTempDir tmp;
        const TSettingsFile file(tmp.File("ftp_config.ini"));
        WriteBytes(file.Ini().FileName(), std::string("[Setup]\r\nPort=2121\r\nHideVersion=1\r\n") + c.range + "\r\n");
        TFtpServer server;
        TSettings settings;
        try {
            LoadSettings(file, server, settings);
            ADD_FAILURE() << c.range << ": no error";
        } catch (const ERangeError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_EQ(server.Port, "2121");     // keys before the error are applied
        EXPECT_FALSE(settings.HideVersion); // keys after it are not
    }
    // The last port of the space is still a valid range.
    TTempDir tmp;
    const TSettingsFile file(tmp.File("ftp_config.ini"));
    WriteBytes(file.Ini().FileName(), "[Setup]\r\nLowPASV=65535\r\nHighPASV=65536\r\n");
    TFtpServer server;
    TSettings settings;
    LoadSettings(file, server, settings);
    EXPECT_EQ(server.PasvPortRangeSize(), 1);
}

TEST(CreateFirstStartFiles, CreatesWhatIsMissingAndKeepsWhatExists) {
    TTempDir tmp;
    CreateFirstStartFiles(tmp.Dir());
    for (const char* dir : {"log", "down"}) EXPECT_TRUE(std::filesystem::is_directory(tmp.File(dir)));
    const std::string users = ReadBytes(tmp.File("ftp_users.ini"));
    EXPECT_NE(users.find("HomePath=" + tmp.Dir() + "down\r\n"), std::string::npos);
    EXPECT_EQ(ReadBytes(tmp.File("ftp_config.ini")), FirstStartSettingsText());

    WriteBytes(tmp.File("ftp_config.ini"), "[Setup]\r\nPort=99\r\n");
    std::filesystem::remove(tmp.File("ftp_users.ini"));
    CreateFirstStartFiles(tmp.Dir());
    EXPECT_EQ(ReadBytes(tmp.File("ftp_config.ini")), "[Setup]\r\nPort=99\r\n");
    EXPECT_EQ(ReadBytes(tmp.File("ftp_users.ini")), users);
}

} // namespace
} // namespace nubo
