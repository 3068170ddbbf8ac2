// The reply text as the diagnostic log keeps it: templates, signatures, the MyKad record and
// photo are personal data and stay out of the log.
#pragma once

#include <string>

namespace quillon {

// `reply` with every data field replaced by its length ("[ENROLL][0][1196 characters][123]").
// The command, the result code and the closing [123] are kept, and so are the fields that carry
// no personal data: the branch, the terminal's serial number and customer name, the MyKad card
// type. A text that is not a sequence of bracketed fields is replaced whole by its length.
std::string ReplyForLog(const std::string& reply);

}  // namespace quillon
