// The prompt texts: each a [MESSAGE] key of the settings file with its built-in default (English,
// carriage return and line feed, Malay). Written once here, for the mode set-up, the terminal's
// events and the card reader's prompt codes alike.
#pragma once

namespace quillon {

struct PromptText {
    const char* key;
    const char* text;
};

// Which variant of a prompt code a mode shows: 0xA0 asks for the thumb "for enrollment" in an
// enrolment, 0xA3 and 0xA4 report the finger (not the MyKad) in a verification.
enum class PromptVariant { kEnroll, kVerify, kOther };

// The prompt of a terminal event or card-reader code (0xA0 to 0xA7, 0xB1 to 0xB7); null for any
// other code.
const PromptText* PromptForCode(int code, PromptVariant variant);

}  // namespace quillon
