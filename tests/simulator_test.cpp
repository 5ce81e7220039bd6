// Tests of what only the engine simulator itself decides: its strictness (refusals, HTTPS only,
// single sign-on), search, progress in polls and time, failing tasks, the fault table, seeds and
// the program. The library's end-to-end and concurrency tests drive its workflows and forms.
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
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine_simulator/engine_simulator.h"
#include "engine_simulator/sso.h"
#include "engine_simulator/xml_in.h"
#include "engine_simulator/xml_out.h"

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

std::string api(const std::string& tail) { return "/ovirt-engine/api/" + tail; }

struct Reply {
  long status = 0;
  std::string body;
};

size_t appendTo(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// One request as a client would send it.
struct Ask {
  std::string method = "GET";
  std::string target{};  // from the server root, e.g. api("vms")
  std::string body{};
  std::vector<std::string> headers{};
  bool plainHttp = false;
  bool basic = true;  // Basic authentication with the engine's credentials
};

// One libcurl handle against the simulator.
class Client {
 public:
  explicit Client(EngineSimulator& sim) : sim_(sim), curl_(curl_easy_init()) {
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(curl_, CURLOPT_CAINFO, sim.engine().caFile().c_str());
  }
  ~Client() { curl_easy_cleanup(curl_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  Reply send(const Ask& ask) {
    Reply reply;
    std::string url =
        (ask.plainHttp ? sim_.engine().httpUrl() : sim_.engine().httpsUrl()) + ask.target;
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_USERNAME, ask.basic ? "admin@internal" : nullptr);
    curl_easy_setopt(curl_, CURLOPT_PASSWORD, ask.basic ? kPassword : nullptr);
    curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    if (ask.method != "GET") {
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, ask.body.c_str());
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(ask.body.size()));
    }
    curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST,
                     ask.method == "GET" || ask.method == "POST" ? nullptr : ask.method.c_str());
    struct curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/xml");
    for (const std::string& line : ask.headers) headers = curl_slist_append(headers, line.c_str());
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, appendTo);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_perform(curl_);
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(headers);
    return reply;
  }
  Reply get(const std::string& tail) { return send(Ask{"GET", api(tail)}); }
  Reply post(const std::string& tail, const std::string& body) {
    return send(Ask{"POST", api(tail), body});
  }

 private:
  EngineSimulator& sim_;
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

std::string escaped(const std::string& raw) {
  std::string out;
  hvsim::appendEscaped(out, raw);
  return out;
}

// The simulator with the example seed on a clock that moves only when told, and a client.
struct Engine {
  explicit Engine(const std::string& generation, Timing timing = Timing())
      : sim(options(generation, timing, clock)), client(sim) {}
  static hvsim::SimulatorOptions options(const std::string& generation, Timing timing,
                                         const hvsim::ManualClock& clock) {
    hvsim::SimulatorOptions o;
    o.generation = generation;
    o.seedFile = kSeed;
    o.server.password = kPassword;
    o.timing = timing;
    o.clock = clock.source();
    return o;
  }
  std::string id(Kind kind, const std::string& name) {
    std::string found = sim.idOf(kind, name);
    EXPECT_FALSE(found.empty()) << name;
    return found;
  }
  hvsim::Snapshot seededSnapshot() { return sim.vm(id(Kind::Vm, "web01"))->snapshots.at(1); }

  hvsim::ManualClock clock;
  EngineSimulator sim;
  Client client;
};

// --- Strictness ----------------------------------------------------------------------------

// "METHOD target" under the API, with {vm:NAME}, {disk:NAME}, {cluster:NAME}, {sd:NAME},
// {profile:NAME}, {snapshot} (web01's seeded one) and {ovf} (its OVF, escaped) filled in.
Reply call(Engine& e, const std::string& request, const std::string& body = "",
           const std::string& header = "") {
  static const std::map<std::string, Kind> kinds = {{"vm", Kind::Vm},
                                                    {"disk", Kind::Disk},
                                                    {"cluster", Kind::Cluster},
                                                    {"sd", Kind::StorageDomain},
                                                    {"profile", Kind::VnicProfile}};
  auto expand = [&](std::string text) {
    for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open)) {
      const size_t close = text.find('}', open);
      const std::string key = text.substr(open + 1, close - open - 1);
      const size_t colon = key.find(':');
      std::string value = key == "snapshot" ? e.seededSnapshot().id
                          : key == "ovf"
                              ? escaped(e.seededSnapshot().ovf)
                              : e.id(kinds.at(key.substr(0, colon)), key.substr(colon + 1));
      text.replace(open, close - open + 1, value);
      open += value.size();
    }
    return text;
  };
  const size_t blank = request.find(' ');
  Ask ask{request.substr(0, blank), api(expand(request.substr(blank + 1))), expand(body)};
  if (!header.empty()) ask.headers.push_back(header);
  return e.client.send(ask);
}

// Requests a real engine refuses, or takes otherwise than a lenient server would, in order per
// generation: later rows see what earlier rows changed.
TEST(SimulatorStrictnessTest, RequestsAreTakenAsAnEngineTakesThem) {
  std::map<std::string, std::unique_ptr<Engine>> engines;
  for (const char* generation : {"3.6", "4.1", "4.2"}) {
    engines[generation] = std::make_unique<Engine>(generation, Timing::instant());
  }
  // A network of another data center: its profile cannot serve a VM of "Default".
  engines["4.1"]->sim.withInventory([](hvsim::Inventory& inventory) {
    hvsim::DataCenter dc;
    dc.id = inventory.newId(hvsim::IdKind::DataCenter);
    hvsim::Network net;
    net.id = inventory.newId(hvsim::IdKind::Network);
    net.dataCenterId = inventory.dataCenters.add(dc).id;
    hvsim::VnicProfile profile;
    profile.id = inventory.newId(hvsim::IdKind::VnicProfile);
    profile.name = "remote";
    profile.networkId = inventory.networks.add(net).id;
    inventory.vnicProfiles.add(profile);
  });
  const std::string cluster = "<cluster><name>Default</name></cluster>";
  const std::string fromOvf = "<vm><name>d</name>" + cluster +
                              "<initialization><configuration><type>ovf</type><data>{ovf}</data>"
                              "</configuration>";
  const std::string attach = "<disk_attachment>%<disk id=\"{disk:floating}\"/></disk_attachment>";
  auto attachWith = [&](const std::string& flags) {
    return attach.substr(0, attach.find('%')) + flags + attach.substr(attach.find('%') + 1);
  };
  const std::string snapshot = "vms/{vm:web01}/snapshots/{snapshot}";
  const std::string jobs = "GET jobs?search=correlation_id%3Dbackup-7";
  const std::string correlated = "POST vms/{vm:WEB01}/snapshots?correlation_id=backup-7";
  const std::string nightly = "<snapshot><description>nightly</description></snapshot>";
  struct Row {
    const char* generation;
    std::string request, body, header;
    long status;
    const char* mark;  // the answer holds this text ("!text": does not)
  };
  const Row rows[] = {
      {"4.1", "POST vms", "<vm id=\"\"><name>a</name>" + cluster + "</vm>", "", 400, "UUID"},
      {"4.1", "POST vms", "<vm><name>b</name><cluster id=\"\"/></vm>", "", 400, "UUID"},
      {"4.1", "POST vms",  // resolved by id, not by name
       "<vm><name>c</name><cluster id=\"{cluster:Default}\"><name>x</name></cluster></vm>", "", 201,
       "<name>c</name>"},
      {"4.1", "POST vms", fromOvf + "</initialization></vm>", "", 409, "same identifier"},
      {"4.1", "POST vms", fromOvf + "<regenerate_ids>true</regenerate_ids></initialization></vm>",
       "", 201, "<name>d</name>"},
      {"4.1", "POST disks",
       "<disk><provisioned_size>1024</provisioned_size><storage_domains><storage_domain><name>"
       "data1</name></storage_domain></storage_domains></disk>",
       "", 400, "Incomplete parameters"},
      {"4.1", "POST vms/{vm:proxy}/diskattachments", attachWith(""), "", 400, "interface"},
      {"4.1", "POST vms/{vm:proxy}/diskattachments", attachWith("<interface></interface>"), "", 400,
       "interface"},
      {"4.1", "POST vms/{vm:proxy}/diskattachments", attachWith("<interface>virtio</interface>"),
       "", 201, "<active>false</active>"},
      {"4.1", "POST vms/{vm:web01}/nics",
       "<nic><name>n</name><vnic_profile id=\"{profile:remote}\"/></nic>", "", 409, "Network"},
      {"4.1", "DELETE storagedomains/{sd:data1}?host=host1&destroy=true", "", "", 409, "active"},
      {"4.1", "POST vms/{vm:web01}/start", "<action/>", "", 409, "<status>failed</status>"},
      {"4.1", "GET vms/{vm:web01}/disks", "", "", 404, ""},
      {"4.1", "GET disks/{disk:web01_Disk1}", "", "", 200,  // its image and the snapshot's
       "<total_size>2684354560</total_size>"},
      {"4.1", "GET " + snapshot, "", "", 200, "!<data>"},
      {"4.1", "GET " + snapshot + "?all_content=true", "", "", 200, "<data>"},
      {"4.1", "GET vms/{vm:web01}/snapshots", "", "All-Content: true", 200, "<data>"},
      {"4.1", "POST vms/{vm:web01}/stop", "<action/>", "", 200, ""},
      {"4.1", correlated, nightly, "", 201, ""},
      {"4.1", jobs, "", "", 200, "Stopping VM web01"},  // the search is ignored
      {"4.2", "POST vms/{vm:web01}/stop", "<action/>", "", 200, ""},
      {"4.2", correlated, nightly, "", 201, ""},
      {"4.2", jobs, "", "", 200, "!Stopping VM"},
      {"4.2", jobs, "", "", 200, "!backup-7"},  // descriptions never hold it
      {"3.6", "POST vms", "<vm>" + cluster + "</vm>", "", 400, "<usage_message"},
      {"3.6", "GET vms/{vm:web01}/diskattachments", "", "", 404, ""},
      {"3.6", "GET disks/{disk:web01_Disk1}", "", "", 200, "!<total_size>"},
      {"3.6", "POST vms/{vm:web01}/start", "<action/>", "", 409, "<state>failed</state>"},
      {"3.6", "GET " + snapshot + "?all_content=true", "", "", 200, "!<data>"},
      {"3.6", "GET " + snapshot, "", "All-Content: true", 200, "<data>"},
      {"3.6", "PUT vms/{vm:web01}/disks/{disk:web01_Disk2}", "<disk><alias></alias></disk>", "",
       200, ""},
      {"3.6", "DELETE vms/{vm:web01}/disks/{disk:web01_Disk1}", "", "", 409, "plugged"},
      {"3.6", "DELETE vms/{vm:WEB01}/disks/{disk:WEB01_Disk1}", "", "", 200, ""},
  };
  const std::string v3Disks = engines["3.6"]->id(Kind::Disk, "web01_Disk2") + " " +
                              engines["3.6"]->id(Kind::Disk, "WEB01_Disk1");
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.generation) + " " + row.request + " " + row.body);
    Reply reply = call(*engines[row.generation], row.request, row.body, row.header);
    EXPECT_EQ(reply.status, row.status) << reply.body;
    const bool negated = row.mark[0] == '!';
    EXPECT_EQ(reply.body.find(row.mark + negated) != std::string::npos, !negated) << reply.body;
  }
  EngineSimulator& v3 = engines["3.6"]->sim;
  EXPECT_EQ(v3.disk(v3Disks.substr(0, v3Disks.find(' ')))->name, "");  // blanked
  EXPECT_FALSE(v3.disk(v3Disks.substr(v3Disks.find(' ') + 1)));        // deleted, not detached
}

TEST(SimulatorStrictnessTest, ApiOnlyOverHttpsWithBasicOrSingleSignOn) {
  Engine v4("4.1");
  Engine v3("3.6");
  const std::string token = hvsim::SsoService::kTokenPath;
  const std::string grant = "grant_type=password&scope=ovirt-app-api&username=admin%40internal";
  Reply granted = v4.client.send(Ask{"POST", token, grant + "&password=sim-pw", {}, false, false});
  const size_t at = granted.body.find("\"access_token\":\"") + 16;
  const std::string value = granted.body.substr(at, granted.body.find('"', at) - at);
  const std::string bearer = "Authorization: Bearer " + value;
  struct Row {
    const char* what;
    Engine& engine;
    Ask ask;
    long status;
  };
  const Row rows[] = {
      {"API over plain HTTP, before any login", v4, Ask{"GET", api(""), "", {}, true}, 403},
      {"CA over plain HTTP", v4,
       Ask{"GET", hvtest::TestEngine::kCaResourceTarget, "", {}, true, false}, 200},
      {"API without credentials", v4, Ask{"GET", api(""), "", {}, false, false}, 401},
      {"API with the bearer token", v4, Ask{"GET", api(""), "", {bearer}, false, false}, 200},
      {"wrong password", v4, Ask{"POST", token, grant + "&password=x", {}, false, false}, 400},
      {"no API scope", v4,
       Ask{"POST",
           token,
           "grant_type=password&username=admin%40internal&password=sim-pw",
           {},
           false,
           false},
       400},
      {"token over plain HTTP", v4, Ask{"POST", token, grant + "&password=sim-pw", {}, true, false},
       403},
      {"token by GET", v4, Ask{"GET", token, "", {}, false, false}, 405},
      {"no single sign-on on 3.x", v3, Ask{"POST", token, grant + "&password=sim-pw"}, 404},
      {"Version 4", v4, Ask{"GET", api(""), "", {"Version: 4"}}, 200},
      {"Version 3 of a 4.x engine", v4, Ask{"GET", api(""), "", {"Version: 3"}}, 400},
      {"Version on 3.x", v3, Ask{"GET", api(""), "", {"Version: 4"}}, 200},
      {"logout", v4,
       Ask{"POST", hvsim::SsoService::kLogoutPath, "token=" + value, {}, false, false}, 200},
      {"API with the revoked token", v4, Ask{"GET", api(""), "", {bearer}, false, false}, 401},
  };
  ASSERT_EQ(granted.status, 200) << granted.body;
  for (const Row& row : rows) {
    Reply reply = row.engine.client.send(row.ask);
    EXPECT_EQ(reply.status, row.status) << row.what << "\n" << reply.body;
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

// --- Progress -------------------------------------------------------------------------------

TEST(SimulatorTimingTest, ProgressNeedsPollsAndTime) {
  struct Case {
    Delay delay;
    std::chrono::milliseconds pause;  // the client's pause between polls
    unsigned lockedPolls;             // polls that still show the snapshot locked (10: all)
  };
  const Case cases[] = {
      {Delay::instant(), 0ms, 0},    {Delay::afterPolls(3), 0ms, 3},
      {Delay{1, 2000ms}, 0ms, 10},  // polling without pausing finishes nothing sooner
      {Delay{1, 2000ms}, 1000ms, 2}, {Delay::after(2000ms), 500ms, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.delay.polls) + " polls, " + std::to_string(c.delay.time.count()) +
                 " ms, pause " + std::to_string(c.pause.count()));
    Timing timing;
    timing.snapshotCreate = c.delay;
    Engine e("4.0.1", timing);
    std::string snapshots = "vms/" + e.id(Kind::Vm, "WEB01") + "/snapshots";
    Reply created = e.client.post(snapshots, "<snapshot><description>s</description></snapshot>");
    ASSERT_EQ(created.status, 201);
    unsigned locked = 0;
    while (locked < 10 &&
           text(parse(e.client.get(snapshots)).children.back(), "snapshot_status") == "locked") {
      ++locked;
      e.clock.advance(c.pause);
    }
    EXPECT_EQ(locked, c.lockedPolls);
  }
}

// --- Faults ---------------------------------------------------------------------------------

TEST(SimulatorFaultTest, FailedTasksLeaveTheirResourcesAsTheEngineDoes) {
  using hvsim::FailingTask;
  const std::string newDisk =
      "<disk><name>new</name><format>cow</format><provisioned_size>1024</provisioned_size>"
      "<storage_domains><storage_domain><name>data1</name></storage_domain></storage_domains>"
      "</disk>";
  struct Case {
    const char* generation;
    FailingTask task;
    const char* jobStatus;
    std::string request, body;
    std::function<std::string(Engine&)> state;  // what the failure left
    std::string expected;
  };
  const Case cases[] = {
      {"4.1", FailingTask::SnapshotCreate, "failed", "POST vms/{vm:web01}/snapshots",
       "<snapshot><description>s</description></snapshot>",
       [](Engine& e) {
         return std::to_string(e.sim.vm(e.id(Kind::Vm, "web01"))->snapshots.size());
       },
       "2"},
      {"4.1", FailingTask::SnapshotRemove, "aborted", "DELETE vms/{vm:web01}/snapshots/{snapshot}",
       "", [](Engine& e) { return e.seededSnapshot().status; }, "ok"},
      {"4.1", FailingTask::DiskCreate, "failed", "POST disks", newDisk,
       [](Engine& e) { return e.sim.disk(e.id(Kind::Disk, "new"))->status; }, "illegal"},
      {"3.6", FailingTask::DiskCreate, "failed", "POST disks", newDisk,
       [](Engine& e) {
         const hvsim::Disk disk = *e.sim.disk(e.id(Kind::Disk, "new"));
         return disk.status + " " +
                text(
                    parse(e.client.get("disks/" + disk.id + "/creation_status/" + disk.creationId)),
                    "status/state");
       },
       "illegal failed"},
      {"4.1", FailingTask::DiskMove, "failed", "POST disks/{disk:floating}/move",
       "<action><storage_domain><name>data1</name></storage_domain></action>",
       [](Engine& e) {
         const hvsim::Disk disk = *e.sim.disk(e.id(Kind::Disk, "floating"));
         return disk.status + (disk.storageDomainId == e.id(Kind::StorageDomain, "data2")
                                   ? " on its source"
                                   : " moved");
       },
       "ok on its source"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.generation) + " " + c.request);
    Engine e(c.generation, Timing::instant());
    e.sim.failTasks(c.task, 1, c.jobStatus);
    const long status = call(e, c.request, c.body).status;
    EXPECT_TRUE(status >= 200 && status < 300) << status;
    EXPECT_EQ(c.state(e), c.expected);
    XmlNode job = parse(e.client.get("jobs/" + e.sim.jobs().back().id));
    EXPECT_EQ(c.generation[0] == '3' ? text(job, "status/state") : text(job, "status"),
              c.generation[0] == '3' ? std::string("FAILED") : c.jobStatus);
  }
  // Actions may name no job.
  Engine e("4.1", Timing::instant());
  e.sim.setActionsNameNoJob(true);
  EXPECT_EQ(call(e, "POST vms/{vm:web01}/stop", "<action/>").body.find("<job"), std::string::npos);
  EXPECT_THROW(e.sim.failTasks(FailingTask::DiskMove, 1, "finished"), std::invalid_argument);
}

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
  std::filesystem::remove(passwordFile);
  std::filesystem::remove(caFile);

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

// --- Seeds ------------------------------------------------------------------------------

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
      {"[datacenter d]\nid = 42\n", "is not a UUID"},
      {"[datacenter d]\n[network n]\ndatacenter = d\nclusters = elsewhere\n", "unknown cluster"},
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
