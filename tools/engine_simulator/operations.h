// The engine's asynchronous tasks. Each task moves some resources into an intermediate state
// when it starts (done by the caller) and into their final state when its delay has run out;
// the task's job, if it has one, goes from started to finished at the same moment. A task told
// to fail ends its resources the failed way instead and its job "failed" or "aborted".
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine_simulator/inventory.h"
#include "engine_simulator/timing.h"

namespace hvsim {

// Keys naming what a GET shows, so that showing it counts as a poll of the tasks on it.
namespace watch {
inline std::string vm(const std::string& id) { return "vm/" + id; }
inline std::string disk(const std::string& id) { return "disk/" + id; }
inline std::string attachment(const std::string& vmId, const std::string& diskId) {
  return "att/" + vmId + "/" + diskId;
}
inline std::string snapshot(const std::string& id) { return "snap/" + id; }
inline std::string nic(const std::string& id) { return "nic/" + id; }
inline std::string job(const std::string& id) { return "job/" + id; }
inline std::string creation(const std::string& id) { return "creation/" + id; }
inline std::string storageDomain(const std::string& id) { return "sd/" + id; }
}  // namespace watch

struct Task {
  std::string name;                // for diagnostics: "snapshot create", ...
  std::vector<std::string> watch;  // keys whose GETs count as polls (the job is added)
  Delay delay;
  std::string jobId;                       // empty: no job
  bool holdResource = false;               // never apply `finish` (a snapshot that stays locked)
  bool holdJob = false;                    // the job never finishes
  std::function<void(Inventory&)> finish;  // final state; must cope with vanished records
  std::function<void(Inventory&)> fail;    // state after a failure; the same care
  std::string failWith;                    // "failed" or "aborted": end so instead of finishing
  std::shared_ptr<Task> then;              // started when this one has finished
};

class Tasks {
 public:
  // Starts a task; one with an instant delay completes before returning.
  void start(Task task, Inventory& inventory, Clock::time_point now);
  // A GET (numbered `request`) shows what `key` names.
  void observe(const std::string& key, uint64_t request, Inventory& inventory,
               Clock::time_point now);
  // Completes the tasks that wait for time only, at the start of every request.
  void sweep(Inventory& inventory, Clock::time_point now);
  bool busy(const std::string& key) const;
  size_t size() const { return tasks_.size(); }

 private:
  struct Running {
    Task task;
    Clock::time_point started;
    unsigned seen = 0;
    uint64_t lastRequest = 0;
  };
  bool due(const Running& r, Clock::time_point now) const;
  void complete(uint64_t id, Inventory& inventory, Clock::time_point now);

  uint64_t nextId_ = 1;
  std::map<uint64_t, Running> tasks_;
  std::unordered_map<std::string, std::vector<uint64_t>> byKey_;
};

// Marks a job finished (or failed) now.
void endJob(Inventory& inventory, const std::string& jobId, const std::string& status);

}  // namespace hvsim
