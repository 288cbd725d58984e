// The account tree's rules as tables: mapping of aliases, restriction, letters, and
// containment on a real folder tree with a link that leads out.
#include <filesystem>
#include <gtest/gtest.h>

#include "host/FtpHost.h"
#include "host/VirtualTree.h"
#include "platform/PathMap.h"
#include "tests/support/TempDir.h"

using namespace nubo;
namespace fs = std::filesystem;

TEST(VirtualTree, MappingRestrictionAndLetters) {
    const TVirtualTree tree({{"C:\\ftp", "DU_EMRY_S__", ""},
                             {"D:\\mp3", "DU_EMRYVS__", "mp3"},
                             {"C:\\ftp\\secret", "____A______", ""},
                             {"C:\\ftp\\ro", "D__________", ""}},
                            "C:\\ftp\\");
    struct Case {
        std::string in, mapped;
    } maps[] = {
        {"C:\\ftp\\mp3\\", "D:\\mp3\\"},        {"C:\\ftp\\MP3\\sub\\a.txt", "D:\\mp3\\sub\\a.txt"},
        {"C:\\ftp\\mp3x\\", "C:\\ftp\\mp3x\\"}, {"C:\\ftp\\Mp3", "D:\\mp3"}, // the alias without a separator after it
        {"C:\\ftp\\mp3x", "C:\\ftp\\mp3x"},     {"C:\\ftp\\pub\\", "C:\\ftp\\pub\\"},
    };
    for (const auto& c : maps) EXPECT_EQ(tree.MapVirtualPath(c.in), c.mapped) << c.in;
    // Text paths here (nothing exists): the roots by their text, any case, any separator.
    for (const char* root : {"C:\\ftp\\", "C:\\FTP", "D:\\mp3", "D:\\mp3\\"}) EXPECT_TRUE(tree.IsRoot(root)) << root;
    for (const char* inner : {"C:\\ftp\\pub", "D:\\mp3\\sub", "C:\\"}) EXPECT_FALSE(tree.IsRoot(inner)) << inner;

    EXPECT_TRUE(tree.IsRestricted("C:\\ftp\\secret\\x.txt"));
    EXPECT_TRUE(tree.IsRestricted("C:\\ftp\\secret\\deep\\x.txt"));
    EXPECT_FALSE(tree.IsRestricted("C:\\ftp\\secret")); // the folder itself is listed in its parent
    EXPECT_FALSE(tree.IsRestricted("C:\\ftp\\a.txt"));

    struct Letter {
        std::string path;
        char letter;
        bool granted;
    } letters[] = {
        {"C:\\ftp\\a.txt", 'U', true},          {"C:\\ftp\\deep\\a.txt", 'U', true}, // S: subfolders too
        {"C:\\ftp\\ro\\a.txt", 'D', true},      {"C:\\ftp\\ro\\a.txt", 'U', false},  // the deepest entry decides
        {"C:\\ftp\\ro\\sub\\a.txt", 'U', true},                                      // ro has no S
        {"D:\\mp3\\x\\s.mp3", 'E', true},       {"D:\\other\\a", 'D', false},        {"C:\\ftp\\a.txt", 'V', false},
    };
    for (const auto& l : letters) EXPECT_EQ(tree.HasLetter(l.path, l.letter), l.granted) << l.path << l.letter;
}

TEST(VirtualTree, NormalizeAndReplies) {
    EXPECT_EQ(NormalizePath("C:\\ftp\\pub\\..\\a.txt"), "C:\\ftp\\a.txt");
    EXPECT_EQ(NormalizePath("C:\\ftp\\.\\a.txt"), "C:\\ftp\\a.txt");
    EXPECT_EQ(NormalizePath("C:\\ftp\\a..b"), "C:\\ftp\\a..b");
    const TVirtualTree tree({{"C:\\ftp", "DU", ""}, {"C:\\srv\\music", "DVS", "mp3"}}, "C:\\ftp\\");
    std::string reply = "257 \"C:/srv/music/sub/\" is current directory.";
    EXPECT_TRUE(tree.ShowAliases(reply));
    EXPECT_EQ(reply, "257 \"/mp3/sub/\" is current directory.");
    EXPECT_TRUE(tree.InTree("C:\\srv\\music\\sub\\"));
    EXPECT_TRUE(tree.AboveAlias("C:\\srv\\"));
    EXPECT_FALSE(tree.AboveAlias("C:\\ftp\\"));
}

TEST(VirtualTree, ContainmentFollowsLinksAndComponents) {
    const test::TTempDir tmp;
    const fs::path root = tmp.File("tree");
    fs::create_directories(root / "home" / "sub");
    fs::create_directories(root / "homex");
    fs::create_directories(root / "music");
    fs::create_directories(root / "out");
    fs::create_symlink(root / "out", root / "home" / "link");
    fs::create_symlink(root / "home" / "sub", root / "home" / "inner");
    const std::string home = EnginePath((root / "home").string()) + "\\";
    const TVirtualTree tree({{EnginePath((root / "home").string()), "DUS", ""},
                             {EnginePath((root / "music").string()), "DVS", "mp3"},
                             {EnginePath((root / "home" / "sub" / "locked").string()), "A", ""}},
                            home);
    struct Case {
        std::string path;
        bool inside;
    } cases[] = {
        {home + "a.txt", true},
        {home + "sub\\new.txt", true},
        {home + "inner\\x", true}, // a link that stays inside
        {home + "link\\x", false}, // a link that leads out
        {home + "..\\out\\x", false},
        {home + "sub\\..\\..\\out", false},
        {EnginePath((root / "homex").string()) + "\\a", false}, // the home's name as a prefix
        {EnginePath((root / "music").string()) + "\\s.mp3", true},
        {home + "sub\\locked\\x", false},
        {"D:\\x", false},
        {"\\\\srv\\share\\x", false},
        {home + std::string(5000, 'a'), false},
    };
    for (const auto& c : cases) EXPECT_EQ(tree.Contains(c.path), c.inside) << c.path;
}

TEST(HostFormats, SecondsThousandsAndRates) {
    EXPECT_EQ(FormatSeconds(0), "00:00:00");
    EXPECT_EQ(FormatSeconds(25 * 3600 + 61), "01:01:01");
    EXPECT_EQ(FormatThousands(3000000), "3,000,000");
    EXPECT_EQ(FormatThousands(999), "999");
    EXPECT_EQ(FormatRate(3000000.0 / 2 / 1024), "1,464.80");
    EXPECT_EQ(FormatRate(12345.678), "12,346.00");
    EXPECT_EQ(FormatRate(123.456), "123.46");
    EXPECT_EQ(FormatRate(0), "0.00");
    EXPECT_EQ(FormatRate(99.999), "100.00");
}
