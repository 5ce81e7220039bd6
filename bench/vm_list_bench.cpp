// Reads the whole VM list of an engine through the facade and reports the time it took and
// the process's peak memory. Used with the simulator program serving a generated inventory
// (bench/run_vm_list_bench.sh).
#include <hypervale/hypervale.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: vm_list_bench SERVER PASSWORD_FILE CA_FILE\n");
    return 2;
  }
  std::string password;
  std::ifstream(argv[2]) >> password;
  Hypervale::InitializeXmlLibrary();
  Hypervale::SetLogThreshold(0);
  Hypervale::SetConfigValue("VirtualServer", "sRhevCAFile", argv[3]);
  int status = 1;
  {
    Hypervale::TzHypervale hv;
    if (hv.connect(argv[1], "admin", password)) {
      struct rusage before {};
      getrusage(RUSAGE_SELF, &before);
      std::vector<Hypervale::SVMInfoLib> vms;
      const auto start = std::chrono::steady_clock::now();
      const bool ok = hv.getVMInfoList(vms, 0);  // parent names through the name cache
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      struct rusage after {};
      getrusage(RUSAGE_SELF, &after);
      std::printf("%s: %zu VMs in %.2f s; peak RSS %.1f MiB (%.1f MiB before the list)\n",
                  ok ? "ok" : "FAILED", vms.size(), seconds, after.ru_maxrss / 1024.0,
                  before.ru_maxrss / 1024.0);
      status = ok ? 0 : 1;
    } else {
      std::fprintf(stderr, "connect failed: %s\n", hv.getLastError().c_str());
    }
  }
  Hypervale::TerminateXmlLibrary();
  return status;
}
