// Host side of the MyKad reply: takes a reply text apart, reverses the scrambling and checks it.
// Plain C++ without OS calls, so integrators can build it into their own host.
//
// Reply: [COMMAND][0][TYPE][PAYLOAD] or [COMMAND][0][TYPE][PAYLOAD][PHOTO]; PAYLOAD and PHOTO are
// base64 with their last "=" dropped. Payload: random block (16) | marker (32) | data block.
// Key byte i = random byte i XOR the even or odd mask byte (the build's QUILLON_MYKAD_MASK_*).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mykaddecode {

// Standard base64; missing "=" padding is tolerated. False on any other character.
bool Base64Decode(const std::string& text, std::vector<uint8_t>& out);

// Reverses the scrambling of one block: every byte but the last; the last must be the XOR of all
// scrambled bytes before it. Returns whether that check byte is right. `out` gets length - 1 bytes.
bool Unscramble(const uint8_t* in, size_t length, const uint8_t key[16], std::vector<uint8_t>& out);

enum class Layout { kUnknown, kPlain, kLabelled, kMyKid };

struct RecordColumns {
    std::string label;  // "VERIFIED      " or "VERIFY FAIL   "; empty in the plain layout
    std::string first, second, timeStamp, third, address;  // at their fixed widths
};

struct DecodedReply {
    std::string command;
    std::string result;
    std::string cardType;  // "0" MyKad, "1" MyKid
    std::vector<uint8_t> random, key;
    std::vector<uint8_t> marker;  // 31 bytes: the marker text and six padding bytes
    bool markerCheck = false;
    std::vector<uint8_t> data;  // the card data, without the byte the check byte replaced
    bool dataCheck = false;
    Layout layout = Layout::kUnknown;
    size_t recordOffset = 0;
    RecordColumns record;
    bool hasPhoto = false;
    std::vector<uint8_t> photo;  // 3999 bytes
    bool photoCheck = false;
};

// False with `error` when the reply is not a MyKad success reply that can be decoded. Check-byte
// failures do not fail the decoding; they show in the *Check flags.
bool DecodeReply(const std::string& reply, DecodedReply& out, std::string& error);

// A readable report of every field, one per line.
std::string Describe(const DecodedReply& reply);

}  // namespace mykaddecode
