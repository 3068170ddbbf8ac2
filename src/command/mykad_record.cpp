#include "command/mykad_record.h"

#include <cstring>

#include "foundation/log.h"
#include "foundation/setting_table.h"
#include "quillon_build_config.h"

namespace quillon {

const char kMyKadMarker[] = "KESTRELMARGINFOLDINGPLATE";

namespace {

const int kMarkerTextLength = 25;

// Bytes that must survive scrambling unchanged: the record's padding and the card's zeros.
bool IsKept(uint8_t x) { return x == 0x00 || x == 0x20; }

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

void ScrambleBlock(uint8_t* out, const uint8_t* in, int length, const uint8_t* key, int keyLength) {
    if (length < 1 || keyLength < 1) return;
    uint8_t check = 0;
    for (int i = 0; i < length - 1; ++i) {
        const uint8_t x = in[i];
        uint8_t y = x;
        if (!IsKept(x)) {
            y = static_cast<uint8_t>(x ^ key[i % keyLength]);
            if (IsKept(y)) y = x;
        }
        out[i] = y;
        check ^= y;
    }
    out[length - 1] = check;
}

std::string Base64Encode(const uint8_t* bytes, size_t count) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((count + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= count; i += 3) {
        const uint32_t v =
            (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        text += kAlphabet[(v >> 18) & 63];
        text += kAlphabet[(v >> 12) & 63];
        text += kAlphabet[(v >> 6) & 63];
        text += kAlphabet[v & 63];
    }
    const size_t rest = count - i;
    if (rest == 1) {
        const uint32_t v = uint32_t{bytes[i]} << 16;
        text += kAlphabet[(v >> 18) & 63];
        text += kAlphabet[(v >> 12) & 63];
        text += "==";
    } else if (rest == 2) {
        const uint32_t v = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8);
        text += kAlphabet[(v >> 18) & 63];
        text += kAlphabet[(v >> 12) & 63];
        text += kAlphabet[(v >> 6) & 63];
        text += '=';
    }
    return text;
}

void DeriveMyKadKey(const uint8_t random[kMyKadKeySize], uint8_t key[kMyKadKeySize]) {
    for (int i = 0; i < kMyKadKeySize; ++i) {
        const uint8_t mask = (i % 2 == 0) ? QUILLON_MYKAD_MASK_EVEN : QUILLON_MYKAD_MASK_ODD;
        key[i] = static_cast<uint8_t>(random[i] ^ mask);
    }
}

void MakeRandomBlock(IGuidSource& guid, IRandomSequence& fallback, uint8_t block[kMyKadKeySize]) {
    uint8_t bytes[kMyKadKeySize] = {0};
    if (guid.NewGuid(bytes)) {
        std::memcpy(block, bytes, kMyKadKeySize);
        return;
    }
    for (int i = 0; i < kMyKadKeySize; ++i) {
        block[i] = static_cast<uint8_t>(fallback.Next() / 255);
    }
}

MyKadLayout SelectMyKadLayout(bool labelled, bool verifying) {
    if (!labelled) return MyKadLayout::kPlain;
    return verifying ? MyKadLayout::kLabelledVerified : MyKadLayout::kLabelledVerifyFail;
}

size_t MyKadRecordOffset(MyKadLayout layout) {
    return layout == MyKadLayout::kPlain ? kMyKadPlainOffset : kMyKadLabelledOffset;
}

int MyKadDataBlockLength(MyKadLayout layout) {
    return layout == MyKadLayout::kPlain ? kMyKadPlainDataBlock : kMyKadLabelledDataBlock;
}

std::string FormatMyKadTimeStamp(const LocalTime& t) {
    return Format("%02d%02d%04d%02d%02d%02d", t.day, t.month, t.year, t.hour, t.minute, t.second);
}

std::string FormatMyKadRecord(MyKadLayout layout, const char* const texts[3],
                              const std::string& timeStamp, const std::string& address) {
    const char* label = "";
    if (layout == MyKadLayout::kLabelledVerified) label = "VERIFIED      ";
    if (layout == MyKadLayout::kLabelledVerifyFail) label = "VERIFY FAIL   ";
    return Format("%s%-20s%-6s%-14s%-20s%-20s", label, OrEmpty(texts[0]), OrEmpty(texts[1]),
                  timeStamp.c_str(), OrEmpty(texts[2]), address.c_str());
}

size_t WriteMyKadRecord(uint8_t* card, size_t cardSize, size_t offset, const std::string& record) {
    if (offset >= cardSize) return 0;
    size_t count = record.size();
    if (count > cardSize - offset) count = cardSize - offset;
    std::memcpy(card + offset, record.data(), count);
    return count;
}

size_t BuildMyKadPayload(const uint8_t random[kMyKadKeySize], const uint8_t* card, int dataLength,
                         uint8_t markerPadding, uint8_t* payload) {
    std::memset(payload, 0, kMyKadPayloadSize);
    const int room = static_cast<int>(kMyKadPayloadSize) - kMyKadKeySize - kMyKadMarkerBlockSize;
    if (dataLength < 0) dataLength = 0;
    if (dataLength > room) dataLength = room;
    uint8_t key[kMyKadKeySize];
    DeriveMyKadKey(random, key);

    uint8_t marker[kMyKadMarkerBlockSize];
    std::memset(marker, markerPadding, sizeof marker);
    std::memcpy(marker, kMyKadMarker, kMarkerTextLength);

    std::memcpy(payload, random, kMyKadKeySize);
    ScrambleBlock(payload + kMyKadKeySize, marker, kMyKadMarkerBlockSize, key, kMyKadKeySize);
    ScrambleBlock(payload + kMyKadKeySize + kMyKadMarkerBlockSize, card, dataLength, key,
                  kMyKadKeySize);
    return static_cast<size_t>(kMyKadKeySize + kMyKadMarkerBlockSize + dataLength);
}

std::string MyKadText(const uint8_t* bytes, size_t count) {
    std::string text = Base64Encode(bytes, count);
    if (!text.empty()) text.pop_back();
    return text;
}

std::string MyKadRecordReply::Build(const char* keyword, const ModeSetup& reader, uint8_t* cardData,
                                    const uint8_t* photo, const char* const texts[3]) {
    const bool mykad = cardData[0] == '0';

    uint8_t random[kMyKadKeySize];
    MakeRandomBlock(guid_, fallback_, random);

    size_t payloadLength = 0;
    if (mykad) {
        const bool labelled =
            ReadSetting(profile_, locator_.GetIniPath(), Setting::kLabelledRecord) != 0;
        const MyKadLayout layout = SelectMyKadLayout(labelled, reader.verifiesFinger);
        const std::string record =
            FormatMyKadRecord(layout, texts, FormatMyKadTimeStamp(clock_.Now()), host_.FirstIPv4());
        WriteMyKadRecord(cardData, kMyKadCardSize, MyKadRecordOffset(layout), record);
        payloadLength =
            BuildMyKadPayload(random, cardData, MyKadDataBlockLength(layout), ' ', payload_);
    } else {
        payloadLength = BuildMyKadPayload(random, cardData, kMyKidDataBlock, 0x00, payload_);
    }
    const std::string payloadText = MyKadText(payload_, payloadLength);

    if (!mykad || !reader.readsPhoto) {
        return Format("[%s][0][%d][%s]", keyword, mykad ? 0 : 1, payloadText.c_str());
    }
    std::memset(photoBlock_, 0, sizeof photoBlock_);
    uint8_t key[kMyKadKeySize];
    DeriveMyKadKey(random, key);
    ScrambleBlock(photoBlock_, photo, kMyKadPhotoBytes, key, kMyKadKeySize);
    const std::string photoText = MyKadText(photoBlock_, kMyKadPhotoBytes);
    return Format("[%s][0][0][%s][%s]", keyword, payloadText.c_str(), photoText.c_str());
}

}  // namespace quillon
