#include "foundation/phase_stamps.h"

namespace quillon {

std::atomic<PhaseHook>& PhaseHookSlot() {
    static std::atomic<PhaseHook> slot{nullptr};
    return slot;
}

}  // namespace quillon
