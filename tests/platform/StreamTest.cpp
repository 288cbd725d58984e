#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Stream.h"
#include "tests/support/TempDir.h"

using namespace nubo;
using nubo::test::TTempDir;

namespace {

std::string ErrorOf(const std::string& path, TFileMode mode) {
    try {
        TFileStream s(path, mode);
    } catch (const EStreamError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(FileStream, ModesReadWriteAndPosition) {
    TTempDir t;
    {
        TFileStream s(t.Engine("f.bin"), TFileMode::Create);
        s.WriteBuffer("hello world", 11);
        EXPECT_EQ(s.Size(), 11);
        EXPECT_EQ(s.Position(), 11);
        EXPECT_GE(s.Handle(), 0);
    }
    {
        TFileStream s(t.Engine("f.bin"), TFileMode::Append);
        EXPECT_EQ(s.Position(), 11);
        s.WriteBuffer("!", 1);
    }
    {
        TFileStream s(t.Engine("f.bin"), TFileMode::Write);
        EXPECT_EQ(s.Position(), 0);
        s.WriteBuffer("J", 1);
    }
    EXPECT_EQ(t.Read("f.bin"), "Jello world!");
    {
        TFileStream s(t.Engine("f.bin"), TFileMode::Read);
        char buf[32];
        EXPECT_EQ(s.Seek(6, TSeekOrigin::Begin), 6);
        EXPECT_EQ(s.Read(buf, sizeof buf), 6u);
        EXPECT_EQ(std::string(buf, 6), "world!");
        EXPECT_EQ(s.Read(buf, sizeof buf), 0u);
        EXPECT_THROW(s.ReadBuffer(buf, 1), EStreamError);
        EXPECT_EQ(s.Seek(-1, TSeekOrigin::End), 11);
        EXPECT_EQ(s.Seek(100, TSeekOrigin::Current), 111); // past the end is allowed
        EXPECT_THROW(s.Seek(-1, TSeekOrigin::Begin), EStreamError);
        EXPECT_EQ(s.Position(), 111);
    }
    {
        TFileStream s(t.Engine("f.bin"), TFileMode::Create);
        EXPECT_EQ(s.Size(), 0);
    }
}

TEST(FileStream, SixtyFourBitPositions) {
    TTempDir t;
    const int64_t far = 5000000000LL;
    {
        TFileStream s(t.Engine("big.bin"), TFileMode::Create);
        EXPECT_EQ(s.Seek(far, TSeekOrigin::Begin), far);
        s.WriteBuffer("z", 1);
        EXPECT_EQ(s.Size(), far + 1);
    }
    TFileStream s(t.Engine("big.bin"), TFileMode::Read);
    EXPECT_EQ(s.Size(), far + 1);
    char c = 0;
    s.Seek(-1, TSeekOrigin::End);
    s.ReadBuffer(&c, 1);
    EXPECT_EQ(c, 'z');
}

TEST(FileStream, OpenFailuresNameTheEnginePath) {
    TTempDir t;
    mkdir(t.File("dir").c_str(), 0777);
    mkfifo(t.File("pipe").c_str(), 0666);
    symlink(t.File("target").c_str(), t.File("dangling").c_str());
    struct Case {
        std::string name;
        TFileMode mode;
        std::string prefix;
    } cases[] = {
        {"missing", TFileMode::Read, "Cannot open file \""},
        {"missing", TFileMode::Write, "Cannot open file \""},
        {"missing", TFileMode::Append, "Cannot open file \""},
        {"dir", TFileMode::Read, "Cannot open file \""},
        {"dir", TFileMode::Create, "Cannot create file \""},
        {"pipe", TFileMode::Read, "Cannot open file \""}, // refused, and without blocking
        {"pipe", TFileMode::Create, "Cannot create file \""},
        {"dangling", TFileMode::Read, "Cannot open file \""},
        {"dangling", TFileMode::Create, "Cannot create file \""},
        {"no\\such\\dir", TFileMode::Create, "Cannot create file \""},
    };
    for (const Case& c : cases) {
        std::string err = ErrorOf(t.Engine(c.name), c.mode);
        EXPECT_EQ(err.rfind(c.prefix + t.Engine(c.name) + "\". ", 0), 0u) << err;
        EXPECT_EQ(err.find(t.File()), std::string::npos) << err;
    }
    // A dangling link is never created through.
    EXPECT_NE(access(t.File("target").c_str(), F_OK), 0);
    EXPECT_NE(ErrorOf("D:\\x.txt", TFileMode::Create), "");
}

TEST(FileStream, SharingBetweenOpeners) {
    TTempDir t;
    t.Write("f", "data");
    using M = TFileMode;
    struct Case {
        M first, second;
        bool ok;
    } cases[] = {
        {M::Read, M::Read, true},
        {M::Read, M::ReadDenyWrite, true},
        {M::Read, M::Write, true},
        {M::Read, M::Create, false},
        {M::ReadDenyWrite, M::Read, true},
        {M::ReadDenyWrite, M::Write, false},
        {M::ReadDenyWrite, M::Append, false},
        {M::Write, M::Read, true},
        {M::Write, M::ReadDenyWrite, false},
        {M::Write, M::Write, false},
        {M::Append, M::Write, false},
        {M::Create, M::Read, false},
        {M::Create, M::Create, false},
    };
    for (const Case& c : cases) {
        TFileStream first(t.Engine("f"), c.first);
        std::string err = ErrorOf(t.Engine("f"), c.second);
        EXPECT_EQ(err.empty(), c.ok) << int(c.first) << " then " << int(c.second) << ": " << err;
    }
    // A file being downloaded is not truncated by a refused Create; a link reaches the
    // same file, and the rule with it.
    t.Write("f", "data");
    symlink(t.File("f").c_str(), t.File("l").c_str());
    {
        TFileStream reader(t.Engine("f"), M::Read);
        EXPECT_NE(ErrorOf(t.Engine("l"), M::Create), "");
    }
    EXPECT_EQ(t.Read("f"), "data");
    EXPECT_EQ(ErrorOf(t.Engine("l"), M::Write), ""); // released with the stream
}

TEST(MemoryStream, GrowsAndSeeks) {
    TMemoryStream m;
    m.WriteBuffer("abc", 3);
    EXPECT_EQ(m.Size(), 3);
    m.Seek(5, TSeekOrigin::Begin);
    m.WriteBuffer("z", 1);
    EXPECT_EQ(std::string(m.Memory(), 6), std::string("abc\0\0z", 6));
    m.Seek(0, TSeekOrigin::Begin);
    char buf[10];
    EXPECT_EQ(m.Read(buf, 10), 6u);
    EXPECT_THROW(m.Seek(-1, TSeekOrigin::Begin), EStreamError);
    m.Clear();
    EXPECT_EQ(m.Size(), 0);
    EXPECT_EQ(m.Position(), 0);
}
