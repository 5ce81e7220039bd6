// The library's side of the benchmark: one process per run, driven through the public facade
// only, so its wall time and peak memory compare with a curl process fetching the same URLs.
//
//   hv_bench_client get|walk|list SERVER PASSWORD_FILE CA_FILE COUNT [VM_ID] [REUSE] [SESSION]
//                   [FOLLOW]
//
// get: COUNT reads of the VM VM_ID; walk: the VM list with each VM's disks (mask 0x10),
// expecting COUNT VMs of two disks; list: the VM list alone (mask 0), expecting COUNT VMs.
// REUSE, when given, is set as "nRhevReuseConnections"; SESSION as "nRhevPersistentAuth";
// FOLLOW as "nRhevFollowLinks" (0: one request per object). An empty one keeps the default.
#include <hypervale/hypervale.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

bool Get(Hypervale::TzHypervale& hv, size_t count, const std::string& vmId) {
  for (size_t i = 0; i < count; ++i) {
    Hypervale::SVMInfoLib vm;
    if (!hv.getVMInfo("", vmId, vm, 0) || vm.id != vmId) return false;
  }
  return true;
}

bool List(Hypervale::TzHypervale& hv, size_t count, Hypervale::UINT64 mask, size_t disksEach) {
  std::vector<Hypervale::SVMInfoLib> vms;
  if (!hv.getVMInfoList(vms, mask) || vms.size() != count) return false;
  for (const auto& vm : vms) {
    if (vm.disks.size() != disksEach) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr,
                 "usage: hv_bench_client get|walk|list SERVER PASSWORD_FILE CA_FILE COUNT "
                 "[VM_ID] [REUSE] [SESSION] [FOLLOW]\n");
    return 2;
  }
  const std::string scenario = argv[1];
  const size_t count = std::strtoul(argv[5], nullptr, 10);
  const std::string vmId = argc > 6 ? argv[6] : "";
  std::string password;
  std::ifstream(argv[3]) >> password;

  Hypervale::InitializeXmlLibrary();
  Hypervale::SetLogThreshold(0);
  Hypervale::SetConfigValue("VirtualServer", "sRhevCAFile", argv[4]);
  const char* const keys[] = {"nRhevReuseConnections", "nRhevPersistentAuth", "nRhevFollowLinks"};
  for (int i = 7; i < argc && i < 10; ++i) {
    if (*argv[i] != '\0') Hypervale::SetConfigValue("VirtualServer", keys[i - 7], argv[i]);
  }
  bool ok = false;
  {
    Hypervale::TzHypervale hv;
    if (hv.connect(argv[2], "admin", password)) {
      if (scenario == "get") ok = Get(hv, count, vmId);
      if (scenario == "walk") ok = List(hv, count, 0x10, 2);
      if (scenario == "list") ok = List(hv, count, 0, 0);
    }
    if (!ok) std::fprintf(stderr, "%s failed: %s\n", scenario.c_str(), hv.getLastError().c_str());
  }
  Hypervale::TerminateXmlLibrary();
  return ok ? 0 : 1;
}
