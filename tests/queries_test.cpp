// Queries against the loopback engine: lookups by id and exact name, queries that lack an id,
// existence checks, and the wait for a disk's logical name.
#include <gtest/gtest.h>

#include <tuple>

#include "queries/rhevQueries.h"
#include "support/engine_fixture.h"
#include "support/inventory_xml.h"
#include "transport/rhevConnection.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace {

using namespace hvtest;
using Targets = std::vector<std::string>;

const std::string kRoot = "/ovirt-engine/api/";

Answer Ok(const std::string& body) { return Answer::xml(200, body); }

// A search answer listing VMs or storage domains of these names, with ids r0, r1, ...
Answer Listing(const std::string& root, std::initializer_list<std::string> names) {
  std::string items;
  int n = 0;
  for (const auto& name : names) {
    const std::string id = "r" + std::to_string(n++);
    items += root == "vms" ? VmXml(id, name, "", "c") : StorageDomainXml(id, name);
  }
  return Ok(ListXml(root, {items}));
}

class QueriesTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    serveApiRoot("v4/api.xml");
    connectWorkers(connection, parser);
  }

  // The targets asked for since the last call, under the API.
  Targets asked() {
    Targets result;
    for (const auto& r : engine->requests())
      result.push_back(r.method + " " + r.target.substr(kRoot.size()));
    engine->clearRequests();
    return result;
  }

  // The record the getter of VMs or ('s') storage domains found, or "-".
  std::string lookup(char kind, const std::string& name, const std::string& id) {
    SVMInfoLib vm;
    SStorageDomainInfoLib domain;
    if (kind == 's') return queries.getStorageDomainInfo(name, id, domain, 0) ? domain.id : "-";
    return queries.getVMInfo(name, id, vm, 0) ? vm.id + "=" + vm.name : "-";
  }

  TzRhevConnection connection;
  TzRhevParser parser;
  TzRhevQueries queries{&connection, &parser};
};

TEST_F(QueriesTest, LookupsTakeTheIdElseTheOneExactNameAmongTheSearchAnswer) {
  // The kind, the name and id looked up, the one request sent ("" for none) and its answer, the
  // record found ("-" for none) and what an error logged says.
  using Case =
      std::tuple<char, const char*, const char*, std::string, Answer, std::string, const char*>;
  const Case cases[] = {
      {'v', "other", "v1", "vms/v1", Ok(VmXml("v1", "real", "", "c")), "v1=real", nullptr},
      // The engine's search ignores letter case; only the exact name may match, and only once.
      {'v', "Web 1", "", "vms?search=name=Web%201", Listing("vms", {"web 1", "Web 1", "WEB 1"}),
       "r1=Web 1", nullptr},
      {'v', "h", "", "vms?search=name=h", Listing("vms", {"h", "H", "h"}), "-",
       "Found 2 VMs that match [h/]"},
      {'s', "data", "", "storagedomains?search=name=data",
       Listing("storage_domains", {"data2", "DATA"}), "-", "Found 0 StorageDomains"},
      {'s', "x", "", "storagedomains?search=name=x", Ok("<storage_domains/>"), "-",
       "Storage Domain [x/] could"},
      {'v', "x", "", "vms?search=name=x", Answer::xml(500, "<fault/>"), "-",
       "getVMInfoListFromLink failed"},
      {'v', "", "", "", Ok(""), "-", "Must specify either VM"},
      {'s', "", "", "", Ok(""), "-", "Name or Id must be specified"},
      // A name with query delimiters is one search value: it is found and adds no parameter.
      {'v', "web 1&max=1", "", "vms?search=name=web%201%26max%3D1",
       Listing("vms", {"web 1&amp;max=1"}), "r0=web 1&max=1", nullptr},
      {'v', "50%", "", "vms?search=name=50%25", Listing("vms", {"50%"}), "r0=50%", nullptr},
      {'v', "x+y", "", "vms?search=name=x%2By", Listing("vms", {"x+y"}), "r0=x+y", nullptr},
  };
  for (const auto& [kind, name, id, target, answer, found, error] : cases) {
    SCOPED_TRACE(target);
    engine->reset();
    engine->answer("GET", kRoot + target, answer);
    logs.clear();
    EXPECT_EQ(lookup(kind, name, id), found);
    EXPECT_EQ(asked(), target.empty() ? Targets{} : Targets{"GET " + target});
    EXPECT_EQ(logs.errors().empty(), !error);
    if (error) {
      EXPECT_TRUE(logs.containsError(error));
    }
  }
}

// Queries that lack the id of what they read send nothing.
TEST_F(QueriesTest, MissingIdsSendNothingAndExistenceChecksAreSilent) {
  SDiskInfoLib disk;
  std::vector<SSnapshotInfoLib> snapshots;
  EXPECT_FALSE(queries.getDiskInfo("", disk, 0));
  EXPECT_FALSE(queries.getSnapshotInfoList("", snapshots, 0));
  EXPECT_FALSE(queries.getDiskInfoFromVMInfo("", "d", disk, 0));
  EXPECT_EQ(logs.errors(),
            (std::vector<std::string>{"Must pass diskId", "Must pass vm id", "Must pass VMId"}));
  EXPECT_TRUE(asked().empty());

  // A missing resource is an answer to an existence check: no error is logged or left behind.
  std::string scratch;
  connection.post("ovirt-engine/api/nothing", "<x/>", scratch);
  ASSERT_FALSE(connection.getLastError().empty());
  logs.clear();
  EXPECT_FALSE(queries.checkExistence(kRoot + "vms/missing"));
  EXPECT_TRUE(logs.errors().empty() && connection.getLastError().empty());
}

TEST_F(QueriesTest, LogicalNameIsOnlyOneReadInThisCallThroughTheVmsDisksOrItsAttachment) {
  const std::string sub = "vms/v/disks/d";
  engine->answer("GET", kRoot + sub, Ok(DiskXml("d", "disk", "s", "/dev/vdb")));
  SDiskInfoLib disk;
  ASSERT_TRUE(queries.getDiskInfoFromVMInfo("v", "d", disk, 0));
  EXPECT_EQ(disk.logicalName, "/dev/vdb");

  // Engines from 4.1 on have no "disks" under a VM: its attachment of the disk names it.
  engine->answer("GET", kRoot + sub, Answer::engineFault(404, "Not Found", "no such collection"));
  engine->answer("GET", kRoot + "vms/v/diskattachments/d",
                 Ok("<disk_attachment id=\"d\"><logical_name>/dev/vdc</logical_name>"
                    "<disk id=\"d\"/></disk_attachment>"));
  ASSERT_TRUE(queries.getDiskInfoFromVMInfo("v", "d", disk, 0));
  EXPECT_EQ(disk.logicalName, "/dev/vdc");
  EXPECT_EQ(count("GET", kRoot + sub), 2u);
  EXPECT_TRUE(sleeps.sleeps().empty());

  // Failed requests and answers without a name count alike; 15 tries with a growing back-off.
  engine->script("GET", kRoot + sub, {Answer::xml(503, "<fault/>"), Ok(DiskXml("d", "disk", "s"))});
  engine->clearRequests();
  // Read from the source VM: its name there is no name in this VM.
  disk.logicalName = "/dev/vda";
  EXPECT_FALSE(queries.getDiskInfoFromVMInfo("v", "d", disk, 0));
  EXPECT_EQ(count("GET", kRoot + sub), 15u);
  EXPECT_EQ(sleeps.sleeps(),
            (std::vector<unsigned long>{2000, 4000, 8000, 16000, 32000, 64000, 128000, 1000, 2000,
                                        4000, 8000, 16000, 32000, 64000, 128000}));
  EXPECT_TRUE(logs.containsError("Failed to getDiskInfoFromLink"));
}

}  // namespace
}  // namespace Hypervale
