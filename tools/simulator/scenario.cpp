#include "simulator/scenario.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace quillon {
namespace sim {

namespace {

const size_t kTemplateBytes = 1196;
const size_t kSignatureBytes = 120;

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string StripComment(const std::string& s) {
    const size_t at = s.find('#');
    return at == std::string::npos ? s : s.substr(0, at);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseCount(const std::string& text, int low, int high, int* out) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    if (text.size() > 9) return false;
    const int v = std::atoi(text.c_str());
    if (v < low || v > high) return false;
    *out = v;
    return true;
}

bool ParseCode(const std::string& text, int* out) {
    if (text == "any") {
        *out = -1;
        return true;
    }
    std::vector<uint8_t> bytes;
    if (!ParseHexBytes(text, &bytes) || bytes.size() != 1) return false;
    *out = bytes[0];
    return true;
}

std::vector<std::string> Words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> words;
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

}  // namespace

Scenario::Scenario() {
    const char kIdentity[] = "QUILLON-TERM-001";
    identity.assign(kIdentity, kIdentity + 16);
    enrolTemplate.resize(kTemplateBytes);
    for (size_t i = 0; i < kTemplateBytes; ++i) {
        enrolTemplate[i] = static_cast<uint8_t>((i * 73 + 29) & 0xFF);
    }
    enrolTemplate[17] = 2;  // the format byte the host checks in a template
    signature.resize(kSignatureBytes);
    for (size_t i = 0; i < kSignatureBytes; ++i) {
        signature[i] = static_cast<uint8_t>((i * 11 + 5) & 0xFF);
    }
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out) {
    std::vector<uint8_t> bytes;
    for (std::string word : Words(text)) {
        if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
            word = word.substr(2);
        }
        if (word.empty() || word.size() % 2 != 0) return false;
        for (size_t i = 0; i < word.size(); i += 2) {
            const int hi = HexDigit(word[i]), lo = HexDigit(word[i + 1]);
            if (hi < 0 || lo < 0) return false;
            bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
        }
    }
    *out = bytes;
    return true;
}

bool ParseScenario(const std::string& text, Scenario* out, std::string* error) {
    std::istringstream in(text);
    std::string raw;
    int lineNumber = 0;
    Block* block = nullptr;
    auto fail = [&](const std::string& why) {
        *error = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };

    while (std::getline(in, raw)) {
        ++lineNumber;
        std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        const size_t space = line.find_first_of(" \t");
        const std::string keyword = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : Trim(line.substr(space));
        // Text values keep everything after the keyword; elsewhere "#" starts a comment.
        const std::string args = Trim(StripComment(rest));
        std::vector<uint8_t> bytes;

        if (block == nullptr) {
            if (keyword == "name" || keyword == "serial") {
                (keyword == "name" ? out->name : out->serial) = rest;
            } else if (keyword == "identity" || keyword == "linkkey") {
                if (!ParseHexBytes(args, &bytes) || bytes.size() != 16) {
                    return fail(keyword + " needs 16 hexadecimal bytes");
                }
                (keyword == "identity" ? out->identity : out->linkKey) = bytes;
            } else if (keyword == "signature" || keyword == "template") {
                if (!ParseHexBytes(args, &bytes)) return fail("bad hexadecimal bytes");
                (keyword == "signature" ? out->signature : out->enrolTemplate) = bytes;
            } else if (keyword == "verify") {
                if (args == "compare") {
                    out->verify = VerifyRule::kCompare;
                } else if (args == "match") {
                    out->verify = VerifyRule::kMatch;
                } else if (args == "nomatch") {
                    out->verify = VerifyRule::kNoMatch;
                } else {
                    return fail("verify takes compare, match or nomatch");
                }
            } else if (keyword == "held") {
                if (!args.empty()) return fail("held takes nothing");
                out->held = true;
            } else if (keyword == "on") {
                const std::vector<std::string> w = Words(args);
                Block b;
                if (w.empty() || w.size() > 2 || !ParseCode(w[0], &b.code)) {
                    return fail("on takes a command code (hex) or any, then optionally always");
                }
                if (w.size() == 2) {
                    if (w[1] != "always") return fail("unknown word after on: " + w[1]);
                    b.always = true;
                }
                out->blocks.push_back(b);
                block = &out->blocks.back();
            } else {
                return fail("unknown setting: " + keyword);
            }
            continue;
        }

        Step step{Step::Kind::kSilence, {}, 0, 0};
        const std::vector<std::string> w = Words(args);
        if (keyword == "end") {
            if (!args.empty()) return fail("end takes nothing");
            block = nullptr;
            continue;
        } else if (keyword == "delay") {
            if (w.size() != 1 || !ParseCount(w[0], 0, 600000, &step.a)) {
                return fail("delay takes milliseconds");
            }
            step.kind = Step::Kind::kDelay;
        } else if (keyword == "default" || keyword == "badsum" || keyword == "silence" ||
                   keyword == "mute" || keyword == "hangup" || keyword == "hold") {
            if (!args.empty()) return fail(keyword + " takes nothing");
            step.kind = keyword == "default"   ? Step::Kind::kDefault
                        : keyword == "badsum"  ? Step::Kind::kBadSum
                        : keyword == "silence" ? Step::Kind::kSilence
                        : keyword == "mute"    ? Step::Kind::kMute
                        : keyword == "hold"    ? Step::Kind::kHold
                                               : Step::Kind::kHangup;
        } else if (keyword == "reply" || keyword == "raw") {
            if (!ParseHexBytes(args, &step.bytes)) return fail("bad hexadecimal bytes");
            if (keyword == "raw" && step.bytes.empty()) return fail("raw needs bytes");
            step.kind = keyword == "reply" ? Step::Kind::kReply : Step::Kind::kRaw;
        } else if (keyword == "frame" || keyword == "event") {
            if (!ParseHexBytes(args, &step.bytes) || step.bytes.empty()) {
                return fail(keyword + " needs hexadecimal bytes");
            }
            step.kind = keyword == "frame" ? Step::Kind::kFrame : Step::Kind::kEvent;
        } else if (keyword == "result") {
            if (!ParseHexBytes(args, &step.bytes) || step.bytes.size() != 1) {
                return fail("result takes one status byte");
            }
            step.kind = Step::Kind::kResult;
        } else if (keyword == "garbage") {
            if (w.size() != 1 || !ParseCount(w[0], 1, 65536, &step.a)) {
                return fail("garbage takes a byte count");
            }
            step.kind = Step::Kind::kGarbage;
        } else if (keyword == "oversize") {
            step.a = 4000;
            if (w.size() > 1 || (w.size() == 1 && !ParseCount(w[0], 1, 65535, &step.a))) {
                return fail("oversize takes an optional length up to 65535");
            }
            step.kind = Step::Kind::kOversize;
        } else if (keyword == "cut") {
            if (w.size() != 1 || !ParseCount(w[0], 1, 65536, &step.a)) {
                return fail("cut takes a byte count");
            }
            step.kind = Step::Kind::kCut;
        } else if (keyword == "split") {
            if (w.size() != 2 || !ParseCount(w[0], 1, 65536, &step.a) ||
                !ParseCount(w[1], 0, 600000, &step.b)) {
                return fail("split takes a piece size and milliseconds");
            }
            step.kind = Step::Kind::kSplit;
        } else {
            return fail("unknown step: " + keyword);
        }
        block->steps.push_back(step);
    }
    if (block != nullptr) return fail("missing end of the block");
    return true;
}

}  // namespace sim
}  // namespace quillon
