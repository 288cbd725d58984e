#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/PathMap.h"

using namespace nubo;

TEST(PathMap, NativePathTable) {
    struct Case {
        std::string engine, native;
    } cases[] = {
        {"C:\\srv\\ftp\\a.txt", "/srv/ftp/a.txt"},
        {"c:\\srv\\ftp\\", "/srv/ftp/"},
        {"C:\\", "/"},
        {"C:", "/"},
        {"C:x", "/x"},
        {"C:/mixed\\seps", "/mixed/seps"},
        {"C:\\a\\..\\b", "/a/../b"},
        {"D:\\data\\a.txt", ""},
        {"d:\\", ""},
        {"\\\\srv\\share\\a.txt", ""},
        {"\\ftp\\a.txt", ""},
        {"a.txt", ""},
        {"", ""},
        {std::string("C:\\a\0b", 6), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(NativePath(c.engine), c.native) << c.engine;
}

TEST(PathMap, DisplayPathTable) {
    struct Case {
        std::string path, shown;
    } cases[] = {
        {"C:\\tmp\\srv\\down\\file", "/tmp/srv/down/file"},
        {"C:\\srv\\ftp\\", "/srv/ftp/"},
        {"/srv/ftp/a.txt", "/srv/ftp/a.txt"},   // native already
        {"D:\\data\\a.txt", "D:\\data\\a.txt"}, // names nothing here: shown as it is
        {"\\\\srv\\share\\a", "\\\\srv\\share\\a"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(DisplayPath(c.path), c.shown) << c.path;
}

TEST(PathMap, EnginePathTable) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string here = NativePath("C:") == "/" ? EnginePath(cwd) : "";
    struct Case {
        std::string native, engine;
    } cases[] = {
        {"/srv/ftp", "C:\\srv\\ftp"},   {"/srv/ftp/", "C:\\srv\\ftp\\"}, {"/", "C:\\"},
        {"C:\\already", "C:\\already"}, {"rel/x", here + "\\rel\\x"},
    };
    for (const Case& c : cases) EXPECT_EQ(EnginePath(c.native), c.engine) << c.native;
}

TEST(PathMap, ExpandFileNameTable) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"C:\\ftp\\pub\\a.txt", "C:\\ftp\\pub\\a.txt"},
        {"C:\\ftp\\pub\\..\\a.txt", "C:\\ftp\\a.txt"},
        {"C:\\ftp\\.\\a.txt", "C:\\ftp\\a.txt"},
        {"C:\\ftp\\..\\..\\..\\etc", "C:\\etc"},
        {"C:\\ftp\\..", "C:\\"},
        {"C:\\ftp\\.", "C:\\ftp"},
        {"C:\\ftp\\sub\\", "C:\\ftp\\sub\\"},
        {"C:\\ftp\\\\sub", "C:\\ftp\\sub"},
        {"C:/ftp/sub", "C:\\ftp\\sub"},
        {"C:\\", "C:\\"},
        {"D:\\x\\..\\y", "D:\\y"},
        {"\\\\srv\\share\\a\\..\\b", "\\\\srv\\share\\b"},
        {"\\\\srv\\share\\..\\..", "\\\\srv\\share\\"},
        {"C:\\ftp\\..\\", "C:\\"},
    };
    for (const Case& c : cases) EXPECT_EQ(ExpandFileName(c.in), c.out) << c.in;
}
