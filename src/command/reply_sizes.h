// The longest reply of each command, worked out from the buffers that fill it, and the longest of
// all: the reply buffer a host must give (QUILLON_REPLY_MAX in quillon.h, checked against it
// where the entry point is exported). Lengths count the terminating NUL.
#pragma once

#include <cstddef>

#include "command/mykad_record.h"
#include "foundation/sizes.h"
#include "terminal/terminal_replies.h"

namespace quillon {
namespace reply_sizes {

constexpr size_t Text(const char* literal) {
    size_t n = 0;
    while (literal[n] != '\0') ++n;
    return n;
}
constexpr size_t Max(size_t a, size_t b) { return a > b ? a : b; }
// The MyKad replies' base64 text of n bytes, less the last character that the record drops.
constexpr size_t MyKadText(size_t n) { return 4 * ((n + 2) / 3) - 1; }
constexpr size_t kCode = 11;  // a signed 32-bit decimal: "-2147483648"

constexpr size_t kSignature =
    Text("[GETSIGNATURE][0][") + 2 * static_cast<size_t>(kSignatureReplyBytes) + Text("][123]") + 1;
constexpr size_t kEnroll = Text("[ENROLL][0][") + 2 * kTemplateSize + Text("][123]") + 1;
constexpr size_t kBranch = Text("[GETBRANCHCODE][0][") + (kBranchCodeSize - 1) + Text("][") +
                           (kBranchNameSize - 1) + Text("][") + (kHostAddressSize - 1) +
                           Text("][123]") + 1;
constexpr size_t kTextCommand =
    Text("[GETFIRMWAREVERSION][0][") + (kResultTextSize - 1) + Text("][123]") + 1;
// A refusal names field 1 as received, cut to the command buffer.
constexpr size_t kFieldReply =
    Text("[") + (kCommandSize - 1) + Text("][") + kCode + Text("][123]") + 1;

// MyKad: the payload is the random block, the marker block and the data block.
constexpr size_t kMyKadKeyword = Text("READMYKADNOVERIFYWITHPHOTO");  // the longest of the four
constexpr size_t Payload(int dataBlock) {
    return static_cast<size_t>(kMyKadKeySize + kMyKadMarkerBlockSize + dataBlock);
}
constexpr size_t kMyKadWithPhoto =
    Text("[") + kMyKadKeyword + Text("][0][0][") +
    MyKadText(Max(Payload(kMyKadPlainDataBlock), Payload(kMyKadLabelledDataBlock))) + Text("][") +
    MyKadText(static_cast<size_t>(kMyKadPhotoBytes)) + Text("]") + 1;
constexpr size_t kMyKid = Text("[") + kMyKadKeyword + Text("][0][1][") +
                          MyKadText(Payload(kMyKidDataBlock)) + Text("]") + 1;

constexpr size_t kLongest = Max(Max(Max(kSignature, kEnroll), Max(kBranch, kTextCommand)),
                                Max(kFieldReply, Max(kMyKadWithPhoto, kMyKid)));

static_assert(kFieldReply == kFieldReplySize, "a refusal's reply, as the dispatcher sizes it");
static_assert(Payload(kMyKidDataBlock) <= kMyKadPayloadSize, "the MyKid payload fits");

}  // namespace reply_sizes
}  // namespace quillon
