// The text a second start hands to the running copy.
#include <gtest/gtest.h>

#include "platform/SingleInstance.h"

using namespace nubo;

TEST(CommandLine, JoinedWithSingleBlanksAndTrimmed) {
    EXPECT_EQ(JoinCommandLine({" /stop", "/close "}), "/stop /close");
    EXPECT_EQ(JoinCommandLine({}), "");
}
