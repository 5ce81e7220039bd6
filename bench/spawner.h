// Runs programs to completion and measures them from the outside, the same way for every side
// of the benchmark: wall time around fork and wait, peak resident memory from wait4. A forked
// child's peak starts at its parent's resident size, so the programs are forked by a small
// process split off before the engine and its bodies exist.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hvbench {

// One measured run of a program, and what the engine it talked to saw of it.
struct Run {
  double seconds = 0;
  double peakMiB = 0;
  size_t connections = 0;
  size_t requests = 0;
  uint64_t logins = 0;
  bool ok = false;
};

class Spawner {
 public:
  // Splits off the process that forks the programs; create it while the caller is small.
  Spawner();
  ~Spawner();
  Spawner(const Spawner&) = delete;
  Spawner& operator=(const Spawner&) = delete;

  // Runs args with stdout to /dev/null and stderr appended to errorFile; ok when it exits 0.
  Run run(std::vector<std::string> args, const std::string& errorFile);

 private:
  pid_t pid_ = -1;
  int requests_ = -1;
  int results_ = -1;
};

}  // namespace hvbench
