// Executions per second of each entry point in one fuzzing run, as -print_final_stats gives
// them for all inputs together: one entry point slower than the others is fuzzed less.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "fuzz/fuzz_dispatch.h"

namespace Hypervale {
namespace fuzz {

class EntryRates {
 public:
  using Clock = std::chrono::steady_clock;

  EntryRates();

  void Add(unsigned selector, Clock::duration spent);
  // One line per entry point that ran, with what the fuzzer itself spends per execution
  // (mutation, coverage) shared out evenly, then the slowest entry point and the rate per
  // second of processor time, which a machine shared with other work leaves unchanged.
  void Print(std::FILE* out) const;

 private:
  struct Entry {
    std::uint64_t runs = 0;
    Clock::duration spent{};
  };
  std::array<Entry, kEntryPointCount> entries_{};
  const Clock::time_point start_;
  const std::clock_t startCpu_;
};

}  // namespace fuzz
}  // namespace Hypervale
