#include "store/LangText.h"

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

namespace nubo {
namespace {

using test::TTempDir;
using test::WriteBytes;

TEST(FormatText, PlaceholdersThatDoNotFitNeverBreak) {
    const struct {
        const char* text;
        std::initializer_list<std::string_view> args;
        const char* expected;
    } cases[] = {
        {"Client %s, %s Disconnected", {"bob", "1.2.3.4"}, "Client bob, 1.2.3.4 Disconnected"},
        {"Client %S, %S Disconnected", {"bob", "1.2.3.4"}, "Client bob, 1.2.3.4 Disconnected"},
        {"Client %s Disconnected", {"bob", "1.2.3.4"}, "Client bob Disconnected"},
        {"%s %s %s!", {"a"}, "a  !"},
        {"%d%% done, %s", {"x"}, "%d%% done, x"},
        {"100%", {"x"}, "100%"},
        {"%s", {"%s"}, "%s"}, // arguments are not formatted again
        {"no placeholder", {}, "no placeholder"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatText(c.text, c.args), c.expected) << c.text;
}

TEST(LangText, FileOfTheStemOrTheDefault) {
    TTempDir tmp;
    TLangTexts texts(tmp.Dir());
    EXPECT_EQ(texts.LangText(sNotStart), "Server not started."); // no file at all
    EXPECT_EQ(texts.LangText(sSerStart), "서버가 시작되었습니다.");

    WriteBytes(tmp.File("english.lng"), "[LANGFILE]\r\nsNotStart=Not running.\r\n"
                                        "sSerStart=\r\n");
    WriteBytes(tmp.File(".lng"), "[langfile]\r\nsSetupFormClose=Restart to apply.\r\n"
                                 "sNotStart=Plain.\r\n");
    EXPECT_EQ(texts.LangText(sNotStart), "Plain."); // empty stem: the file ".lng"
    texts.SetLangSpec("english");
    EXPECT_EQ(texts.LangText(sNotStart), "Not running.");
    EXPECT_EQ(texts.LangText(sSerStart), "서버가 시작되었습니다."); // empty value: default
    EXPECT_EQ(texts.LangText(sSetupFormClose), sSetupFormClose.Default);
    EXPECT_EQ(texts.LangTextPlain(sSetupFormClose), "Restart to apply.");

    // Read afresh: an edit takes effect at the next lookup.
    WriteBytes(tmp.File("english.lng"), "[LANGFILE]\r\nsNotStart=Edited.\r\n");
    EXPECT_EQ(texts.LangText(sNotStart), "Edited.");
}

TEST(LangText, KeyTableIsCompleteAndUnique) {
    EXPECT_EQ(std::size(kLangKeys), 36u);
    for (size_t i = 0; i < std::size(kLangKeys); ++i) {
        EXPECT_TRUE(kLangKeys[i].Key.starts_with("s"));
        EXPECT_FALSE(kLangKeys[i].Default.empty());
        for (size_t j = 0; j < i; ++j) EXPECT_NE(kLangKeys[i].Key, kLangKeys[j].Key);
    }
    EXPECT_EQ(FormatText(sVersion.Default, {"2.0.0"}), "Nubo FTP Server Version 2.0.0");
}

} // namespace
} // namespace nubo
