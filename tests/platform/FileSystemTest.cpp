#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileSearch.h"
#include "platform/FileSystem.h"
#include "platform/PathMap.h"
#include "tests/support/TempDir.h"

using namespace nubo;
using nubo::test::TTempDir;

namespace {

std::map<std::string, TSearchRec> SearchAll(const std::string& pattern, int attr) {
    std::map<std::string, TSearchRec> found;
    TFileSearch s;
    TSearchRec rec;
    for (bool ok = s.First(pattern, attr, rec); ok; ok = s.Next(rec)) found[rec.Name] = rec;
    return found;
}

// A folder with one of each kind of entry the search must tell apart.
class SearchFolder : public ::testing::Test {
protected:
    void SetUp() override {
        t.Write("a.txt", "hello");
        t.Write("noext", "");
        t.Write(".hidden", "x");
        t.Write("locked.txt", "ro");
        chmod(t.File("locked.txt").c_str(), 0444);
        mkdir(t.File("sub").c_str(), 0777);
        symlink(t.File("a.txt").c_str(), t.File("link.txt").c_str());
        symlink(t.File("sub").c_str(), t.File("linkdir").c_str());
        symlink(t.File("gone").c_str(), t.File("dangling").c_str());
        mkfifo(t.File("pipe").c_str(), 0666);
    }
    TTempDir t;
};

} // namespace

TEST_F(SearchFolder, AttributesOfEveryKind) {
    auto all = SearchAll(t.Engine("*.*"), faAnyFile);
    struct Case {
        const char* name;
        int attr;
        int64_t size;
    } cases[] = {
        {".", faDirectory, 0},   {"..", faDirectory, 0},   {"a.txt", 0, 5},
        {"noext", 0, 0},         {".hidden", faHidden, 1}, {"locked.txt", faReadOnly, 2},
        {"sub", faDirectory, 0}, {"link.txt", 0, 5},       {"linkdir", faDirectory, 0},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(all.count(c.name)) << c.name;
        EXPECT_EQ(all[c.name].Attr, c.attr) << c.name;
        EXPECT_EQ(all[c.name].Size, c.size) << c.name;
    }
    // A dangling link and a named pipe are not there at all.
    EXPECT_EQ(all.size(), std::size(cases));
}

TEST_F(SearchFolder, IncludeMaskAndPatterns) {
    struct Case {
        const char* pattern;
        int attr;
        std::vector<std::string> names;
    } cases[] = {
        {"*.*", 0, {"a.txt", "link.txt", "locked.txt", "noext"}},
        {"*.*", faHidden, {".hidden", "a.txt", "link.txt", "locked.txt", "noext"}},
        {"*", faDirectory, {".", "..", "a.txt", "link.txt", "linkdir", "locked.txt", "noext", "sub"}},
        {"*.txt", faAnyFile, {"a.txt", "link.txt", "locked.txt"}},
        {"?.txt", faAnyFile, {"a.txt"}},
        {"a.txt", 0, {"a.txt"}},
        {"sub", 0, {}},
        {"sub", faDirectory, {"sub"}},
        {".hidden", 0, {}},
        {"dangling", faAnyFile, {}},
        {"pipe", faAnyFile, {}},
        {"*.xyz", faAnyFile, {}},
        {"", faAnyFile, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> names;
        for (auto& [name, rec] : SearchAll(t.Engine(c.pattern), c.attr)) names.push_back(name);
        EXPECT_EQ(names, c.names) << c.pattern << " attr " << c.attr;
    }
}

TEST_F(SearchFolder, TimesAgreeWithTheFile) {
    timespec times[2] = {{0, UTIME_OMIT}, {1709208000, 0}}; // 2024-02-29 12:00:00 UTC
    utimensat(AT_FDCWD, t.File("a.txt").c_str(), times, 0);
    TSearchRec rec;
    ASSERT_TRUE(FindFirstEntry(t.Engine("a.txt"), 0, rec));
    EXPECT_EQ(rec.LastWriteTime, UnixToFileTime(1709208000, 0));
    EXPECT_NE(rec.CreationTime, 0);
    EXPECT_DOUBLE_EQ(rec.Time + TimeZoneBias() / 1440.0, FileTimeToDateTime(rec.LastWriteTime));
}

TEST(Search, RootListsNoDotEntries) {
    auto all = SearchAll("C:\\*.*", faAnyFile);
    EXPECT_TRUE(all.count("tmp"));
    EXPECT_FALSE(all.count("."));
    EXPECT_FALSE(all.count(".."));
    EXPECT_TRUE(SearchAll("C:\\tmp\\..\\*", faAnyFile).count("tmp"));
    EXPECT_FALSE(SearchAll("C:\\tmp\\..\\*", faAnyFile).count(".."));
}

TEST(Search, OtherDrivesNameNothing) {
    EXPECT_TRUE(SearchAll("D:\\tmp\\*.*", faAnyFile).empty());
    EXPECT_TRUE(SearchAll("\\\\srv\\share\\*.*", faAnyFile).empty());
    EXPECT_FALSE(FileExists("D:\\etc\\hostname"));
    EXPECT_FALSE(DirectoryExists("D:\\tmp"));
}

TEST(Search, SparseFileAbove4GiB) {
    TTempDir t;
    const int64_t size = 5000000000LL;
    int fd = open(t.File("big.bin").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
    TSearchRec rec;
    ASSERT_TRUE(FindFirstEntry(t.Engine("big.bin"), 0, rec));
    EXPECT_EQ(rec.Size, size);
    ASSERT_TRUE(FindFirstEntry(t.Engine("b*"), 0, rec));
    EXPECT_EQ(rec.Size, size);
}

TEST_F(SearchFolder, ExistenceFollowsLinks) {
    struct Case {
        const char* name;
        bool file, dir;
    } cases[] = {
        {"a.txt", true, false},     {"sub", false, true},   {"link.txt", true, false}, {"linkdir", false, true},
        {"dangling", false, false}, {"pipe", false, false}, {"missing", false, false}, {"", false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileExists(t.Engine(c.name)), c.file) << c.name;
        EXPECT_EQ(DirectoryExists(t.Engine(c.name)), c.dir) << c.name;
    }
}

TEST_F(SearchFolder, RemoveAndRename) {
    EXPECT_FALSE(RemoveFile(t.Engine("sub")));
    EXPECT_FALSE(RemoveFile(t.Engine("dangling")));
    // Removing through a link removes the link, never what it points to.
    EXPECT_TRUE(RemoveFile(t.Engine("link.txt")));
    EXPECT_TRUE(FileExists(t.Engine("a.txt")));

    EXPECT_FALSE(RenameFile(t.Engine("a.txt"), t.Engine("noext"))); // never replaces
    EXPECT_FALSE(RenameFile(t.Engine("a.txt"), t.Engine("dangling")));
    EXPECT_EQ(t.Read("noext"), "");
    EXPECT_TRUE(RenameFile(t.Engine("a.txt"), t.Engine("b.txt")));
    EXPECT_EQ(t.Read("b.txt"), "hello");
    EXPECT_FALSE(RenameFile(t.Engine("a.txt"), t.Engine("c.txt")));
    EXPECT_FALSE(RenameFile(t.Engine("b.txt"), "D:\\b.txt"));
}

TEST_F(SearchFolder, FolderOperations) {
    EXPECT_TRUE(CreateDir(t.Engine("new")));
    EXPECT_FALSE(CreateDir(t.Engine("new")));
    EXPECT_FALSE(CreateDir(t.Engine("a\\b"))); // the parent must exist
    EXPECT_FALSE(CreateDir(t.Engine("dangling")));
    EXPECT_FALSE(DirectoryExists(t.Engine("gone")));

    t.Write("sub/inner.txt", "i");
    EXPECT_FALSE(RemoveDir(t.Engine("sub"))); // not empty
    EXPECT_FALSE(MoveDir(t.Engine("sub"), t.Engine("new")));
    EXPECT_TRUE(MoveDir(t.Engine("sub"), t.Engine("new\\moved")));
    EXPECT_EQ(t.Read("new/moved/inner.txt"), "i");
    EXPECT_FALSE(MoveDir(t.Engine("new"), t.Engine("new\\moved\\inside")));
    EXPECT_TRUE(RemoveFile(t.Engine("new\\moved\\inner.txt")));
    EXPECT_TRUE(RemoveDir(t.Engine("new\\moved\\")));
    EXPECT_FALSE(RemoveDir(t.Engine("a.txt")));
}

// Fixed zones without daylight saving give a known bias; local and UTC round-trip.
TEST(FileTimes, BiasAndSetTable) {
    TTempDir t;
    t.Write("f.txt", "x");
    std::string saved = getenv("TZ") ? getenv("TZ") : "";
    struct Case {
        const char* tz;
        int bias;
    } cases[] = {{"UTC0", 0}, {"EST5", 300}, {"IST-5:30", -330}, {"XYZ-14", -840}};
    TDateTime noonLeapDay = 45351.5; // 2024-02-29 12:00:00
    for (const Case& c : cases) {
        setenv("TZ", c.tz, 1);
        tzset();
        EXPECT_EQ(TimeZoneBias(), c.bias) << c.tz;

        ASSERT_TRUE(SetFileLastWrite(t.Engine("f.txt"), noonLeapDay, true));
        struct stat st {};
        stat(t.File("f.txt").c_str(), &st);
        EXPECT_EQ(st.st_mtime, 1709208000) << c.tz;
        TDateTime local = 0;
        ASSERT_TRUE(FileLastWrite(t.Engine("f.txt"), local));
        EXPECT_EQ(DateTimeToMs(local), DateTimeToMs(noonLeapDay - c.bias / 1440.0)) << c.tz;

        ASSERT_TRUE(SetFileLastWrite(t.Engine("f.txt"), noonLeapDay, false));
        stat(t.File("f.txt").c_str(), &st);
        EXPECT_EQ(st.st_mtime, 1709208000 + c.bias * 60) << c.tz;
    }
    if (saved.empty())
        unsetenv("TZ");
    else
        setenv("TZ", saved.c_str(), 1);
    tzset();
    EXPECT_FALSE(SetFileLastWrite(t.Engine("missing"), noonLeapDay, true));
    EXPECT_FALSE(FileLastWrite(t.Engine("missing"), noonLeapDay));
}

TEST(TempFile, UniqueAndExclusive) {
    TTempDir t;
    std::string a = CreateUniqueTempFile(t.Engine());
    std::string b = CreateUniqueTempFile(t.Engine().substr(0, t.Engine().size() - 1));
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_NE(a, b);
    for (const std::string& p : {a, b}) {
        std::string name = p.substr(t.Engine().size());
        EXPECT_EQ(p.substr(0, t.Engine().size()), t.Engine());
        EXPECT_EQ(name.substr(0, 3), "FTP");
        EXPECT_EQ(name.substr(name.size() - 4), ".TMP");
        EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF", 3), name.size() - 4) << name;
        EXPECT_TRUE(FileExists(p));
    }
    EXPECT_EQ(CreateUniqueTempFile(t.Engine("missing\\")), "");
    EXPECT_EQ(CreateUniqueTempFile("D:\\"), "");
}
