#include <gtest/gtest.h>
#include "app/config_block.h"
TEST(ConfigBlock, MagicComparesSevenBytes) {
    ConfigBlock b{};
    memcpy(b.magic, "KESTRA3X", 8);
    EXPECT_TRUE(IsValidBlock(b));
    b.magic[6] = '4';
    EXPECT_FALSE(IsValidBlock(b));
}
