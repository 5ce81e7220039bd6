#include "engine_simulator/operations.h"

#include <algorithm>

namespace hvsim {

void endJob(Inventory& inventory, const std::string& jobId, const std::string& status) {
  Job* job = inventory.jobs.find(jobId);
  if (!job || job->status != "started") return;
  job->status = status;
  job->endTime = job->lastUpdated = WallClock::now();
}

void Tasks::start(Task task, Inventory& inventory, Clock::time_point now) {
  if (!task.jobId.empty()) task.watch.push_back(watch::job(task.jobId));
  uint64_t id = nextId_++;
  for (const std::string& key : task.watch) byKey_[key].push_back(id);
  bool instant = task.delay.isInstant();
  tasks_.emplace(id, Running{std::move(task), now, 0, 0});
  if (instant) complete(id, inventory, now);
}

bool Tasks::due(const Running& r, Clock::time_point now) const {
  return r.seen >= r.task.delay.polls && now - r.started >= r.task.delay.time;
}

void Tasks::observe(const std::string& key, uint64_t request, Inventory& inventory,
                    Clock::time_point now) {
  if (byKey_.empty()) return;
  auto it = byKey_.find(key);
  if (it == byKey_.end()) return;
  std::vector<uint64_t> ids = it->second;  // completing edits the index
  for (uint64_t id : ids) {
    auto t = tasks_.find(id);
    if (t == tasks_.end() || t->second.lastRequest == request) continue;
    t->second.lastRequest = request;
    if (due(t->second, now)) {
      complete(id, inventory, now);
    } else {
      ++t->second.seen;
    }
  }
}

void Tasks::sweep(Inventory& inventory, Clock::time_point now) {
  std::vector<uint64_t> ready;
  for (const auto& [id, r] : tasks_) {
    if (r.task.delay.polls == 0 && due(r, now)) ready.push_back(id);
  }
  for (uint64_t id : ready) complete(id, inventory, now);
}

bool Tasks::busy(const std::string& key) const {
  auto it = byKey_.find(key);
  return it != byKey_.end() && !it->second.empty();
}

void Tasks::complete(uint64_t id, Inventory& inventory, Clock::time_point now) {
  auto t = tasks_.find(id);
  if (t == tasks_.end()) return;
  Task task = std::move(t->second.task);
  tasks_.erase(t);
  for (const std::string& key : task.watch) {
    auto k = byKey_.find(key);
    if (k == byKey_.end()) continue;
    auto& ids = k->second;
    ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
    if (ids.empty()) byKey_.erase(k);
  }
  const bool failed = !task.failWith.empty();
  const auto& settle = failed ? task.fail : task.finish;
  if (!task.holdResource && settle) settle(inventory);
  if (!task.holdJob && !task.jobId.empty()) {
    endJob(inventory, task.jobId, failed ? task.failWith : "finished");
  }
  if (!task.holdResource && !failed && task.then) start(std::move(*task.then), inventory, now);
}

}  // namespace hvsim
