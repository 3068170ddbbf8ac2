// Parsers of the terminal's replies: each turns a decoded plain frame (STX .. ETX, `length`
// bytes) into a typed reply. What a reply does to the running operation is the dialog's business.
#pragma once

#include <cstdint>

#include "foundation/sizes.h"
#include "terminal/frame_codec.h"

namespace quillon {

const uint8_t kReplyEnroll256 = 0x51;
const uint8_t kReplyVerify256 = 0x53;
const uint8_t kReplyEvent = 0x94;
const uint8_t kStatusOk = 0x06;

const int kCustomerNameMax = 49;  // the status reply's name, in a 50-byte area
const int kSerialNumberMax = 99;  // a 100-byte field, always terminated
// The signature bytes one 0xF3 reply can carry: a frame fills the work area at most, less STX, the
// length, checksum and ETX (5 bytes) and the code, five zeros and status before the data (7).
const int kSignatureFrameDataMax = kWorkAreaSize - 5 - 7;
// The signature bytes a GETSIGNATURE reply carries at most: one frame's, within the dialog's area.
const int kSignatureReplyBytes =
    kSignatureFrameDataMax < kSignatureDataSize ? kSignatureFrameDataMax : kSignatureDataSize;

// Bytes inside the frame; `data` is null when `length` is 0.
struct ByteSpan {
    const uint8_t* data;
    int length;
};

// The byte at `position`, or 0 when the frame ends before it.
uint8_t ReplyByte(const uint8_t* frame, int length, int position);
// The data bytes from `position` up to the last data byte (length field L: up to L + 2).
ByteSpan ReplyData(const uint8_t* frame, int length, int position);

// Where a query's reply holds its text: a count k of `countBytes` bytes (high byte first) at
// `countAt`, then k bytes from `textAt`, at most `max` of them and never past the frame's data.
struct TextField {
    int countAt;
    int countBytes;
    int textAt;
    int max;
};
// 0x23: the customer name; 0x25: the serial number.
inline constexpr TextField kCustomerNameField = {5, 1, 6, kCustomerNameMax};
inline constexpr TextField kSerialNumberField = {5, 2, 7, kSerialNumberMax};
ByteSpan ParseTextField(const uint8_t* frame, int length, const TextField& field);

// 0x23: the link key behind the customer name and the terminal identity; null when the frame
// ends before the key's 16 bytes.
const uint8_t* ParseStatusLinkKey(const uint8_t* frame, int length);

// 0xF3: status at position 9; on success the length field and its L - 7 data bytes from
// position 10 (at most 5000).
struct SignatureReply {
    bool ok;
    uint32_t lengthField;
    ByteSpan data;
};
SignatureReply ParseSignatureReply(const uint8_t* frame, int length);

// 0x27, 0x28, 0x51, 0x53: status at 4 (0x27, 0x28) or 9 (0x51, 0x53); the template of 0x27 from
// position 7 (`enrollTemplateSize` bytes, as far as the frame holds them) and of 0x51 from
// position 12 (its length at 10 and 11).
struct ResultReply {
    uint8_t code;
    uint8_t status;
    bool ok;
    ByteSpan templ;
};
ResultReply ParseResultReply(const uint8_t* frame, int length, int enrollTemplateSize);

// 0x94: the event code at position 6.
uint8_t ParseEventCode(const uint8_t* frame, int length);

}  // namespace quillon
