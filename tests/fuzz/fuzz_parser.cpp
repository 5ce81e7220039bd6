// libFuzzer target over every entry point of the XML parser; see fuzz_dispatch.h for the
// layout of an input.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_dispatch.h"
#include "hypervale/host.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Hypervale::InitializeXmlLibrary();
  // Every level enabled so the formatting of hostile values still runs; nothing printed.
  Hypervale::SetLogSink([](const Hypervale::LogLine&) {});
  Hypervale::SetLogThreshold(6);  // the highest level in use (trace level 4)
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = Hypervale::fuzz::RunInput(data, size);
  if (!failure.empty()) {
    // A broken check is a fault like a crash: stop so libFuzzer keeps the input.
    std::fprintf(stderr, "fuzz check failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
