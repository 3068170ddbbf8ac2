#include "terminal/terminal_replies.h"

#include "terminal/terminal_commands.h"

namespace quillon {

namespace {

int Min(int a, int b) { return a < b ? a : b; }

ByteSpan Bounded(ByteSpan span, int limit) {
    if (span.length > limit) span.length = limit < 0 ? 0 : limit;
    return span;
}

}  // namespace

uint8_t ReplyByte(const uint8_t* frame, int length, int position) {
    return position < length ? frame[position] : 0;
}

ByteSpan ReplyData(const uint8_t* frame, int length, int position) {
    // The last data byte sits at L + 2; the checksum and ETX follow it.
    const int declaredEnd = ReplyByte(frame, length, 1) * 256 + ReplyByte(frame, length, 2) + 3;
    const int end = Min(declaredEnd, length - 2);
    if (end <= position) return ByteSpan{nullptr, 0};
    return ByteSpan{frame + position, end - position};
}

ByteSpan ParseTextField(const uint8_t* frame, int length, const TextField& field) {
    int k = 0;
    for (int i = 0; i < field.countBytes; ++i)
        k = k * 256 + ReplyByte(frame, length, field.countAt + i);
    return Bounded(ReplyData(frame, length, field.textAt), Min(k, field.max));
}

const uint8_t* ParseStatusLinkKey(const uint8_t* frame, int length) {
    const int keyAt =
        kCustomerNameField.textAt + ReplyByte(frame, length, kCustomerNameField.countAt) + 16;
    return ReplyData(frame, length, keyAt).length >= 16 ? frame + keyAt : nullptr;
}

SignatureReply ParseSignatureReply(const uint8_t* frame, int length) {
    SignatureReply reply{false, 0, ByteSpan{nullptr, 0}};
    if (ReplyByte(frame, length, 9) != kStatusOk) return reply;
    reply.ok = true;
    const int field = ReplyByte(frame, length, 1) * 256 + ReplyByte(frame, length, 2);
    reply.lengthField = static_cast<uint32_t>(field);
    reply.data = Bounded(ReplyData(frame, length, 10), Min(field - 7, kSignatureDataSize));
    return reply;
}

ResultReply ParseResultReply(const uint8_t* frame, int length, int enrollTemplateSize) {
    const uint8_t code = ReplyByte(frame, length, 3);
    const bool variant256 = code == kReplyEnroll256 || code == kReplyVerify256;
    const uint8_t status = ReplyByte(frame, length, variant256 ? 9 : 4);
    ResultReply reply{code, status, status == kStatusOk, ByteSpan{nullptr, 0}};
    if (code == CMD_ENROLL) {
        reply.templ = Bounded(ReplyData(frame, length, 7), enrollTemplateSize);
    } else if (code == kReplyEnroll256) {
        const int size = ReplyByte(frame, length, 10) * 256 + ReplyByte(frame, length, 11);
        reply.templ = Bounded(ReplyData(frame, length, 12), size);
    }
    return reply;
}

uint8_t ParseEventCode(const uint8_t* frame, int length) { return ReplyByte(frame, length, 6); }

}  // namespace quillon
