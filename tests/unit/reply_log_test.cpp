// What of each reply layout the diagnostic log keeps.
#include "command/reply_log.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

TEST(ReplyForLog, DataFieldsOfEveryReplyLayoutBecomeTheirLengthAndTheRestIsKept) {
    const std::string hex(1196, 'A'), payload(975, 'Q'), photo(5335, 'z');
    const struct {
        std::string reply, logged;
    } cases[] = {
        // Templates and signatures: the data field only.
        {"[ENROLL][0][" + hex + "][123]", "[ENROLL][0][1196 characters][123]"},
        {"[GETSIGNATURE][0][00017F80ABFF][123]", "[GETSIGNATURE][0][12 characters][123]"},
        {"[GETSIGNATURE][0][][123]", "[GETSIGNATURE][0][0 characters][123]"},
        // Only a last field of 123 is the closing field.
        {"[ENROLL][0][123][123]", "[ENROLL][0][3 characters][123]"},
        // MyKad: the scrambled record and photo; the card type stays.
        {"[READMYKAD][0][0][" + payload + "][" + photo + "]",
         "[READMYKAD][0][0][975 characters][5335 characters]"},
        {"[READMYKADNOVERIFYWITHPHOTO][0][0][" + payload + "][" + photo + "]",
         "[READMYKADNOVERIFYWITHPHOTO][0][0][975 characters][5335 characters]"},
        {"[READMYKADNOPHOTO][0][1][" + std::string(1991, '+') + "]",
         "[READMYKADNOPHOTO][0][1][1991 characters]"},
        {"[READMYKADNOVERIFYNOPHOTO][0][0][" + std::string(595, '/') + "]",
         "[READMYKADNOVERIFYNOPHOTO][0][0][595 characters]"},
        // No personal data: kept whole.
        {"[GETBRANCHCODE][0][BR-7731][Taman Orkid Jaya][192.0.2.2][123]",
         "[GETBRANCHCODE][0][BR-7731][Taman Orkid Jaya][192.0.2.2][123]"},
        {"[GETSERIALNUMBER][0][QT-2026-00042][123]", "[GETSERIALNUMBER][0][QT-2026-00042][123]"},
        {"[GETFIRMWAREVERSION][0][KOPERASI CONTOH UTARA][123]",
         "[GETFIRMWAREVERSION][0][KOPERASI CONTOH UTARA][123]"},
        {"[VERIFY2F][-3][123]", "[VERIFY2F][-3][123]"},
        {"[VERIFY][0][123]", "[VERIFY][0][123]"},
        {"[SETDATETIME][0][123]", "[SETDATETIME][0][123]"},
        // Failures echo field 1 as received, a "[" in it too.
        {"[xREADMYKADNOPHOTOx][-1][123]", "[xREADMYKADNOPHOTOx][-1][123]"},
        {"[AB[CD][-1007][123]", "[AB[CD][-1007][123]"},
        {"[][-1007][123]", "[][-1007][123]"},
        // A field the log does not know is taken for data.
        {"[FUTURE][0][secret][123]", "[FUTURE][0][6 characters][123]"},
        // Not a sequence of fields: the length alone.
        {"[ENROLL][0][ABCD", "16 characters"},
        {"[ENROLL]x[0]", "12 characters"},
        {"", "0 characters"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReplyForLog(c.reply), c.logged) << c.reply.substr(0, 60);
    }
}

}  // namespace
}  // namespace quillon
