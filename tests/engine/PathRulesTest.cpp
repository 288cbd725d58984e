// Tables of cases for the engine's pure rules: dispatch splitting, ChangeDir,
// ResolveFilePath and OverlapRoot.
#include <gtest/gtest.h>
#include <string>

#include "engine/CommandText.h"
#include "engine/FtpServer.h"
#include "engine/ListingText.h"
#include "engine/PathRules.h"

using namespace nubo;

TEST(SplitCommandLine, KeywordAndParams) {
    struct Case {
        std::string line, keyword, params;
    } cases[] = {
        {"  noop   a b ", "NOOP", "  a b "}, // blanks after the separating one are the argument's
        {"RETR   name", "RETR", "  name"},
        {"Noop", "NOOP", ""},
        {"STOR2 x", "STOR2", "x"},
        {"?", "", "?"},
        {"   ", "", ""},
        {"\tCWD\t/pub", "CWD", "/pub"},
        {"RETR \xff\xff"
         "a",
         "RETR",
         "\xff"
         "a"},                                  // 255 255 is one 255
        {"RE\xff\xf4TR x", "RETR", "x"},        // 255 244 vanishes
        {"US\xc3\xa9R x", "US", "\xc3\xa9R x"}, // only ASCII letters and digits
    };
    for (const auto& c : cases) {
        std::string k, p;
        SplitCommandLine(c.line.data(), int(c.line.size()), k, p);
        EXPECT_EQ(k, c.keyword) << c.line;
        EXPECT_EQ(p, c.params) << c.line;
    }
}

TEST(OverlapRoot, LongestOverlapWins) {
    struct Case {
        std::string dir, arg, root;
    } cases[] = {
        {"C:\\ftp\\pub\\", "\\pub\\a.txt", "C:\\ftp\\"},
        {"C:\\ftp\\pub\\", "\\ftp\\pub\\a.txt", "C:\\"},
        {"C:\\ftp\\pub\\", "sub\\a.txt", ""},
        {"C:\\ftp\\pub\\", "\\other\\a.txt", ""},
        {"C:\\a\\a\\", "\\a\\a\\x", "C:\\"},
        {"C:\\", "\\x", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(OverlapRoot(c.dir, c.arg), c.root) << c.dir << " " << c.arg;
}

TEST(PathHelpers, DriveAndFolderParts) {
    EXPECT_EQ(DrivePart("C:\\x"), "C:");
    EXPECT_EQ(DrivePart("\\\\srv\\share\\x"), "\\\\srv\\share");
    EXPECT_EQ(DrivePart("x\\y"), "");
    EXPECT_EQ(FolderPart("a\\b.txt"), "a\\");
    EXPECT_EQ(FolderPart("c:b.txt"), "c:");
    EXPECT_EQ(FolderPart("b.txt"), "");
    EXPECT_EQ(StripLeadingBackslash("\\D:\\x"), "D:\\x");
    EXPECT_EQ(StripLeadingBackslash("\\x"), "\\x");
}

TEST(ChangeDir, Rules) {
    struct Case {
        std::string arg, result, error;
    } cases[] = {
        {"sub", "C:\\ftp\\pub\\sub\\", ""},
        {"\\x", "C:\\x\\", ""},
        {"D:", "D:\\", ""},
        {"C:", "C:\\ftp\\pub\\", ""},
        {"D:\\data", "D:\\data\\", ""},
        {"\\D:\\data", "D:\\data\\", ""},
        {"..", "C:\\ftp\\", ""},
        {".", "C:\\ftp\\pub\\", ""},
        {"", "C:\\ftp\\pub\\", ""},
        {"\\ftp\\..", "C:\\", ""},
        // Dot components are resolved; the host confines the result to the account.
        {"..\\x", "C:\\ftp\\x\\", ""},
        {".\\x", "C:\\ftp\\pub\\x\\", ""},
        {"a.\\b", "C:\\ftp\\pub\\a.\\b\\", ""},
        {"\\a\\.\\b", "C:\\a\\b\\", ""},
        {"..\\..\\..\\x", "C:\\x\\", ""},
        {" lead ", "C:\\ftp\\pub\\ lead \\", ""},
        {"D:sub", "", "Cannot accept path not relative to current directory"},
        {"a:b:c", "", "Invalid directory name syntax"},
        {"\\\\srv\\share", "", "Cannot accept UNC path"},
    };
    for (const auto& c : cases) {
        TFtpCtrlSocket s;
        s.CurrentDir = "C:\\ftp\\pub\\";
        try {
            s.ChangeDir(c.arg);
            EXPECT_EQ(c.error, "") << c.arg;
            EXPECT_EQ(s.CurrentDir, c.result) << c.arg;
        } catch (const std::exception& e) {
            EXPECT_EQ(e.what(), c.error) << c.arg;
            EXPECT_EQ(s.CurrentDir, "C:\\ftp\\pub\\") << c.arg;
        }
    }
}

TEST(ChangeDir, ClimbingStopsAtTheRoot) {
    TFtpCtrlSocket s;
    s.CurrentDir = "C:\\ftp\\";
    s.ChangeDir("..");
    EXPECT_EQ(s.CurrentDir, "C:\\");
    s.ChangeDir("..");
    EXPECT_EQ(s.CurrentDir, "C:\\");
}

TEST(ResolveFilePath, Rules) {
    TFtpServer server;
    TFtpCtrlSocket c;
    c.HomePath = "C:\\ftp\\";
    const std::string dir = "C:\\ftp\\pub\\";
    struct Case {
        std::string dir, arg, result, error;
    } cases[] = {
        {dir, "a.txt", "C:\\ftp\\pub\\a.txt", ""},
        {dir, "/a.txt", "C:\\ftp\\a.txt", ""},
        {dir, "c:a.txt", "C:\\ftp\\pub\\a.txt", ""},
        {dir, "D:a.txt", "", "No current dir for 'D:'"},
        {dir, "D:/a.txt", "D:\\a.txt", ""},
        {dir, "//srv/s/a.txt", "\\\\srv\\s\\a.txt", ""},
        {dir, "", "C:\\ftp\\pub\\", ""},
        {dir, "/D:/x", "D:\\x", ""},
        {"c:\\ftp\\", "c:a.txt", "", "No current dir for 'C:'"},
    };
    for (const auto& t : cases) {
        try {
            EXPECT_EQ(server.ResolveFilePath(c, t.dir, t.arg), t.result) << t.arg;
            EXPECT_EQ(t.error, "") << t.arg;
        } catch (const FtpServerException& e) {
            EXPECT_EQ(e.what(), t.error) << t.arg;
        }
    }
    // A host that names the local path itself wins over every rule.
    server.OnBuildFilePath = [](TFtpServer&, TFtpCtrlSocket&, const TFtpString&, const TFtpString& f, TFtpString& out) {
        out = "C:\\mapped\\" + f;
    };
    EXPECT_EQ(server.ResolveFilePath(c, dir, "D:a.txt"), "C:\\mapped\\D:a.txt");
}

TEST(TempDirStep, MovesToTheOverlapAndComesBack) {
    TFtpCtrlSocket s;
    s.CurrentDir = "C:\\ftp\\pub\\";
    {
        TTempDirStep step(s, "/pub/a.txt");
        EXPECT_EQ(s.CurrentDir, "C:\\ftp\\");
    }
    EXPECT_EQ(s.CurrentDir, "C:\\ftp\\pub\\");
    {
        TTempDirStep step(s, "sub/a.txt");
        EXPECT_EQ(s.CurrentDir, "C:\\ftp\\pub\\");
    }
}

TEST(CommandTable, AFullTableRefusesAnotherCommand) {
    TFtpServer server;
    int added = 0;
    std::string refusal;
    for (; added < 100; ++added) {
        try {
            server.RegisterCommand("X" + std::to_string(added), &TFtpServer::CommandNOOP);
        } catch (const FtpServerException& e) {
            refusal = e.what();
            break;
        }
    }
    EXPECT_EQ(refusal, "Too many command");
    EXPECT_GT(added, 0); // room is left beyond the built-in commands
}

TEST(PassivePool, SetterErrors) {
    TFtpServer server;
    EXPECT_THROW(server.SetPasvPortRangeStart(70000), ERangeError);
    EXPECT_THROW(server.SetPasvPortRangeSize(-1), ERangeError);
    try {
        server.SetPasvPortRangeSize(65536);
    } catch (const ERangeError& e) {
        EXPECT_STREQ(e.what(), "Invalid PasvPortRangeSize 65536.");
    }
    server.SetPasvPortRangeStart(2020);
    server.SetPasvPortRangeSize(1);
    EXPECT_EQ(server.PasvPortRangeStart(), 2020);
    EXPECT_EQ(server.PasvPortRangeSize(), 1);
}
