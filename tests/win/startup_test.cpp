#include <gtest/gtest.h>
#include "app/startup.h"
TEST(CommandTail, QuotedProgramName) {
    EXPECT_STREQ(FindCommandTail("\"C:\\a b\\x.exe\"  /O"), "/O");
}
