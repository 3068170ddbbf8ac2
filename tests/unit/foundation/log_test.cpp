// Building a log line's text.
#include "foundation/log.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

// Texts up to 255 characters are built on the stack, longer ones in a second pass.
TEST(Format, BuildsTextsWholeOnBothSidesOfTheStackBuffer) {
    for (size_t n : {0, 254, 255, 256}) {
        const std::string text(n, 'k');
        EXPECT_EQ(Format("%s", text.c_str()), text) << n;
        EXPECT_EQ(Format("%s%d", text.c_str(), -7), text + "-7") << n;
    }
}

}  // namespace
}  // namespace quillon
