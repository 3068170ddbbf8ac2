// The simulated counter terminal: takes the host's wire frames and decides what goes back on the
// line (encoded frames, raw bytes, pauses, a hang-up), from its scenario or its default answers.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "simulator/scenario.h"
#include "simulator/terminal_wire.h"

namespace quillon {
namespace sim {

struct Action {
    enum class Kind { kDelay, kSend, kHangup, kHold };
    Kind kind = Kind::kSend;
    int delayMs = 0;
    std::vector<uint8_t> bytes;
    int pieceSize = 0;   // 0: in one write
    int pieceGapMs = 0;  // pause between pieces
};

class TerminalModel {
  public:
    TerminalModel(Scenario scenario, uint32_t seed);

    // Decodes the host's frame into *frame and returns the answer (empty when muted).
    // A frame that is not a whole outbound frame gets no answer and frame->plain stays empty.
    std::vector<Action> OnWireFrame(const std::vector<uint8_t>& wire, HostFrame* frame);

    const uint8_t* LinkKey() const { return linkKey_; }
    bool Muted() const { return muted_; }
    // The 12 clock characters of the last 0x72 command.
    const std::string& TerminalTime() const { return terminalTime_; }

    // The default answer to a command: payloads (code and data), in the order they are sent.
    std::vector<std::vector<uint8_t>> DefaultAnswer(const HostFrame& frame);

  private:
    std::vector<uint8_t> StatusReply();
    std::vector<uint8_t> EnrolResult(const HostFrame& frame);
    bool VerifyMatches(const HostFrame& frame) const;
    void Send(const std::vector<uint8_t>& payload, const HostFrame& frame,
              std::vector<Action>* actions);
    void RunBlock(const Block& block, const HostFrame& frame, std::vector<Action>* actions);
    const Block* TakeBlock(uint8_t code);

    Scenario scenario_;
    std::vector<bool> used_;
    std::mt19937 random_;
    uint8_t linkKey_[16] = {};
    std::vector<uint8_t> lastTemplate_;
    std::string terminalTime_;
    bool muted_ = false;
    // Modifiers of the next sent frame.
    bool badSum_ = false;
    int pieceSize_ = 0;
    int pieceGapMs_ = 0;
    int cutAt_ = 0;  // 0: the whole frame
};

}  // namespace sim
}  // namespace quillon
