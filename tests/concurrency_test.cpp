// Several facades, each on its own thread, run a backup cycle at the same time against two
// engines of different generations. Run under ThreadSanitizer by the test command.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "engine_simulator/engine_simulator.h"
#include "hypervale/hypervale.h"
#include "support/test_support.h"

namespace Hypervale {
namespace {

const char kPassword[] = "concurrent-Pa55";
constexpr UINT64 kVmDisks = 0x10;

struct Outcome {
  bool backedUp = false;
  std::int32_t schemaVersion = 0;
  std::string lastError;
  std::string hostName;
  std::string failure;
};

// One agent thread: its own facade, its own VM.
Outcome RunAgent(const std::string& server, size_t vmIndex) {
  Outcome outcome;
  TzHypervale hv;
  if (!hv.connect(server, "admin", kPassword)) {
    outcome.failure = "connect";
    return outcome;
  }
  outcome.schemaVersion = hv.getSchemaVersion();
  std::vector<SVMInfoLib> vms;
  SVMInfoLib proxy;
  if (!hv.getVMInfoList(vms, kVmDisks) || !hv.getVMInfo("proxy", "", proxy, 0)) {
    outcome.failure = "inventory";
    return outcome;
  }
  std::vector<SVMInfoLib> candidates;
  for (const auto& vm : vms) {
    if (vm.name != "proxy" && !vm.disks.empty() && vm.status == "up") candidates.push_back(vm);
  }
  if (vmIndex >= candidates.size()) {
    outcome.failure = "not enough VMs";
    return outcome;
  }
  SVMInfoLib vm = candidates[vmIndex];
  outcome.hostName = vm.hostName;

  SSnapshotInfoLib snapshot;
  snapshot.description = "_QZ_BACKUP_" + vm.name + "_agent" + std::to_string(vmIndex) + "_1";
  std::string ovf;
  if (!hv.createVMSnapshot(vm, snapshot, ovf)) {
    outcome.failure = "snapshot";
    return outcome;
  }
  for (const auto& vmDisk : vm.disks) {
    SDiskInfoLib disk;
    disk.id = vmDisk.id;
    disk.snapshotId = snapshot.id;
    disk.interface = "virtio";
    SDiskInfoLib named;
    if (!hv.attachDisk(proxy.id, disk, true, false, true) ||
        !hv.getLogicalDiskName(proxy.id, disk.id, named)) {
      outcome.failure = "attach";
      return outcome;
    }
  }
  if (!hv.DetachSnappedDisksFromProxy(proxy.id, vm.id, snapshot.id) ||
      !hv.deleteVMSnapshot(vm.name, vm.id, snapshot.id)) {
    outcome.failure = "detach or delete";
    return outcome;
  }
  outcome.backedUp = true;
  // A failure of this facade's own, to see whose error text each facade keeps.
  SVMInfoLib missing;
  hv.getVMInfo("", "missing-" + std::to_string(vmIndex), missing, 0);
  outcome.lastError = hv.getLastError();
  return outcome;
}

TEST(ConcurrencyTest, FacadesOnSeveralThreadsKeepTheirOwnState) {
  hvtest::ConfigScope config;
  // One clock for both engines, moved by every agent's pauses.
  hvsim::ManualClock clock;
  hvtest::SleepRecorder sleeps(
      [&clock](unsigned long ms) { clock.advance(std::chrono::milliseconds(ms)); });
  SetLogThreshold(1);
  hvtest::LogCapture logs;  // the shared sink, written from every thread

  std::vector<std::unique_ptr<hvsim::EngineSimulator>> engines;
  for (const char* generation : {"3.6", "4.1"}) {
    hvsim::SimulatorOptions options;
    options.generation = generation;
    options.server.password = kPassword;
    options.generate.vms = 8;
    options.generate.upEvery = 1;
    options.generate.hostsPerCluster = generation[0] == '3' ? 1 : 3;
    options.clock = clock.source();
    engines.push_back(std::make_unique<hvsim::EngineSimulator>(options));
  }
  // One trust bundle for both engines: configuration is process-wide.
  const std::string bundle = ::testing::TempDir() + "hypervale_concurrency_ca.pem";
  {
    std::ofstream out(bundle);
    for (const auto& engine : engines) out << engine->engine().caPem();
  }
  config.set("sRhevCAFile", bundle).set("nRHEVMAPISLEEPINTERVAL", "1000");

  constexpr size_t kAgentsPerEngine = 3;
  std::vector<Outcome> outcomes(engines.size() * kAgentsPerEngine);
  std::vector<std::thread> agents;
  for (size_t e = 0; e < engines.size(); ++e) {
    const std::string server = "localhost:" + std::to_string(engines[e]->port());
    for (size_t a = 0; a < kAgentsPerEngine; ++a) {
      agents.emplace_back(
          [&outcomes, server, e, a] { outcomes[e * kAgentsPerEngine + a] = RunAgent(server, a); });
    }
  }
  for (auto& agent : agents) agent.join();

  for (size_t i = 0; i < outcomes.size(); ++i) {
    const Outcome& o = outcomes[i];
    const size_t e = i / kAgentsPerEngine;
    SCOPED_TRACE("agent " + std::to_string(i));
    EXPECT_TRUE(o.backedUp) << o.failure;
    EXPECT_EQ(o.schemaVersion, e == 0 ? 3006000 : 4001000);
    // Each facade's error text is about its own last request.
    const std::string own = "missing-" + std::to_string(i % kAgentsPerEngine);
    EXPECT_NE(o.lastError.find(own), std::string::npos) << o.lastError;
    // Parent names were filled through the facade's own name cache.
    EXPECT_FALSE(o.hostName.empty());
  }
  // The facades kept their connections (and shared them only among their own requests).
  for (const auto& engine : engines) {
    EXPECT_LT(engine->engine().acceptedConnections() * 2, engine->engine().requests().size());
  }
  std::remove(bundle.c_str());
  SetLogThreshold(2);
}

}  // namespace
}  // namespace Hypervale
