// Runs the library and curl side by side against one loopback engine serving real-engine-shaped
// bodies (reporting engine 4.5, so it follows links), and prints wall time (minimum and median of
// the runs), the library/curl ratio, peak memory, the TCP connections the engine accepted, and
// the engine's own cost: requests and logins (a real engine does a whole login for every request
// that brings no session). Every library variant is compared with curl replaying the URLs that
// variant requested. The list scenario also downloads its body with curl from `openssl s_server`
// (same certificate) to show that the bench engine sends at transport speed. One scenario runs
// the inventory walk against the engine simulator (4.5) with a cost per request and per login:
// the library following links, reading object by object, and logging in for every request.
// Each scenario against the bench engine also times Xerces-C's own scanner over the bodies the
// library received (no tree, no records): curl's download plus that scan is the floor of any
// client that receives and then parses with Xerces-C on one thread.
// Each run is its own process, measured from the outside the same way for every side (wall clock
// around spawn and wait, peak resident memory from wait4).
//
//   hv_bench --client PATH --fixtures DIR [--runs N] [--gets N] [--walk N] [--list N]
//            [--reuse 0|1|0,1] [--only b,c,a,s] [--baseline CLIENT_OF_ANOTHER_BUILD]
//            [--request-ms MS] [--login-ms MS]
//   hv_bench --client PATH --fixtures DIR --serve N   (serves N VMs and prints how to run the
//            client by hand, e.g. under perf, until Enter is pressed)
#include <sys/stat.h>
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
#include "openssl_server.h"
#include "shaped_engine.h"
#include "spawner.h"
#include "xerces_scan.h"

namespace {

using hvbench::Run;

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
  size_t requestMs = 2;            // what every request costs the simulated engine in scenario s
  size_t loginMs = 20;             // and what every login costs it there
  std::string only = "b,c,a,s";
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
// credentials (when `login`) only on https:// URLs, as the library sends them.
void WriteCurlConfig(const std::string& path, const std::vector<std::string>& urls,
                     const std::string& caFile, bool login = true) {
  std::ofstream config(path);
  config << "silent\nshow-error\nfail\n";
  bool https = false;
  bool first = true;
  for (const std::string& url : urls) {
    const bool isHttps = url.compare(0, 8, "https://") == 0;
    if (first || isHttps != https) {
      if (!first) config << "next\n";
      config << "header = \"Accept: application/xml\"\n";
      if (isHttps) {
        config << "cacert = \"" << caFile << "\"\n";
        if (login) config << "user = \"admin@internal:" << kPassword << "\"\n";
      }
      https = isHttps;
      first = false;
    }
    config << "url = \"" << url << "\"\n";
  }
}

std::vector<std::string> UrlsOf(const std::vector<hvtest::Request>& requests, uint16_t port) {
  std::vector<std::string> urls;
  for (const hvtest::Request& request : requests) {
    urls.push_back(std::string(request.tls ? "https" : "http") +
                   "://localhost:" + std::to_string(port) + request.target);
  }
  return urls;
}

struct Scenario {
  std::string key;
  std::string title;
  std::string mode;  // argument of the client
  size_t vms;        // VMs in the list
  size_t count;      // the client's COUNT
  bool simulated;    // against the engine simulator (with request and login costs) instead
};

// A way of running the client: its settings, each empty for the library's default.
struct Variant {
  std::string side, client, reuse, session, follow;
};

// Library rows that sent the same requests, and curl replaying exactly those.
struct Group {
  std::vector<hvtest::Request> requests;  // as the first of the library rows sent them
  std::vector<std::string> urls;
  std::vector<Row> library;
  Row curl;
};

const int kTitleWidth = 52;

// "x median" and "x min" are the row's times over `against`'s; the engine columns are left out
// for a server that does not count them.
void PrintRow(const std::string& title, const Row& row, const Row& against,
              bool engineCounts = true) {
  const Run& first = row.runs.front();
  std::printf("%-*s %-18s %7.3f %8.3f %7.2fx %7.2fx %9.1f", kTitleWidth, title.c_str(),
              row.side.c_str(), row.Min(), row.Median(), row.Median() / against.Median(),
              row.Min() / against.Min(), row.PeakMiB());
  if (engineCounts) {
    std::printf(" %6zu %8zu %7llu", first.connections, first.requests,
                static_cast<unsigned long long>(first.logins));
  } else {
    std::printf(" %6s %8s %7s", "-", "-", "-");
  }
  std::printf("%s\n", row.AllOk() ? "" : "  FAILED");
}

// The client's arguments; trailing defaults left out, so another build's client gets no more
// than it knows.
std::vector<std::string> ClientArgs(const Variant& v, const Scenario& s, const std::string& target,
                                    const std::string& passwordFile, const std::string& trusted) {
  std::vector<std::string> args = {v.client,
                                   s.mode,
                                   target,
                                   passwordFile,
                                   trusted,
                                   std::to_string(s.count),
                                   hvbench::ShapedEngine::vmId(0),
                                   v.reuse,
                                   v.session,
                                   v.follow};
  while (args.back().empty()) args.pop_back();
  return args;
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
    size_t* number = flag == "--gets"         ? &s.gets
                     : flag == "--walk"       ? &s.walk
                     : flag == "--list"       ? &s.list
                     : flag == "--serve"      ? &s.serve
                     : flag == "--request-ms" ? &s.requestMs
                     : flag == "--login-ms"   ? &s.loginMs
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
        "[--baseline PATH] [--serve N] [--request-ms MS] [--login-ms MS]");
  }
  return s;
}

// Where the runs of the benchmark keep their files, and what runs them.
struct Places {
  hvbench::Spawner& spawner;
  const std::string& dir;
  const std::string& passwordFile;
  const std::string& errors;
  const std::string& curlConfig;
};

// Runs every variant `runs` times, then curl `runs` times for each distinct list of URLs the
// variants requested (a variant's first run decides its list).
std::vector<Group> RunScenario(const Places& places, const Scenario& s,
                               const std::vector<Variant>& variants, const Measured& measured,
                               const std::string& target, const std::string& trusted, int runs) {
  std::vector<Group> groups;
  for (const Variant& v : variants) {
    Row row{v.side, {}};
    std::vector<std::string> urls;
    std::vector<hvtest::Request> requests;
    for (int i = 0; i < runs; ++i) {
      const Mark mark = MarkOf(measured);
      Run run =
          places.spawner.run(ClientArgs(v, s, target, places.passwordFile, trusted), places.errors);
      Account(measured, mark, run);
      if (i == 0) {
        const std::vector<hvtest::Request> all = measured.engine.requests();
        requests.assign(all.begin() + mark.requests, all.end());
        urls = UrlsOf(requests, measured.engine.port());
      }
      row.runs.push_back(run);
    }
    auto same = std::find_if(groups.begin(), groups.end(),
                             [&urls](const Group& g) { return g.urls == urls; });
    if (same == groups.end()) {
      same = groups.insert(groups.end(), Group{std::move(requests), urls, {}, Row{"curl", {}}});
    }
    same->library.push_back(row);
  }
  for (Group& group : groups) {
    // Told apart by the first variant that sent these requests.
    if (groups.size() > 1) {
      const std::string& side = group.library.front().side;
      const std::string prefix = "library ";
      group.curl.side =
          "curl as " +
          (side.compare(0, prefix.size(), prefix) == 0 ? side.substr(prefix.size()) : side);
    }
    WriteCurlConfig(places.curlConfig, group.urls, trusted);
    for (int i = 0; i < runs; ++i) {
      const Mark mark = MarkOf(measured);
      Run run = places.spawner.run({"/usr/bin/curl", "-K", places.curlConfig}, places.errors);
      Account(measured, mark, run);
      group.curl.runs.push_back(run);
    }
  }
  return groups;
}

// Bytes curl downloads with this config, in a run of its own outside the measured ones; 0 when
// it fails.
size_t DownloadedBytes(const std::string& curlConfig) {
  const std::string command =
      "/usr/bin/curl -K " + curlConfig + " -o /dev/null -w '%{size_download}' 2>/dev/null";
  FILE* curl = popen(command.c_str(), "r");
  if (!curl) return 0;
  char text[64] = {0};
  const size_t got = std::fread(text, 1, sizeof text - 1, curl);
  text[got] = '\0';
  return pclose(curl) == 0 ? std::strtoull(text, nullptr, 10) : 0;
}

// curl downloads the list body from the bench engine (one request, the list alone) and from
// `openssl s_server -WWW` (same certificate), alternating run by run; prints both rows and the
// ratio of the first to the second. False when a download failed or came short.
bool CompareWithOpenssl(const Places& places, const std::string& title, const std::string& body,
                        const Measured& shapedSide, int runs) {
  hvtest::TestEngine& engine = shapedSide.engine;
  const std::string bodyFile = places.dir + "/list.xml";
  const std::string opensslConfig = places.dir + "/openssl-curl.cfg";
  std::ofstream(bodyFile, std::ios::binary) << body;
  bool ok = true;
  Row fromEngine{"curl list only", {}};
  Row fromOpenssl{"curl s_server", {}};
  {
    const hvbench::OpensslServer openssl(places.dir, engine.serverCertPem(), engine.serverKeyPem());
    WriteCurlConfig(
        places.curlConfig,
        {"https://localhost:" + std::to_string(engine.port()) + "/ovirt-engine/api/vms"},
        engine.caFile());
    WriteCurlConfig(opensslConfig,
                    {"https://localhost:" + std::to_string(openssl.port()) + "/list.xml"},
                    engine.caFile(), false);
    // Both serve the same bytes, else the comparison means nothing.
    ok = DownloadedBytes(places.curlConfig) == body.size() &&
         DownloadedBytes(opensslConfig) == body.size();
    for (int i = 0; i < runs; ++i) {
      const Mark mark = MarkOf(shapedSide);
      Run run = places.spawner.run({"/usr/bin/curl", "-K", places.curlConfig}, places.errors);
      Account(shapedSide, mark, run);
      fromEngine.runs.push_back(run);
      fromOpenssl.runs.push_back(
          places.spawner.run({"/usr/bin/curl", "-K", opensslConfig}, places.errors));
    }
  }
  std::remove(bodyFile.c_str());
  std::remove(opensslConfig.c_str());
  PrintRow(title, fromEngine, fromOpenssl);
  PrintRow(title, fromOpenssl, fromOpenssl, false);
  std::printf(
      "curl from the bench engine / curl from openssl s_server = %.2fx (medians; "
      "minimums %.2fx)%s\n",
      fromEngine.Median() / fromOpenssl.Median(), fromEngine.Min() / fromOpenssl.Min(),
      ok ? "" : "  FAILED: the downloads differ from the body");
  return ok && fromEngine.AllOk() && fromOpenssl.AllOk();
}

// The floor of the library's time for what `group` requested: Xerces-C scanning the bodies the
// engine answered, `runs` times, after curl's download of them. Prints the scan's row against
// curl and the floor's ratio; false when a body did not scan.
bool PrintXercesFloor(const std::string& title, const Group& group,
                      const hvbench::ShapedEngine& shaped, const hvbench::XercesScan& scan,
                      int runs) {
  std::vector<std::shared_ptr<const std::string>> bodies;
  for (const hvtest::Request& request : group.requests) {
    if (std::shared_ptr<const std::string> body = shaped.bodyOf(request)) {
      bodies.push_back(std::move(body));
    }
  }
  Row scanned{"Xerces-C scan", {}};
  try {
    for (int i = 0; i < runs; ++i) {
      hvbench::Run run;
      run.seconds = scan.seconds(bodies);
      run.ok = true;
      scanned.runs.push_back(run);
    }
  } catch (const std::exception& e) {
    std::printf("%-*s Xerces-C scan FAILED: %s\n", kTitleWidth, title.c_str(), e.what());
    return false;
  }
  PrintRow(title, scanned, group.curl, false);
  const double curl = group.curl.Median();
  std::printf("%-*s floor = curl + Xerces-C scan = %.2fx curl; library / floor = %.2fx\n",
              kTitleWidth, "", (curl + scanned.Median()) / curl,
              group.library.back().Median() / (curl + scanned.Median()));
  return true;
}

}  // namespace

int main(int argc, char** argv) try {
  const Settings settings = ParseArgs(argc, argv);
  hvbench::Spawner spawner;  // first, while this process is small
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
  const hvbench::XercesScan scan;

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
       "(s) walk of " + std::to_string(settings.walk) + " VMs, sim 4.5, " +
           std::to_string(settings.requestMs) + " ms/req, " + std::to_string(settings.loginMs) +
           " ms/login",
       "walk", settings.walk, settings.walk, true},
  };
  const Places places{spawner, dir, passwordFile, errors, curlConfig};
  // "x curl": the library's time over that of curl replaying its URLs, of the medians and of
  // the minimums.
  std::printf("%-*s %-18s %7s %8s %8s %8s %9s %6s %8s %7s\n", kTitleWidth, "scenario", "side",
              "min s", "median s", "x median", "x min", "peak MiB", "conns", "requests", "logins");
  bool allOk = true;
  for (const std::string& key : Split(settings.only)) {
    for (const Scenario& s : scenarios) {
      if (s.key != key) continue;
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
          options.sessions.requestCost = std::chrono::milliseconds(settings.requestMs);
          options.sessions.loginCost = std::chrono::milliseconds(settings.loginMs);
          simulator = std::make_unique<hvsim::EngineSimulator>(options);
        }
        hvsim::EngineSimulator* sim = simulator.get();
        simulatedSide = std::make_unique<Measured>(
            Measured{sim->engine(), [sim] { return sim->sessionStats().logins; }});
        measured = simulatedSide.get();
        target = "localhost:" + std::to_string(sim->port());
        trusted = sim->engine().caFile();
        // Session kept and links followed (one request for the walk where the engine allows),
        // session kept and one request per object, links followed and a login per request.
        variants.push_back({"library follow=1", settings.client, "1", "1", "1"});
        variants.push_back({"library follow=0", settings.client, "1", "1", "0"});
        variants.push_back({"library session=0", settings.client, "1", "0", "1"});
      } else {
        shaped.setVmCount(s.vms);
        if (!settings.baseline.empty()) {
          variants.push_back({"library before", settings.baseline, "", "", ""});
        }
        for (const std::string& r : settings.reuse) {
          variants.push_back({"library reuse=" + r, settings.client, r, "", ""});
        }
        if (settings.reuse.empty()) variants.push_back({"library", settings.client, "", "", ""});
      }
      const std::vector<Group> groups =
          RunScenario(places, s, variants, *measured, target, trusted, settings.runs);
      for (const Group& group : groups) {
        PrintRow(s.title, group.curl, group.curl);
        for (const Row& row : group.library) {
          PrintRow(s.title, row, group.curl);
          allOk = allOk && row.AllOk();
        }
        allOk = allOk && group.curl.AllOk();
        if (!s.simulated) {
          allOk = PrintXercesFloor(s.title, group, shaped, scan, settings.runs) && allOk;
        }
      }
      if (s.key == "a") {
        const std::shared_ptr<const std::string> body = shaped.listBody();
        const double bodyMiB = body->size() / 1048576.0;
        std::printf("%-*s body %.1f MiB; library peak / body = %.2f\n", kTitleWidth, "", bodyMiB,
                    groups.back().library.back().PeakMiB() / bodyMiB);
        allOk = CompareWithOpenssl(places, s.title, *body, shapedSide, settings.runs) && allOk;
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
