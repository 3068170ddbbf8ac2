// What the diagnostic log keeps of a reply.
#include "command/reply_log.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

TEST(ReplyForLog, DataFieldsOfEveryReplyLayoutBecomeTheirLengthAndTheRestIsKept) {
    const struct {
        std::string reply, logged;  // logged empty: the reply is kept whole
    } cases[] = {
        // Only a last field of 123 closes; a MyKad reply keeps its card type.
        {"[ENROLL][0][123][123]", "[ENROLL][0][3 characters][123]"},
        {"[READMYKADNOPHOTO][0][1][rec]", "[READMYKADNOPHOTO][0][1][3 characters]"},
        // No personal data; failures echo field 1 as received, a "[" in it too.
        {"[GETBRANCHCODE][0][BR-7731][Taman Orkid Jaya][192.0.2.2][123]", ""},
        {"[AB[CD][-1007][123]", ""},
        // A field the log does not know is taken for data; what is no sequence of fields, too.
        {"[FUTURE][0][secret][123]", "[FUTURE][0][6 characters][123]"},
        {"[ENROLL][0][ABCD", "16 characters"},
        {"[ENROLL]x[0]", "12 characters"},
        {"", "0 characters"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReplyForLog(c.reply), c.logged.empty() ? c.reply : c.logged) << c.reply;
    }
}

}  // namespace
}  // namespace quillon
