#include <gtest/gtest.h>

#include <string>

#include "TextFormat.h"

TEST(TextFormat, WholeTextOfAnyLength) {
    EXPECT_EQ("a 3 b", Format("a %d %s", 3, "b"));
    EXPECT_EQ("", Format("%s", ""));
    // Around the stack buffer's size and far beyond it: never cut.
    for (std::size_t n : {1023u, 1024u, 1025u, 5000u}) {
        const std::string x(n, 'x');
        EXPECT_EQ(x + "|7", Format("%s|%d", x.c_str(), 7));
    }
}
