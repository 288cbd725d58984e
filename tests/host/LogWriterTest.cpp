#include "host/LogWriter.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

namespace nubo {
namespace {

using test::ReadBytes;
using test::TTempDir;

std::string Text(const TLogLine& line) {
    std::string s;
    for (const auto& r : line) s += r.Text;
    return s;
}

std::chrono::system_clock::time_point LocalTime(int y, int mo, int d, int h, int mi, int s) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

// Records what a console would draw.
struct TRecordingView : TLogView {
    std::vector<std::pair<int, std::string>> added;
    std::vector<int> removed;
    int cleared = 0;
    void LineAdded(int pane, const TLogLine& line) override { added.emplace_back(pane, Text(line)); }
    void FirstLineRemoved(int pane) override { removed.push_back(pane); }
    void PanesCleared() override { ++cleared; }
};

class LogWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(tmp.Dir() + "log");
        log.Now = [this] { return now; };
        log.SetView(&view);
    }
    std::string DailyFile(const char* date) { return tmp.Dir() + "log/log-" + date + ".log"; }

    TTempDir tmp;
    TSettings settings;
    TLogWriter log{settings, tmp.Dir()};
    TRecordingView view;
    std::chrono::system_clock::time_point now = LocalTime(2026, 12, 8, 23, 59, 58);
};

TEST_F(LogWriterTest, PaneLinesWithAndWithoutTheDate) {
    log.WriteLog(lpSystem, "FTP Port: " + LogRun(kLogPort, "2121"));
    settings.AddDate = true;
    log.WriteLog(lpConnect, "hello");
    EXPECT_EQ(view.added, (std::vector<std::pair<int, std::string>>{{lpSystem, "[23:59:58] - FTP Port: 2121"},
                                                                    {lpConnect, "[2026-12-08 - 23:59:58] - hello"}}));
    // Brackets in colour 1, the time in colour 6, the message black.
    const TLogLine& line = log.Pane(lpSystem).Lines().back();
    EXPECT_EQ(line.front(), (TColourRun{0xEA990B, "["}));
    EXPECT_EQ(line.back(), (TColourRun{0x000000, "FTP Port: 2121"}));
    EXPECT_FALSE(std::filesystem::exists(DailyFile("2026-12-08"))); // Log is off
}

TEST_F(LogWriterTest, DailyFileHoldsPlainLinesAndFollowsTheDate) {
    settings.Log = true;
    log.WriteLog(lpSystem, "FTP Port: " + LogRun(kLogPort, "2121"));
    now += std::chrono::seconds(3);
    log.WriteLog(lpTransfer, ConnectionPrefix(7) + "File Delete: " + LogRun(kLogFile, "a>b.txt"));
    log.WriteLog(lpTransfer, "second day");
    EXPECT_EQ(ReadBytes(DailyFile("2026-12-08")), "[23:59:58] - FTP Port: 2121\r\n");
    EXPECT_EQ(ReadBytes(DailyFile("2026-12-09")),
              "[00:00:01] - [7] File Delete: a>b.txt\r\n[00:00:01] - second day\r\n");
}

TEST_F(LogWriterTest, AnUnwritableFileIsReportedOnceAndNeverStopsTheMessage) {
    settings.Log = true;
    std::filesystem::remove_all(tmp.Dir() + "log");
    log.WriteLog(lpConnect, "one");
    log.WriteLog(lpConnect, "two");
    ASSERT_EQ(view.added.size(), 3u);
    EXPECT_EQ(view.added[0], (std::pair<int, std::string>{lpConnect, "[23:59:58] - one"}));
    EXPECT_EQ(view.added[1].first, lpSystem);
    EXPECT_NE(view.added[1].second.find("The log file cannot be written: " + tmp.Dir() + "log/"), std::string::npos);
    EXPECT_EQ(view.added[2], (std::pair<int, std::string>{lpConnect, "[23:59:58] - two"}));

    // Once the folder is back, a later failure is reported again.
    std::filesystem::create_directory(tmp.Dir() + "log");
    log.WriteLog(lpConnect, "three");
    std::filesystem::remove_all(tmp.Dir() + "log");
    log.WriteLog(lpConnect, "four");
    EXPECT_EQ(log.Pane(lpSystem).Lines().size(), 2u);
}

TEST_F(LogWriterTest, FullPanesKeepTheLatestLinesAndEveryPaneIsTrimmed) {
    for (int i = 0; i < 4999; ++i) log.WriteLog(lpSystem, "s" + std::to_string(i));
    for (int i = 0; i < 4998; ++i) log.WriteLog(lpConnect, "c");
    EXPECT_EQ(log.Pane(lpSystem).Lines().size(), 4999u);
    EXPECT_TRUE(view.removed.empty());

    log.WriteLog(lpSystem, "s4999"); // the 5000th line removes the first
    EXPECT_EQ(log.Pane(lpSystem).Lines().size(), 4999u);
    EXPECT_EQ(Text(log.Pane(lpSystem).Lines().front()), "[23:59:58] - s1");
    EXPECT_EQ(Text(log.Pane(lpSystem).Lines().back()), "[23:59:58] - s4999");

    // A line written to pane 1 reaching 5000 there trims pane 1 only; pane 0 stays full.
    log.WriteLog(lpConnect, "c");
    log.WriteLog(lpConnect, "c");
    EXPECT_EQ(log.Pane(lpConnect).Lines().size(), 4999u);
    EXPECT_EQ(view.removed, (std::vector<int>{lpSystem, lpConnect}));

    log.Clear();
    EXPECT_EQ(view.cleared, 1);
    log.WriteLog(lpTransfer, "after");
    EXPECT_TRUE(log.Pane(lpSystem).Lines().empty());
    EXPECT_EQ(log.Pane(lpTransfer).Lines().size(), 1u);
}

TEST_F(LogWriterTest, PlainLinesAndTheStreamView) {
    std::string path = tmp.File("out.txt");
    FILE* out = std::fopen(path.c_str(), "w");
    ASSERT_NE(out, nullptr);
    TStreamLogView stream(out);
    log.SetView(&stream);
    log.WritePlain(lpSystem, "Nubo FTP Server Version 2.0.0");
    log.WritePlain(lpSystem, "");
    log.WriteLog(lpConnect, "User " + LogRun(kLogUser, "evil\x1B[2J\r\nname") + " Connected");
    std::fclose(out);
    EXPECT_EQ(ReadBytes(path), "system: Nubo FTP Server Version 2.0.0\nsystem: \n"
                               "connect: [23:59:58] - User evil?[2J??name Connected\n");
}

} // namespace
} // namespace nubo
