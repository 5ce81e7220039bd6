// Tests of what only the engine simulator itself decides: the forms of each engine generation,
// its strictness (refusals, HTTPS only, single sign-on), search, progress in polls and time,
// failing tasks, the fault table, seeds and the program. The library's end-to-end and
// concurrency tests drive the simulator's workflows.
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
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string contentType;
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

// One libcurl handle against the simulator. Without reuse every request has its own
// connection, as the library makes them.
class Client {
 public:
  explicit Client(EngineSimulator& sim, bool reuse = true) : sim_(sim), curl_(curl_easy_init()) {
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_FORBID_REUSE, reuse ? 0L : 1L);
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
    reply.code = curl_easy_perform(curl_);
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &reply.status);
    char* type = nullptr;
    if (curl_easy_getinfo(curl_, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) {
      reply.contentType = type;
    }
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

// A value as a v3 attribute ("@value") or a v4 child ("value").
std::string formOf(const XmlNode* node, const std::string& name) {
  if (!node) return "<no element>";
  if (std::optional<std::string> a = node->attribute(name)) return "@" + *a;
  return text(*node, name);
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

// --- Document forms per generation -----------------------------------------------------------

TEST(SimulatorFormsTest, EachGenerationRendersItsOwnForms) {
  struct Case {
    const char* generation;
    const char* version;  // as formOf reads major.minor.build
    long vmDisks;         // the VM's "disks" sub-collection
    const char* topDisk;  // interface|size|total_size of a top-level disk
  };
  const uint64_t usedBytes = 10737418240ull / 8;            // the seed's actual size
  const std::string total = std::to_string(2 * usedBytes);  // its own image and the snapshot's
  for (const Case& c : {Case{"3.6", "@3.@6.@0", 200, "virtio|10737418240|<absent>"},
                        Case{"4.0.0", "4.0.0", 200, "<absent>|<absent>|<absent>"},
                        Case{"4.0.2", "4.0.2", 200, "<absent>|<absent>|<absent>"},
                        Case{"4.2.8", "4.2.8", 404, ""}}) {
    SCOPED_TRACE(c.generation);
    const bool v3 = c.generation[0] == '3';
    Engine e(c.generation);
    std::string vmPath = "vms/" + e.id(Kind::Vm, "web01");
    XmlNode apiRoot = parse(e.client.get(""));
    const XmlNode* version = apiRoot.find("product_info/version");
    XmlNode vm = parse(e.client.get(vmPath));
    XmlNode disks = parse(e.client.get(vmPath + (v3 ? "/disks" : "/diskattachments")));
    XmlNode disk = parse(e.client.get("disks/" + e.id(Kind::Disk, "web01_Disk1")));
    XmlNode snapshots = parse(e.client.get(vmPath + "/snapshots"));
    XmlNode host = parse(e.client.get("hosts/" + e.id(Kind::Host, "host1")));
    XmlNode tags = parse(e.client.get("tags?search=name%3Dnightly"));
    ASSERT_EQ(disks.children.size(), 2u);
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
    const std::string topDisk = c.topDisk[0] ? c.topDisk : "<absent>|<absent>|" + total;
    const Form forms[] = {
        {"api version",
         formOf(version, "major") + "." + formOf(version, "minor") + "." + formOf(version, "build"),
         c.version, c.version},
        {"full version inside version",
         std::to_string(apiRoot.find("product_info/version/full_version") != nullptr), "0", "1"},
        {"vm status", text(vm, "status/state") + "|" + hvsim::trim(vm.child("status")->text), "up|",
         "<absent>|up"},
        {"vm topology", formOf(vm.find("cpu/topology"), "sockets"), "@2", "2"},
        {"vm links", links, "disks ", "diskattachments "},
        {"vm disks", std::to_string(e.client.get(vmPath + "/disks").status),
         std::to_string(c.vmDisks), std::to_string(c.vmDisks)},
        {"attachments", std::to_string(e.client.get(vmPath + "/diskattachments").status), "404",
         "200"},
        {"attachment flags",
         text(disks.children[0], "interface") + "|" + text(disks.children[0], "active"),
         "virtio|true", "virtio|true"},
        {"top disk",
         text(disk, "interface") + "|" + text(disk, "size") + "|" + text(disk, "total_size"),
         topDisk, topDisk},
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

// --- Strictness ----------------------------------------------------------------------------

// Requests a real engine refuses (or takes otherwise than a lenient server would), per
// generation, in order: later rows see what earlier rows changed.
TEST(SimulatorStrictnessTest, RequestsAreTakenAsAnEngineTakesThem) {
  std::map<std::string, std::unique_ptr<Engine>> engines;
  auto engine = [&](const std::string& generation) -> Engine& {
    auto& slot = engines[generation];
    if (!slot) slot = std::make_unique<Engine>(generation, Timing::instant());
    return *slot;
  };
  // A network of another data center: its profile cannot serve a VM of "Default".
  engine("4.1").sim.withInventory([](hvsim::Inventory& inventory) {
    hvsim::DataCenter dc;
    dc.id = inventory.newId(hvsim::IdKind::DataCenter);
    dc.name = "Remote";
    hvsim::Network net;
    net.id = inventory.newId(hvsim::IdKind::Network);
    net.name = "remote-net";
    net.dataCenterId = inventory.dataCenters.add(dc).id;
    hvsim::VnicProfile profile;
    profile.id = inventory.newId(hvsim::IdKind::VnicProfile);
    profile.name = "remote-net";
    profile.networkId = inventory.networks.add(net).id;
    inventory.vnicProfiles.add(profile);
  });
  struct Row {
    const char* generation;
    const char* what;
    std::function<Ask(Engine&)> ask;
    long status;
    const char* root;                           // of the answer
    std::function<std::string(Engine&)> after;  // state to check, "" when fine
  };
  auto post = [](std::string tail, std::string body) {
    return [=](Engine&) { return Ask{"POST", api(tail), body}; };
  };
  const std::string cluster = "<cluster><name>Default</name></cluster>";
  const std::string ovfVm = "<initialization><configuration><type>ovf</type><data>";
  const Row rows[] = {
      {"4.1", "empty VM id", post("vms", "<vm id=\"\"><name>a</name>" + cluster + "</vm>"), 400,
       "fault", nullptr},
      {"4.1", "empty cluster id",
       post("vms", "<vm><name>b</name><cluster id=\"\"><name>Default</name></cluster></vm>"), 400,
       "fault", nullptr},
      {"4.1", "reference resolved by id, not name",
       [](Engine& e) {
         return Ask{"POST", api("vms"),
                    "<vm><name>c</name><cluster id=\"" + e.id(Kind::Cluster, "Default") +
                        "\"><name>no such</name></cluster></vm>"};
       },
       201, "vm", nullptr},
      {"4.1", "OVF of an existing VM",
       [&](Engine& e) {
         return Ask{"POST", api("vms"),
                    "<vm><name>d</name>" + cluster + ovfVm + escaped(e.seededSnapshot().ovf) +
                        "</data></configuration></initialization></vm>"};
       },
       409, "fault", nullptr},
      {"4.1", "the same OVF with new ids",
       [&](Engine& e) {
         return Ask{"POST", api("vms"),
                    "<vm><name>d</name>" + cluster + ovfVm + escaped(e.seededSnapshot().ovf) +
                        "</data></configuration><regenerate_ids>true</regenerate_ids>"
                        "</initialization></vm>"};
       },
       201, "vm", nullptr},
      {"4.1", "disk without format",
       post("disks",
            "<disk><provisioned_size>1024</provisioned_size><storage_domains><storage_domain>"
            "<name>data1</name></storage_domain></storage_domains></disk>"),
       400, "fault", nullptr},
      {"4.1", "attachment without interface",
       [](Engine& e) {
         return Ask{"POST", api("vms/" + e.id(Kind::Vm, "proxy") + "/diskattachments"),
                    "<disk_attachment><disk id=\"" + e.id(Kind::Disk, "floating") +
                        "\"/></disk_attachment>"};
       },
       400, "fault", nullptr},
      {"4.1", "attachment with an empty interface",
       [](Engine& e) {
         return Ask{"POST", api("vms/" + e.id(Kind::Vm, "proxy") + "/diskattachments"),
                    "<disk_attachment><interface></interface><disk id=\"" +
                        e.id(Kind::Disk, "floating") + "\"/></disk_attachment>"};
       },
       400, "fault", nullptr},
      {"4.1", "attachment without active stays inactive",
       [](Engine& e) {
         return Ask{"POST", api("vms/" + e.id(Kind::Vm, "proxy") + "/diskattachments"),
                    "<disk_attachment><interface>virtio</interface><disk id=\"" +
                        e.id(Kind::Disk, "floating") + "\"/></disk_attachment>"};
       },
       201, "disk_attachment",
       [](Engine& e) {
         return e.sim.vm(e.id(Kind::Vm, "proxy"))->attachments.back().active ? "active" : "";
       }},
      {"4.1", "NIC on a network of another data center",
       [](Engine& e) {
         return Ask{"POST", api("vms/" + e.id(Kind::Vm, "web01") + "/nics"),
                    "<nic><name>nic9</name><vnic_profile id=\"" +
                        e.id(Kind::VnicProfile, "remote-net") + "\"/></nic>"};
       },
       409, "fault", nullptr},
      {"4.1", "destroying an active domain",
       [](Engine& e) {
         return Ask{"DELETE", api("storagedomains/" + e.id(Kind::StorageDomain, "data1") +
                                  "?host=host1&destroy=true")};
       },
       409, "fault", nullptr},
      {"4.1", "action refused",
       [](Engine& e) {
         return Ask{"POST", api("vms/" + e.id(Kind::Vm, "web01") + "/start"), "<action/>"};
       },
       409, "action", nullptr},
      {"4.1", "no disks sub-collection",
       [](Engine& e) {
         return Ask{"GET", api("vms/" + e.id(Kind::Vm, "web01") + "/disks")};
       },
       404, "fault", nullptr},
      {"3.6", "missing parameters", post("vms", "<vm>" + cluster + "</vm>"), 400, "usage_message",
       nullptr},
      {"3.6", "action refused",
       [](Engine& e) {
         return Ask{"POST", api("vms/" + e.id(Kind::Vm, "web01") + "/start"), "<action/>"};
       },
       409, "action", nullptr},
      {"3.6", "an empty element blanks its field",
       [](Engine& e) {
         return Ask{
             "PUT",
             api("vms/" + e.id(Kind::Vm, "WEB01") + "/disks/" + e.id(Kind::Disk, "WEB01_Disk1")),
             "<disk><alias></alias></disk>"};
       },
       200, "disk",
       [](Engine& e) { return e.sim.idOf(Kind::Disk, "WEB01_Disk1").empty() ? "" : "name kept"; }},
      {"3.6", "DELETE without detach deletes the disk",
       [](Engine& e) {
         return Ask{"DELETE", api("vms/" + e.id(Kind::Vm, "web01") + "/disks/" +
                                  e.id(Kind::Disk, "web01_Disk2"))};
       },
       409, "fault", nullptr},  // plugged into the running VM
      {"3.6", "... once it is unplugged",
       [](Engine& e) {
         const std::string vmId = e.id(Kind::Vm, "web01");
         e.sim.withInventory([&](hvsim::Inventory& inventory) {
           inventory.vms.find(vmId)->attachments.at(1).active = false;
         });
         return Ask{"DELETE", api("vms/" + e.id(Kind::Vm, "web01") + "/disks/" +
                                  e.id(Kind::Disk, "web01_Disk2"))};
       },
       200, "action",
       [](Engine& e) { return e.sim.idOf(Kind::Disk, "web01_Disk2").empty() ? "" : "kept"; }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.generation) + ": " + row.what);
    Engine& e = engine(row.generation);
    Reply reply = e.client.send(row.ask(e));
    EXPECT_EQ(reply.status, row.status) << reply.body;
    EXPECT_EQ(parse(reply).name, row.root);
    if (row.after) {
      EXPECT_EQ(row.after(e), "");
    }
  }
}

TEST(SimulatorStrictnessTest, SnapshotConfigurationOnlyWithAllContent) {
  struct Case {
    const char* generation;
    const char* query;
    const char* header;
    bool list;
    bool ovf;
  };
  const Case cases[] = {
      {"4.1", "", "", false, false},
      {"4.1", "", "All-Content: true", false, true},
      {"4.1", "?all_content=true", "", false, true},
      {"4.1", "", "", true, false},
      {"4.1", "", "All-Content: true", true, true},
      {"3.6", "?all_content=true", "", false, false},  // a v4 parameter only
      {"3.6", "", "All-Content: true", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.generation) + c.query + c.header + (c.list ? " list" : ""));
    Engine e(c.generation);
    std::string snapshots = "vms/" + e.id(Kind::Vm, "web01") + "/snapshots";
    Ask ask{"GET", api(snapshots + (c.list ? "" : "/" + e.seededSnapshot().id) + c.query)};
    if (*c.header) ask.headers.push_back(c.header);
    XmlNode doc = parse(e.client.send(ask));
    const XmlNode& snapshot = c.list ? doc.children.at(1) : doc;
    EXPECT_EQ(snapshot.find("initialization/configuration/data") != nullptr, c.ovf);
  }
}

TEST(SimulatorStrictnessTest, JobsAreSearchedFromGeneration42On) {
  for (const char* generation : {"4.1", "4.2"}) {
    SCOPED_TRACE(generation);
    Engine e(generation, Timing::instant());
    ASSERT_EQ(e.client.post("vms/" + e.id(Kind::Vm, "web01") + "/stop", "<action/>").status, 200);
    ASSERT_EQ(e.client
                  .post("vms/" + e.id(Kind::Vm, "WEB01") + "/snapshots?correlation_id=backup-7",
                        "<snapshot><description>nightly</description></snapshot>")
                  .status,
              201);
    XmlNode jobs = parse(e.client.get("jobs?search=correlation_id%3Dbackup-7"));
    std::set<std::string> expected{"Creating VM Snapshot nightly for VM WEB01"};
    if (std::string(generation) == "4.1") expected.insert("Stopping VM web01");
    std::set<std::string> descriptions;
    for (const XmlNode& job : jobs.children) descriptions.insert(text(job, "description"));
    EXPECT_EQ(descriptions, expected);
  }
}

TEST(SimulatorStrictnessTest, ApiOnlyOverHttpsWithBasicOrSingleSignOn) {
  Engine v4("4.1");
  Engine v3("3.6");
  const std::string caTarget = hvtest::TestEngine::kCaResourceTarget;
  const std::string grant = "grant_type=password&scope=ovirt-app-api&username=admin%40internal";
  auto token = [&](const std::string& password) {
    Reply r = v4.client.send(Ask{
        "POST", hvsim::SsoService::kTokenPath, grant + "&password=" + password, {}, false, false});
    const size_t at = r.body.find("\"access_token\":\"");
    if (at == std::string::npos) return std::string();
    const size_t start = at + 16;
    return r.body.substr(start, r.body.find('"', start) - start);
  };
  const std::string bearer = "Authorization: Bearer " + token(kPassword);
  struct Row {
    const char* what;
    Engine& engine;
    Ask ask;
    long status;
  };
  const Row rows[] = {
      {"API over plain HTTP, refused before any login", v4, Ask{"GET", api(""), "", {}, true}, 403},
      {"CA over plain HTTP, no credentials", v4, Ask{"GET", caTarget, "", {}, true, false}, 200},
      {"API without credentials", v4, Ask{"GET", api(""), "", {}, false, false}, 401},
      {"API with a bearer token", v4, Ask{"GET", api(""), "", {bearer}, false, false}, 200},
      {"token for a wrong password", v4,
       Ask{"POST", hvsim::SsoService::kTokenPath, grant + "&password=wrong", {}, false, false},
       400},
      {"token without the API scope", v4,
       Ask{"POST",
           hvsim::SsoService::kTokenPath,
           "grant_type=password&username=admin%40internal&password=sim-pw",
           {},
           false,
           false},
       400},
      {"token over plain HTTP", v4,
       Ask{"POST", hvsim::SsoService::kTokenPath, grant + "&password=sim-pw", {}, true, false},
       403},
      {"token by GET", v4, Ask{"GET", hvsim::SsoService::kTokenPath, "", {}, false, false}, 405},
      {"no single sign-on on 3.x", v3,
       Ask{"POST", hvsim::SsoService::kTokenPath, grant + "&password=sim-pw"}, 404},
      {"Version 4", v4, Ask{"GET", api(""), "", {"Version: 4"}}, 200},
      {"Version 3 of a 4.x engine", v4, Ask{"GET", api(""), "", {"Version: 3"}}, 400},
      {"Version header on 3.x", v3, Ask{"GET", api(""), "", {"Version: 4"}}, 200},
      {"logout", v4,
       Ask{"POST", hvsim::SsoService::kLogoutPath, "token=" + bearer.substr(22), {}, false, false},
       200},
      {"API with a revoked token", v4, Ask{"GET", api(""), "", {bearer}, false, false}, 401},
  };
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
  struct Case {
    const char* generation;
    FailingTask task;
    const char* jobStatus;
    std::function<long(Engine&)> start;
    std::function<std::string(Engine&)> state;  // what the failure left
    std::string expected;
  };
  auto web01 = [](Engine& e) { return "vms/" + e.id(Kind::Vm, "web01"); };
  const std::string newDisk =
      "<disk><name>new</name><format>cow</format><provisioned_size>1024</provisioned_size>"
      "<storage_domains><storage_domain><name>data1</name></storage_domain></storage_domains>"
      "</disk>";
  const Case cases[] = {
      {"4.1", FailingTask::SnapshotCreate, "failed",
       [&](Engine& e) {
         return e.client
             .post(web01(e) + "/snapshots",
                   "<snapshot><description>s</description>"
                   "</snapshot>")
             .status;
       },
       [](Engine& e) {
         return std::to_string(e.sim.vm(e.id(Kind::Vm, "web01"))->snapshots.size()) + " snapshots";
       },
       "2 snapshots"},
      {"4.1", FailingTask::SnapshotRemove, "aborted",
       [&](Engine& e) {
         return e.client.send(Ask{"DELETE", api(web01(e) + "/snapshots/" + e.seededSnapshot().id)})
             .status;
       },
       [](Engine& e) { return e.seededSnapshot().status; }, "ok"},
      {"4.1", FailingTask::DiskCreate, "failed",
       [&](Engine& e) { return e.client.post("disks", newDisk).status; },
       [](Engine& e) { return e.sim.disk(e.id(Kind::Disk, "new"))->status; }, "illegal"},
      {"3.6", FailingTask::DiskCreate, "failed",
       [&](Engine& e) { return e.client.post("disks", newDisk).status; },
       [](Engine& e) {
         const hvsim::Disk disk = *e.sim.disk(e.id(Kind::Disk, "new"));
         return disk.status + " " +
                text(
                    parse(e.client.get("disks/" + disk.id + "/creation_status/" + disk.creationId)),
                    "status/state");
       },
       "illegal failed"},
      {"4.1", FailingTask::DiskMove, "failed",
       [&](Engine& e) {
         return e.client
             .post("disks/" + e.id(Kind::Disk, "floating") + "/move",
                   "<action><storage_domain><name>data1</name></storage_domain></action>")
             .status;
       },
       [](Engine& e) {
         const hvsim::Disk disk = *e.sim.disk(e.id(Kind::Disk, "floating"));
         return disk.status + " on " +
                (disk.storageDomainId == e.id(Kind::StorageDomain, "data2") ? "source" : "target");
       },
       "ok on source"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.generation) + " " + c.jobStatus + " " + c.expected);
    Engine e(c.generation, Timing::instant());
    e.sim.failTasks(c.task, 1, c.jobStatus);
    const long status = c.start(e);
    EXPECT_TRUE(status == 200 || status == 201 || status == 202) << status;
    EXPECT_EQ(c.state(e), c.expected);
    std::string jobStatus = c.generation[0] == '3' ? "FAILED" : c.jobStatus;
    EXPECT_EQ(e.sim.jobs().back().status, c.jobStatus);
    XmlNode job = parse(e.client.get("jobs/" + e.sim.jobs().back().id));
    EXPECT_EQ(c.generation[0] == '3' ? text(job, "status/state") : text(job, "status"), jobStatus);
  }
  // Actions may name no job.
  Engine e("4.1", Timing::instant());
  e.sim.setActionsNameNoJob(true);
  XmlNode stopped = parse(e.client.post("vms/" + e.id(Kind::Vm, "web01") + "/stop", "<action/>"));
  EXPECT_EQ(stopped.child("job"), nullptr);
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

TEST(SimulatorFaultTest, EachKindReplacesOneAnswerOnTheWire) {
  using K = hvsim::Fault::Kind;
  Engine e("4.1");
  struct Case {
    const char* name;
    std::function<void(EngineSimulator&)> inject;
    CURLcode code;
    long status;
    std::string type;  // the start of the content type
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
       "application/xml"},
      {"status", fault(K::Status, 503, 0ms), CURLE_OK, 503, "application/xml"},
      {"html", fault(K::Html, 502, 0ms), CURLE_OK, 502, "text/html"},
      {"drop", fault(K::Drop, 0, 0ms), CURLE_GOT_NOTHING, 0, ""},
      {"stall", fault(K::Stall, 0, 50ms), CURLE_GOT_NOTHING, 0, ""},
      {"partial", fault(K::Partial, 0, 0ms), CURLE_PARTIAL_FILE, 200, "application/xml"},
      {"slow", fault(K::Slow, 0, 10ms), CURLE_OK, 200, "application/xml"},
  };
  Client fresh(e.sim, false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.inject(e.sim);
    Reply hit = fresh.get("vms?search=name%3Dweb01");  // the query plays no part
    EXPECT_EQ(hit.code, c.code);
    EXPECT_EQ(hit.status, c.status);
    EXPECT_EQ(hit.contentType.rfind(c.type, 0), 0u) << hit.contentType;
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

// --- Inventory ------------------------------------------------------------------------------

TEST(SimulatorInventoryTest, GeneratedInventoryIsListedAndSearched) {
  hvsim::SimulatorOptions o;
  o.server.password = kPassword;
  o.generate.vms = 1000;
  EngineSimulator sim(o);
  Client client(sim);
  Reply all = client.get("vms");
  ASSERT_EQ(all.status, 200);
  EXPECT_EQ(parse(all).children.size(), 1001u);  // and the proxy
  EXPECT_EQ(namesIn(parse(client.get("vms?search=name%3Dvm00999"))),
            std::set<std::string>{"vm00999"});
  XmlNode root = parse(client.get(""));
  EXPECT_EQ(text(root, "summary/vms/total"), "1001");
  EXPECT_EQ(text(root, "summary/vms/active"), "501");
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
