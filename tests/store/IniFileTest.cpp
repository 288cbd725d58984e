#include "store/IniFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/TempDir.h"

namespace nubo {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

// The exit code of a child process that ended by itself; -1 when it did not.
int ExitCodeOf(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

const std::string kSample = "; operator's notes\r\n"
                            "[Setup]\r\n"
                            "Port=2121\r\n"
                            "  MaxUser = 7 \r\n"
                            "Hex=0x1F\r\n"
                            "Dollar=$ff\r\n"
                            "Neg=-12\r\n"
                            "Bad=12abc\r\n"
                            "Huge=99999999999999999999\r\n"
                            "Empty=\r\n"
                            "Quoted=\"  spaced  \"\r\n"
                            "Port=9999\r\n"
                            "; Hidden=1\r\n"
                            "\r\n"
                            "[IP Deny]\r\n"
                            "IP0=10.0.0.*\r\n"
                            "[setup]\r\n"
                            "Late=1\r\n";

struct TReadCase {
    const char* section;
    const char* key;
    const char* expected;
};

TEST(IniFile, ReadsStringsWithProfileRules) {
    TTempDir tmp;
    WriteBytes(tmp.File("a.ini"), kSample);
    const TIniFile ini(tmp.File("a.ini"));
    const TReadCase cases[] = {
        {"Setup", "Port", "2121"},         // first occurrence wins
        {"SETUP", "port", "2121"},         // case-insensitive section and key
        {"Setup", "MaxUser", "7"},         // blanks around key and value
        {"Setup", "Empty", ""},            // present but empty: not the default
        {"Setup", "Quoted", "  spaced  "}, // matching quotes removed
        {"Setup", "Missing", "<def>"},     // missing key
        {"Nowhere", "Port", "<def>"},      // missing section
        {"Setup", "; Hidden", "<def>"},    // comments are not keys
        {"Setup", "Late", "<def>"},        // a repeated section is not merged
        {"ip deny", "IP0", "10.0.0.*"},    // section names with blanks
    };
    for (const auto& c : cases)
        EXPECT_EQ(ini.ReadString(c.section, c.key, "<def>"), c.expected) << c.section << "/" << c.key;
    EXPECT_EQ(TIniFile(tmp.File("none.ini")).ReadString("Setup", "Port", "21"), "21");
}

TEST(IniFile, ReadsNumbersAndBooleans) {
    TTempDir tmp;
    WriteBytes(tmp.File("a.ini"), kSample);
    const TIniFile ini(tmp.File("a.ini"));
    const struct {
        const char* key;
        int64_t expected;
    } cases[] = {{"Port", 2121}, {"MaxUser", 7}, {"Hex", 31},   {"Dollar", 255}, {"Neg", -12},
                 {"Bad", -1},    {"Huge", -1},   {"Empty", -1}, {"Quoted", -1},  {"Missing", -1}};
    for (const auto& c : cases) EXPECT_EQ(ini.ReadInteger("Setup", c.key, -1), c.expected) << c.key;

    WriteBytes(tmp.File("b.ini"), "[Setup]\r\nLog=5\r\nOff=0\r\nWord=abc\r\n");
    const TIniFile b(tmp.File("b.ini"));
    EXPECT_TRUE(b.ReadBool("Setup", "Log", false));
    EXPECT_FALSE(b.ReadBool("Setup", "Off", true));
    EXPECT_FALSE(b.ReadBool("Setup", "Word", false));
    EXPECT_TRUE(b.ReadBool("Setup", "Word", true));
    EXPECT_TRUE(b.ReadBool("Setup", "Missing", true));
}

TEST(IniFile, WritesKeepEveryOtherLine) {
    TTempDir tmp;
    const std::string path = tmp.File("a.ini");
    WriteBytes(path, "; top\r\n[One]\r\nA=1\r\n; note\r\n\r\n[Two]\nB=2\n");
    TIniFile ini(path);

    ini.WriteString("one", "a", "changed"); // replaced in place, file's spelling kept
    ini.WriteString("ONE", "New", "x");     // added after the section's last line
    ini.WriteInteger("Three", "C", 3);      // new section at the end
    ini.WriteBool("Two", "Flag", true);
    EXPECT_EQ(ReadBytes(path), "; top\r\n[One]\r\nA=changed\r\n; note\r\nNew=x\r\n\r\n"
                               "[Two]\nB=2\nFlag=1\r\n[Three]\r\nC=3\r\n");

    ini.DeleteKey("one", "NEW");
    ini.EraseSection("two");
    EXPECT_EQ(ReadBytes(path), "; top\r\n[One]\r\nA=changed\r\n; note\r\n\r\n[Three]\r\nC=3\r\n");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"One", "Three"}));
}

TEST(IniFile, WritesCreateTheFileAndFixAMissingLastLineBreak) {
    TTempDir tmp;
    TIniFile fresh(tmp.File("new.ini"));
    fresh.WriteString("S", "K", "v");
    EXPECT_EQ(ReadBytes(fresh.FileName()), "[S]\r\nK=v\r\n");

    WriteBytes(tmp.File("open.ini"), "[S]\r\nK=v");
    TIniFile open(tmp.File("open.ini"));
    open.WriteString("S", "L", "w");
    EXPECT_EQ(ReadBytes(open.FileName()), "[S]\r\nK=v\r\nL=w\r\n");
}

TEST(IniFile, LineBreaksInValuesCannotPlantKeys) {
    TTempDir tmp;
    TIniFile ini(tmp.File("a.ini"));
    ini.WriteString("guest", "EnterMessage", "hi\r\nPassword=");
    EXPECT_EQ(ini.ReadString("guest", "Password", "<none>"), "<none>");
    EXPECT_EQ(ini.ReadString("guest", "EnterMessage", ""), "hi  Password=");
}

TEST(IniFile, AHeldReadingAnswersUntilItsOwnWrite) {
    TTempDir tmp;
    const std::string path = tmp.File("a.ini");
    WriteBytes(path, "[s]\r\nk=1\r\n");
    TIniFile held = TIniFile(path).Held();
    WriteBytes(path, "[s]\r\nk=2\r\n[t]\r\n"); // an edit after the reading
    EXPECT_EQ(held.ReadInteger("s", "k", 0), 1);
    EXPECT_EQ(held.ReadSections(), std::vector<std::string>{"s"});
    EXPECT_EQ(TIniFile(path).ReadInteger("s", "k", 0), 2);
    held.WriteString("s", "j", "x"); // writes the file as it is now, then reads afresh
    EXPECT_EQ(ReadBytes(path), "[s]\r\nk=2\r\nj=x\r\n[t]\r\n");
    EXPECT_EQ(held.ReadInteger("s", "k", 0), 2);
}

// The kept reading of a file: every change of it counts at the next read (an old file
// edited in place, a fresh file edited at once, a replacement), and a write that changes
// no value leaves the file untouched.
TEST(IniFile, EveryEditCountsAndAWriteOfTheSameValuesWritesNothing) {
    TTempDir tmp;
    const std::string path = tmp.File("a.ini");
    WriteBytes(path, "[s]\r\nk=1\r\n");
    const timespec old[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old, 0), 0); // settled long ago
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("s", "k", 0), 1);
    WriteBytes(path, "[s]\r\nk=2\r\n"); // in place, same size
    EXPECT_EQ(ini.ReadInteger("s", "k", 0), 2);
    WriteBytes(path, "[s]\r\nk=3\r\n"); // again within the same moment
    EXPECT_EQ(ini.ReadInteger("s", "k", 0), 3);
    ini.WriteString("s", "k", "4");
    EXPECT_EQ(ini.ReadInteger("s", "k", 0), 4);
    EXPECT_TRUE(ini.HasSection("S"));
    EXPECT_FALSE(ini.HasSection("t"));

    struct stat before {
    }, after{};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ini.Write({{"s", "k", std::string("4")}, {"S", "missing", std::nullopt}});
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino); // not replaced
    EXPECT_EQ(ReadBytes(path), "[s]\r\nk=4\r\n");
}

TEST(IniFile, SectionsInFileOrderEachOnce) {
    TTempDir tmp;
    WriteBytes(tmp.File("a.ini"), "x=1\r\n[b]\r\n[ A ]\r\n[B]\r\n[c\r\n");
    EXPECT_EQ(TIniFile(tmp.File("a.ini")).ReadSections(), (std::vector<std::string>{"b", "A", "c"}));
}

TEST(IniFile, ReadsACp949FileAndRewritesItAsUtf8) {
    TTempDir tmp;
    const std::string path = tmp.File("old.ini");
    // "환영합니다" and "똠" (a letter only CP949, not EUC-KR, has) in CP949.
    WriteBytes(path, "[Setup]\r\nEnterMessage=\xC8\xAF\xBF\xB5\xC7\xD5\xB4\xCF\xB4\xD9\r\n"
                     "Name=\x8C\x63\r\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Setup", "EnterMessage", ""), "환영합니다");
    EXPECT_EQ(ini.ReadString("Setup", "Name", ""), "똠");

    ini.WriteString("Setup", "Port", "21");
    EXPECT_EQ(ReadBytes(path), "[Setup]\r\nEnterMessage=환영합니다\r\nName=똠\r\nPort=21\r\n");
}

TEST(IniFile, AnInterruptedWriteLeavesTheOldFileWhole) {
    TTempDir tmp;
    const std::string path = tmp.File("ftp_users.ini");
    const std::string old = "[anonymous]\r\nTotalDownload=1\r\n[guest]\r\nTotalDownload=2\r\n";
    WriteBytes(path, old);

    // The child writes under a file-size limit smaller than the new file: the write
    // fails part-way, as on a full disk.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{64, 64};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        try {
            TIniFile(path).WriteString("guest", "EnterMessage", std::string(500, 'x'));
        } catch (const EIniFileException&) {
            ::_exit(0);
        }
        ::_exit(1);
    }
    EXPECT_EQ(ExitCodeOf(pid), 0) << "the failed write was not reported";
    EXPECT_EQ(ReadBytes(path), old);
    // No temporary file is left beside it (the writers' lock file stays, empty).
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(tmp.Dir()))
        if (e.path().filename() != "ftp_users.ini.lock") ++files;
    EXPECT_EQ(files, 1u);
}

TEST(IniFile, AFileThatCannotBeReadIsNeverReplaced) {
    TTempDir tmp;
    const std::string path = tmp.File("ftp_users.ini");
    const std::string old = "[anonymous]\r\nTotalDownload=1\r\n[guest]\r\nTotalDownload=2\r\n";
    WriteBytes(path, old);
    // Write-only for everyone, in a folder anyone may write: a reader fails to open it
    // while a replacement beside it could still be made.
    std::filesystem::permissions(tmp.Dir(), std::filesystem::perms::all);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                           std::filesystem::perms::others_write);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::getuid() == 0 && ::setuid(65534) != 0) ::_exit(2); // root reads anything
        TIniFile ini(path);
        if (ini.ReadString("guest", "TotalDownload", "def") != "def") ::_exit(3);
        try {
            ini.WriteInteger("guest", "TotalDownload", 3);
        } catch (const EIniFileException&) {
            ::_exit(0);
        }
        ::_exit(1);
    }
    EXPECT_EQ(ExitCodeOf(pid), 0);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    EXPECT_EQ(ReadBytes(path), old);
}

TEST(IniFile, AWriteIntoAMissingFolderThrows) {
    TTempDir tmp;
    TIniFile ini(tmp.File("gone/a.ini"));
    EXPECT_THROW(ini.WriteString("S", "K", "v"), EIniFileException);
}

TEST(IniFile, ReplaceOnlyIfMissingNeverTouchesAnExistingFile) {
    TTempDir tmp;
    const std::string path = tmp.File("a.ini");
    EXPECT_TRUE(ReplaceFileAtomically(path, "first", true));
    EXPECT_FALSE(ReplaceFileAtomically(path, "second", true));
    EXPECT_EQ(ReadBytes(path), "first");
}

// Writers in other processes: each child increments one shared counter through Update
// and sets keys of its own through Write, at the same time. Without the lock one
// read-modify-write would start from the content before another's and drop its change.
TEST(IniFile, WritersInSeveralProcessesLoseNoChange) {
    TTempDir tmp;
    const std::string path = tmp.File("a.ini");
    WriteBytes(path, "[Shared]\r\nCount=0\r\n");
    constexpr int kChildren = 3, kRounds = 60;
    std::vector<pid_t> pids;
    for (int c = 0; c < kChildren; ++c) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            TIniFile ini(path);
            try {
                for (int i = 0; i < kRounds; ++i) {
                    ini.Update([](const TIniFile& now) -> std::vector<TIniFile::TEntry> {
                        return {{"Shared", "Count", std::to_string(now.ReadInteger("Shared", "Count", -1000) + 1)}};
                    });
                    ini.WriteInteger("Child" + std::to_string(c), "K" + std::to_string(i), i);
                }
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(0);
        }
        pids.push_back(pid);
    }
    for (const pid_t pid : pids) EXPECT_EQ(ExitCodeOf(pid), 0);
    const TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Shared", "Count", -1), kChildren * kRounds);
    for (int c = 0; c < kChildren; ++c)
        for (int i = 0; i < kRounds; ++i)
            EXPECT_EQ(ini.ReadInteger("Child" + std::to_string(c), "K" + std::to_string(i), -1), i) << c << " " << i;
}

TEST(IniFile, AnEntryWithoutKeyOrValueErasesItsSection) {
    TTempDir tmp;
    const std::string path = tmp.File("a.ini");
    WriteBytes(path, "[A]\r\nK=1\r\n[B]\r\nK=2\r\n");
    TIniFile ini(path);
    ini.Write({{"A", "", std::nullopt}, {"A", "New", "3"}});
    EXPECT_EQ(ReadBytes(path), "[B]\r\nK=2\r\n[A]\r\nNew=3\r\n");
}

} // namespace
} // namespace nubo
