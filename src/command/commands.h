// The commands of ProcessWebMessage, a row each: the keyword that selects it, what runs it, the
// dialog mode of a card read or a text query, what the diagnostic log may keep of its reply, and
// (worked out from the row) its longest reply. The dispatcher, the reply-size contract, the reply
// log and the MyKad record read this table; nothing else names a command.
#pragma once

#include <cstddef>

#include "acqdialog/operations.h"
#include "command/mykad_record.h"
#include "foundation/sizes.h"
#include "terminal/terminal_replies.h"

namespace quillon {

enum class CommandKind {
    kBranchCode,  // no dialog: settings and the host's address
    kTextQuery,   // a text query of the row's mode: its text
    kEnroll,
    kSignature,
    kVerify2F,
    kSetDateTime,
    kCardRead,  // the reader in the row's mode
    kVerify,
};

// What the log keeps of a reply besides its command, its code and the closing [123]: every other
// field is replaced by its length. Fields of a new reply stay out of the log unless a row says.
enum class LogKeeps {
    kCodeOnly,
    kAllFields,  // the branch, the terminal's serial number and customer (a bank, not a person)
    kCardType,   // the MyKad reply's third field: MyKad or MyKid
};

struct CommandRow {
    const char* keyword;
    CommandKind kind;
    const ModeSetup* mode;  // card reads and text queries: the dialog's mode; null otherwise
    LogKeeps log;
};

// Field 1 selects the first row whose keyword it contains (anywhere, case-sensitively), so a
// keyword that contains another comes before it: VERIFY2F before VERIFY, and the four card reads
// (two of which contain VERIFY) before VERIFY; READMYKADNOPHOTO is not contained in
// READMYKADNOVERIFYNOPHOTO, and READMYKAD, contained in all three others, comes after them.
// Keywords that contain no other keep the order in which hosts have always seen them tested.
inline constexpr CommandRow kCommands[] = {
    {"GETBRANCHCODE", CommandKind::kBranchCode, nullptr, LogKeeps::kAllFields},
    {"GETSERIALNUMBER", CommandKind::kTextQuery, &SetupFor(Mode::kGetSn), LogKeeps::kAllFields},
    {"GETFIRMWAREVERSION", CommandKind::kTextQuery, &SetupFor(Mode::kGetLltStatus),
     LogKeeps::kAllFields},
    {"ENROLL", CommandKind::kEnroll, nullptr, LogKeeps::kCodeOnly},
    {"GETSIGNATURE", CommandKind::kSignature, nullptr, LogKeeps::kCodeOnly},
    {"VERIFY2F", CommandKind::kVerify2F, nullptr, LogKeeps::kCodeOnly},
    {"SETDATETIME", CommandKind::kSetDateTime, nullptr, LogKeeps::kCodeOnly},
    {"READMYKADNOPHOTO", CommandKind::kCardRead, &SetupFor(Mode::kMyKadOnly), LogKeeps::kCardType},
    {"READMYKADNOVERIFYWITHPHOTO", CommandKind::kCardRead, &SetupFor(Mode::kMyKadNoVerify),
     LogKeeps::kCardType},
    {"READMYKADNOVERIFYNOPHOTO", CommandKind::kCardRead, &SetupFor(Mode::kMyKadNoVerifyNoPhoto),
     LogKeeps::kCardType},
    {"READMYKAD", CommandKind::kCardRead, &SetupFor(Mode::kMyKad), LogKeeps::kCardType},
    {"VERIFY", CommandKind::kVerify, nullptr, LogKeeps::kCodeOnly},
};

// The row field 1 selects, or null (no keyword: -1007).
const CommandRow* MatchCommand(const char* field1);
// The row of exactly this keyword, or null.
const CommandRow* CommandNamed(const char* keyword);

// ---- Longest replies, from the buffers that fill them; lengths count the terminating NUL ----
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
// MyKad: the payload is the random block, the marker block and the data block.
constexpr size_t Payload(int dataBlock) {
    return static_cast<size_t>(kMyKadKeySize + kMyKadMarkerBlockSize + dataBlock);
}

// A refusal, and a failed card read, name field 1 as received, cut to the command buffer.
constexpr size_t kFieldReply =
    Text("[") + (kCommandSize - 1) + Text("][") + kCode + Text("][123]") + 1;

constexpr size_t Longest(const CommandRow& row) {
    const size_t open = Text("[") + Text(row.keyword) + Text("][");
    switch (row.kind) {
        case CommandKind::kBranchCode:
            return open + Text("0][") + (kBranchCodeSize - 1) + Text("][") + (kBranchNameSize - 1) +
                   Text("][") + (kHostAddressSize - 1) + Text("][123]") + 1;
        case CommandKind::kTextQuery:
            return open + Text("0][") + (kResultTextSize - 1) + Text("][123]") + 1;
        case CommandKind::kEnroll:
            return open + Text("0][") + 2 * kTemplateSize + Text("][123]") + 1;
        case CommandKind::kSignature:
            return open + Text("0][") + 2 * static_cast<size_t>(kSignatureReplyBytes) +
                   Text("][123]") + 1;
        case CommandKind::kCardRead: {
            const size_t record =
                MyKadText(Max(Payload(kMyKadPlainDataBlock), Payload(kMyKadLabelledDataBlock)));
            const size_t mykad =
                open + Text("0][0][") + record +
                (row.mode->readsPhoto ? Text("][") + MyKadText(kMyKadPhotoBytes) : 0) + Text("]") +
                1;
            const size_t mykid =
                open + Text("0][1][") + MyKadText(Payload(kMyKidDataBlock)) + Text("]") + 1;
            return Max(Max(mykad, mykid), kFieldReply);
        }
        case CommandKind::kVerify2F:
        case CommandKind::kSetDateTime:
        case CommandKind::kVerify:
            break;
    }
    return open + kCode + Text("][123]") + 1;
}

constexpr size_t LongestOfAll() {
    size_t longest = kFieldReply;
    for (const CommandRow& row : kCommands) longest = Max(longest, Longest(row));
    return longest;
}
constexpr size_t kLongest = LongestOfAll();

static_assert(kFieldReply == kFieldReplySize, "a refusal's reply, as the dispatcher sizes it");
static_assert(Payload(kMyKidDataBlock) <= kMyKadPayloadSize, "the MyKid payload fits");

}  // namespace reply_sizes

}  // namespace quillon
