#include "simulator/terminal_model.h"

#include <algorithm>

#include "terminal/frame_codec.h"

namespace quillon {
namespace sim {

namespace {

const uint8_t kStatusOk = 0x06;
const uint8_t kEvent = 0x94;
const uint8_t kZeroKey[16] = {};

std::vector<uint8_t> EventPayload(uint8_t code) { return {kEvent, 0x00, 0x00, code}; }

void AppendBigEndian16(std::vector<uint8_t>* out, size_t v) {
    out->push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    out->push_back(static_cast<uint8_t>(v & 0xFF));
}

// The host sends these template bytes as spaces in a verify command.
bool IsBlankedTemplateByte(size_t i) { return (i >= 512 && i <= 597) || (i >= 1110 && i <= 1195); }

}  // namespace

TerminalModel::TerminalModel(Scenario scenario, uint32_t seed)
    : scenario_(std::move(scenario)), used_(scenario_.blocks.size(), false), random_(seed) {
    lastTemplate_ = scenario_.enrolTemplate;
}

std::vector<uint8_t> TerminalModel::StatusReply() {
    std::vector<uint8_t> key(scenario_.linkKey);
    if (key.size() != 16) {
        key.resize(16);
        for (uint8_t& b : key) b = static_cast<uint8_t>(random_() & 0xFF);
    }
    const size_t k = std::min<size_t>(scenario_.name.size(), 255);
    std::vector<uint8_t> p = {0x23, kStatusOk, static_cast<uint8_t>(k)};
    p.insert(p.end(), scenario_.name.begin(), scenario_.name.begin() + static_cast<long>(k));
    p.insert(p.end(), scenario_.identity.begin(), scenario_.identity.end());
    p.insert(p.end(), key.begin(), key.end());
    return p;
}

std::vector<uint8_t> TerminalModel::EnrolResult(const HostFrame& frame) {
    // D1 0xC1 asks for the double-size template format.
    const size_t size = frame.plain.size() > 4 && frame.plain[4] == 0xC1 ? 1196 : 598;
    std::vector<uint8_t> templ(scenario_.enrolTemplate);
    templ.resize(size, 0x00);
    lastTemplate_ = templ;
    std::vector<uint8_t> p = {0x27, kStatusOk};
    AppendBigEndian16(&p, size);
    p.insert(p.end(), templ.begin(), templ.end());
    return p;
}

bool TerminalModel::VerifyMatches(const HostFrame& frame) const {
    if (scenario_.verify != VerifyRule::kCompare) return scenario_.verify == VerifyRule::kMatch;
    // Plain frame: code at 3, D6/D7 (positions 9, 10) the template length, template from 11.
    const std::vector<uint8_t>& p = frame.plain;
    if (p.size() < 16) return false;
    const size_t length = p.size() - 5;
    const size_t declared = static_cast<size_t>(p[9]) * 256 + p[10];
    const size_t count = std::min({declared, length - 8, lastTemplate_.size()});
    size_t compared = 0;
    for (size_t i = 0; i < count; ++i) {
        if (IsBlankedTemplateByte(i)) continue;
        if (p[11 + i] != lastTemplate_[i]) return false;
        ++compared;
    }
    return compared > 0;
}

std::vector<std::vector<uint8_t>> TerminalModel::DefaultAnswer(const HostFrame& frame) {
    const uint8_t code = frame.Code();
    switch (code) {
        case 0x23:
            return {StatusReply()};
        case 0x25: {
            std::vector<uint8_t> p = {0x25, kStatusOk};
            AppendBigEndian16(&p, scenario_.serial.size());
            p.insert(p.end(), scenario_.serial.begin(), scenario_.serial.end());
            return {p};
        }
        case 0xF3: {
            // Status at position 9, signature from position 10: L = count + 7.
            std::vector<uint8_t> p = {0xF3, 0, 0, 0, 0, 0, kStatusOk};
            p.insert(p.end(), scenario_.signature.begin(), scenario_.signature.end());
            return {p};
        }
        case 0x27:
            return {EventPayload(0xA0), EventPayload(0xA5), EventPayload(0xA6), EnrolResult(frame)};
        case 0x28:
            return {EventPayload(0xA0),
                    EventPayload(VerifyMatches(frame) ? 0xA3 : 0xA4),
                    {0x28, kStatusOk}};
        default:
            return {{code, kStatusOk}};
    }
}

void TerminalModel::Send(const std::vector<uint8_t>& payload, const HostFrame& frame,
                         std::vector<Action>* actions) {
    const uint8_t* key = frame.defaultKey ? DefaultKey : linkKey_;
    Action a;
    a.bytes = EncodeTerminalFrame(payload, key, frame.pair);
    if (badSum_) a.bytes[a.bytes.size() - 2] ^= 0x5A;
    badSum_ = false;
    if (cutAt_ > 0 && static_cast<size_t>(cutAt_) < a.bytes.size()) a.bytes.resize(cutAt_);
    cutAt_ = 0;
    a.pieceSize = pieceSize_;
    a.pieceGapMs = pieceGapMs_;
    pieceSize_ = pieceGapMs_ = 0;
    actions->push_back(a);

    // The host installs the key its status reply carries; so does the terminal, once sent.
    if (!payload.empty() && payload[0] == 0x23 && payload.size() >= 3) {
        const size_t at = 3 + static_cast<size_t>(payload[2]) + 16;
        if (payload.size() >= at + 16)
            std::copy_n(payload.begin() + static_cast<long>(at), 16, linkKey_);
    }
}

const Block* TerminalModel::TakeBlock(uint8_t code) {
    for (size_t i = 0; i < scenario_.blocks.size(); ++i) {
        const Block& b = scenario_.blocks[i];
        if (b.code != -1 && b.code != code) continue;
        if (used_[i]) continue;
        if (!b.always) used_[i] = true;
        return &b;
    }
    return nullptr;
}

void TerminalModel::RunBlock(const Block& block, const HostFrame& frame,
                             std::vector<Action>* actions) {
    for (const Step& step : block.steps) {
        switch (step.kind) {
            case Step::Kind::kDelay: {
                Action a;
                a.kind = Action::Kind::kDelay;
                a.delayMs = step.a;
                actions->push_back(a);
                break;
            }
            case Step::Kind::kDefault:
                for (const auto& p : DefaultAnswer(frame)) Send(p, frame, actions);
                break;
            case Step::Kind::kReply: {
                std::vector<uint8_t> p(1, frame.Code());
                p.insert(p.end(), step.bytes.begin(), step.bytes.end());
                Send(p, frame, actions);
                break;
            }
            case Step::Kind::kResult: {
                std::vector<uint8_t> p = DefaultAnswer(frame).back();
                const size_t at = p[0] == 0xF3 ? 6 : 1;
                if (p.size() <= at) p.resize(at + 1, 0);
                p[at] = step.bytes[0];
                Send(p, frame, actions);
                break;
            }
            case Step::Kind::kFrame:
                Send(step.bytes, frame, actions);
                break;
            case Step::Kind::kEvent:
                for (uint8_t code : step.bytes) Send(EventPayload(code), frame, actions);
                break;
            case Step::Kind::kRaw:
            case Step::Kind::kGarbage:
            case Step::Kind::kOversize: {
                Action a;
                if (step.kind == Step::Kind::kRaw) {
                    a.bytes = step.bytes;
                } else if (step.kind == Step::Kind::kGarbage) {
                    for (int i = 0; i < step.a; ++i) {
                        uint8_t b = static_cast<uint8_t>(random_() & 0xFF);
                        a.bytes.push_back(b == kStx ? 0xEE : b);
                    }
                } else {
                    // A length the host cannot take, over a body free of STX so it can resync.
                    a.bytes = {kStx, static_cast<uint8_t>(step.a >> 8),
                               static_cast<uint8_t>(step.a & 0xFF)};
                    a.bytes.insert(a.bytes.end(), static_cast<size_t>(step.a), 0x55);
                    uint8_t sum = ByteSum(a.bytes.data() + 3, step.a);
                    a.bytes.push_back(sum == kStx ? 0x01 : sum);
                    a.bytes.push_back(kEtx);
                }
                a.pieceSize = pieceSize_;
                a.pieceGapMs = pieceGapMs_;
                pieceSize_ = pieceGapMs_ = 0;
                actions->push_back(a);
                break;
            }
            case Step::Kind::kBadSum:
                badSum_ = true;
                break;
            case Step::Kind::kCut:
                cutAt_ = step.a;
                break;
            case Step::Kind::kSplit:
                pieceSize_ = step.a;
                pieceGapMs_ = step.b;
                break;
            case Step::Kind::kSilence:
                break;
            case Step::Kind::kMute:
                muted_ = true;
                break;
            case Step::Kind::kHangup:
            case Step::Kind::kHold: {
                Action a;
                a.kind =
                    step.kind == Step::Kind::kHold ? Action::Kind::kHold : Action::Kind::kHangup;
                actions->push_back(a);
                break;
            }
        }
    }
}

std::vector<Action> TerminalModel::OnWireFrame(const std::vector<uint8_t>& wire, HostFrame* frame) {
    std::vector<Action> actions;
    frame->plain.clear();
    if (!DecodeHostFrame(wire.data(), wire.size(), linkKey_, frame)) return actions;
    if (!frame->defaultKey && !frame->paddingValid) {
        // A host process that has not run a status query yet still has the all-zero link key.
        HostFrame retry;
        if (DecodeHostFrame(wire.data(), wire.size(), kZeroKey, &retry) && retry.paddingValid) {
            *frame = retry;
            std::fill_n(linkKey_, 16, 0);
        }
    }
    if (muted_ || !frame->paddingValid) return actions;

    if (frame->Code() == 0x72 && frame->plain.size() >= 18) {
        terminalTime_.assign(frame->plain.begin() + 6, frame->plain.begin() + 18);
    }
    const Block* block = TakeBlock(frame->Code());
    if (block != nullptr) {
        RunBlock(*block, *frame, &actions);
    } else {
        for (const auto& p : DefaultAnswer(*frame)) Send(p, *frame, &actions);
    }
    return actions;
}

}  // namespace sim
}  // namespace quillon
