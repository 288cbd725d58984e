#include <gtest/gtest.h>

#include "store/Settings.h"
#include "store/UserFile.h"
#include "tests/support/TempDir.h"

namespace nubo {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

TEST(SettingsFile, FirstStartWritesTheTenLinesOnceAndNeverAgain) {
    TTempDir tmp;
    const TSettingsFile file(tmp.File("ftp_config.ini"));
    ASSERT_TRUE(file.CreateIfMissing());
    const std::string expected = "[Setup]\r\nPort=21\r\nMaxUser=0\r\nLowPASV=2020\r\nHighPASV=2040\r\n"
                                 "TrayIcon=0\r\nLog=0\r\nEncryption=1\r\n"
                                 "EnterMessage=Nubo FTP 서버에 접속을 환영합니다. !\r\n"
                                 "ExitMessage=Nubo FTP 서버를 종료합니다.\r\n";
    EXPECT_EQ(ReadBytes(file.Ini().FileName()), expected);
    EXPECT_EQ(file.LowPASV(), 2020);
    EXPECT_EQ(file.HighPASV(), 2040);
    EXPECT_EQ(file.EnterMessage(), "Nubo FTP 서버에 접속을 환영합니다. !");

    WriteBytes(file.Ini().FileName(), "");
    EXPECT_FALSE(file.CreateIfMissing());
    EXPECT_EQ(ReadBytes(file.Ini().FileName()), "");
}

TEST(SettingsFile, AnEmptyFileGivesEveryDefault) {
    TTempDir tmp;
    WriteBytes(tmp.File("ftp_config.ini"), "");
    const TSettingsFile f(tmp.File("ftp_config.ini"));
    EXPECT_EQ(f.Port(), "21");
    EXPECT_EQ(f.MaxUser(), 0);
    EXPECT_EQ(f.LowPASV(), 0);
    EXPECT_EQ(f.HighPASV(), 0);
    EXPECT_FALSE(f.TrayIcon() || f.Log() || f.AddDate() || f.HideVersion() || f.DisableNOOP());
    EXPECT_EQ(f.EnterMessage() + f.ExitMessage() + f.LangSpec(), "");
}

TEST(SettingsFile, TheDialogSaveKeepsUnknownKeysAndTheAddressLists) {
    TTempDir tmp;
    TSettingsFile f(tmp.File("ftp_config.ini"));
    f.CreateIfMissing();
    f.Ini().WriteString("IP Deny", "IP0", "10.*");
    f.SaveDialog({"2121", 5, 3000, 3010, true, true, "hello", "bye", 2, "990", ""});
    EXPECT_EQ(ReadBytes(f.Ini().FileName()),
              "[Setup]\r\nPort=2121\r\nMaxUser=5\r\nLowPASV=3000\r\nHighPASV=3010\r\n"
              "TrayIcon=1\r\nLog=1\r\nEncryption=2\r\nEnterMessage=hello\r\nExitMessage=bye\r\n"
              "ImplicitTlsPort=990\r\n[IP Deny]\r\nIP0=10.*\r\n");
}

TEST(SettingsFile, CertificateFilesAreBesideTheSettingsUnlessNamedAbsolutely) {
    TTempDir tmp;
    TSettingsFile f(tmp.File("ftp_config.ini"));
    EXPECT_EQ(f.TlsCertificatePath(), tmp.File("ftp_cert.pem"));
    EXPECT_EQ(f.TlsKeyPath(), tmp.File("ftp_key.pem"));
    f.Ini().WriteString("Setup", "TlsCertificate", "tls/server.pem");
    f.Ini().WriteString("Setup", "TlsKey", "/etc/nubo/key.pem");
    EXPECT_EQ(f.TlsCertificatePath(), tmp.File("tls/server.pem"));
    EXPECT_EQ(f.TlsKeyPath(), "/etc/nubo/key.pem");
}

TEST(UserFile, FirstStartWritesTheAnonymousAccount) {
    TTempDir tmp;
    const TUserFile users(tmp.File("ftp_users.ini"));
    ASSERT_TRUE(users.CreateIfMissing("/srv/nubo/"));
    EXPECT_EQ(ReadBytes(tmp.File("ftp_users.ini")),
              "[anonymous]\r\nUserDisable=0\r\nVirtualDir=1\r\npassword=\r\n"
              "User_Memo=암호없이 접속가능한 익명연결\r\nMaxUser=0\r\nMaxUserIP=0\r\nMaxSpeed=0\r\n"
              "Time-Out=0\r\nEnterMessage=누보 FTP 서버에 오신것을 환영합니다 !\r\n"
              "ExitMessage=Goodbye !\r\nHomePath=/srv/nubo/down\r\nTotalDownload=0\r\n"
              "TotalUpload=0\r\nDir0=/srv/nubo/down|DU_EMRY_S_|\r\n");
    EXPECT_FALSE(users.CreateIfMissing("/elsewhere/"));

    // Readers: any case of the name, the password under either spelling, engine paths.
    EXPECT_EQ(users.HomePath("ANONYMOUS"), "C:\\srv\\nubo\\down");
    EXPECT_TRUE(users.VirtualDir("Anonymous"));
    EXPECT_EQ(users.Password("anonymous"), "");
    EXPECT_EQ(users.VirtualEntries("anonymous"),
              (std::vector<TVirtualEntry>{{"C:\\srv\\nubo\\down", "DU_EMRY_S_", ""}}));
    EXPECT_EQ(users.Accounts(), (std::vector<std::string>{"anonymous"}));
}

TEST(UserFile, VirtualEntriesStopAtTheFirstGap) {
    TTempDir tmp;
    WriteBytes(tmp.File("u.ini"), "[bob]\r\nPassword=pw\r\nDir0=C:\\home\\bob|DU|\r\n"
                                  "Dir1=/srv/pub|D_V|pub\r\nDir3=/srv/late|DV|late\r\n"
                                  "MaxUser=x\r\nTime-Out=15\r\n");
    const TUserFile users(tmp.File("u.ini"));
    EXPECT_EQ(users.VirtualEntries("bob"),
              (std::vector<TVirtualEntry>{{"C:\\home\\bob", "DU", ""}, {"C:\\srv\\pub", "D_V", "pub"}}));
    EXPECT_EQ(users.DialogEntries("bob").size(), 3u);
    EXPECT_EQ(users.DialogEntries("bob")[2].Folder, "/srv/late");
    EXPECT_EQ(users.Password("BOB"), "pw");
    EXPECT_EQ(users.MaxUser("bob"), 0);
    EXPECT_EQ(users.TimeOut("bob"), 15);
    EXPECT_TRUE(users.VirtualEntries("nobody").empty());
}

TEST(UserFile, VirtualEntryFieldsAndLetters) {
    const struct {
        const char* value;
        TVirtualEntry entry;
    } cases[] = {
        {"/srv/a|DU_EMRY_S_|", {"/srv/a", "DU_EMRY_S_", ""}},
        {"/srv/b|D_V|pub", {"/srv/b", "D_V", "pub"}},
        {"/srv/c", {"/srv/c", "", ""}},
        {"/srv/d|U|x|extra", {"/srv/d", "U", "x"}},
        {"", {"", "", ""}},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseVirtualEntry(c.value), c.entry) << c.value;
    EXPECT_EQ(FormatVirtualEntry({"/srv/a", "DU", ""}), "/srv/a|DU|");
    EXPECT_EQ(FormatVirtualEntry({"/srv/b", "DV", "pub"}), "/srv/b|DV|pub");

    EXPECT_EQ(BuildLetters({}), "___________");
    EXPECT_EQ(BuildLetters({true, true, false, true, true, true, true, false, true}), kNewHomeLetters);
    EXPECT_EQ(BuildLetters({true, true, false, true, true, true, true, true, true}), kNewDirLetters);
    EXPECT_EQ(BuildLetters({false, false, true, false, false, false, false, false, false}), "__A________");
    EXPECT_TRUE(HasLetter("U__", 'U'));
    EXPECT_FALSE(HasLetter("U__", 'D'));
    EXPECT_FALSE(HasLetter("u", 'U'));
}

TEST(UserFile, FoldersInEngineForm) {
    EXPECT_EQ(FolderInEngineForm("/srv/ftp"), R"(C:\srv\ftp)");
    EXPECT_EQ(FolderInEngineForm(R"(C:\srv\ftp\)"), R"(C:\srv\ftp\)");
    EXPECT_EQ(FolderInEngineForm(""), ""); // a missing home stays missing
}

TEST(UserFile, DialogWritesKeepOtherAccountsAndCloseGaps) {
    TTempDir tmp;
    TUserFile users(tmp.File("ftp_users.ini"));
    users.CreateIfMissing(tmp.Dir());
    const std::string anonymous = ReadBytes(tmp.File("ftp_users.ini"));

    TUserFile::TAccount a;
    a.Password = "secret";
    a.HomePath = "/home/bob";
    a.TimeOut = "10";
    a.MaxUpSpeed = "64";
    users.WriteAccount("bob", a, kNewHomeLetters);
    EXPECT_EQ(ReadBytes(tmp.File("ftp_users.ini")),
              anonymous + "[bob]\r\nUserDisable=0\r\nVirtualDir=1\r\npassword=secret\r\n"
                          "User_Memo=\r\nMaxUser=0\r\nMaxUserIP=0\r\nMaxSpeed=0\r\nMaxUpSpeed=64\r\n"
                          "Time-Out=10\r\n"
                          "EnterMessage=\r\nExitMessage=\r\nHomePath=/home/bob\r\n"
                          "Dir0=/home/bob|DU_EMRY_S__|\r\n");

    users.WriteMainPage("bob", a, {{"/home/bob", "DU", "ignored"}, {"/a", "DV", "a"}, {"/b", "UV", "b"}});
    EXPECT_EQ(users.VirtualEntries("bob").size(), 3u);
    a.UserDisable = true;
    users.WriteMainPage("bob", a, {{"/home/bob2", "D", ""}, {"/b", "UV", "b"}});
    EXPECT_EQ(users.VirtualEntries("bob"),
              (std::vector<TVirtualEntry>{{"C:\\home\\bob2", "D", ""}, {"C:\\b", "UV", "b"}}));
    EXPECT_EQ(users.Ini().ReadString("bob", "Dir2", "<gone>"), "<gone>");
    EXPECT_EQ(users.HomePath("bob"), "C:\\home\\bob2");
    EXPECT_TRUE(users.UserDisable("bob"));
    EXPECT_EQ(users.Password("bob"), "secret");

    users.WriteTotals({{"anonymous", 1234, 7}, {"carol", 1, 2}});
    EXPECT_EQ(users.TotalDownload("anonymous"), 1234);
    EXPECT_EQ(users.TotalUpload("anonymous"), 7);
    EXPECT_EQ(users.TotalUpload("carol"), 2);
    users.EraseAccount("carol");
    users.EraseAccount("BOB");
    EXPECT_EQ(users.Accounts(), (std::vector<std::string>{"anonymous"}));
}

} // namespace
// The checks the account dialogs and the account commands share.
TEST(UserFile, SharedAccountChecks) {
    const struct {
        const char* typed;
        const char* stored; // nullptr: refused
    } letters[] = {{"", "___________"},
                   {"DUEMRYS", "DU_EMRY_S__"},
                   {"SYRMEUD", "DU_EMRY_S__"},
                   {"DU_EMRY_S__", "DU_EMRY_S__"},
                   {"DUAEMRYVS", "DUAEMRYVS__"},
                   {"DD", nullptr},
                   {"d", nullptr},
                   {"DUX", nullptr},
                   {"D U", nullptr}};
    for (const auto& c : letters) {
        const auto got = NormalizeLetters(c.typed);
        EXPECT_EQ(got.has_value(), c.stored != nullptr) << c.typed;
        if (got && c.stored) {
            EXPECT_EQ(*got, c.stored) << c.typed;
        }
    }
    for (const char* ok : {"0", "600", "000"}) EXPECT_TRUE(ValidLimit("Time-Out", ok)) << ok;
    for (const char* bad : {"601", "", "-1", "+5", "0x10", " 5", "5 ", "1e3", "99999999999999999999"})
        EXPECT_FALSE(ValidLimit("Time-Out", bad)) << bad;
    EXPECT_TRUE(ValidLimit("maxspeed", "100000000"));
    EXPECT_FALSE(ValidLimit("MaxSpeed", "100000001"));
    EXPECT_FALSE(ValidLimit("NoSuchKey", "1"));

    for (const char* ok : {"bob", "Bob Smith", "홍길동", "a.b-c_d"}) EXPECT_TRUE(IsSafeAccountId(ok)) << ok;
    for (const char* bad : {"a]b", "a=b", "a\nb", "a\rb", " bob", "bob ", "bob\t"})
        EXPECT_FALSE(IsSafeAccountId(bad)) << bad;
    EXPECT_TRUE(IsAnonymousAccount("AnonyMous"));
    EXPECT_FALSE(IsAnonymousAccount("anonymous2"));

    const std::vector<TVirtualEntry> rows{{"/srv/home", "DU_EMRY_S__", "/"}, {"/srv/music", "DU_EMRYVS__", "music"}};
    EXPECT_EQ(CheckDirEntry(rows, "docs", "/srv/docs"), TDirProblem::None);
    EXPECT_EQ(CheckDirEntry(rows, "", "/srv/docs"), TDirProblem::EmptyAlias);
    EXPECT_EQ(CheckDirEntry(rows, "a|b", "/srv/docs"), TDirProblem::UnsafeAlias);
    EXPECT_EQ(CheckDirEntry(rows, "docs", ""), TDirProblem::EmptyFolder);
    EXPECT_EQ(CheckDirEntry(rows, "music", "/srv/docs"), TDirProblem::SameAlias);
    EXPECT_EQ(CheckDirEntry(rows, "/", "/srv/docs"), TDirProblem::SameAlias);
    EXPECT_EQ(CheckDirEntry(rows, "docs", "/srv/home"), TDirProblem::SameFolder);
}

} // namespace nubo
