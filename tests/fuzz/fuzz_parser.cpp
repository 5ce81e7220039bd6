// libFuzzer target over every entry point of the XML parser; see fuzz_dispatch.h for the
// layout of an input. With HYPERVALE_FUZZ_RATES set, the rate of each entry point is printed
// at exit.
#include <cstdio>
#include <cstdlib>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "fuzz/block_recycler.h"
#include "fuzz/entry_rates.h"
#include "fuzz/fuzz_dispatch.h"
#include "hypervale/host.h"

namespace {

using Hypervale::fuzz::Dispatcher;
using Hypervale::fuzz::EntryRates;
using Hypervale::fuzz::MaxFuzzedBody;
using Hypervale::fuzz::SelectorOfInput;

struct Target {
  Dispatcher dispatcher;
  EntryRates rates;
};

Target& TheTarget() {
  // Never destroyed: the rates are printed from an exit handler.
  static Target* const target = new Target;
  return *target;
}

bool RatesWanted() {
  static const bool wanted = std::getenv("HYPERVALE_FUZZ_RATES") != nullptr;
  return wanted;
}

void PrintRates() { TheTarget().rates.Print(stderr); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The first initialisation chooses Xerces' memory manager; the library's own one below only
  // counts. Never destroyed: Xerces may free into it until the process ends.
  static Hypervale::fuzz::BlockRecycler* const memory = new Hypervale::fuzz::BlockRecycler;
  xercesc::XMLPlatformUtils::Initialize(xercesc::XMLUni::fgXercescDefaultLocale, nullptr, nullptr,
                                        memory);
  Hypervale::InitializeXmlLibrary();
  // Every level enabled so the formatting of hostile values still runs; nothing printed.
  Hypervale::SetLogSink([](const Hypervale::LogLine&) {});
  Hypervale::SetLogThreshold(6);  // the highest level in use (trace level 4)
  TheTarget();
  if (RatesWanted()) std::atexit(PrintRates);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Bodies the fuzzer grew past their entry point's limit are left out and not counted as its
  // runs (the regression test replays saved inputs of any size).
  if (size > 2) {
    const std::size_t limit = MaxFuzzedBody(SelectorOfInput(data[0]));
    if (limit != 0 && size - 2 > limit) return 0;
  }
  Target& target = TheTarget();
  const EntryRates::Clock::time_point start = EntryRates::Clock::now();
  const std::string failure = target.dispatcher.Run(data, size);
  if (size > 0 && RatesWanted()) {
    target.rates.Add(SelectorOfInput(data[0]), EntryRates::Clock::now() - start);
  }
  if (!failure.empty()) {
    // A broken check is a fault like a crash: stop so libFuzzer keeps the input.
    std::fprintf(stderr, "fuzz check failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
