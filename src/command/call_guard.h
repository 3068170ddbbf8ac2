// One call at a time: the flag is taken for the guard's life; a second caller finds it taken.
#pragma once

#include <atomic>

namespace quillon {

class CallGuard {
  public:
    explicit CallGuard(std::atomic<bool>& busy) : busy_(busy), owner_(!busy.exchange(true)) {}
    ~CallGuard() {
        if (owner_) busy_.store(false);
    }
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;
    bool Owner() const { return owner_; }

  private:
    std::atomic<bool>& busy_;
    bool owner_;
};

}  // namespace quillon
