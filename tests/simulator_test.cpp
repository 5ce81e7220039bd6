// The engine simulator's strictness that no end-to-end case exercises: what it refuses or takes
// otherwise than a lenient server would, its login and transport rules, its searches, and
// progress that needs both polls and time. The end-to-end tests drive everything it accepts.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "engine_simulator/engine_simulator.h"
#include "engine_simulator/xml_out.h"
#include "support/curl_client.h"

namespace {

using hvsim::Delay;
using hvsim::Kind;
using hvsim::Timing;
using hvtest::CurlAsk;
using hvtest::CurlReply;
using namespace std::chrono_literals;

constexpr const char* kUser = "admin@internal";
constexpr const char* kPassword = "sim-pw";

// The simulator with the example seed (and `moreSeed`) on a clock that moves only when told,
// and a client.
struct Engine {
  explicit Engine(const std::string& generation, Timing timing = Timing(),
                  const std::string& moreSeed = "")
      : sim(options(generation, timing, clock, moreSeed)), client(sim.engine().caFile()) {}
  static hvsim::SimulatorOptions options(const std::string& generation, Timing timing,
                                         const hvsim::ManualClock& clock,
                                         const std::string& moreSeed) {
    hvsim::SimulatorOptions o;
    o.generation = generation;
    std::ifstream seed(std::string(HV_SIMULATOR_SEED_DIR) + "/example.seed");
    o.seedText = std::string(std::istreambuf_iterator<char>(seed), {}) + moreSeed;
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
  // A request under the API with the engine's credentials.
  CurlReply send(const std::string& method, const std::string& tail, const std::string& body = "",
                 const std::string& header = "") {
    CurlAsk ask{method, sim.apiUrl() + "/" + tail, body, {}, kUser, kPassword};
    if (!header.empty()) ask.headers.push_back(header);
    CurlReply reply = client.send(ask);
    // The creation status the last answer links, for {creation}.
    const size_t link = reply.body.find("\" rel=\"creation_status\"");
    if (link != std::string::npos) {
      const size_t from = reply.body.rfind("/ovirt-engine/api/", link) + 18;
      creation = reply.body.substr(from, link - from);
    }
    return reply;
  }

  hvsim::ManualClock clock;
  hvsim::EngineSimulator sim;
  hvtest::CurlClient client;
  std::string creation;
};

// "METHOD target" under the API, with {vm:NAME}, {disk:NAME}, {cluster:NAME}, {sd:NAME},
// {dc:NAME}, {profile:NAME}, {snapshot} (web01's seeded one), {ovf} (its OVF, escaped) and
// {creation} (the creation status an earlier answer linked) filled in.
CurlReply call(Engine& e, const std::string& request, const std::string& body,
               const std::string& header) {
  static const std::map<std::string, Kind> kinds = {
      {"vm", Kind::Vm},           {"dc", Kind::DataCenter},    {"disk", Kind::Disk},
      {"cluster", Kind::Cluster}, {"sd", Kind::StorageDomain}, {"profile", Kind::VnicProfile}};
  auto expand = [&](std::string text) {
    for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open)) {
      const size_t close = text.find('}', open);
      const std::string key = text.substr(open + 1, close - open - 1);
      const size_t colon = key.find(':');
      std::string value;
      if (colon != std::string::npos) {
        value = e.id(kinds.at(key.substr(0, colon)), key.substr(colon + 1));
      } else if (key == "creation") {
        value = e.creation;
      } else {  // {snapshot} or {ovf}
        const hvsim::Snapshot seeded = e.sim.vm(e.id(Kind::Vm, "web01"))->snapshots.at(1);
        if (key == "snapshot") value = seeded.id;
        if (key == "ovf") hvsim::appendEscaped(value, seeded.ovf);
      }
      text.replace(open, close - open + 1, value);
      open += value.size();
    }
    return text;
  };
  const size_t blank = request.find(' ');
  return e.send(request.substr(0, blank), expand(request.substr(blank + 1)), expand(body), header);
}

// Requests a real engine refuses, or takes otherwise than a lenient server would, the searches
// clients use, and the answers that differ by generation, in order per generation: later rows
// see what earlier rows changed. Up to 4.2 the engines finish their work at once; the later ones
// after a poll and two seconds, which never pass here.
TEST(SimulatorStrictnessTest, RequestsAreTakenAsAnEngineTakesThem) {
  // A network of another data center: its profile cannot serve a VM of "Default".
  const std::string remote =
      "[datacenter Other]\n[network remote]\ndatacenter = Other\n[vnicprofile remote]\n"
      "network = remote\n";
  std::map<std::string, std::unique_ptr<Engine>> engines;
  for (const char* generation : {"3.6", "4.1", "4.2"}) {
    engines[generation] = std::make_unique<Engine>(generation, Timing::instant(), remote);
  }
  for (const char* generation : {"4.4.1", "4.4.2", "4.5.0", "4.5.1"}) {
    engines[generation] = std::make_unique<Engine>(generation);
  }
  const std::string unknown = "0badc0de-0000-4000-8000-000000000000";
  const char* noBody = "!<";
  const std::string cluster = "<cluster><name>Default</name></cluster>";
  auto fromOvf = [&](const std::string& name) {
    return "<vm><name>" + name + "</name>" + cluster +
           "<initialization><regenerate_ids>true</regenerate_ids><configuration><type>ovf</type>"
           "<data>{ovf}</data></configuration></initialization></vm>";
  };
  auto newDisk = [](const std::string& name) {
    return "<disk><name>" + name + "</name><format>cow</format><provisioned_size>1024" +
           "</provisioned_size><storage_domains><storage_domain><name>data1</name>" +
           "</storage_domain></storage_domains></disk>";
  };
  const std::string attachFloating =
      "<disk_attachment><disk id=\"{disk:floating}\"/><interface>virtio</interface><active>false"
      "</active></disk_attachment>";
  const std::string waiting = "X-Ovirt-Expect: 201-created";
  const std::string snapshot = "vms/{vm:web01}/snapshots/{snapshot}";
  const std::string jobs = "GET jobs?search=correlation_id%3Dbackup-7";
  const std::string correlated = "POST vms/{vm:WEB01}/snapshots?correlation_id=backup-7";
  const std::string nightly = "<snapshot><description>nightly</description></snapshot>";
  struct Row {
    const char* generation;
    std::string request, body;
    long status;
    const char* marks;  // texts the answer holds ("!text": does not), separated by '|'
    std::string header = "";
  };
  const Row rows[] = {
      {"4.1", "POST vms", "<vm id=\"\"><name>a</name>" + cluster + "</vm>", 400, "UUID"},
      {"4.1", "POST vms",  // resolved by id, not by name
       "<vm><name>nightly backup</name><cluster id=\"{cluster:Default}\"><name>x</name>"
       "</cluster></vm>",
       201, "<name>nightly backup</name>"},
      // Searches match without regard to letter case, after percent-decoding.
      {"4.1", "GET vms?search=name%3Dweb01", "", 200, "<name>web01<|<name>WEB01<"},
      {"4.1", "GET vms?search=name%3Dweb01&case_sensitive=true", "", 200,
       "web01|!WEB01|<start_time>"},
      {"4.1", "GET vms?search=name%3Dweb01&max=1", "", 200, "<name>web01<|!WEB01"},
      {"4.1", "GET vms?search=name%3Dweb0", "", 200, "!<vm "},  // no prefix without '*'
      {"4.1", "GET vms?search=name=Nightly+Backup", "", 200, "nightly backup|!web01"},
      {"4.1", "GET vms?search=cluster%3Ddefault%20and%20status%3Dup", "", 200,
       "<name>web01<|<name>proxy<|!WEB01|!nightly"},
      {"4.1", "GET datacenters/{dc:Default}/storagedomains?search=name%3DDATA2", "", 200,
       "<name>data2<|!data1"},
      {"4.1", "GET vms?search=colour%3Dblue", "", 400, "<fault>"},
      {"4.1", "POST vms",
       "<vm><name>d</name>" + cluster +
           "<initialization><configuration><type>ovf</type><data>{ovf}</data></configuration>"
           "</initialization></vm>",
       409, "same identifier"},
      {"4.1", "POST disks",
       "<disk><provisioned_size>1024</provisioned_size><storage_domains><storage_domain><name>"
       "data1</name></storage_domain></storage_domains></disk>",
       400, "Incomplete parameters"},
      {"4.1", "POST vms/{vm:proxy}/diskattachments",
       "<disk_attachment><disk id=\"{disk:floating}\"/></disk_attachment>", 400, "interface"},
      {"4.1", "POST vms/{vm:web01}/nics",
       "<nic><name>n</name><vnic_profile id=\"{profile:remote}\"/></nic>", 409, "Network"},
      {"4.1", "DELETE storagedomains/{sd:data1}?host=host1&destroy=true", "", 409, "active"},
      {"4.1", "POST vms/{vm:web01}/start", "<action/>", 409,
       "<action>|<reason>Operation Failed</reason>|<status>failed</status>"},
      {"4.1", "GET vms/{vm:web01}/disks", "", 404, ""},
      // An id of the path that names nothing: no document at all ("!<"), but an action on it
      // fails validation, and a sub-collection of it is listed empty.
      {"4.1", "GET vms/" + unknown, "", 404, noBody},
      {"4.1", "DELETE disks/not-a-uuid", "", 404, noBody},
      {"4.1", "POST vms/" + unknown + "/start", "<action/>", 400,
       "<status>failed</status>|VM is not found"},
      {"4.1", "GET vms/" + unknown + "/snapshots", "", 200, "<snapshots|!<snapshot "},
      {"4.1", "GET vms/{vm:web01}?follow=snapshots", "", 200, "!<snapshot "},  // from 4.2
      {"4.1", "GET " + snapshot, "", 200, "!<data>"},
      {"4.1", "POST vms/{vm:web01}/stop", "<action/>", 200, ""},
      {"4.1", jobs, "", 200, "Stopping VM web01"},  // the search is ignored
      {"4.2", "GET vms?search=name%3Dproxy&follow=disk_attachments.disk,snapshots", "", 200,
       "<disk_attachments>|<provisioned_size>|<snapshots>|<snapshot_type>active<|<start_time>"},
      {"4.2", "GET vms/{vm:proxy}/diskattachments?follow=disk", "", 200, "<provisioned_size>"},
      {"4.2", "GET vms?follow=colour", "", 400, "<fault>"},
      // Correlation ids keep [0-9a-zA-Z_-], at most 36 of them.
      {"4.2", "POST vms/{vm:proxy}/stop", "<action/>", 200, "",
       "Correlation-Id: night.ly/0123456789012345678901234567890123456789"},
      {"4.2", "GET jobs?search=correlation_id%3Dnightly01234567890123456789012345678", "", 200,
       "Stopping VM proxy"},
      {"4.2", "GET vms/{vm:proxy}", "", 200, "<status>down<|!<start_time>"},
      {"4.2", "POST vms/{vm:web01}/stop", "<action/>", 200, ""},
      {"4.2", correlated, nightly, 201, ""},
      // Descriptions never hold the correlation id.
      {"4.2", jobs, "", 200, "Snapshot nightly for VM WEB01|!Stopping VM|!backup-7"},
      {"3.6", "POST vms", "<vm>" + cluster + "</vm>", 400, "<usage_message"},
      {"3.6", "GET vms/{vm:web01}/diskattachments", "", 404, ""},
      {"3.6", "POST vms/{vm:web01}/start", "<action/>", 409, "<state>failed</state>"},
      {"3.6", "GET " + snapshot + "?all_content=true", "", 200, "!<data>"},
      {"3.6", "PUT vms/{vm:web01}/disks/{disk:web01_Disk2}", "<disk><alias/></disk>", 200, ""},
      {"3.6", "DELETE vms/{vm:web01}/disks/{disk:web01_Disk1}", "", 409, "plugged"},
      {"3.6", "DELETE vms/{vm:WEB01}/disks/{disk:WEB01_Disk1}", "", 200, ""},
      // A create whose storage work runs answers 202 with its creation status; one made to wait
      // (or an OVF import from 4.5.0.6) 201.
      {"4.5.0", "POST vms", fromOvf("restored"), 202,
       "<status>image_locked<|<creation_status>pending<|/creation_status/"},
      {"4.5.0", "GET {creation}", "", 200, "<creation href=\"/ovirt-engine/api/vms/|pending"},
      {"4.5.0", "DELETE vms/{vm:restored}", "", 409,
       "<reason>Operation Failed</reason>|<detail>[Cannot remove VM: VM is locked. Please try "
       "again in a few minutes.]</detail>"},
      {"4.5.0", "POST vms", fromOvf("waited"), 201, "<status>down<|!creation_status", waiting},
      {"4.5.1", "POST vms", fromOvf("restored"), 201, "<status>down<|!creation_status"},
      {"4.4.2", "POST disks", newDisk("new"), 202, "<status>locked<|<creation_status>pending<"},
      {"4.4.2", "POST disks", newDisk("waited"), 201, "<status>ok<", waiting},
      {"4.4.2", "POST vms/{vm:proxy}/diskattachments",
       "<disk_attachment>" + newDisk("attached") +
           "<interface>virtio</interface><active>false</active></disk_attachment>",
       202, "<creation_status>pending<|/creation_status/"},
      // Up to 4.4.1 the added attachment's href names the VM "null".
      {"4.4.1", "POST vms/{vm:proxy}/diskattachments", attachFloating, 201,
       "href=\"/ovirt-engine/api/vms/null/diskattachments/"},
      {"4.4.2", "POST vms/{vm:proxy}/diskattachments", attachFloating, 201, "!/null/"},
  };
  Engine& v3 = *engines["3.6"];
  const std::string blanked = v3.id(Kind::Disk, "web01_Disk2");
  const std::string deleted = v3.id(Kind::Disk, "WEB01_Disk1");
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.generation) + " " + row.request + " " + row.body);
    CurlReply reply = call(*engines[row.generation], row.request, row.body, row.header);
    EXPECT_EQ(reply.status, row.status) << reply.body;
    std::istringstream marks(row.marks);
    for (std::string mark; std::getline(marks, mark, '|');) {
      const bool negated = mark[0] == '!';
      EXPECT_EQ(reply.body.find(mark.substr(negated)) != std::string::npos, !negated)
          << mark + "\n" + reply.body;
    }
  }
  EXPECT_EQ(v3.sim.disk(blanked)->name, "");  // an empty element blanks the field
  EXPECT_FALSE(v3.sim.disk(deleted));         // deleted, not detached
}

TEST(SimulatorStrictnessTest, ApiOnlyOverHttpsWithCredentialsAndItsOwnVersion) {
  Engine v4("4.1");
  Engine v44("4.4");
  Engine v3("3.6");
  struct Row {
    Engine& engine;
    bool plainHttp;
    bool credentials;
    const char* header;
    long status;
    const char* below = "";  // the path below the API's
  };
  const Row rows[] = {
      {v4, true, false, "", 403},  // plain HTTP is refused before any login
      {v4, true, true, "", 403},
      {v4, false, false, "", 401},
      {v4, false, true, "Version: 3", 400},  // a 4.x engine serves its own API only here
      {v4, false, true, "", 400, "/v3"},
      {v44, false, true, "Version: 3", 405},  // 4.4 removed API v3
      {v44, false, true, "", 405, "/v3/vms"},
      {v44, false, true, "Version: 5", 400},
      {v3, false, true, "Version: 4", 200},  // and 3.x ignores the header
      // The web server in front of the engine takes no expectation but 100-continue.
      {v4, false, true, "Expect: 201-created", 417},
      {v4, false, true, "Expect: 100-continue", 200},
  };
  for (const Row& row : rows) {
    const std::string base =
        row.plainHttp ? row.engine.sim.engine().httpUrl() : row.engine.sim.engine().httpsUrl();
    CurlAsk ask{"GET", base + "/ovirt-engine/api" + row.below};
    ask.user = row.credentials ? kUser : nullptr;
    ask.password = row.credentials ? kPassword : nullptr;
    if (*row.header) ask.headers.push_back(row.header);
    const CurlReply reply = row.engine.client.send(ask);
    EXPECT_EQ(reply.status, row.status) << "row " << &row - rows << "\n" << reply.body;
  }
}

TEST(SimulatorTimingTest, ProgressNeedsPollsAndTime) {
  struct Case {
    Delay delay;
    std::chrono::milliseconds pause;  // the client's pause between polls
    unsigned lockedPolls;             // polls that still show the snapshot locked (10: all)
    const char* poll = "/snapshots";  // what the client reads below the VM
  };
  const Case cases[] = {
      {Delay::afterPolls(3), 0ms, 3},
      {Delay::afterPolls(3), 0ms, 3, "?follow=snapshots"},  // as a GET of the snapshots
      {Delay{1, 2000ms}, 0ms, 10},  // polling without pausing finishes nothing sooner
      {Delay{1, 2000ms}, 1000ms, 2},
      {Delay::after(2000ms), 500ms, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Timing timing;
    timing.snapshotCreate = c.delay;
    Engine e("4.2", timing);
    const std::string vm = "vms/" + e.id(Kind::Vm, "WEB01");
    ASSERT_EQ(e.send("POST", vm + "/snapshots", "<snapshot><description>s</description></snapshot>")
                  .status,
              201);
    unsigned locked = 0;
    // The other snapshots of the VM are "ok".
    while (locked < 10 && e.send("GET", vm + c.poll).body.find("locked") != std::string::npos) {
      ++locked;
      e.clock.advance(c.pause);
    }
    EXPECT_EQ(locked, c.lockedPolls);
  }
}

}  // namespace
