#include "host/TotalsLedger.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tests/support/RunUntil.h"
#include "tests/support/TempDir.h"

namespace nubo {
namespace {

using test::ReadBytes;
using test::RunUntil;
using test::TTempDir;
using test::WriteBytes;

TEST(TotalsLedger, AdditionsReachTheFileTogetherAfterTheDelay) {
    TTempDir tmp;
    const std::string path = tmp.File("ftp_users.ini");
    WriteBytes(path, "[bob]\r\nPassword=x\r\nTotalDownload=100\r\n[amy]\r\nPassword=y\r\n");
    TEventLoop& loop = TEventLoop::Current();
    TTotalsLedger ledger([&] { return TUserFile(path); }, loop);
    EXPECT_EQ(ledger.AddDownload("bob", 3), 103);
    EXPECT_EQ(ledger.AddDownload("BOB", 4), 107); // sections match without regard to case
    EXPECT_EQ(ledger.AddUpload("amy", 5), 5);
    EXPECT_EQ(ledger.AddDownload("bob", 0), 107);
    EXPECT_EQ(TUserFile(path).TotalDownload("bob"), 100); // nothing written yet

    RunUntil([&] { return !ledger.Pending(); }, 5000);
    EXPECT_FALSE(ledger.Pending());
    EXPECT_EQ(ReadBytes(path), "[bob]\r\nPassword=x\r\nTotalDownload=107\r\nTotalUpload=0\r\n"
                               "[amy]\r\nPassword=y\r\nTotalDownload=0\r\nTotalUpload=5\r\n");
}

TEST(TotalsLedger, SettleNeverLowersAndAFailedWriteKeepsTheAdditions) {
    TTempDir tmp;
    const std::string path = tmp.File("sub/ftp_users.ini"); // its folder is missing at first
    std::vector<std::string> errors;
    TTotalsLedger ledger([&] { return TUserFile(path); }, TEventLoop::Current());
    ledger.OnError = [&](const std::string& e) { errors.push_back(e); };

    EXPECT_EQ(ledger.AddUpload("bob", 7), 7);
    ledger.Settle("bob", 50, 2); // this session's copies: 50 KB down, 2 KB up
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("ftp_users.ini"), std::string::npos) << errors[0];
    EXPECT_TRUE(ledger.Pending());

    std::filesystem::create_directory(tmp.File("sub"));
    ledger.Flush();
    EXPECT_FALSE(ledger.Pending());
    EXPECT_EQ(TUserFile(path).TotalDownload("bob"), 50);
    EXPECT_EQ(TUserFile(path).TotalUpload("bob"), 7);

    // Another session raised the file meanwhile: a stale copy does not lower it.
    TUserFile(path).WriteTotals({{"bob", 80, 9}});
    ledger.Settle("bob", 50, 7);
    EXPECT_EQ(TUserFile(path).TotalDownload("bob"), 80);
    EXPECT_EQ(TUserFile(path).TotalUpload("bob"), 9);
    EXPECT_EQ(errors.size(), 1u);
}

} // namespace
} // namespace nubo
