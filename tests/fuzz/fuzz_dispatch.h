// One input of the XML parser fuzzer: the first byte picks the entry point, the second the
// engine generation the parser is set to, the rest is the body. Shared by the libFuzzer target
// and the regression test so both run exactly the same checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Hypervale {
namespace fuzz {

// Selector values are stored in corpora and regression files: append, never renumber.
enum EntryPoint : std::uint8_t {
  kDetectVersion = 0,
  kApiInfo,
  kFaultLogged,
  kFaultQuiet,
  kActionLogged,
  kActionQuiet,
  kLastErrorFromResponse,
  kJob,
  kJobList,
  kCreation,
  kDataCenter,
  kDataCenterList,
  kCluster,
  kClusterList,
  kHost,
  kHostList,
  kTag,
  kTagList,
  kNetwork,
  kNetworkList,
  kVnicProfile,
  kVnicProfileList,
  kNic,
  kNicList,
  kVm,
  kVmList,
  kStorageDomain,
  kStorageDomainList,
  kDisk,
  kDiskList,
  kDiskAttachment,
  kDiskAttachmentList,
  kSnapshot,
  kSnapshotList,
  kEntryPointCount
};

// Number of fixed API roots the second byte chooses from (0: no version detected).
constexpr unsigned kGenerationCount = 8;

// Routes log lines to a sink that drops them, with every level enabled so the formatting
// of hostile values still runs. Call once per process, after the XML library is initialised.
void SilenceLogging();

// What one or more inputs exercised, so a caller can tell a check that ran from one that
// never had anything to check.
struct RunStats {
  std::size_t roundTrips = 0;     // records written and read back
  std::size_t refusedWrites = 0;  // records whose values XML 1.0 cannot carry
};

// Runs one input. Returns an empty string when every check held, otherwise what broke.
std::string RunInput(const std::uint8_t* data, std::size_t size, RunStats* stats = nullptr);

// Short name of an entry point (selector taken modulo kEntryPointCount).
const char* EntryPointName(unsigned selector);

// The object or list reader whose document element is `rootName`; -1 when none.
int SelectorForRoot(const std::string& rootName);

// Builds an input from its parts.
std::string MakeInput(unsigned selector, unsigned generation, const std::string& body);

}  // namespace fuzz
}  // namespace Hypervale
