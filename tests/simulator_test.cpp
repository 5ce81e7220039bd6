// Tests of the engine simulator, driven by libcurl as a raw client over HTTPS.
#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine_simulator/engine_simulator.h"
#include "engine_simulator/generation.h"
#include "engine_simulator/search.h"
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

  // `tail` is appended to the API base as is ("vms?search=name%3Dx", "/vms/ID"), unless it is
  // a whole URL.
  Reply send(const std::string& method, const std::string& tail, const std::string& body = "") {
    Reply reply;
    std::string url =
        tail.rfind("https://", 0) == 0
            ? tail
            : base_ + (tail.empty() || tail[0] == '?' || tail[0] == '/' ? "" : "/") + tail;
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, method == "GET" ? nullptr : method.c_str());
    curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    struct curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/xml");
    headers = curl_slist_append(headers, "Accept: application/xml");
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
    if (!body.empty() || method == "POST" || method == "PUT") {
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.c_str());
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
      curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, method.c_str());
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
  Reply get(const std::string& tail) { return send("GET", tail); }
  Reply post(const std::string& tail, const std::string& body) { return send("POST", tail, body); }

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

std::vector<const XmlNode*> children(const XmlNode& node, const std::string& name) {
  std::vector<const XmlNode*> out;
  for (const XmlNode& c : node.children) {
    if (c.name == name) out.push_back(&c);
  }
  return out;
}

std::string text(const XmlNode& node, const std::string& path) {
  return node.textAt(path).value_or("<absent>");
}

// The status as a client reads it: the v3 <state> child, else the element's own text.
std::string statusOf(const XmlNode& node, const std::string& element = "status") {
  const XmlNode* status = node.child(element);
  if (!status) return "<absent>";
  if (const XmlNode* state = status->child("state")) return hvsim::trim(state->text);
  return hvsim::trim(status->text);
}

std::string linkOf(const XmlNode& node, const std::string& rel) {
  for (const XmlNode* link : children(node, "link")) {
    if (link->attribute("rel") == rel) return link->attribute("href").value_or("");
  }
  return "";
}

std::set<std::string> namesIn(const XmlNode& list) {
  std::set<std::string> names;
  for (const XmlNode& item : list.children) names.insert(text(item, "name"));
  return names;
}

hvsim::SimulatorOptions seeded(const std::string& generation, Timing timing = Timing()) {
  hvsim::SimulatorOptions o;
  o.generation = generation;
  o.seedFile = kSeed;
  o.server.password = kPassword;
  o.timing = timing;
  return o;
}

// The simulator with the example seed, and a client for it.
struct Engine {
  explicit Engine(const std::string& generation, Timing timing = Timing())
      : sim(seeded(generation, timing)), client(sim) {}
  std::string id(Kind kind, const std::string& name) {
    std::string found = sim.idOf(kind, name);
    EXPECT_FALSE(found.empty()) << name;
    return found;
  }
  EngineSimulator sim;
  Client client;
};

// A regular snapshot of web01 taken at once; returns its id.
std::string takeSnapshot(Engine& e, const std::string& vmId) {
  Timing saved = e.sim.timing();
  e.sim.setTiming(Timing::instant());
  Reply r = e.client.post("vms/" + vmId + "/snapshots",
                          "<snapshot><description>backup</description></snapshot>");
  e.sim.setTiming(saved);
  EXPECT_EQ(r.status, 201) << r.body;
  return parse(r).attribute("id").value_or("");
}

// --- Document forms per generation -----------------------------------------------------------

struct FormCase {
  const char* generation;
  bool v3;
  const char* major;
  const char* minor;
  const char* build;
};

class SimulatorFormsTest : public ::testing::TestWithParam<FormCase> {};

TEST_P(SimulatorFormsTest, ApiRootVmAndDiskListTakeTheGenerationsForm) {
  const FormCase& c = GetParam();
  Engine e(c.generation);

  XmlNode api = parse(e.client.get(""));
  ASSERT_EQ(api.name, "api");
  const XmlNode* version = api.find("product_info/version");
  ASSERT_NE(version, nullptr);
  if (c.v3) {
    EXPECT_EQ(version->attribute("major"), c.major);
    EXPECT_EQ(version->attribute("minor"), c.minor);
    EXPECT_EQ(version->attribute("build"), c.build);
    EXPECT_TRUE(version->children.empty());
    EXPECT_NE(api.find("product_info/full_version"), nullptr);  // sibling, not inside
  } else {
    EXPECT_EQ(text(*version, "major"), c.major);
    EXPECT_EQ(text(*version, "minor"), c.minor);
    EXPECT_EQ(text(*version, "build"), c.build);
    EXPECT_FALSE(version->attribute("major"));
    EXPECT_NE(version->child("full_version"), nullptr);
  }

  std::string vmId = e.id(Kind::Vm, "web01");
  Reply vmReply = e.client.get("vms/" + vmId);
  XmlNode vm = parse(vmReply);
  EXPECT_EQ(vmReply.body.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", 0),
            0u);
  EXPECT_EQ(vm.attribute("href"), "/ovirt-engine/api/vms/" + vmId);
  EXPECT_EQ(statusOf(vm), "up");
  const XmlNode* topology = vm.find("cpu/topology");
  ASSERT_NE(topology, nullptr);
  if (c.v3) {
    EXPECT_NE(vm.find("status/state"), nullptr);
    EXPECT_EQ(topology->attribute("sockets"), "2");
    EXPECT_EQ(vm.find("os")->attribute("type"), "rhel_7x64");
    EXPECT_NE(linkOf(vm, "disks"), "");
    EXPECT_EQ(linkOf(vm, "diskattachments"), "");
  } else {
    EXPECT_EQ(text(*topology, "sockets"), "2");
    EXPECT_EQ(text(vm, "os/type"), "rhel_7x64");
    EXPECT_EQ(linkOf(vm, "disks"), "");
    EXPECT_EQ(linkOf(vm, "diskattachments"), "/ovirt-engine/api/vms/" + vmId + "/diskattachments");
  }
  EXPECT_EQ(vm.find("host")->attribute("id"), e.id(Kind::Host, "host1"));

  // The VM's disks as a VM sees them carry the attachment flags in every generation.
  XmlNode disks = parse(e.client.get("vms/" + vmId + "/disks"));
  ASSERT_EQ(disks.name, "disks");
  ASSERT_EQ(disks.children.size(), 2u);
  for (const XmlNode& disk : disks.children) {
    EXPECT_EQ(statusOf(disk), "ok");
    EXPECT_EQ(disk.find("status/state") != nullptr, c.v3);
    EXPECT_EQ(text(disk, "interface"), "virtio");
    EXPECT_EQ(text(disk, "active"), "true");
  }
  EXPECT_EQ(namesIn(disks), (std::set<std::string>{"web01_Disk1", "web01_Disk2"}));

  // At the top level v4 leaves the attachment flags to the attachment.
  std::string diskId = e.id(Kind::Disk, "web01_Disk1");
  XmlNode top = parse(e.client.get("disks/" + diskId));
  EXPECT_EQ(top.child("interface") != nullptr, c.v3);
  EXPECT_EQ(top.child("size") != nullptr, c.v3);
  EXPECT_EQ(text(top, "storage_domains/storage_domain") != "<absent>", true);

  XmlNode snapshots = parse(e.client.get("vms/" + vmId + "/snapshots"));
  ASSERT_EQ(snapshots.children.size(), 2u);
  const XmlNode& active = snapshots.children[0];
  EXPECT_EQ(text(active, c.v3 ? "type" : "snapshot_type"), "active");
  EXPECT_EQ(active.child(c.v3 ? "snapshot_type" : "type"), nullptr);
  EXPECT_EQ(text(snapshots.children[1], c.v3 ? "type" : "snapshot_type"), "regular");

  Reply attachments = e.client.get("vms/" + vmId + "/diskattachments");
  EXPECT_EQ(attachments.status, c.v3 ? 404 : 200);

  XmlNode hosts = parse(e.client.get("hosts"));
  const XmlNode* hostTopology = hosts.children.at(0).find("cpu/topology");
  ASSERT_NE(hostTopology, nullptr);
  EXPECT_EQ(hostTopology->attribute("cores").has_value(), c.v3);
  EXPECT_EQ(hostTopology->child("cores") != nullptr, !c.v3);

  XmlNode tags = parse(e.client.get("tags"));
  for (const XmlNode& tag : tags.children) {
    if (text(tag, "name") != "nightly") continue;
    std::string backupId = e.id(Kind::Tag, "backup");
    const XmlNode* parent = tag.find(c.v3 ? "parent/tag" : "parent");
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parent->attribute("id"), backupId);
  }
}

INSTANTIATE_TEST_SUITE_P(Generations, SimulatorFormsTest,
                         ::testing::Values(FormCase{"3.6", true, "3", "6", "0"},
                                           FormCase{"4.0.0", false, "4", "0", "0"},
                                           FormCase{"4.0.2", false, "4", "0", "2"},
                                           FormCase{"4.2.8", false, "4", "2", "8"}),
                         [](const auto& info) {
                           std::string name = info.param.generation;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return "v" + name;
                         });

TEST(SimulatorGenerationTest, ParsesReleasesAndRefusesOthers) {
  struct Case {
    const char* text;
    bool valid;
    uint32_t code;
    bool v3;
    bool attachActivates;
  };
  const Case cases[] = {
      {"3.6", true, 3006000, true, false},    {"4.0.0", true, 4000000, false, false},
      {"4.0.1", true, 4000001, false, false}, {"4.0.2", true, 4000002, false, true},
      {"4.1", true, 4001000, false, true},    {"4.4.10.7", true, 4004010, false, true},
      {"5.0", false, 0, false, false},        {"4", false, 0, false, false},
      {"4.x", false, 0, false, false},        {"4.1.", false, 0, false, false},
      {"", false, 0, false, false},
  };
  for (const Case& c : cases) {
    std::optional<hvsim::Generation> g = hvsim::Generation::parse(c.text);
    ASSERT_EQ(g.has_value(), c.valid) << c.text;
    if (!g) continue;
    EXPECT_EQ(g->code(), c.code) << c.text;
    EXPECT_EQ(g->v3(), c.v3) << c.text;
    EXPECT_EQ(g->attachActivatesDomain(), c.attachActivates) << c.text;
  }
  hvsim::SimulatorOptions bad = seeded("2.2");
  EXPECT_THROW(EngineSimulator sim(bad), std::invalid_argument);
}

// --- Searches -------------------------------------------------------------------------------

TEST(SimulatorSearchTest, MatchesLikeTheEngineWithoutRegardToCase) {
  Engine e("4.1");
  struct Case {
    const char* query;
    std::set<std::string> names;
  };
  const Case cases[] = {
      {"vms?search=name%3Dweb01", {"web01", "WEB01"}},
      {"vms?search=name=WEB01", {"web01", "WEB01"}},
      {"vms?search=name%3Dweb01&case_sensitive=true", {"web01"}},
      {"vms?search=name%3Dweb*", {"web01", "WEB01"}},
      {"vms?search=name%3D%2Aroxy", {"proxy"}},
      {"vms?search=name%3Dweb0", {}},
      {"vms?search=cluster%3Ddefault%20and%20status%3Dup", {"web01", "proxy"}},
      {"vms?search=status!%3Dup", {"WEB01"}},
      {"vms?search=tag%3DBACKUP", {"web01"}},
      {"vms?search=host%3Dhost1", {"web01", "proxy"}},
      {"vms?search=datacenter%3D%22Default%22%20sortby%20name%20asc", {"web01", "WEB01", "proxy"}},
      {"hosts?search=cluster%3DDefault", {"host1", "host2"}},
      {"clusters?search=datacenter%3Ddefault", {"Default"}},
      {"datacenters?search=name%3DDEFAULT", {"Default"}},
      {"storagedomains?search=name%3Ddata*", {"data1", "data2"}},
      {"disks?search=name%3Dweb01_disk1", {"web01_Disk1", "WEB01_Disk1"}},
      {"disks?search=name%3Dweb01_disk1&case_sensitive=false", {"web01_Disk1", "WEB01_Disk1"}},
  };
  for (const Case& c : cases) {
    Reply r = e.client.get(c.query);
    ASSERT_EQ(r.status, 200) << c.query << "\n" << r.body;
    EXPECT_EQ(namesIn(parse(r)), c.names) << c.query;
  }

  std::string dcId = e.id(Kind::DataCenter, "Default");
  XmlNode attached =
      parse(e.client.get("datacenters/" + dcId + "/storagedomains?search=name%3DDATA2"));
  EXPECT_EQ(namesIn(attached), std::set<std::string>{"data2"});

  // A name with a blank arrives percent-encoded.
  Reply created = e.client.post(
      "vms", "<vm><name>nightly backup</name><cluster><name>Default</name></cluster></vm>");
  ASSERT_EQ(created.status, 201) << created.body;
  EXPECT_EQ(namesIn(parse(e.client.get("vms?search=name%3Dnightly%20backup"))),
            std::set<std::string>{"nightly backup"});
  EXPECT_EQ(namesIn(parse(e.client.get("vms?search=name=Nightly+Backup"))),
            std::set<std::string>{"nightly backup"});

  e.sim.setCaseSensitiveSearch(true);
  EXPECT_EQ(namesIn(parse(e.client.get("vms?search=name%3Dweb01"))),
            std::set<std::string>{"web01"});

  for (const char* bad : {"vms?search=colour%3Dblue", "vms?search=name", "vms?search=and%20x"}) {
    Reply r = e.client.get(bad);
    EXPECT_EQ(r.status, 400) << bad;
    EXPECT_EQ(parse(r).name, "fault") << bad;
  }
}

TEST(SimulatorSearchTest, GlobMatchingAndPaths) {
  struct Case {
    const char* pattern;
    const char* text;
    bool caseSensitive;
    bool match;
  };
  const Case cases[] = {
      {"web01", "WEB01", false, true},
      {"web01", "WEB01", true, false},
      {"web*", "web", false, true},
      {"*01", "web01", false, true},
      {"w*b*1", "wxxbyy1", false, true},
      {"w*b*1", "wxxbyy", false, false},
      {"", "", false, true},
      {"", "x", false, false},
      {"web01", "web011", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hvsim::globMatch(c.pattern, c.text, c.caseSensitive), c.match)
        << c.pattern << " ~ " << c.text;
  }
  EXPECT_EQ(hvsim::normalizePath("//ovirt-engine//api/vms/"), "/ovirt-engine/api/vms");
  EXPECT_EQ(hvsim::normalizePath("/ovirt-engine/api/vms/a%20b"), "/ovirt-engine/api/vms/a b");
  hvsim::QueryParams q = hvsim::parseQuery("search=name%3Dmy%20vm+x&max=5&flag");
  EXPECT_EQ(hvsim::queryValue(q, "search"), "name=my vm x");
  EXPECT_EQ(hvsim::queryValue(q, "max"), "5");
  EXPECT_EQ(hvsim::queryValue(q, "flag"), "");
  EXPECT_FALSE(hvsim::queryValue(q, "other"));
}

TEST(SimulatorSearchTest, HrefsSentBackAfterTheClientsSlashAreServed) {
  Engine e("4.1");
  std::string vmId = e.id(Kind::Vm, "web01");
  XmlNode vm = parse(e.client.get("vms/" + vmId));
  // A client puts "/" between server and path; an href already starts with one.
  std::string href = linkOf(vm, "snapshots");
  ASSERT_EQ(href.rfind("/ovirt-engine/api/vms/", 0), 0u) << href;
  Reply r = e.client.get("https://localhost:" + std::to_string(e.sim.port()) + "/" + href + "/");
  EXPECT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(parse(r).name, "snapshots");
  Reply other = e.client.get("https://localhost:" + std::to_string(e.sim.port()) + "/elsewhere");
  EXPECT_EQ(other.status, 404);
  EXPECT_EQ(e.client.send("PATCH", "vms/" + vmId).status, 405);
}

// --- Snapshots and jobs ---------------------------------------------------------------------

TEST(SimulatorSnapshotTest, CreationIsFollowedThroughItsCorrelationIdJob) {
  Timing timing;
  timing.snapshotCreate = Delay::afterPolls(2);
  for (const char* generation : {"3.6", "4.1"}) {
    SCOPED_TRACE(generation);
    bool v3 = std::string(generation) == "3.6";
    Engine e(generation, timing);
    std::string vmId = e.id(Kind::Vm, "web01");
    Reply created = e.client.post("vms/" + vmId + "/snapshots?correlation_id=A1_1700000000",
                                  "<snapshot><description>_QZ_BACKUP_web01_A1_B2</description>"
                                  "<persist_memorystate>false</persist_memorystate></snapshot>");
    ASSERT_EQ(created.status, 201) << created.body;
    XmlNode snap = parse(created);
    std::string snapId = snap.attribute("id").value_or("");
    EXPECT_EQ(statusOf(snap, "snapshot_status"), "locked");
    EXPECT_EQ(text(snap, v3 ? "type" : "snapshot_type"), "regular");

    // A second snapshot while this one is locked is refused.
    Reply second = e.client.post("vms/" + vmId + "/snapshots",
                                 "<snapshot><description>other</description></snapshot>");
    EXPECT_EQ(second.status, 409);
    EXPECT_NE(text(parse(second), "detail").find("[Cannot create Snapshot"), std::string::npos);

    XmlNode jobs = parse(e.client.get("jobs?search=correlation_id%3DA1_1700000000"));  // poll 1
    ASSERT_EQ(jobs.children.size(), 1u);
    const XmlNode& job = jobs.children[0];
    EXPECT_NE(text(job, "description").find("A1_1700000000"), std::string::npos);
    EXPECT_NE(text(job, "description").find("_QZ_BACKUP_web01_A1_B2"), std::string::npos);
    EXPECT_EQ(statusOf(job), v3 ? "STARTED" : "started");
    std::string jobId = job.attribute("id").value_or("");

    XmlNode again = parse(e.client.get("vms/" + vmId + "/snapshots/" + snapId));  // poll 2
    EXPECT_EQ(statusOf(again, "snapshot_status"), "locked");
    XmlNode finished = parse(e.client.get("jobs/" + jobId));  // done
    EXPECT_EQ(statusOf(finished), v3 ? "FINISHED" : "finished");
    EXPECT_NE(finished.child("end_time"), nullptr);
    XmlNode ready = parse(e.client.get("vms/" + vmId + "/snapshots/" + snapId));
    EXPECT_EQ(statusOf(ready, "snapshot_status"), "ok");

    // The OVF describes the VM when the snapshot was taken.
    std::string ovf = text(ready, "initialization/configuration/data");
    EXPECT_NE(ovf.find("<Name>web01</Name>"), std::string::npos);
    EXPECT_NE(ovf.find("<TemplateId>"), std::string::npos);
    EXPECT_EQ(text(ready, "initialization/configuration/type"), "ovf");

    // Its disks are the VM's disks as they were, each on its own image.
    XmlNode disks = parse(e.client.get("vms/" + vmId + "/snapshots/" + snapId + "/disks"));
    ASSERT_EQ(disks.children.size(), 2u);
    for (const XmlNode& disk : disks.children) {
      EXPECT_EQ(disk.find("snapshot")->attribute("id"), snapId);
      std::string diskId = disk.attribute("id").value_or("");
      XmlNode current = parse(e.client.get("disks/" + diskId));
      EXPECT_NE(text(disk, "image_id"), text(current, "image_id"));
    }
  }
}

TEST(SimulatorSnapshotTest, LockedCountsPollsOfTheSnapshotItself) {
  for (unsigned polls : {0u, 1u, 3u}) {
    SCOPED_TRACE(polls);
    Timing timing;
    timing.snapshotCreate = Delay::afterPolls(polls);
    Engine e("4.0.1", timing);
    std::string vmId = e.id(Kind::Vm, "WEB01");
    Reply created = e.client.post("vms/" + vmId + "/snapshots",
                                  "<snapshot><description>s</description></snapshot>");
    ASSERT_EQ(created.status, 201);
    std::string snapId = parse(created).attribute("id").value_or("");
    EXPECT_EQ(statusOf(parse(created), "snapshot_status"), polls == 0 ? "ok" : "locked");
    unsigned locked = 0;
    for (int i = 0; i < 10; ++i) {
      XmlNode list = parse(e.client.get("vms/" + vmId + "/snapshots"));
      if (statusOf(list.children.back(), "snapshot_status") != "locked") break;
      ++locked;
    }
    EXPECT_EQ(locked, polls);
  }
}

TEST(SimulatorSnapshotTest, DeletionRunsAJobThenTheSnapshotIsGone) {
  Timing timing;
  timing.snapshotRemove = Delay::afterPolls(1);
  Engine e("4.1", timing);
  std::string vmId = e.id(Kind::Vm, "web01");
  std::string snapId = takeSnapshot(e, vmId);

  Reply removed = e.client.send("DELETE", "vms/" + vmId + "/snapshots/" + snapId,
                                "<action><async>false</async></action>");
  ASSERT_EQ(removed.status, 200) << removed.body;
  XmlNode action = parse(removed);
  EXPECT_EQ(action.name, "action");
  EXPECT_EQ(text(action, "status"), "complete");
  std::string jobId = action.find("job")->attribute("id").value_or("");
  ASSERT_FALSE(jobId.empty());

  XmlNode snap = parse(e.client.get("vms/" + vmId + "/snapshots/" + snapId));
  EXPECT_EQ(text(snap, "snapshot_status"), "locked");
  EXPECT_EQ(e.client.send("DELETE", "vms/" + vmId + "/snapshots/" + snapId).status, 409);
  EXPECT_EQ(text(parse(e.client.get("jobs/" + jobId)), "status"), "finished");
  EXPECT_EQ(e.client.get("vms/" + vmId + "/snapshots/" + snapId).status, 404);
  EXPECT_EQ(parse(e.client.get("vms/" + vmId + "/snapshots")).children.size(), 2u);

  // The active snapshot stays.
  XmlNode list = parse(e.client.get("vms/" + vmId + "/snapshots"));
  std::string activeId = list.children[0].attribute("id").value_or("");
  EXPECT_EQ(e.client.send("DELETE", "vms/" + vmId + "/snapshots/" + activeId).status, 409);
}

// --- Disks on a backup proxy ------------------------------------------------------------------

std::string attachmentBody(const std::string& diskId, const std::string& snapId, bool active) {
  return "<disk_attachment><active>" + std::string(active ? "true" : "false") +
         "</active><bootable>false</bootable><read_only>false</read_only>"
         "<interface>virtio</interface><disk id=\"" +
         diskId + "\"><read_only>false</read_only><snapshot id=\"" + snapId +
         "\"/></disk></disk_attachment>";
}

std::string vmDiskBody(const std::string& diskId, const std::string& snapId) {
  return "<disk id=\"" + diskId + "\"><name></name><snapshot id=\"" + snapId +
         "\"/><format>cow</format><interface>virtio</interface><sparse>true</sparse>"
         "<bootable>false</bootable><shareable>false</shareable><read_only>false</read_only>"
         "</disk>";
}

TEST(SimulatorDiskAttachTest, V4AttachmentReportsTheDeviceAfterADelayAndDetachesInOneRequest) {
  Timing timing = Timing::instant();
  timing.logicalName = Delay::afterPolls(2);
  Engine e("4.1", timing);
  std::string vmId = e.id(Kind::Vm, "web01"), proxyId = e.id(Kind::Vm, "proxy");
  std::string diskId = e.id(Kind::Disk, "web01_Disk2");
  std::string snapId = takeSnapshot(e, vmId);

  Reply attached =
      e.client.post("vms/" + proxyId + "/diskattachments", attachmentBody(diskId, snapId, true));
  ASSERT_EQ(attached.status, 201) << attached.body;
  XmlNode att = parse(attached);
  EXPECT_EQ(att.attribute("id"), diskId);
  EXPECT_EQ(text(att, "active"), "true");
  EXPECT_EQ(att.child("logical_name"), nullptr);

  std::vector<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    XmlNode disk = parse(e.client.get("vms/" + proxyId + "/disks/" + diskId));
    seen.push_back(text(disk, "logical_name"));
    if (i == 0) {
      EXPECT_EQ(disk.find("snapshot")->attribute("id"), snapId);
    }
  }
  // The proxy boots from /dev/vda: the backup disk is the next device.
  EXPECT_EQ(seen, (std::vector<std::string>{"<absent>", "<absent>", "/dev/vdb", "/dev/vdb"}));
  XmlNode listed = parse(e.client.get("vms/" + proxyId + "/diskattachments"));
  ASSERT_EQ(listed.children.size(), 2u);
  EXPECT_EQ(text(listed.children[1], "logical_name"), "/dev/vdb");

  // Attaching it twice is refused; the snapshot cannot go while its disk is plugged elsewhere.
  EXPECT_EQ(
      e.client.post("vms/" + proxyId + "/diskattachments", attachmentBody(diskId, snapId, true))
          .status,
      409);
  EXPECT_EQ(e.client.send("DELETE", "vms/" + vmId + "/snapshots/" + snapId).status, 409);

  Reply detached = e.client.send("DELETE", "vms/" + proxyId + "/diskattachments/" + diskId);
  EXPECT_EQ(detached.status, 200) << detached.body;
  XmlNode after = parse(e.client.get("vms/" + proxyId + "/diskattachments"));
  EXPECT_EQ(after.children.size(), 1u);
  EXPECT_EQ(e.client.get("disks/" + diskId).status, 200);  // detached, not deleted
  EXPECT_EQ(e.client.send("DELETE", "vms/" + vmId + "/snapshots/" + snapId).status, 200);
}

TEST(SimulatorDiskAttachTest, NoDeviceNameWithoutGuestAgent) {
  Engine e("4.1", Timing::instant());
  std::string vmId = e.id(Kind::Vm, "web01"), proxyId = e.id(Kind::Vm, "proxy");
  std::string diskId = e.id(Kind::Disk, "web01_Disk1");
  std::string snapId = takeSnapshot(e, vmId);
  e.sim.setGuestAgent(proxyId, false);
  ASSERT_EQ(
      e.client.post("vms/" + proxyId + "/diskattachments", attachmentBody(diskId, snapId, true))
          .status,
      201);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(parse(e.client.get("vms/" + proxyId + "/disks/" + diskId)).child("logical_name"),
              nullptr);
  }
  e.sim.setGuestAgent(proxyId, true);
  EXPECT_EQ(text(parse(e.client.get("vms/" + proxyId + "/disks/" + diskId)), "logical_name"),
            "/dev/vdb");
}

TEST(SimulatorDiskAttachTest, PerVmDiskActionsBelow402) {
  Timing timing = Timing::instant();
  timing.diskActivation = Delay::afterPolls(1);
  for (const char* generation : {"3.6", "4.0.0", "4.0.1"}) {
    SCOPED_TRACE(generation);
    bool v3 = std::string(generation) == "3.6";
    Engine e(generation, timing);
    std::string vmId = e.id(Kind::Vm, "web01"), proxyId = e.id(Kind::Vm, "proxy");
    std::string diskId = e.id(Kind::Disk, "web01_Disk1");
    std::string snapId = takeSnapshot(e, vmId);
    std::string path = "vms/" + proxyId + "/disks/" + diskId;

    Reply attached = e.client.post("vms/" + proxyId + "/disks", vmDiskBody(diskId, snapId));
    ASSERT_EQ(attached.status, 201) << attached.body;
    EXPECT_EQ(text(parse(attached), "active"), "false");

    ASSERT_EQ(e.client.post(path + "/activate", "<action><async>false</async></action>").status,
              200);
    std::vector<std::string> active;
    for (int i = 0; i < 2; ++i) active.push_back(text(parse(e.client.get(path)), "active"));
    EXPECT_EQ(active, (std::vector<std::string>{"false", "true"}));
    EXPECT_EQ(text(parse(e.client.get(path)), "logical_name"), "/dev/vdb");

    // An active disk of a running VM must be deactivated before the detach.
    std::string detach = v3 ? "<action><detach>true</detach><async>false</async></action>"
                            : "<action><async>false</async></action>";
    Reply refused = e.client.send("DELETE", path, detach);
    EXPECT_EQ(refused.status, 409) << refused.body;
    ASSERT_EQ(e.client.post(path + "/deactivate", "<action/>").status, 200);
    active.clear();
    for (int i = 0; i < 2; ++i) active.push_back(text(parse(e.client.get(path)), "active"));
    EXPECT_EQ(active, (std::vector<std::string>{"true", "false"}));
    Reply dup = e.client.post(path + "/deactivate", "<action/>");
    EXPECT_EQ(dup.status, 409);
    EXPECT_EQ(parse(dup).name, v3 ? "action" : "fault");  // v3 wraps refused actions

    Reply detached = e.client.send("DELETE", path, detach);
    ASSERT_EQ(detached.status, 200) << detached.body;
    EXPECT_EQ(statusOf(parse(detached)), "complete");
    EXPECT_EQ(e.client.get(path).status, 404);
    EXPECT_EQ(e.client.get("disks/" + diskId).status, 200);
  }
}

TEST(SimulatorDiskAttachTest, V3DeleteWithoutDetachDeletesTheDisk) {
  Engine e("3.6", Timing::instant());
  std::string vmId = e.id(Kind::Vm, "WEB01"), diskId = e.id(Kind::Disk, "WEB01_Disk1");
  Reply r = e.client.send("DELETE", "vms/" + vmId + "/disks/" + diskId,
                          "<action><detach>false</detach><async>false</async></action>");
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(e.client.get("disks/" + diskId).status, 404);
}

// --- Disk creation and moves ------------------------------------------------------------------

TEST(SimulatorDiskTest, V3CreationStatusGoesFromPendingToComplete) {
  Timing timing;
  timing.diskCreate = Delay::afterPolls(1);
  Engine e("3.6", timing);
  std::string sdId = e.id(Kind::StorageDomain, "data1");
  Reply created = e.client.post(
      "disks", "<disk id=\"\"><name>restored</name><storage_domains><storage_domain id=\"" + sdId +
                   "\" name=\"data1\"/></storage_domains><size>1073741824</size>"
                   "<format>cow</format><interface>virtio</interface><sparse>true</sparse></disk>");
  ASSERT_EQ(created.status, 202) << created.body;
  XmlNode disk = parse(created);
  EXPECT_EQ(statusOf(disk), "locked");
  EXPECT_EQ(statusOf(disk, "creation_status"), "pending");
  std::string link = linkOf(disk, "creation_status");
  ASSERT_EQ(link.rfind("/ovirt-engine/api/disks/", 0), 0u) << link;

  std::string tail = link.substr(std::string("/ovirt-engine/api").size());
  XmlNode pending = parse(e.client.get(tail));
  EXPECT_EQ(pending.name, "creation");
  EXPECT_NE(pending.find("status/state"), nullptr);
  EXPECT_EQ(statusOf(pending), "pending");
  EXPECT_EQ(statusOf(parse(e.client.get(tail))), "complete");
  std::string diskId = disk.attribute("id").value_or("");
  EXPECT_EQ(statusOf(parse(e.client.get("disks/" + diskId))), "ok");
  EXPECT_EQ(e.client.get("disks/" + diskId + "/creation_status/other").status, 404);
}

TEST(SimulatorDiskTest, V4CreationHasNoCreationStatus) {
  Timing timing;
  timing.diskCreate = Delay::afterPolls(1);
  Engine e("4.0.2", timing);
  Reply created =
      e.client.post("disks",
                    "<disk><name>restored</name><storage_domains><storage_domain name=\"data2\"/>"
                    "</storage_domains><provisioned_size>1073741824</provisioned_size></disk>");
  ASSERT_EQ(created.status, 201) << created.body;
  XmlNode disk = parse(created);
  EXPECT_EQ(linkOf(disk, "creation_status"), "");
  EXPECT_EQ(text(disk, "status"), "locked");
  std::string diskId = disk.attribute("id").value_or("");
  EXPECT_EQ(text(parse(e.client.get("disks/" + diskId)), "status"), "locked");
  EXPECT_EQ(text(parse(e.client.get("disks/" + diskId)), "status"), "ok");

  struct Bad {
    const char* body;
    long status;
  };
  const Bad bad[] = {
      {"<disk><name>x</name><provisioned_size>1</provisioned_size></disk>", 400},
      {"<disk><name>x</name><storage_domains><storage_domain id=\"nope\"/></storage_domains>"
       "<provisioned_size>1</provisioned_size></disk>",
       404},
      {"<disk><name>x</name><storage_domains><storage_domain name=\"data1\"/></storage_domains>"
       "</disk>",
       400},
      {"<disk><name>x</name>", 400},
      {"<vm/>", 400},
  };
  for (const Bad& b : bad) EXPECT_EQ(e.client.post("disks", b.body).status, b.status) << b.body;
}

TEST(SimulatorDiskTest, MoveLocksTheDiskUntilItIsOnTheTarget) {
  Timing timing = Timing::instant();
  timing.diskMove = Delay::afterPolls(1);
  Engine e("4.1", timing);
  std::string diskId = e.id(Kind::Disk, "web01_Disk1"), data2 = e.id(Kind::StorageDomain, "data2");
  std::string vmId = e.id(Kind::Vm, "web01");
  Reply moved =
      e.client.post("disks/" + diskId + "/move",
                    "<action><async>false</async><storage_domain id=\"" + data2 + "\"/></action>");
  ASSERT_EQ(moved.status, 200) << moved.body;
  EXPECT_EQ(text(parse(moved), "status"), "complete");

  // web01 runs: the engine moves the disk live, behind a locked snapshot of its own.
  XmlNode snapshots = parse(e.client.get("vms/" + vmId + "/snapshots"));
  ASSERT_EQ(snapshots.children.size(), 3u);
  EXPECT_EQ(text(snapshots.children[2], "description"),
            "Auto-generated for Live Storage Migration");

  XmlNode locked = parse(e.client.get("disks/" + diskId));
  EXPECT_EQ(text(locked, "status"), "locked");
  EXPECT_NE(locked.find("storage_domains/storage_domain")->attribute("id"), data2);
  XmlNode arrived = parse(e.client.get("disks/" + diskId));
  EXPECT_EQ(text(arrived, "status"), "ok");
  EXPECT_EQ(arrived.find("storage_domains/storage_domain")->attribute("id"), data2);
  EXPECT_EQ(text(arrived, "total_size"), "0");

  Reply again = e.client.post("disks/" + diskId + "/move",
                              "<action><storage_domain id=\"" + data2 + "\"/></action>");
  EXPECT_EQ(again.status, 409);
  std::string floating = e.id(Kind::Disk, "floating");
  ASSERT_EQ(e.client.send("DELETE", "disks/" + floating, "<action/>").status, 200);
  EXPECT_EQ(e.client.get("disks/" + floating).status, 404);
  EXPECT_EQ(e.client.send("DELETE", "disks/" + diskId).status, 409);  // plugged into running VM
}

// --- VMs ------------------------------------------------------------------------------------

TEST(SimulatorVmTest, CreateFromOvfStartStopAndNic) {
  for (const char* generation : {"3.6", "4.1"}) {
    SCOPED_TRACE(generation);
    Engine e(generation, Timing::uniform(Delay::afterPolls(1)));
    std::string clusterId = e.id(Kind::Cluster, "Default");
    Reply created = e.client.post(
        "vms", "<vm id=\"\"><name></name><template><name>Blank</name></template><cluster id=\"" +
                   clusterId +
                   "\"><name></name></cluster><initialization><configuration><data><![CDATA["
                   "<ovf:Envelope><Content><Name>restored-vm</Name><TemplateId>00000000-0000-"
                   "0000-0000-000000000000</TemplateId></Content></ovf:Envelope>]]></data>"
                   "<type>ovf</type></configuration><regenerate_ids>true</regenerate_ids>"
                   "</initialization></vm>");
    ASSERT_EQ(created.status, 201) << created.body;
    XmlNode vm = parse(created);
    EXPECT_EQ(text(vm, "name"), "restored-vm");
    EXPECT_EQ(statusOf(vm), "image_locked");
    std::string id = vm.attribute("id").value_or("");
    std::vector<std::string> states;
    auto poll = [&](int n) {
      for (int i = 0; i < n; ++i) states.push_back(statusOf(parse(e.client.get("vms/" + id))));
    };
    poll(2);
    EXPECT_EQ(e.client
                  .post("vms",
                        "<vm><name>restored-vm</name><cluster><name>Default</name>"
                        "</cluster></vm>")
                  .status,
              409);

    ASSERT_EQ(e.client.post("vms/" + id + "/start", "<action/>").status, 200);
    Reply twice = e.client.post("vms/" + id + "/start", "<action/>");
    EXPECT_EQ(twice.status, 409);
    poll(2);
    EXPECT_EQ(parse(e.client.get("vms/" + id)).find("host")->attribute("id"),
              e.id(Kind::Host, "host1"));
    EXPECT_EQ(e.client.send("DELETE", "vms/" + id, "<action/>").status, 409);  // running
    ASSERT_EQ(e.client.post("vms/" + id + "/stop", "<action/>").status, 200);
    poll(2);
    EXPECT_EQ(states, (std::vector<std::string>{"image_locked", "down", "powering_up", "up",
                                                "powering_down", "down"}));
    EXPECT_EQ(parse(e.client.get("vms/" + id)).child("host"), nullptr);
    EXPECT_EQ(e.client.post("vms/" + id + "/stop", "<action/>").status, 409);

    std::string profile = e.id(Kind::VnicProfile, "ovirtmgmt");
    Reply nic = e.client.post("vms/" + id + "/nics",
                              "<nic><name>nic1</name><interface>rtl8139</interface>"
                              "<vnic_profile id=\"" +
                                  profile + "\"/></nic>");
    ASSERT_EQ(nic.status, 201) << nic.body;
    XmlNode added = parse(nic);
    EXPECT_EQ(text(added, "plugged"), "true");
    EXPECT_EQ(text(added, "linked"), "false");
    std::string nicPath = "vms/" + id + "/nics/" + added.attribute("id").value_or("");
    EXPECT_EQ(text(parse(e.client.get(nicPath)), "linked"), "false");
    EXPECT_EQ(text(parse(e.client.get(nicPath)), "linked"), "true");
    EXPECT_EQ(text(parse(e.client.get(nicPath)), "interface"), "rtl8139");
    EXPECT_EQ(e.client.post("vms/" + id + "/nics", "<nic><name>nic1</name></nic>").status, 409);

    ASSERT_EQ(e.client.send("DELETE", "vms/" + id, "<action/>").status, 200);
    EXPECT_EQ(e.client.get("vms/" + id).status, 404);
    EXPECT_EQ(e.client.post("vms", "<vm><name>x</name></vm>").status, 400);  // no cluster
  }
}

// --- Storage domains ------------------------------------------------------------------------

TEST(SimulatorStorageDomainTest, AttachActivatesFrom402AndNeedsActivateBefore) {
  struct Case {
    const char* generation;
    const char* afterAttach;
  };
  for (const Case& c : {Case{"3.6", "maintenance"}, Case{"4.0.1", "maintenance"},
                        Case{"4.0.2", "active"}, Case{"4.1", "active"}}) {
    SCOPED_TRACE(c.generation);
    Engine e(c.generation, Timing::instant());
    std::string dcId = e.id(Kind::DataCenter, "Default");
    Reply created = e.client.post(
        "storagedomains",
        "<storage_domain><name>new1</name><type>data</type><storage_format>v4</storage_format>"
        "<storage><type>nfs</type><address>nfs.example.com</address><path>/exports/new1</path>"
        "</storage><host><name>host2</name></host></storage_domain>");
    ASSERT_EQ(created.status, 201) << created.body;
    std::string sdId = parse(created).attribute("id").value_or("");
    XmlNode own = parse(e.client.get("storagedomains?search=name%3Dnew1"));
    ASSERT_EQ(own.children.size(), 1u);
    EXPECT_EQ(statusOf(own.children[0]), "unattached");

    std::string dcDomains = "datacenters/" + dcId + "/storagedomains";
    Reply attached = e.client.post(dcDomains, "<storage_domain><name>new1</name></storage_domain>");
    ASSERT_EQ(attached.status, 201) << attached.body;
    XmlNode inDc = parse(e.client.get(dcDomains + "?search=name%3Dnew1"));
    ASSERT_EQ(inDc.children.size(), 1u);
    EXPECT_EQ(statusOf(inDc.children[0]), c.afterAttach);
    // Once attached, the engine shows no status outside the data center.
    EXPECT_EQ(statusOf(parse(e.client.get("storagedomains/" + sdId))), "<absent>");

    std::string actions = dcDomains + "/" + sdId;
    Reply activate = e.client.post(actions + "/activate", "<action><async>false</async></action>");
    if (std::string(c.afterAttach) == "active") {
      EXPECT_EQ(activate.status, 409);
    } else {
      ASSERT_EQ(activate.status, 200) << activate.body;
      EXPECT_EQ(statusOf(parse(activate)), "complete");
      EXPECT_EQ(statusOf(parse(e.client.get(actions))), "active");
    }
    EXPECT_EQ(e.client.send("DELETE", "storagedomains/" + sdId + "?host=host2&destroy=true").status,
              409);  // active
    ASSERT_EQ(e.client.post(actions + "/deactivate", "<action/>").status, 200);
    EXPECT_EQ(statusOf(parse(e.client.get(actions))), "maintenance");
    EXPECT_EQ(
        e.client.send("DELETE", "storagedomains/" + sdId + "?destroy=true", "<action/>").status,
        400);  // no host
    Reply destroyed = e.client.send("DELETE", "storagedomains/" + sdId + "?host=host2&destroy=true",
                                    "<action><async>false</async></action>");
    ASSERT_EQ(destroyed.status, 200) << destroyed.body;
    EXPECT_EQ(statusOf(parse(destroyed)), "complete");
    EXPECT_EQ(e.client.get("storagedomains/" + sdId).status, 404);
  }
}

TEST(SimulatorStorageDomainTest, StatusChangesFollowTheirPolls) {
  Timing timing = Timing::uniform(Delay::afterPolls(1));
  Engine e("4.0.2", timing);
  std::string dcId = e.id(Kind::DataCenter, "Default");
  std::string spare = e.id(Kind::StorageDomain, "spare");
  std::string path = "datacenters/" + dcId + "/storagedomains";
  ASSERT_EQ(e.client.post(path, "<storage_domain id=\"" + spare + "\"/>").status, 201);
  EXPECT_EQ(statusOf(parse(e.client.get(path + "/" + spare))), "locked");
  EXPECT_EQ(statusOf(parse(e.client.get(path + "/" + spare))), "active");
  ASSERT_EQ(e.client.post(path + "/" + spare + "/deactivate", "<action/>").status, 200);
  EXPECT_EQ(statusOf(parse(e.client.get(path + "/" + spare))), "preparing_for_maintenance");
  EXPECT_EQ(statusOf(parse(e.client.get(path + "/" + spare))), "maintenance");
  // The data domain's disks are listed through the domain, OVF stores included.
  std::string data1 = e.id(Kind::StorageDomain, "data1");
  XmlNode disks = parse(e.client.get("storagedomains/" + data1 + "/disks"));
  std::multiset<std::string> names;
  for (const XmlNode& d : disks.children) names.insert(text(d, "name"));
  EXPECT_EQ(names.count("OVF_STORE"), 2u);
  EXPECT_EQ(names.count("web01_Disk1"), 1u);
}

// --- Faults ---------------------------------------------------------------------------------

TEST(SimulatorFaultTest, ConflictBurstAnswers409ExactlyNTimes) {
  Engine e("4.1", Timing::instant());
  std::string vmId = e.id(Kind::Vm, "WEB01");
  std::string path = "/ovirt-engine/api/vms/" + vmId + "/snapshots";
  e.sim.conflictBurst("POST", path, 3);
  std::vector<long> statuses;
  for (int i = 0; i < 5; ++i) {
    Reply r =
        e.client.post("vms/" + vmId + "/snapshots",
                      "<snapshot><description>s" + std::to_string(i) + "</description></snapshot>");
    statuses.push_back(r.status);
    if (r.status == 409) {
      EXPECT_NE(text(parse(r), "detail").find("Please try again later"), std::string::npos);
    }
  }
  EXPECT_EQ(statuses, (std::vector<long>{409, 409, 409, 201, 201}));
  EXPECT_EQ(e.sim.pendingFaults(), 0u);
  // GETs of the same path were never affected.
  e.sim.conflictBurst("POST", path, 1);
  EXPECT_EQ(e.client.get("vms/" + vmId + "/snapshots").status, 200);
  EXPECT_EQ(e.sim.pendingFaults(), 1u);
}

TEST(SimulatorFaultTest, StatusHtmlDropAndSlowAnswers) {
  Engine e("4.1");
  struct Case {
    const char* name;
    std::function<void(EngineSimulator&)> inject;
    long status;
    CURLcode code;
    bool html;
  };
  const std::string vms = "/ovirt-engine/api/vms";
  const Case cases[] = {
      {"session expiry", [](EngineSimulator& s) { s.expireSessionOnce(); }, 401, CURLE_OK, false},
      {"server error", [&](EngineSimulator& s) { s.serverErrors("GET", vms, 503, 1); }, 503,
       CURLE_OK, false},
      {"html page", [&](EngineSimulator& s) { s.htmlErrors("*", "/ovirt-engine/*", 502, 1); }, 502,
       CURLE_OK, true},
      {"dropped", [&](EngineSimulator& s) { s.dropConnections("GET", vms, 1); }, 0,
       CURLE_GOT_NOTHING, false},
  };
  Client fresh(e.sim, false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.inject(e.sim);
    Reply hit = fresh.get("vms");
    EXPECT_EQ(hit.code, c.code);
    EXPECT_EQ(hit.status, c.status);
    EXPECT_EQ(hit.contentType.rfind("text/html", 0) == 0, c.html) << hit.contentType;
    if (c.status == 401 || c.status == 503) {
      EXPECT_EQ(parse(hit).name, "fault");
    }
    Reply next = fresh.get("vms");  // once only
    EXPECT_EQ(next.status, 200);
  }
  // The session expiry does not touch the CA resource, and takes the next API request.
  e.sim.expireSessionOnce();
  Client other(e.sim);
  std::string ca =
      "https://localhost:" + std::to_string(e.sim.port()) + hvtest::TestEngine::kCaResourceTarget;
  Reply pem = other.get(ca);
  EXPECT_EQ(pem.status, 200);
  EXPECT_NE(pem.body.find("BEGIN CERTIFICATE"), std::string::npos);
  EXPECT_EQ(other.get("").status, 401);
  EXPECT_EQ(other.get("").status, 200);

  e.sim.slowAnswers("GET", vms + "/*", 40ms, 1);
  std::string vmId = e.id(Kind::Vm, "web01");
  Reply slow = e.client.get("vms/" + vmId);
  EXPECT_EQ(slow.status, 200);
  EXPECT_GE(slow.elapsed, 40ms);
  EXPECT_EQ(parse(slow).attribute("id"), vmId);
}

TEST(SimulatorFaultTest, JobThatNeverEndsAndSnapshotThatStaysLocked) {
  Engine e("4.1", Timing::uniform(Delay::afterPolls(1)));
  std::string vmId = e.id(Kind::Vm, "web01");
  auto create = [&](const std::string& cid) {
    Reply r = e.client.post("vms/" + vmId + "/snapshots?correlation_id=" + cid,
                            "<snapshot><description>" + cid + "</description></snapshot>");
    EXPECT_EQ(r.status, 201) << r.body;
    return parse(r).attribute("id").value_or("");
  };
  auto jobStatus = [&](const std::string& cid) {
    XmlNode jobs = parse(e.client.get("jobs?search=correlation_id%3D" + cid));
    return jobs.children.empty() ? std::string("<none>") : text(jobs.children[0], "status");
  };
  auto snapStatus = [&](const std::string& id) {
    return text(parse(e.client.get("vms/" + vmId + "/snapshots/" + id)), "snapshot_status");
  };

  e.sim.setJobsNeverEnd(true);
  std::string first = create("never");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(jobStatus("never"), "started");
  EXPECT_EQ(snapStatus(first), "ok");
  e.sim.clearFaults();

  e.sim.setSnapshotsStayLocked(true);
  std::string second = create("stuck");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(snapStatus(second), "locked");
  EXPECT_EQ(jobStatus("stuck"), "finished");
  e.sim.clearFaults();
  // The stuck snapshot blocks further snapshots, as a locked one does on the engine.
  EXPECT_EQ(
      e.client
          .post("vms/" + vmId + "/snapshots", "<snapshot><description>x</description></snapshot>")
          .status,
      409);
}

TEST(SimulatorFaultTest, ScriptedAnswersTakePrecedence) {
  Engine e("4.1");
  e.sim.engine().answer("GET", "/ovirt-engine/api/vms", hvtest::Answer::xml(200, "<vms/>"));
  EXPECT_TRUE(parse(e.client.get("vms")).children.empty());
  EXPECT_EQ(e.sim.engine().requestCount("GET", "/ovirt-engine/api/vms"), 1u);
}

// --- Timing ----------------------------------------------------------------------------------

TEST(SimulatorTimingTest, MillisecondDelaysCompleteWithoutPolls) {
  Timing timing;
  timing.snapshotCreate = Delay::after(30ms);
  Engine e("4.1", timing);
  std::string vmId = e.id(Kind::Vm, "WEB01");
  Reply created = e.client.post("vms/" + vmId + "/snapshots",
                                "<snapshot><description>t</description></snapshot>");
  ASSERT_EQ(created.status, 201);
  Clock::time_point start = Clock::now();
  std::string id = parse(created).attribute("id").value_or("");
  std::string path = "vms/" + vmId + "/snapshots/" + id;
  std::string first = text(parse(e.client.get(path)), "snapshot_status");
  bool early = Clock::now() - start < 25ms;
  std::this_thread::sleep_for(40ms);
  if (early) {
    EXPECT_EQ(first, "locked");
    EXPECT_EQ(e.sim.pendingTasks(), 1u);  // nothing asked meanwhile: still queued
  }
  EXPECT_EQ(parse(e.client.get("vms")).name, "vms");  // any request completes what is due
  EXPECT_EQ(e.sim.pendingTasks(), 0u);
  EXPECT_EQ(text(parse(e.client.get(path)), "snapshot_status"), "ok");
}

// --- Removal, jobs and concurrency ------------------------------------------------------------

TEST(SimulatorRemovalTest, VmsAndAttachmentsTakeTheRightDisksWithThem) {
  Engine e("4.1", Timing::instant());
  std::string webId = e.id(Kind::Vm, "WEB01"), proxyId = e.id(Kind::Vm, "proxy");
  std::string ownDisk = e.id(Kind::Disk, "WEB01_Disk1");
  std::string snapId = takeSnapshot(e, webId);
  ASSERT_EQ(
      e.client.post("vms/" + proxyId + "/diskattachments", attachmentBody(ownDisk, snapId, true))
          .status,
      201);

  // A new disk created through an attachment, then removed with it.
  Reply added = e.client.post(
      "vms/" + proxyId + "/diskattachments",
      "<disk_attachment><bootable>false</bootable><interface>virtio_scsi</interface>"
      "<active>true</active><disk><name>scratch</name><format>cow</format><provisioned_size>"
      "1073741824</provisioned_size><storage_domains><storage_domain><name>data2</name>"
      "</storage_domain></storage_domains></disk></disk_attachment>");
  ASSERT_EQ(added.status, 201) << added.body;
  std::string scratch = parse(added).attribute("id").value_or("");
  EXPECT_EQ(
      text(parse(e.client.get("vms/" + proxyId + "/diskattachments/" + scratch)), "logical_name"),
      "/dev/sda");
  ASSERT_EQ(
      e.client
          .send("DELETE", "vms/" + proxyId + "/diskattachments/" + scratch + "?detach_only=false")
          .status,
      200);
  EXPECT_EQ(e.client.get("disks/" + scratch).status, 404);

  // Removing WEB01 removes its own disk and the proxy's view of its snapshot.
  ASSERT_EQ(e.client.send("DELETE", "vms/" + webId, "<action/>").status, 200);
  EXPECT_EQ(e.client.get("vms/" + webId).status, 404);
  EXPECT_EQ(e.client.get("disks/" + ownDisk).status, 404);
  XmlNode left = parse(e.client.get("vms/" + proxyId + "/diskattachments"));
  EXPECT_EQ(left.children.size(), 1u);  // its boot disk
  EXPECT_EQ(e.client.get("disks/" + e.id(Kind::Disk, "proxy_Disk1")).status, 200);
}

TEST(SimulatorJobTest, EveryAsynchronousRequestHasAJobThatFinishesWithIt) {
  Engine e("3.6", Timing::uniform(Delay::afterPolls(1)));
  std::string vmId = e.id(Kind::Vm, "WEB01");
  struct Step {
    const char* method;
    std::string path;
    const char* body;
  };
  const Step steps[] = {
      {"POST", "vms/" + vmId + "/start", "<action/>"},
      {"POST", "vms/" + vmId + "/stop", "<action/>"},
      {"POST", "disks/" + e.id(Kind::Disk, "floating") + "/move",
       "<action><storage_domain><name>data1</name></storage_domain></action>"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.path);
    Reply r = e.client.send(step.method, step.path, step.body);
    ASSERT_EQ(r.status, 200) << r.body;
    std::string jobId = parse(r).find("job")->attribute("id").value_or("");
    std::vector<std::string> states;
    for (int i = 0; i < 2; ++i) states.push_back(statusOf(parse(e.client.get("jobs/" + jobId))));
    EXPECT_EQ(states, (std::vector<std::string>{"STARTED", "FINISHED"}));
  }
  EXPECT_EQ(statusOf(parse(e.client.get("vms/" + vmId))), "down");

  // The Correlation-Id header names the job like the query parameter does.
  std::string header = "Correlation-Id: from-header";
  CURL* curl = curl_easy_init();
  std::string url = e.sim.apiUrl() + "/vms/" + vmId + "/snapshots";
  std::string body = "<snapshot><description>h</description></snapshot>";
  struct curl_slist* headers = curl_slist_append(nullptr, header.c_str());
  headers = curl_slist_append(headers, "Content-Type: application/xml");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERPWD, (std::string("admin@internal:") + kPassword).c_str());
  curl_easy_setopt(curl, CURLOPT_CAINFO, e.sim.engine().caFile().c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  std::string ignored;
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendTo);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &ignored);
  EXPECT_EQ(curl_easy_perform(curl), CURLE_OK);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  XmlNode jobs = parse(e.client.get("jobs?search=correlation_id%3Dfrom-header"));
  ASSERT_EQ(jobs.children.size(), 1u);
  EXPECT_NE(text(jobs.children[0], "description").find("(correlation id from-header)"),
            std::string::npos);
  // Without the description suffix the job is still found by its correlation id.
  e.sim.setCorrelationIdInJobDescription(false);
  parse(e.client.get("vms/" + vmId + "/snapshots"));  // completes the snapshot above
  ASSERT_EQ(e.client
                .post("vms/" + vmId + "/snapshots?correlation_id=plain",
                      "<snapshot><description>p</description></snapshot>")
                .status,
            201);
  XmlNode plain = parse(e.client.get("jobs?search=correlation_id%3Dplain"));
  ASSERT_EQ(plain.children.size(), 1u);
  EXPECT_EQ(text(plain.children[0], "description"), "Creating VM Snapshot p for VM WEB01");
  EXPECT_EQ(e.sim.jobs().back().correlationId, "plain");
}

TEST(SimulatorConcurrencyTest, ParallelClientsSeeConsistentState) {
  Engine e("4.1", Timing::uniform(Delay::afterPolls(1)));
  std::string vmId = e.id(Kind::Vm, "web01");
  std::atomic<int> failures{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      Client own(e.sim);
      for (int i = 0; i < 25; ++i) {
        Reply r = own.get(i % 2 ? "vms" : "vms/" + vmId + "/snapshots");
        std::string error;
        if (r.status != 200 || !hvsim::parseXml(r.body, &error)) ++failures;
      }
    });
  }
  int created = 0;
  for (int i = 0; i < 5; ++i) {
    Reply r =
        e.client.post("vms/" + vmId + "/snapshots",
                      "<snapshot><description>c" + std::to_string(i) + "</description></snapshot>");
    if (r.status != 201) continue;
    ++created;
    std::string id = parse(r).attribute("id").value_or("");
    for (int k = 0; k < 5 && text(parse(e.client.get("vms/" + vmId + "/snapshots/" + id)),
                                  "snapshot_status") == "locked";
         ++k) {
    }
  }
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(created, 5);
  EXPECT_EQ(parse(e.client.get("vms/" + vmId + "/snapshots")).children.size(), 7u);
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

TEST(SimulatorInventoryTest, SeedBuildsRelationsAndPinnedIds) {
  hvsim::Inventory inv = hvsim::loadSeed(
      "[datacenter dc]\nid = dc-1\n[cluster c]\ndatacenter = dc\n[host h]\ncluster = c\n"
      "[storagedomain sd]\ndatacenter = dc\n[vm v]\ncluster = c\nstatus = up\n"
      "[disk d1]\nvm = v\nstoragedomain = sd\ninterface = virtio_scsi\n"
      "[disk d2]\nvm = v\nstoragedomain = sd\n[snapshot s]\nvm = v\n");
  ASSERT_NE(inv.dataCenters.find("dc-1"), nullptr);
  const hvsim::Vm* vm = inv.vms.findByName("v");
  ASSERT_NE(vm, nullptr);
  EXPECT_EQ(vm->hostId, inv.hosts.findByName("h")->id);
  ASSERT_EQ(vm->attachments.size(), 2u);
  EXPECT_EQ(vm->attachments[0].logicalName, "/dev/sda");
  EXPECT_EQ(vm->attachments[1].logicalName, "/dev/vda");
  ASSERT_EQ(vm->snapshots.size(), 2u);
  EXPECT_EQ(vm->snapshots[1].images.size(), 2u);
  EXPECT_TRUE(inv.storageDomains.findByName("sd")->master);
  EXPECT_EQ(inv.storageDomains.findByName("sd")->dataCenterStatus, "active");
}

TEST(SimulatorXmlInTest, ReadsWhatClientsSendAndRefusesTheRest) {
  std::optional<XmlNode> doc = hvsim::parseXml(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!-- c --><vm id='a&amp;b'><name>x &lt;1&gt; "
      "&#65;&#x42;</name><initialization><configuration><data>\n <![CDATA[<ovf a=\"1\"/>]]> "
      "</data></configuration></initialization><flag>TRUE</flag><n>42</n></vm>");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->attribute("id"), "a&b");
  EXPECT_EQ(doc->textAt("name"), "x <1> AB");
  EXPECT_EQ(doc->textAt("initialization/configuration/data"), "<ovf a=\"1\"/>");
  EXPECT_EQ(doc->flagAt("flag"), true);
  EXPECT_EQ(doc->numberAt("n"), 42u);
  EXPECT_FALSE(doc->numberAt("name"));
  for (const char* bad : {"", "<a>", "<a></b>", "<a/><b/>", "<!DOCTYPE a><a/>", "<a>&bogus;</a>",
                          "<a x=1/>", "text"}) {
    EXPECT_FALSE(hvsim::parseXml(bad)) << bad;
  }
}

}  // namespace
