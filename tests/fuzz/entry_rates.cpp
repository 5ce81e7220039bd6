#include "fuzz/entry_rates.h"

#include <cinttypes>

namespace Hypervale {
namespace fuzz {

EntryRates::EntryRates() : start_(Clock::now()), startCpu_(std::clock()) {}

void EntryRates::Add(unsigned selector, Clock::duration spent) {
  Entry& entry = entries_[selector % kEntryPointCount];
  ++entry.runs;
  entry.spent += spent;
}

void EntryRates::Print(std::FILE* out) const {
  using Seconds = std::chrono::duration<double>;
  std::uint64_t runs = 0;
  Clock::duration inEntries{};
  for (const Entry& entry : entries_) {
    runs += entry.runs;
    inEntries += entry.spent;
  }
  if (runs == 0) return;
  const double wall = Seconds(Clock::now() - start_).count();
  const double fuzzerPerRun = (wall - Seconds(inEntries).count()) / static_cast<double>(runs);
  const char* slowest = nullptr;
  double slowestRate = 0;
  std::fprintf(out, "entry point rates (exec/s with the fuzzer's %.0f us per run):\n",
               fuzzerPerRun * 1e6);
  for (unsigned selector = 0; selector < kEntryPointCount; ++selector) {
    const Entry& entry = entries_[selector];
    if (entry.runs == 0) continue;
    const double perRun = Seconds(entry.spent).count() / static_cast<double>(entry.runs);
    const double rate = 1.0 / (perRun + fuzzerPerRun);
    std::fprintf(out, "  %-22s %8" PRIu64 " runs %8.0f us %8.0f exec/s\n", NameOf(selector),
                 entry.runs, perRun * 1e6, rate);
    if (!slowest || rate < slowestRate) {
      slowest = NameOf(selector);
      slowestRate = rate;
    }
  }
  const double cpu = static_cast<double>(std::clock() - startCpu_) / CLOCKS_PER_SEC;
  std::fprintf(out, "slowest entry point: %s at %.0f exec/s\n", slowest, slowestRate);
  std::fprintf(out, "all entry points: %.0f exec/s, %.0f exec per processor second\n",
               static_cast<double>(runs) / wall, cpu > 0 ? static_cast<double>(runs) / cpu : 0.0);
}

}  // namespace fuzz
}  // namespace Hypervale
