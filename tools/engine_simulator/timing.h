// How long the simulated engine takes for its asynchronous work.
#pragma once

#include <chrono>

namespace hvsim {

// A change completes once `polls` GETs have still shown the old state AND `time` has passed
// since the request that started it. Both zero: the change is done before the starting
// request is answered. A GET "observes" a change when its answer shows one of the resources
// the change touches (the resource itself, a list holding it, its job, its creation status);
// each request counts once however often it shows the resource.
struct Delay {
  unsigned polls = 0;
  std::chrono::milliseconds time{0};

  static Delay instant() { return Delay(); }
  static Delay afterPolls(unsigned n) {
    Delay d;
    d.polls = n;
    return d;
  }
  static Delay after(std::chrono::milliseconds t) {
    Delay d;
    d.time = t;
    return d;
  }
  bool isInstant() const { return polls == 0 && time.count() <= 0; }
};

// One delay per kind of engine task. Defaults: one poll each.
struct Timing {
  Delay vmCreate = Delay::afterPolls(1);                 // image_locked -> down
  Delay vmStart = Delay::afterPolls(1);                  // powering_up -> up
  Delay vmStop = Delay::afterPolls(1);                   // powering_down -> down
  Delay snapshotCreate = Delay::afterPolls(1);           // locked -> ok; its job -> finished
  Delay snapshotRemove = Delay::afterPolls(1);           // locked -> gone (404); its job
  Delay diskCreate = Delay::afterPolls(1);               // locked -> ok; v3 creation -> complete
  Delay diskMove = Delay::afterPolls(1);                 // locked -> ok on the target domain
  Delay diskActivation = Delay::afterPolls(1);           // activate/deactivate -> active flag
  Delay logicalName = Delay::afterPolls(1);              // active attachment -> logical_name
  Delay nicLink = Delay::afterPolls(1);                  // new NIC: linked false -> true
  Delay storageDomainCreate = Delay::afterPolls(1);      // locked -> unattached
  Delay storageDomainActivate = Delay::afterPolls(1);    // activating/locked -> active
  Delay storageDomainDeactivate = Delay::afterPolls(1);  // preparing_for_maintenance -> maint.

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
