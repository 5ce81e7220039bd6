// How long the simulated engine takes for its asynchronous work, and the clock it reads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace hvsim {

using Clock = std::chrono::steady_clock;

// Where the simulator reads the time; empty means the steady clock.
using TimeSource = std::function<Clock::time_point()>;

// A clock that moves only when told. In-process tests whose client's sleeps are recorded
// instead of slept hand it to the simulator and advance it by what the client asked to sleep:
// a client that polls without pausing then never sees time pass.
class ManualClock {
 public:
  Clock::time_point now() const {
    return Clock::time_point(std::chrono::milliseconds(elapsedMs_.load()));
  }
  void advance(std::chrono::milliseconds by) { elapsedMs_ += by.count(); }
  // Reads this clock, which must outlive whatever keeps the source.
  TimeSource source() const {
    return [this] { return now(); };
  }

 private:
  std::atomic<int64_t> elapsedMs_{0};
};

// A change completes once `polls` GETs have shown the old state AND `time` has passed since
// the request that started it. Both zero: the change is done before the starting request is
// answered. A GET "observes" a change when its answer shows one of the resources the change
// touches (the resource itself, a list holding it, its job, its creation status); each request
// counts once however often it shows the resource.
struct Delay {
  unsigned polls = 0;
  std::chrono::milliseconds time{0};

  static Delay instant() { return Delay(); }
  static Delay afterPolls(unsigned n) { return Delay{n, std::chrono::milliseconds(0)}; }
  static Delay after(std::chrono::milliseconds t) { return Delay{0, t}; }
  bool isInstant() const { return polls == 0 && time.count() <= 0; }
};

// One delay per kind of engine task. Defaults: one poll and two seconds each, so that polling
// without pausing finishes nothing sooner.
struct Timing {
  static constexpr Delay kDefault{1, std::chrono::milliseconds(2000)};

  Delay vmCreate = kDefault;                 // image_locked -> down
  Delay vmStart = kDefault;                  // powering_up -> up
  Delay vmStop = kDefault;                   // powering_down -> down
  Delay snapshotCreate = kDefault;           // locked -> ok; its job -> finished
  Delay snapshotRemove = kDefault;           // locked -> gone (404); its job
  Delay diskCreate = kDefault;               // locked -> ok; creation status -> complete
  Delay diskMove = kDefault;                 // locked -> ok on the target domain
  Delay diskActivation = kDefault;           // activate/deactivate -> active flag
  Delay logicalName = kDefault;              // active attachment -> logical_name
  Delay nicLink = kDefault;                  // new NIC: linked false -> true
  Delay storageDomainCreate = kDefault;      // locked -> unattached
  Delay storageDomainActivate = kDefault;    // activating/locked -> active
  Delay storageDomainDeactivate = kDefault;  // preparing_for_maintenance -> maint.

  // Every delay set to the same value.
  static Timing uniform(Delay delay) {
    Timing t;
    for (Delay* d :
         {&t.vmCreate, &t.vmStart, &t.vmStop, &t.snapshotCreate, &t.snapshotRemove, &t.diskCreate,
          &t.diskMove, &t.diskActivation, &t.logicalName, &t.nicLink, &t.storageDomainCreate,
          &t.storageDomainActivate, &t.storageDomainDeactivate}) {
      *d = delay;
    }
    return t;
  }
  static Timing instant() { return uniform(Delay::instant()); }
};

}  // namespace hvsim
