// Scenario files: what the simulated terminal says about itself (name, serial number, keys,
// template, signature) and, per command, a script of frames, events, delays and line faults
// that replaces its default answer. Format in tools/simulator/README.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {
namespace sim {

struct Step {
    enum class Kind {
        kDelay,     // a: milliseconds
        kDefault,   // the default answer to the command
        kReply,     // bytes: data after the command's own code
        kResult,    // bytes[0]: status of the default result frame
        kFrame,     // bytes: whole payload, code first
        kEvent,     // bytes: event codes, one 0x94 frame each
        kRaw,       // bytes: sent as they are, not encoded
        kGarbage,   // a: number of non-STX bytes
        kOversize,  // a: length field of a frame too long for the host
        kBadSum,    // the next encoded frame carries a wrong checksum
        kSplit,     // the next frame goes out in pieces of a bytes, b milliseconds apart
        kCut,       // only the first a bytes of the next frame go out, the rest never
        kSilence,   // nothing (documents an intended missing answer)
        kMute,      // no answers at all from now on
        kHangup,    // close the line and end the simulator
        kHold,      // take no more bytes from the host (output held, as by flow control)
    };
    Kind kind;
    std::vector<uint8_t> bytes;
    int a = 0;
    int b = 0;
};

struct Block {
    int code = -1;  // -1: any command
    bool always = false;
    std::vector<Step> steps;
};

enum class VerifyRule { kCompare, kMatch, kNoMatch };

struct Scenario {
    std::string name = "QUILLON TEST BANK";
    std::string serial = "QT-0001";
    std::vector<uint8_t> identity;  // 16 bytes
    std::vector<uint8_t> linkKey;   // empty: a fresh random key for every 0x23
    std::vector<uint8_t> signature;
    std::vector<uint8_t> enrolTemplate;  // 1196 bytes; the 598-byte format uses the first 598
    VerifyRule verify = VerifyRule::kCompare;
    bool held = false;  // the line takes no bytes from the host from the start
    std::vector<Block> blocks;

    Scenario();
};

// Parses scenario text over the defaults. On failure returns false with "line N: reason".
bool ParseScenario(const std::string& text, Scenario* out, std::string* error);

// Hexadecimal bytes, whitespace-separated groups of digit pairs, each group optionally "0x"-led.
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out);

}  // namespace sim
}  // namespace quillon
