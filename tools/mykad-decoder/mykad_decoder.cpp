#include "mykad_decoder.h"

#include <algorithm>
#include <cstdio>

#include "quillon_build_config.h"

namespace mykaddecode {

namespace {

const size_t kRandomSize = 16;
const size_t kMarkerSize = 32;
const char kMarkerText[] = "KESTRELMARGINFOLDINGPLATE";

int Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::vector<std::string> Fields(const std::string& reply) {
    std::vector<std::string> fields;
    size_t at = reply.find('[');
    while (at != std::string::npos) {
        const size_t end = reply.find(']', at + 1);
        if (end == std::string::npos) break;
        fields.push_back(reply.substr(at + 1, end - at - 1));
        at = reply.find('[', end + 1);
    }
    return fields;
}

std::string Column(const std::vector<uint8_t>& data, size_t from, size_t width) {
    std::string text;
    for (size_t i = from; i < from + width && i < data.size(); ++i) {
        text += static_cast<char>(data[i]);
    }
    return text;
}

std::string Printable(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        if (b >= 0x20 && b < 0x7F) {
            text += static_cast<char>(b);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            text += hex;
        }
    }
    return text;
}

}  // namespace

bool Base64Decode(const std::string& text, std::vector<uint8_t>& out) {
    out.clear();
    uint32_t bits = 0;
    int count = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] != '='; ++i) {
        const int v = Value(text[i]);
        if (v < 0) return false;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<uint8_t>((bits >> count) & 0xFF));
        }
    }
    for (; i < text.size(); ++i) {
        if (text[i] != '=') return false;
    }
    return true;
}

bool Unscramble(const uint8_t* in, size_t length, const uint8_t key[16],
                std::vector<uint8_t>& out) {
    out.clear();
    if (length == 0) return false;
    uint8_t check = 0;
    for (size_t i = 0; i + 1 < length; ++i) {
        const uint8_t x = in[i];
        check ^= x;
        const uint8_t y = static_cast<uint8_t>(x ^ key[i % 16]);
        // Bytes that are, or would become, 0x00 or 0x20 were sent as they are.
        const bool kept = x == 0x00 || x == 0x20 || y == 0x00 || y == 0x20;
        out.push_back(kept ? x : y);
    }
    return in[length - 1] == check;
}

bool DecodeReply(const std::string& reply, DecodedReply& out, std::string& error) {
    out = DecodedReply();
    const std::vector<std::string> fields = Fields(reply);
    if (fields.size() != 4 && fields.size() != 5) {
        error = "expected 4 or 5 bracketed fields";
        return false;
    }
    out.command = fields[0];
    out.result = fields[1];
    out.cardType = fields[2];
    if (out.result != "0") {
        error = "not a success reply (result " + out.result + ")";
        return false;
    }
    std::vector<uint8_t> payload;
    if (!Base64Decode(fields[3], payload)) {
        error = "payload is not base64";
        return false;
    }
    if (payload.size() < kRandomSize + kMarkerSize + 1) {
        error = "payload too short";
        return false;
    }
    out.random.assign(payload.begin(), payload.begin() + kRandomSize);
    out.key.resize(kRandomSize);
    for (size_t i = 0; i < kRandomSize; ++i) {
        const uint8_t mask = (i % 2 == 0) ? QUILLON_MYKAD_MASK_EVEN : QUILLON_MYKAD_MASK_ODD;
        out.key[i] = static_cast<uint8_t>(out.random[i] ^ mask);
    }
    out.markerCheck = Unscramble(&payload[kRandomSize], kMarkerSize, out.key.data(), out.marker);
    const size_t dataStart = kRandomSize + kMarkerSize;
    out.dataCheck =
        Unscramble(&payload[dataStart], payload.size() - dataStart, out.key.data(), out.data);

    const size_t dataLength = payload.size() - dataStart;
    if (dataLength == 683) {
        out.layout = Layout::kPlain;
        out.recordOffset = 603;
    } else if (dataLength == 397) {
        out.layout = Layout::kLabelled;
        out.recordOffset = 303;
    } else if (dataLength == 1445) {
        out.layout = Layout::kMyKid;
    }
    if (out.layout == Layout::kPlain || out.layout == Layout::kLabelled) {
        size_t at = out.recordOffset;
        if (out.layout == Layout::kLabelled) {
            out.record.label = Column(out.data, at, 14);
            at += 14;
        }
        out.record.first = Column(out.data, at, 20);
        out.record.second = Column(out.data, at + 20, 6);
        out.record.timeStamp = Column(out.data, at + 26, 14);
        out.record.third = Column(out.data, at + 40, 20);
        out.record.address = Column(out.data, at + 60, 20);  // its last space is the check byte
    }
    if (fields.size() == 5) {
        std::vector<uint8_t> block;
        if (!Base64Decode(fields[4], block) || block.empty()) {
            error = "photo is not base64";
            return false;
        }
        out.hasPhoto = true;
        out.photoCheck = Unscramble(block.data(), block.size(), out.key.data(), out.photo);
    }
    return true;
}

std::string Describe(const DecodedReply& r) {
    const char* layout = "unknown";
    if (r.layout == Layout::kPlain) layout = "plain (record at 603)";
    if (r.layout == Layout::kLabelled) layout = "labelled (record at 303)";
    if (r.layout == Layout::kMyKid) layout = "MyKid (no record)";
    const bool markerOk = r.marker.size() >= 25 &&
                          std::string(r.marker.begin(), r.marker.begin() + 25) == kMarkerText;
    std::string text;
    text += "command:      " + r.command + "\n";
    text += "card type:    " + r.cardType + (r.cardType == "0" ? " (MyKad)\n" : " (MyKid)\n");
    text += "marker:       \"" + Printable(r.marker) + "\"" + (markerOk ? "" : " (unexpected)") +
            (r.markerCheck ? "" : " (check byte wrong)") + "\n";
    text += "layout:       " + std::string(layout) + "\n";
    text += "data:         " + std::to_string(r.data.size()) + " bytes" +
            (r.dataCheck ? "" : " (check byte wrong)") + "\n";
    if (r.layout == Layout::kPlain || r.layout == Layout::kLabelled) {
        if (r.layout == Layout::kLabelled) text += "label:        \"" + r.record.label + "\"\n";
        text += "first text:   \"" + r.record.first + "\"\n";
        text += "second text:  \"" + r.record.second + "\"\n";
        text += "time stamp:   \"" + r.record.timeStamp + "\"\n";
        text += "third text:   \"" + r.record.third + "\"\n";
        text += "address:      \"" + r.record.address + "\"\n";
    }
    if (r.data.size() > 1) {
        std::vector<uint8_t> card(
            r.data.begin() + 1,
            r.data.begin() + static_cast<long>(std::min<size_t>(r.data.size(), 61)));
        text += "card bytes:   \"" + Printable(card) + "\"...\n";
    }
    if (r.hasPhoto) {
        text += "photo:        " + std::to_string(r.photo.size() + 1) + " bytes" +
                (r.photoCheck ? "" : " (check byte wrong)") + "\n";
    } else {
        text += "photo:        none\n";
    }
    return text;
}

}  // namespace mykaddecode
