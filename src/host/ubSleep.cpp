#include "host/ubSleep.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "hypervale/host.h"

namespace Hypervale {
namespace {

struct SleeperState {
  std::mutex mutex;
  std::shared_ptr<const Sleeper> sleeper;  // null: really sleep
};

SleeperState& State() {
  static SleeperState state;
  return state;
}

}  // namespace

void SetSleeper(Sleeper sleeper) {
  auto replacement = sleeper ? std::make_shared<const Sleeper>(std::move(sleeper)) : nullptr;
  std::lock_guard<std::mutex> lock(State().mutex);
  State().sleeper = std::move(replacement);
}

void UBSLEEP(unsigned long milliseconds, const char* /*sourceFile*/, int /*line*/) {
  std::shared_ptr<const Sleeper> sleeper;
  {
    std::lock_guard<std::mutex> lock(State().mutex);
    sleeper = State().sleeper;
  }
  if (sleeper) {
    try {
      (*sleeper)(milliseconds);
    } catch (...) {
    }
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace Hypervale
