// Tests of what only the engine simulator itself decides: the document forms of each engine
// generation, search semantics, timing, the fault table, the inventory and the program. The
// library's end-to-end and concurrency tests drive the simulator's workflows.
#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine_simulator/engine_simulator.h"
#include "engine_simulator/xml_in.h"

namespace {

using hvsim::Delay;
using hvsim::EngineSimulator;
using hvsim::Kind;
using hvsim::Timing;
using hvsim::XmlNode;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kPassword = "sim-pw";
const std::string kSeed = std::string(HV_SIMULATOR_SEED_DIR) + "/example.seed";

struct Reply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string contentType;
  std::string body;
  std::chrono::milliseconds elapsed{0};
  std::chrono::milliseconds firstByte{0};  // the server's time to decide and render
};

size_t appendTo(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// One libcurl handle against the simulator's API base.
class Client {
 public:
  // Without reuse every request has its own connection, as the library makes them; libcurl
  // would otherwise resend a request whose reused connection was closed without an answer.
  explicit Client(EngineSimulator& sim, bool reuse = true)
      : base_(sim.apiUrl()), curl_(curl_easy_init()) {
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_FORBID_REUSE, reuse ? 0L : 1L);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(curl_, CURLOPT_USERNAME, "admin@internal");
    curl_easy_setopt(curl_, CURLOPT_PASSWORD, kPassword);
    curl_easy_setopt(curl_, CURLOPT_CAINFO, sim.engine().caFile().c_str());
  }
  ~Client() { curl_easy_cleanup(curl_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // `tail` is appended to the API base ("vms?search=name%3Dx", "/vms/ID"); POST when `body`.
  Reply send(const std::string& tail, const std::string* body = nullptr) {
    Reply reply;
    std::string url = base_ + (tail.empty() || tail[0] == '?' || tail[0] == '/' ? "" : "/") + tail;
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    struct curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/xml");
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
    if (body) {
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body->c_str());
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
    }
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, appendTo);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &reply.body);
    Clock::time_point start = Clock::now();
    reply.code = curl_easy_perform(curl_);
    reply.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_off_t firstByte = 0;
    curl_easy_getinfo(curl_, CURLINFO_STARTTRANSFER_TIME_T, &firstByte);
    reply.firstByte = std::chrono::milliseconds(firstByte / 1000);
    char* type = nullptr;
    if (curl_easy_getinfo(curl_, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) {
      reply.contentType = type;
    }
    curl_slist_free_all(headers);
    return reply;
  }
  Reply get(const std::string& tail) { return send(tail); }
  Reply post(const std::string& tail, const std::string& body) { return send(tail, &body); }

 private:
  std::string base_;
  CURL* curl_;
};

XmlNode parse(const Reply& reply) {
  std::string error;
  std::optional<XmlNode> doc = hvsim::parseXml(reply.body, &error);
  EXPECT_TRUE(doc) << error << "\n" << reply.body;
  return doc ? *doc : XmlNode();
}

std::string text(const XmlNode& node, const std::string& path) {
  return node.textAt(path).value_or("<absent>");
}

std::set<std::string> namesIn(const XmlNode& list) {
  std::set<std::string> names;
  for (const XmlNode& item : list.children) names.insert(text(item, "name"));
  return names;
}

// A value as a v3 attribute ("@value") or a v4 child ("value").
std::string formOf(const XmlNode* node, const std::string& name) {
  if (!node) return "<no element>";
  if (std::optional<std::string> a = node->attribute(name)) return "@" + *a;
  return text(*node, name);
}

// The simulator with the example seed, and a client for it.
struct Engine {
  explicit Engine(const std::string& generation, Timing timing = Timing())
      : sim(options(generation, timing)), client(sim) {}
  static hvsim::SimulatorOptions options(const std::string& generation, Timing timing) {
    hvsim::SimulatorOptions o;
    o.generation = generation;
    o.seedFile = kSeed;
    o.server.password = kPassword;
    o.timing = timing;
    return o;
  }
  std::string id(Kind kind, const std::string& name) {
    std::string found = sim.idOf(kind, name);
    EXPECT_FALSE(found.empty()) << name;
    return found;
  }
  EngineSimulator sim;
  Client client;
};

// --- Document forms per generation -----------------------------------------------------------

TEST(SimulatorFormsTest, EachGenerationRendersItsOwnForms) {
  struct Case {
    const char* generation;
    const char* version;  // as formOf reads major.minor.build
  };
  for (const Case& c : {Case{"3.6", "@3.@6.@0"}, Case{"4.0.0", "4.0.0"}, Case{"4.0.2", "4.0.2"},
                        Case{"4.2.8", "4.2.8"}}) {
    SCOPED_TRACE(c.generation);
    const bool v3 = c.generation[0] == '3';
    Engine e(c.generation);
    std::string vmPath = "vms/" + e.id(Kind::Vm, "web01");
    XmlNode api = parse(e.client.get(""));
    const XmlNode* version = api.find("product_info/version");
    XmlNode vm = parse(e.client.get(vmPath));
    XmlNode vmDisks = parse(e.client.get(vmPath + "/disks"));
    XmlNode disk = parse(e.client.get("disks/" + e.id(Kind::Disk, "web01_Disk1")));
    XmlNode snapshots = parse(e.client.get(vmPath + "/snapshots"));
    XmlNode host = parse(e.client.get("hosts/" + e.id(Kind::Host, "host1")));
    XmlNode tags = parse(e.client.get("tags?search=name%3Dnightly"));
    ASSERT_EQ(vmDisks.children.size(), 2u);
    ASSERT_EQ(snapshots.children.size(), 2u);
    ASSERT_EQ(tags.children.size(), 1u);
    std::string links;
    for (const XmlNode& link : vm.children) {
      std::string rel = link.attribute("rel").value_or("");
      if (rel == "disks" || rel == "diskattachments") links += rel + " ";
    }
    const XmlNode& tag = tags.children[0];
    const XmlNode* parent = tag.find("parent/tag") ? tag.find("parent/tag") : tag.find("parent");
    struct Form {
      const char* what;
      std::string got, v3, v4;
    };
    const Form forms[] = {
        {"api version",
         formOf(version, "major") + "." + formOf(version, "minor") + "." + formOf(version, "build"),
         c.version, c.version},
        {"full version inside version",
         std::to_string(api.find("product_info/version/full_version") != nullptr), "0", "1"},
        {"vm href", vm.attribute("href").value_or(""), "/ovirt-engine/api/" + vmPath,
         "/ovirt-engine/api/" + vmPath},
        {"vm status", text(vm, "status/state") + "|" + hvsim::trim(vm.child("status")->text), "up|",
         "<absent>|up"},
        {"vm topology", formOf(vm.find("cpu/topology"), "sockets"), "@2", "2"},
        {"vm os", formOf(vm.find("os"), "type"), "@rhel_7x64", "rhel_7x64"},
        {"vm links", links, "disks ", "diskattachments "},
        {"attachments", std::to_string(e.client.get(vmPath + "/diskattachments").status), "404",
         "200"},
        {"vm disk",
         text(vmDisks.children[0], "interface") + "|" + text(vmDisks.children[0], "active") + "|" +
             text(vmDisks.children[0], "status/state"),
         "virtio|true|ok", "virtio|true|<absent>"},
        {"top disk", text(disk, "interface") + "|" + text(disk, "size"), "virtio|10737418240",
         "<absent>|<absent>"},
        {"snapshot kind",
         text(snapshots.children[0], v3 ? "type" : "snapshot_type") + "|" +
             text(snapshots.children[1], "type") + "|" +
             text(snapshots.children[1], "snapshot_type"),
         "active|regular|<absent>", "active|<absent>|regular"},
        {"host topology", formOf(host.find("cpu/topology"), "cores"), "@4", "4"},
        {"tag parent",
         std::string(parent ? parent->name : "none") + "|" +
             std::to_string(parent && parent->attribute("id") == e.id(Kind::Tag, "backup")),
         "tag|1", "parent|1"},
    };
    for (const Form& f : forms) EXPECT_EQ(f.got, v3 ? f.v3 : f.v4) << f.what;
  }
}

// --- Searches -------------------------------------------------------------------------------

TEST(SimulatorSearchTest, MatchesWithoutRegardToCaseAfterPercentDecoding) {
  Engine e("4.1");
  std::string created =
      "<vm><name>nightly backup</name><cluster><name>Default</name></cluster></vm>";
  ASSERT_EQ(e.client.post("vms", created).status, 201);
  std::string dcDomains = "datacenters/" + e.id(Kind::DataCenter, "Default") + "/storagedomains";
  struct Case {
    std::string query;
    long status;
    std::set<std::string> names;
  };
  const Case cases[] = {
      {"vms?search=name%3Dweb01", 200, {"web01", "WEB01"}},
      {"vms?search=name=WEB01", 200, {"web01", "WEB01"}},
      {"vms?search=name%3Dweb01&case_sensitive=true", 200, {"web01"}},
      {"vms?search=name%3Dweb*", 200, {"web01", "WEB01"}},
      {"vms?search=name%3D%2Aroxy", 200, {"proxy"}},
      {"vms?search=name%3Dweb0", 200, {}},  // no prefix without '*'
      {"vms?search=name%3Dnightly%20backup", 200, {"nightly backup"}},
      {"vms?search=name=Nightly+Backup", 200, {"nightly backup"}},
      {"vms?search=cluster%3Ddefault%20and%20status%3Dup", 200, {"web01", "proxy"}},
      {"vms?search=status!%3Dup", 200, {"WEB01", "nightly backup"}},
      {"vms?search=tag%3DBACKUP", 200, {"web01"}},
      {"vms?search=host%3Dhost1", 200, {"web01", "proxy"}},
      {"vms?search=datacenter%3D%22Default%22%20sortby%20name%20asc",
       200,
       {"web01", "WEB01", "proxy", "nightly backup"}},
      {"hosts?search=cluster%3DDefault", 200, {"host1", "host2"}},
      {"clusters?search=datacenter%3Ddefault", 200, {"Default"}},
      {"datacenters?search=name%3DDEFAULT", 200, {"Default"}},
      {"storagedomains?search=name%3Ddata*", 200, {"data1", "data2"}},
      {dcDomains + "?search=name%3DDATA2", 200, {"data2"}},
      {"disks?search=name%3Dweb01_disk1&case_sensitive=false", 200, {"web01_Disk1", "WEB01_Disk1"}},
      {"vms?search=colour%3Dblue", 400, {"<fault>"}},
      {"vms?search=name", 400, {"<fault>"}},
      {"vms?search=and%20x", 400, {"<fault>"}},
  };
  for (const Case& c : cases) {
    Reply r = e.client.get(c.query);
    ASSERT_EQ(r.status, c.status) << c.query << "\n" << r.body;
    XmlNode doc = parse(r);
    EXPECT_EQ(doc.name == "fault" ? std::set<std::string>{"<fault>"} : namesIn(doc), c.names)
        << c.query;
  }
  e.sim.setCaseSensitiveSearch(true);
  EXPECT_EQ(namesIn(parse(e.client.get("vms?search=name%3Dweb01"))),
            std::set<std::string>{"web01"});
}

// --- Timing ----------------------------------------------------------------------------------

TEST(SimulatorTimingTest, ALockedSnapshotCountsThePollsOfItsVm) {
  for (unsigned polls : {0u, 1u, 3u}) {
    SCOPED_TRACE(polls);
    Timing timing;
    timing.snapshotCreate = Delay::afterPolls(polls);
    Engine e("4.0.1", timing);
    std::string snapshots = "vms/" + e.id(Kind::Vm, "WEB01") + "/snapshots";
    Reply created = e.client.post(snapshots, "<snapshot><description>s</description></snapshot>");
    ASSERT_EQ(created.status, 201);
    EXPECT_EQ(text(parse(created), "snapshot_status"), polls == 0 ? "ok" : "locked");
    unsigned locked = 0;
    while (locked < 10 &&
           text(parse(e.client.get(snapshots)).children.back(), "snapshot_status") == "locked") {
      ++locked;
    }
    EXPECT_EQ(locked, polls);
  }
}

// --- Faults ---------------------------------------------------------------------------------

TEST(SimulatorFaultTest, TableCountsUsesAndMatchesPrefixesAndAnyMethod) {
  hvsim::FaultTable table;
  hvsim::Fault conflict, html, forever;
  conflict.status = 409;
  html.kind = hvsim::Fault::Kind::Html;
  html.status = 502;
  forever.status = 503;
  table.add("POST", "/api/vms", conflict, 2);
  table.add("*", "/api/hosts/*", html, 1);
  table.add("GET", "/api/jobs", forever, 0);  // until cleared: counts once
  EXPECT_EQ(table.pending(), 4u);
  struct Case {
    const char* method;
    const char* path;
    int status;  // 0: no fault
  };
  const Case cases[] = {
      {"GET", "/api/vms", 0},       {"POST", "/api/vms/1", 0},     {"POST", "/api/vms", 409},
      {"POST", "/api/vms", 409},    {"POST", "/api/vms", 0},       {"GET", "/api/hosts", 0},
      {"PUT", "/api/hosts/7", 502}, {"DELETE", "/api/hosts/7", 0}, {"GET", "/api/jobs", 503},
      {"GET", "/api/jobs", 503},
  };
  for (const Case& c : cases) {
    std::optional<hvsim::Fault> f = table.take(c.method, c.path);
    EXPECT_EQ(f ? f->status : 0, c.status) << c.method << " " << c.path;
  }
  EXPECT_EQ(table.pending(), 1u);
  table.expireSessionOnce();
  EXPECT_EQ(table.pending(), 2u);
  table.clear();
  EXPECT_EQ(table.pending(), 0u);
  EXPECT_FALSE(table.take("GET", "/api/jobs"));
}

TEST(SimulatorFaultTest, EachKindReplacesOneAnswerOnTheWire) {
  using K = hvsim::Fault::Kind;
  Engine e("4.1");
  struct Case {
    const char* name;
    std::function<void(EngineSimulator&)> inject;
    CURLcode code;
    long status;
    std::string type;  // the start of the content type
    std::chrono::milliseconds atLeast;
  };
  auto fault = [](K kind, int status, std::chrono::milliseconds duration) {
    return [=](EngineSimulator& s) {
      hvsim::Fault f;
      f.kind = kind;
      f.status = status;
      f.duration = duration;
      s.injectFault("GET", "/ovirt-engine/api/vms", f, 1);
    };
  };
  const Case cases[] = {
      {"session expiry", [](EngineSimulator& s) { s.expireSessionOnce(); }, CURLE_OK, 401,
       "application/xml", 0ms},
      {"status", fault(K::Status, 503, 0ms), CURLE_OK, 503, "application/xml", 0ms},
      {"html", fault(K::Html, 502, 0ms), CURLE_OK, 502, "text/html", 0ms},
      {"drop", fault(K::Drop, 0, 0ms), CURLE_GOT_NOTHING, 0, "", 0ms},
      {"stall", fault(K::Stall, 0, 100ms), CURLE_GOT_NOTHING, 0, "", 100ms},
      {"partial", fault(K::Partial, 0, 0ms), CURLE_PARTIAL_FILE, 200, "application/xml", 0ms},
      {"slow", fault(K::Slow, 0, 60ms), CURLE_OK, 200, "application/xml", 60ms},
  };
  Client fresh(e.sim, false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.inject(e.sim);
    Reply hit = fresh.get("vms?search=name%3Dweb01");  // the query plays no part
    EXPECT_EQ(hit.code, c.code);
    EXPECT_EQ(hit.status, c.status);
    EXPECT_EQ(hit.contentType.rfind(c.type, 0), 0u) << hit.contentType;
    EXPECT_GE(hit.elapsed, c.atLeast);
    if (c.status >= 400 && c.type != "text/html") {
      EXPECT_EQ(parse(hit).name, "fault");
    } else if (c.status == 200 && c.code == CURLE_OK) {
      EXPECT_EQ(namesIn(parse(hit)).size(), 2u);
    }
    EXPECT_EQ(fresh.get("vms").status, 200);  // once only
    EXPECT_EQ(e.sim.pendingFaults(), 0u);
  }
  // A scripted answer of the underlying test engine comes before the simulator.
  e.sim.engine().answer("GET", "/ovirt-engine/api/vms", hvtest::Answer::xml(200, "<vms/>"));
  EXPECT_TRUE(parse(e.client.get("vms")).children.empty());
}

// --- The program -----------------------------------------------------------------------------

// The program next to this test's build directory, or "" when it is not there.
std::string programPath() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "";
  std::filesystem::path program =
      self.parent_path().parent_path() / "tools" / "hypervale-engine-simulator";
  return std::filesystem::exists(program) ? program.string() : "";
}

struct ProgramRun {
  int exitCode = -1;
  std::string firstLine;
};

// Starts the program, reads its first line of output (waiting at most 10 s), then, if
// `terminate`, sends SIGTERM; returns how it ended.
ProgramRun runProgram(const std::vector<std::string>& args, bool terminate) {
  int out[2];
  if (pipe(out) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDERR_FILENO);
    close(out[0]);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  ProgramRun run;
  std::string line;
  Clock::time_point deadline = Clock::now() + 10s;
  while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[256];
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    line.append(buffer, static_cast<size_t>(n));
  }
  run.firstLine = line.substr(0, line.find('\n'));
  if (terminate) kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  close(out[0]);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

TEST(SimulatorProgramTest, ServesUntilTerminatedAndChecksItsOptions) {
  std::string program = programPath();
  if (program.empty()) GTEST_SKIP() << "hypervale-engine-simulator not built";
  std::string dir = ::testing::TempDir();
  std::string passwordFile = dir + "/simulator-password";
  std::ofstream(passwordFile) << "pw\n";
  std::string caFile = dir + "/simulator-ca.pem";

  ProgramRun served =
      runProgram({program, "--generation", "3.6", "--seed", kSeed, "--password-file", passwordFile,
                  "--ca-out", caFile, "--polls", "0"},
                 true);
  EXPECT_EQ(served.exitCode, 0);
  EXPECT_EQ(served.firstLine.rfind("listening on 127.0.0.1:", 0), 0u) << served.firstLine;
  std::ifstream ca(caFile);
  std::string pem((std::istreambuf_iterator<char>(ca)), std::istreambuf_iterator<char>());
  EXPECT_NE(pem.find("BEGIN CERTIFICATE"), std::string::npos);

  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* firstLine;
  };
  const Case cases[] = {
      {{"--help"}, 0, "Usage: hypervale-engine-simulator [options]"},
      {{"--no-auth", "--generation", "9.1"}, 1, ""},
      {{"--no-auth", "--seed", dir + "/missing.seed"}, 1, ""},
      {{"--generation", "4.1"}, 2, ""},  // neither a password file nor --no-auth
      {{"--no-auth", "--vms", "many"}, 2, ""},
      {{"--password", "x"}, 2, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{program};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProgramRun run = runProgram(args, false);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.args.back();
    EXPECT_EQ(run.firstLine, c.firstLine) << c.args.back();
  }
}

// --- Inventory ------------------------------------------------------------------------------

TEST(SimulatorInventoryTest, TenThousandVmsAreGeneratedAndListedQuickly) {
  hvsim::SimulatorOptions o;
  o.server.password = kPassword;
  o.generate.vms = 10000;
  Clock::time_point start = Clock::now();
  EngineSimulator sim(o);
  auto built = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  EXPECT_LT(built, 3s) << built.count() << " ms";
  Client client(sim);
  Reply all = client.get("vms");
  ASSERT_EQ(all.status, 200);
  // Unloaded the answer (about 36 MB) is rendered in a quarter of a second and received in
  // half a second; the bounds leave room for a machine busy with other builds and still catch
  // any cost that grows faster than the inventory.
  EXPECT_LT(all.firstByte, 2s) << all.firstByte.count() << " ms to the first byte";
  EXPECT_LT(all.elapsed, 5s) << all.elapsed.count() << " ms for " << all.body.size() << " bytes";
  size_t count = 0;
  for (size_t at = all.body.find("<vm href="); at != std::string::npos;
       at = all.body.find("<vm href=", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 10001u);  // and the proxy
  Reply one = client.get("vms?search=name%3Dvm09999");
  EXPECT_EQ(namesIn(parse(one)), std::set<std::string>{"vm09999"});
  EXPECT_LT(one.elapsed, 1s);
  XmlNode root = parse(client.get(""));
  EXPECT_EQ(text(root, "summary/vms/total"), "10001");
  EXPECT_EQ(text(root, "summary/vms/active"), "5001");
}

TEST(SimulatorInventoryTest, SeedErrorsNameTheLine) {
  struct Case {
    const char* seed;
    const char* message;
  };
  const Case cases[] = {
      {"[cluster c]\ndatacenter = nowhere\n", "line 1"},
      {"[datacenter d]\ncolour = blue\n", "line 2: unknown key 'colour'"},
      {"[datacenter d]\n[gadget g]\n", "unknown kind 'gadget'"},
      {"key = value\n", "line 1"},
      {"[datacenter d]\n[cluster c]\ndatacenter = d\n[vm v]\ncluster = c\nstatus = up\n",
       "no host that is up"},
      {"[datacenter d\n", "missing ']'"},
      {"[datacenter d]\n[cluster c]\ndatacenter = d\n[vm v]\ncluster = c\nmemory = lots\n",
       "must be a number"},
  };
  for (const Case& c : cases) {
    try {
      hvsim::loadSeed(c.seed);
      ADD_FAILURE() << "accepted: " << c.seed;
    } catch (const hvsim::SeedError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
  }
  EXPECT_THROW(hvsim::loadSeedFile("/nonexistent/seed"), hvsim::SeedError);
}

}  // namespace
