// A request's bracketed fields as the dispatcher takes them apart.
#include "command/fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace quillon {
namespace {

TEST(GetField, CopiesTheFieldCutToTheBufferOrLeavesOutAlone) {
    const struct {
        std::string text;
        int index, result;
        std::string expected;  // out after the call; it starts as "keep"
    } cases[] = {
        {"[P][Q][R]", 3, 0, "R"},      // a short field is terminated over the old content
        {"[P][Q][R]", 4, -1, "keep"},  // no such field
        {"[P[Q]][R]", 1, 0, "P[Q"},    // "[" is content...
        {"[P[Q]][R]", 2, 0, "Q"},      // ...and opens the next field
        {"[ENROLL", 1, 0, "ENROLL"},   // unterminated
        {"[P]X[Q]", 2, 0, "Q"},        // X belongs to no field
        {"[][B]", 1, -1, "keep"},      // an empty field copies nothing
        {"[A]", 0, -1, "keep"},        // fields count from 1
        {"[" + std::string(5000, 'Z') + "][2]", 1, 0, std::string(31, 'Z')},
    };
    for (const auto& c : cases) {
        char out[32] = "keep";
        EXPECT_EQ(GetField(c.index, c.text.c_str(), out, sizeof out), c.result)
            << c.text.substr(0, 20) << " #" << c.index;
        EXPECT_EQ(std::string(out), c.expected);
    }
}

}  // namespace
}  // namespace quillon
