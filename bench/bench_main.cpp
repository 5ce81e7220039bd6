// Runs the library and curl side by side against one loopback engine serving real-engine-shaped
// bodies, and prints wall time (minimum and median of the runs), the library/curl ratio, peak
// memory, the TCP connections the engine accepted, and the engine's own cost: requests and
// logins (a real engine does a whole login for every request that brings no session). One
// scenario runs the inventory walk against the engine simulator with a cost per login, the
// library keeping its session and not, to show what the logins cost an engine. Each run is its own
// process, measured from the outside the same way for both sides (wall clock around spawn and wait,
// peak resident memory from wait4).
//
//   hv_bench --client PATH --fixtures DIR [--runs N] [--gets N] [--walk N] [--list N]
//            [--reuse 0|1|0,1] [--only b,c,a,s] [--baseline CLIENT_OF_ANOTHER_BUILD]
//            [--login-ms MS]
//   hv_bench --client PATH --fixtures DIR --serve N   (serves N VMs and prints how to run the
//            client by hand, e.g. under perf, until Enter is pressed)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine_simulator/engine_simulator.h"
#include "shaped_engine.h"

namespace {

const char kPassword[] = "bench-password";

struct Settings {
  std::string client;
  std::string fixtures;
  int runs = 3;
  size_t gets = 1000;
  size_t walk = 500;
  size_t list = 10000;
  std::vector<std::string> reuse;  // empty: the library's default only
  std::string baseline;            // another build's client, run as "library before"
  size_t serve = 0;                // only serve a list of this many VMs, for profiling by hand
  size_t loginMs = 20;             // what a login costs the simulated engine in scenario s
  std::string only = "b,c,a,s";
};

struct Run {
  double seconds = 0;
  double peakMiB = 0;
  size_t connections = 0;
  size_t requests = 0;
  uint64_t logins = 0;
  bool ok = false;
};

struct Row {
  std::string side;
  std::vector<Run> runs;
  double Min() const {
    double best = runs.front().seconds;
    for (const Run& r : runs) best = std::min(best, r.seconds);
    return best;
  }
  double Median() const {
    std::vector<double> s;
    for (const Run& r : runs) s.push_back(r.seconds);
    std::sort(s.begin(), s.end());
    return s[s.size() / 2];
  }
  double PeakMiB() const {
    double peak = 0;
    for (const Run& r : runs) peak = std::max(peak, r.peakMiB);
    return peak;
  }
  bool AllOk() const {
    for (const Run& r : runs) {
      if (!r.ok) return false;
    }
    return true;
  }
};

// Runs programs to completion and measures them: wall time around fork and wait, peak resident
// memory from wait4. A forked child's peak starts at its parent's resident size, so the
// programs are forked by a small process split off before the engine and its bodies exist.
class Spawner {
 public:
  Spawner() {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      close(toChild[1]);
      close(fromChild[0]);
      Serve(toChild[0], fromChild[1]);
      _exit(0);
    }
    close(toChild[0]);
    close(fromChild[1]);
    requests_ = toChild[1];
    results_ = fromChild[0];
  }
  ~Spawner() {
    close(requests_);
    close(results_);
    waitpid(pid_, nullptr, 0);
  }
  Spawner(const Spawner&) = delete;
  Spawner& operator=(const Spawner&) = delete;

  // Runs args with stdout to /dev/null and stderr appended to errorFile.
  Run run(std::vector<std::string> args, const std::string& errorFile) {
    args.insert(args.begin(), errorFile);
    std::string message;
    for (const std::string& a : args) message += a + '\0';
    const uint32_t size = static_cast<uint32_t>(message.size());
    Result result{};
    if (!WriteAll(requests_, &size, sizeof size) ||
        !WriteAll(requests_, message.data(), message.size()) ||
        !ReadAll(results_, &result, sizeof result)) {
      throw std::runtime_error("the spawner process failed");
    }
    Run run;
    run.seconds = result.seconds;
    run.peakMiB = result.maxRssKiB / 1024.0;
    run.ok = result.ok;
    return run;
  }

 private:
  struct Result {
    double seconds;
    long maxRssKiB;
    bool ok;
  };

  static bool WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t n = write(fd, p, size);
      if (n <= 0) return false;
      p += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  static bool ReadAll(int fd, void* data, size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
      const ssize_t n = read(fd, p, size);
      if (n <= 0) return false;
      p += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  static void Serve(int requests, int results) {
    uint32_t size = 0;
    while (ReadAll(requests, &size, sizeof size)) {
      std::string message(size, '\0');
      if (!ReadAll(requests, &message[0], size)) return;
      std::vector<char*> argv;
      for (size_t at = 0; at < message.size(); at = message.find('\0', at) + 1) {
        argv.push_back(&message[at]);
      }
      const char* errorFile = argv.front();
      argv.erase(argv.begin());
      argv.push_back(nullptr);
      Result result{};
      const auto start = std::chrono::steady_clock::now();
      const pid_t pid = fork();
      if (pid == 0) {
        const int out = open("/dev/null", O_WRONLY);
        const int err = open(errorFile, O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (out < 0 || err < 0) _exit(127);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
      }
      int status = 0;
      struct rusage usage {};
      if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        result.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.maxRssKiB = usage.ru_maxrss;
        result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      }
      if (!WriteAll(results, &result, sizeof result)) return;
    }
  }

  pid_t pid_ = -1;
  int requests_ = -1;
  int results_ = -1;
};

// An engine the runs go to: its network core and its count of logins so far.
struct Measured {
  hvtest::TestEngine& engine;
  std::function<uint64_t()> logins;
};

// Where the engine's logs stood before a run.
struct Mark {
  size_t requests;
  size_t connections;
  uint64_t logins;
};

Mark MarkOf(const Measured& measured) {
  return {measured.engine.requests().size(), measured.engine.acceptedConnections(),
          measured.logins()};
}

// What the engine saw since `mark`: requests, accepted TCP connections, logins, whether all
// got 2xx.
void Account(const Measured& measured, const Mark& mark, Run& run) {
  const std::vector<hvtest::Request> requests = measured.engine.requests();
  for (size_t i = mark.requests; i < requests.size(); ++i) {
    if (requests[i].status < 200 || requests[i].status > 299) run.ok = false;
  }
  run.requests = requests.size() - mark.requests;
  run.connections = measured.engine.acceptedConnections() - mark.connections;
  run.logins = measured.logins() - mark.logins;
}

// A curl config fetching `urls` in one process (so it keeps its connections alive), with the
// credentials only on https:// URLs, as the library sends them.
void WriteCurlConfig(const std::string& path, const std::vector<std::string>& urls,
                     const std::string& caFile) {
  std::ofstream config(path);
  config << "silent\nshow-error\n";
  bool https = false;
  bool first = true;
  for (const std::string& url : urls) {
    const bool isHttps = url.compare(0, 8, "https://") == 0;
    if (first || isHttps != https) {
      if (!first) config << "next\n";
      config << "header = \"Accept: application/xml\"\n";
      if (isHttps) {
        config << "cacert = \"" << caFile << "\"\n";
        config << "user = \"admin@internal:" << kPassword << "\"\n";
      }
      https = isHttps;
      first = false;
    }
    config << "url = \"" << url << "\"\n";
  }
}

std::vector<std::string> UrlsSince(hvtest::TestEngine& engine, size_t mark) {
  const std::vector<hvtest::Request> requests = engine.requests();
  std::vector<std::string> urls;
  const std::string port = std::to_string(engine.port());
  for (size_t i = mark; i < requests.size(); ++i) {
    urls.push_back(std::string(requests[i].tls ? "https" : "http") + "://localhost:" + port +
                   requests[i].target);
  }
  return urls;
}

struct Scenario {
  std::string key;
  std::string title;
  std::string mode;  // argument of the client
  size_t vms;        // VMs in the list
  size_t count;      // the client's COUNT
  bool simulated;    // against the engine simulator (with a login cost) instead
};

void PrintRow(const Scenario& s, const Row& row, const Row& curl) {
  const Run& first = row.runs.front();
  std::printf("%-44s %-18s %7.3f %8.3f %7.2fx %7.2fx %9.1f %6zu %8zu %7llu%s\n", s.title.c_str(),
              row.side.c_str(), row.Min(), row.Median(), row.Median() / curl.Median(),
              row.Min() / curl.Min(), row.PeakMiB(), first.connections, first.requests,
              static_cast<unsigned long long>(first.logins), row.AllOk() ? "" : "  FAILED");
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = text.find(',', start);
    const std::string part =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!part.empty()) parts.push_back(part);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return parts;
}

Settings ParseArgs(int argc, char** argv) {
  Settings s;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const std::string value = argv[i + 1];
    std::string* text = flag == "--client"     ? &s.client
                        : flag == "--fixtures" ? &s.fixtures
                        : flag == "--only"     ? &s.only
                        : flag == "--baseline" ? &s.baseline
                                               : nullptr;
    size_t* number = flag == "--gets"       ? &s.gets
                     : flag == "--walk"     ? &s.walk
                     : flag == "--list"     ? &s.list
                     : flag == "--serve"    ? &s.serve
                     : flag == "--login-ms" ? &s.loginMs
                                            : nullptr;
    if (text) {
      *text = value;
    } else if (number) {
      *number = std::strtoul(value.c_str(), nullptr, 10);
    } else if (flag == "--runs") {
      s.runs = std::max(1, std::atoi(value.c_str()));
    } else if (flag == "--reuse") {
      s.reuse = Split(value);
    } else {
      throw std::runtime_error("unknown option " + flag);
    }
  }
  if (s.client.empty() || s.fixtures.empty()) {
    throw std::runtime_error(
        "usage: hv_bench --client PATH --fixtures DIR [--runs N] [--gets N] "
        "[--walk N] [--list N] [--reuse 0|1|0,1] [--only b,c,a,s] "
        "[--baseline PATH] [--serve N] [--login-ms MS]");
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) try {
  const Settings settings = ParseArgs(argc, argv);
  Spawner spawner;  // first, while this process is small
  char dirTemplate[] = "/tmp/hv_bench.XXXXXX";
  if (!mkdtemp(dirTemplate)) throw std::runtime_error("mkdtemp failed");
  const std::string dir = dirTemplate;
  const std::string passwordFile = dir + "/password";
  std::ofstream(passwordFile) << kPassword << "\n";
  const std::string errors = dir + "/stderr";
  const std::string curlConfig = dir + "/curl.cfg";

  hvbench::ShapedEngine shaped(settings.fixtures, kPassword);
  hvtest::TestEngine& engine = shaped.engine();
  const std::string server = "localhost:" + std::to_string(engine.port());
  const std::string caFile = engine.caFile();
  const Measured shapedSide{engine, [&shaped] { return shaped.logins(); }};
  // Built when a scenario wants it: the simulator generates its inventory up front.
  std::unique_ptr<hvsim::EngineSimulator> simulator;

  if (settings.serve > 0) {
    shaped.setVmCount(settings.serve);
    std::printf("serving %zu VMs: %s %s %s %s %zu %s\n(press Enter to stop)\n", settings.serve,
                settings.client.c_str(), server.c_str(), passwordFile.c_str(), caFile.c_str(),
                settings.serve, hvbench::ShapedEngine::vmId(0).c_str());
    std::fflush(stdout);
    std::getchar();
    std::remove(passwordFile.c_str());
    rmdir(dir.c_str());
    return 0;
  }

  const std::vector<Scenario> scenarios = {
      {"b", "(b) " + std::to_string(settings.gets) + " GETs of one VM", "get", 1, settings.gets,
       false},
      {"c", "(c) walk of " + std::to_string(settings.walk) + " VMs, 2 disks each", "walk",
       settings.walk, settings.walk, false},
      {"a", "(a) list of " + std::to_string(settings.list) + " VMs", "list", settings.list,
       settings.list, false},
      {"s",
       "(c) walk of " + std::to_string(settings.walk) + " VMs, simulator 4.5, login " +
           std::to_string(settings.loginMs) + " ms",
       "walk", settings.walk, settings.walk, true},
  };
  // "x curl": the library's time over curl's, of the medians and of the minimums.
  std::printf("%-44s %-18s %7s %8s %8s %8s %9s %6s %8s %7s\n", "scenario", "side", "min s",
              "median s", "x median", "x min", "peak MiB", "conns", "requests", "logins");
  bool allOk = true;
  for (const std::string& key : Split(settings.only)) {
    for (const Scenario& s : scenarios) {
      if (s.key != key) continue;
      struct Variant {
        std::string side, client, reuse, session;
      };
      std::vector<Variant> variants;
      std::string target = server;
      std::string trusted = caFile;
      const Measured* measured = &shapedSide;
      std::unique_ptr<Measured> simulatedSide;
      if (s.simulated) {
        if (!simulator) {
          hvsim::SimulatorOptions options;
          options.generation = "4.5";
          options.generate.vms = static_cast<unsigned>(s.vms);
          options.generate.disksPerVm = 2;
          options.generate.proxyVm = "";
          options.server.password = kPassword;
          options.server.maxConnections = 4096;
          options.sessions.loginCost = std::chrono::milliseconds(settings.loginMs);
          simulator = std::make_unique<hvsim::EngineSimulator>(options);
        }
        hvsim::EngineSimulator* sim = simulator.get();
        simulatedSide = std::make_unique<Measured>(
            Measured{sim->engine(), [sim] { return sim->sessionStats().logins; }});
        measured = simulatedSide.get();
        target = "localhost:" + std::to_string(sim->port());
        trusted = sim->engine().caFile();
        variants.push_back({"library session=1", settings.client, "1", "1"});
        variants.push_back({"library session=0", settings.client, "1", "0"});
      } else {
        shaped.setVmCount(s.vms);
        if (!settings.baseline.empty()) {
          variants.push_back({"library before", settings.baseline, "", ""});
        }
        for (const std::string& r : settings.reuse) {
          variants.push_back({"library reuse=" + r, settings.client, r, ""});
        }
        if (settings.reuse.empty()) variants.push_back({"library", settings.client, "", ""});
      }
      std::vector<Row> rows;
      std::vector<std::string> urls;
      for (const Variant& v : variants) {
        Row row{v.side, {}};
        for (int i = 0; i < settings.runs; ++i) {
          std::vector<std::string> args = {v.client,
                                           s.mode,
                                           target,
                                           passwordFile,
                                           trusted,
                                           std::to_string(s.count),
                                           hvbench::ShapedEngine::vmId(0)};
          if (!v.reuse.empty()) args.push_back(v.reuse);
          if (!v.session.empty()) args.push_back(v.session);
          const Mark mark = MarkOf(*measured);
          Run run = spawner.run(args, errors);
          Account(*measured, mark, run);
          if (urls.empty()) urls = UrlsSince(measured->engine, mark.requests);
          row.runs.push_back(run);
        }
        rows.push_back(row);
      }
      WriteCurlConfig(curlConfig, urls, trusted);
      Row curl{"curl", {}};
      for (int i = 0; i < settings.runs; ++i) {
        const Mark mark = MarkOf(*measured);
        Run run = spawner.run({"/usr/bin/curl", "-K", curlConfig}, errors);
        Account(*measured, mark, run);
        curl.runs.push_back(run);
      }
      PrintRow(s, curl, curl);
      for (const Row& row : rows) {
        PrintRow(s, row, curl);
        allOk = allOk && row.AllOk();
      }
      allOk = allOk && curl.AllOk();
      if (s.key == "a") {
        const double bodyMiB = shaped.listBodyBytes() / 1048576.0;
        std::printf("%-44s body %.1f MiB; library peak / body = %.2f\n", "", bodyMiB,
                    rows.back().PeakMiB() / bodyMiB);
      }
      measured->engine.clearRequests();
    }
  }
  std::remove(curlConfig.c_str());
  std::remove(passwordFile.c_str());
  std::ifstream errorText(errors);
  std::string line;
  int shown = 0;
  while (std::getline(errorText, line) && shown++ < 20) std::fprintf(stderr, "%s\n", line.c_str());
  std::remove(errors.c_str());
  rmdir(dir.c_str());
  return allOk ? 0 : 1;
} catch (const std::exception& e) {
  std::fprintf(stderr, "hv_bench: %s\n", e.what());
  return 2;
}
