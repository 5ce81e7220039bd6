// Several facades, each on its own thread, run a backup cycle at the same time against two
// engines of different generations. Run under ThreadSanitizer by the test command.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>

#include "engine_simulator/engine_simulator.h"
#include "hypervale/hypervale.h"
#include "support/temp_folder.h"
#include "support/test_support.h"

namespace Hypervale {
namespace {

const char kPassword[] = "concurrent-Pa55";
constexpr UINT64 kVmDisks = 0x10;
constexpr size_t kAgentsPerEngine = 3;

// One agent thread: its own facade, its own VM (the index-th that is not the proxy). The
// framework's assertions are safe to use from several threads.
void RunAgent(const std::string& server, size_t index, std::int32_t schemaVersion) {
  SCOPED_TRACE(server + ", agent " + std::to_string(index));
  TzHypervale hv;
  ASSERT_TRUE(hv.connect(server, "admin", kPassword));
  EXPECT_EQ(hv.getSchemaVersion(), schemaVersion);
  std::vector<SVMInfoLib> vms;
  SVMInfoLib proxy;
  ASSERT_TRUE(hv.getVMInfoList(vms, kVmDisks) && hv.getVMInfo("proxy", "", proxy, 0));
  vms.erase(std::remove_if(vms.begin(), vms.end(),
                           [](const SVMInfoLib& vm) { return vm.name == "proxy"; }),
            vms.end());
  ASSERT_LT(index, vms.size());
  SVMInfoLib vm = vms[index];
  ASSERT_FALSE(vm.disks.empty());
  // Parent names are filled through the facade's own name cache.
  EXPECT_FALSE(vm.hostName.empty());

  SSnapshotInfoLib snapshot;
  snapshot.description = "_QZ_BACKUP_" + vm.name + "_agent" + std::to_string(index) + "_1";
  std::string ovf;
  ASSERT_TRUE(hv.createVMSnapshot(vm, snapshot, ovf));
  for (const auto& vmDisk : vm.disks) {
    SDiskInfoLib disk;
    disk.id = vmDisk.id;
    disk.snapshotId = snapshot.id;
    SDiskInfoLib named;
    ASSERT_TRUE(hv.attachDisk(proxy.id, disk, true, false, true) &&
                hv.getLogicalDiskName(proxy.id, disk.id, named));
  }
  ASSERT_TRUE(hv.DetachSnappedDisksFromProxy(proxy.id, vm.id, snapshot.id) &&
              hv.deleteVMSnapshot(vm.name, vm.id, snapshot.id));
  // A failure of this facade's own: its error text is about its own last request (the engine
  // names the unknown cluster in its fault).
  SVMInfoLib orphan;
  orphan.name = "orphan-" + std::to_string(index);
  orphan.clusterId = "0badc0de-0000-4000-8000-00000000000" + std::to_string(index);
  EXPECT_FALSE(hv.createVM(orphan));
  EXPECT_NE(hv.getLastError().find(orphan.clusterId), std::string::npos) << hv.getLastError();
}

TEST(ConcurrencyTest, FacadesOnSeveralThreadsKeepTheirOwnState) {
  hvtest::ConfigScope config;
  // One clock for both engines, moved by every agent's pauses.
  hvsim::ManualClock clock;
  hvtest::SleepRecorder sleeps(
      [&clock](unsigned long ms) { clock.advance(std::chrono::milliseconds(ms)); });
  hvtest::LogCapture logs;  // the shared sink, written from every thread
  hvtest::TempFolder folder;

  std::vector<std::unique_ptr<hvsim::EngineSimulator>> engines;
  // One trust bundle for both engines: configuration is process-wide.
  std::ofstream bundle(folder.file("ca.pem"));
  for (const char* generation : {"3.6", "4.1"}) {
    hvsim::SimulatorOptions options;
    options.generation = generation;
    options.server.password = kPassword;
    options.generate.vms = 8;
    options.generate.upEvery = 1;
    options.generate.hostsPerCluster = generation[0] == '3' ? 1 : 3;
    options.clock = clock.source();
    engines.push_back(std::make_unique<hvsim::EngineSimulator>(options));
    bundle << engines.back()->engine().caPem();
  }
  bundle.close();
  config.set("sRhevCAFile", folder.file("ca.pem")).set("nRHEVMAPISLEEPINTERVAL", "1000");

  std::vector<std::thread> agents;
  for (size_t i = 0; i < engines.size() * kAgentsPerEngine; ++i) {
    const hvsim::EngineSimulator& engine = *engines[i / kAgentsPerEngine];
    agents.emplace_back(RunAgent, "localhost:" + std::to_string(engine.port()),
                        i % kAgentsPerEngine, i < kAgentsPerEngine ? 3006000 : 4001000);
  }
  for (auto& agent : agents) agent.join();
  // The facades kept their connections (and shared them only among their own requests).
  for (const auto& engine : engines) {
    EXPECT_LT(engine->engine().acceptedConnections() * 2, engine->engine().requests().size());
  }
}

// Configuration is process-wide and may change at any time; every connect reads it once, and no
// pool or client is freed under a request in flight, however the value of
// "nRhevReuseConnections" flips while connects and re-connects run.
TEST(ConcurrencyTest, ConfigurationChangesWhileFacadesConnect) {
  hvtest::ConfigScope config;
  hvtest::LogCapture logs;
  hvtest::Options options;
  options.password = kPassword;
  hvtest::TestEngine engine(options);
  engine.answer("GET", "/ovirt-engine/api",
                hvtest::Answer::xml(200, hvtest::Fixture("v4/api.xml")));
  config.set("sRhevCAFile", engine.caFile());
  std::atomic<bool> connecting{true};
  std::thread changer([&] {
    for (unsigned flips = 0; connecting; ++flips) {
      SetConfigValue("VirtualServer", "nRhevReuseConnections", flips % 2 ? "0" : "1");
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> agents;
  for (int agent = 0; agent < 3; ++agent) {
    agents.emplace_back([&] {
      TzHypervale hv;
      for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(hv.connect("localhost:" + std::to_string(engine.port()), "admin", kPassword));
      }
    });
  }
  for (auto& agent : agents) agent.join();
  connecting = false;
  changer.join();
}

}  // namespace
}  // namespace Hypervale
