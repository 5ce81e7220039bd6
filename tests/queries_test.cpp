// Queries against the loopback engine: lookups by id and exact name, storage domain status,
// and the wait for a disk's logical name.
#include <gtest/gtest.h>

#include "queries/rhevQueries.h"
#include "support/engine_fixture.h"
#include "support/inventory_xml.h"
#include "transport/rhevConnection.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace {

using hvtest::Answer;
using hvtest::Href;
using hvtest::ListXml;

class QueriesTest : public hvtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    serveApiRoot("v4/api.xml");
    connectWorkers(connection, parser);
  }

  std::vector<std::string> targets() const {
    std::vector<std::string> result;
    for (const auto& r : engine->requests()) result.push_back(r.method + " " + r.target);
    return result;
  }

  TzRhevConnection connection;
  TzRhevParser parser;
  TzRhevQueries queries{&connection, &parser};
};

TEST_F(QueriesTest, AnIdWinsOverTheName) {
  engine->answer("GET", Href("vms", "v1"), Answer::xml(200, hvtest::VmXml("v1", "real", "", "c")));
  SVMInfoLib vm;
  ASSERT_TRUE(queries.getVMInfo("some other name", "v1", vm, ~0ULL));
  EXPECT_EQ(vm.name, "real");
  EXPECT_EQ(targets(), std::vector<std::string>{"GET /ovirt-engine/api/vms/v1"});
  EXPECT_TRUE(logs.contains("Parse VMInfo from link [ovirt-engine/api/vms/v1]. ID[v1] Name[real]"));
}

TEST_F(QueriesTest, NameSearchesKeepOnlyExactMatches) {
  // The engine's search ignores letter case; only the exact name may match.
  engine->answer("GET", "/ovirt-engine/api/vms?search=name=Web%201",
                 Answer::xml(200, ListXml("vms", {hvtest::VmXml("a", "web 1", "", "c"),
                                                  hvtest::VmXml("b", "Web 1", "", "c"),
                                                  hvtest::VmXml("c", "WEB 1", "", "c")})));
  SVMInfoLib vm;
  ASSERT_TRUE(queries.getVMInfo("Web 1", "", vm, 0));
  EXPECT_EQ(vm.id, "b");

  engine->answer("GET", "/ovirt-engine/api/hosts?search=name=h",
                 Answer::xml(200, ListXml("hosts", {hvtest::HostXml("1", "h", "c"),
                                                    hvtest::HostXml("2", "H", "c"),
                                                    hvtest::HostXml("3", "h", "c")})));
  SHostInfoLib host;
  EXPECT_FALSE(queries.getHostInfo("h", "", host, 0));
  EXPECT_TRUE(logs.containsError("Found 2 Hosts that match [h/]"));
  EXPECT_EQ(host.id, "3");  // the last exact match stays in the record
}

// A name with query delimiters reaches the engine as one search value: it is found, and it
// cannot add a parameter of its own. The search syntax around it stays as it is.
TEST_F(QueriesTest, SearchValuesAreEncodedAsQueryValues) {
  struct Case {
    const char* name;
    const char* inXml;
    const char* encoded;
  };
  const Case cases[] = {
      {"a&b", "a&amp;b", "a%26b"},
      {"50%", "50%", "50%25"},
      {"x+y", "x+y", "x%2By"},
      {"web 1&max=1", "web 1&amp;max=1", "web%201%26max%3D1"},
  };
  for (const auto& c : cases) {
    engine->answer("GET", std::string("/ovirt-engine/api/vms?search=name=") + c.encoded,
                   Answer::xml(200, ListXml("vms", {hvtest::VmXml("v", c.inXml, "", "c")})));
    SVMInfoLib vm;
    EXPECT_TRUE(queries.getVMInfo(c.name, "", vm, 0)) << c.name;
    EXPECT_EQ(vm.name, c.name);
  }

  engine->answer("GET", "/ovirt-engine/api/datacenters?search=name=d%3Bc",
                 Answer::xml(200, ListXml("data_centers", {hvtest::DataCenterXml("d1", "d;c")})));
  engine->clearRequests();
  std::vector<SHostInfoLib> hosts;
  std::vector<SVMInfoLib> vms;
  std::vector<SClusterInfoLib> clusters;
  STagInfoLib tag;
  tag.name = "t+1";
  std::string status;
  queries.getHostInfoListForCluster("c&d", hosts, 0);
  queries.getVMInfoListForCluster("c&d", vms, 0);
  queries.getHostInfoListForTag(tag, hosts, 0);
  queries.getVMInfoListForTag(tag, vms, 0);
  queries.getClusterInfoListForDataCenter("d;c", clusters, 0);
  queries.getStorageDomainStatus("d;c", "s=1", "", status);
  EXPECT_EQ(targets(), (std::vector<std::string>{
                           "GET /ovirt-engine/api/hosts?search=cluster=c%26d",
                           "GET /ovirt-engine/api/vms?search=cluster=c%26d",
                           "GET /ovirt-engine/api/hosts?search=tag=t%2B1",
                           "GET /ovirt-engine/api/vms?search=tag=t%2B1",
                           "GET /ovirt-engine/api/clusters?search=datacenter=d%3Bc",
                           "GET /ovirt-engine/api/datacenters?search=name=d%3Bc",
                           "GET /ovirt-engine/api/datacenters/d1/storagedomains?search=name=s%3D1",
                       }));
}

TEST_F(QueriesTest, FailedLookupsSayWhyForEachKind) {
  engine->setFallback([](const hvtest::Request& r) -> std::optional<Answer> {
    if (r.query.empty()) return std::nullopt;
    static const std::map<std::string, std::string> lists = {
        {"/ovirt-engine/api/datacenters", "data_centers"},
        {"/ovirt-engine/api/clusters", "clusters"},
        {"/ovirt-engine/api/hosts", "hosts"},
        {"/ovirt-engine/api/vms", "vms"},
        {"/ovirt-engine/api/storagedomains", "storage_domains"}};
    const auto found = lists.find(r.path);
    if (found == lists.end()) return std::nullopt;
    return Answer::xml(200, "<" + found->second + "/>");
  });
  SDataCenterInfoLib dc;
  SClusterInfoLib cluster;
  SHostInfoLib host;
  SVMInfoLib vm;
  SStorageDomainInfoLib domain;
  EXPECT_FALSE(queries.getDataCenterInfo("x", "", dc, 0));
  EXPECT_FALSE(queries.getClusterInfo("x", "", cluster, 0));
  EXPECT_FALSE(queries.getHostInfo("x", "", host, 0));
  EXPECT_FALSE(queries.getVMInfo("x", "", vm, 0));
  EXPECT_FALSE(queries.getStorageDomainInfo("x", "", domain, 0));
  EXPECT_EQ(logs.errors(),
            (std::vector<std::string>{
                "Found 0 dataCenters that match [x/]", "Found 0 clusters that match [x/]",
                "Found 0 Hosts that match [x/]", "Found 0 VMs that match [x/]",
                "Storage Domain [x/] could not be found"}));

  logs.clear();
  engine->clearRequests();
  EXPECT_FALSE(queries.getHostInfo("", "", host, 0));
  EXPECT_FALSE(queries.getVMInfo("", "", vm, 0));
  EXPECT_EQ(logs.errors(), (std::vector<std::string>{"Name or Id must be specified",
                                                     "Must specify either VM name or ID"}));
  EXPECT_TRUE(engine->requests().empty());

  logs.clear();
  engine->answer("GET", "/ovirt-engine/api/vms?search=name=gone", Answer::xml(500, "<fault/>"));
  EXPECT_FALSE(queries.getVMInfo("gone", "", vm, 0));
  EXPECT_TRUE(logs.containsError(
      "getVMInfoListFromLink failed for link[ovirt-engine/api/vms?search=name=gone]"));
}

TEST_F(QueriesTest, StorageDomainNameSearchWithoutAnExactMatch) {
  engine->answer(
      "GET", "/ovirt-engine/api/storagedomains?search=name=data",
      Answer::xml(200, ListXml("storage_domains", {hvtest::StorageDomainXml("1", "data2"),
                                                   hvtest::StorageDomainXml("2", "DATA")})));
  SStorageDomainInfoLib domain;
  domain.name = "untouched";
  EXPECT_FALSE(queries.getStorageDomainInfo("data", "", domain, 0));
  EXPECT_TRUE(logs.containsError("Found 0 StorageDomains that match [data/]"));
  EXPECT_EQ(domain.name, "untouched");
}

TEST_F(QueriesTest, StorageDomainStatusWithAndWithoutADataCenter) {
  engine->answer("GET", "/ovirt-engine/api/storagedomains?search=name=sd",
                 Answer::xml(200, ListXml("storage_domains", {hvtest::StorageDomainXml(
                                                                 "s1", "sd", {}, "unattached")})));
  std::string status;
  ASSERT_TRUE(queries.getStorageDomainStatus("", "sd", "", status)) << logs.all();
  EXPECT_EQ(status, "unattached");

  engine->answer("GET", "/ovirt-engine/api/datacenters?search=name=dc",
                 Answer::xml(200, ListXml("data_centers", {hvtest::DataCenterXml("d1", "dc")})));
  // Any search under the data center gets this list (the engine's search is loose).
  engine->answer("GET", "/ovirt-engine/api/datacenters/d1/storagedomains",
                 Answer::xml(200, ListXml("storage_domains",
                                          {hvtest::StorageDomainXml("s0", "SD", {}, "maintenance"),
                                           hvtest::StorageDomainXml("s1", "sd", {}, "active"),
                                           hvtest::StorageDomainXml("s2", "sd", {}, "inactive")})));
  engine->clearRequests();
  ASSERT_TRUE(queries.getStorageDomainStatus("dc", "sd", "not-used", status));
  EXPECT_EQ(status, "active");
  EXPECT_EQ(targets(), (std::vector<std::string>{
                           "GET /ovirt-engine/api/datacenters?search=name=dc",
                           "GET /ovirt-engine/api/datacenters/d1/storagedomains?search=name=sd"}));
  EXPECT_TRUE(logs.contains("Storage domain SD, status: maintenance"));

  EXPECT_FALSE(queries.getStorageDomainStatus("dc", "other", "", status));
  EXPECT_TRUE(logs.containsError("Storage domain other not found attached to datacenter dc"));

  engine->clearRequests();
  EXPECT_FALSE(queries.getStorageDomainStatus("dc", "", "s1", status));
  EXPECT_TRUE(engine->requests().empty());
}

TEST_F(QueriesTest, LogicalNameFoundAtOnceNeedsNoSleepWithOrWithoutTheVmsDisks) {
  const std::string sub = Href("vms", "v") + "/disks/d";
  engine->answer("GET", sub, Answer::xml(200, hvtest::DiskXml("d", "disk", "s", "/dev/vdb")));
  SDiskInfoLib disk;
  ASSERT_TRUE(queries.getDiskInfoFromVMInfo("v", "d", disk, 0));
  EXPECT_EQ(disk.logicalName, "/dev/vdb");
  EXPECT_TRUE(logs.contains("Got logical name [/dev/vdb] for disk ID [d]"));

  // Engines from 4.1 on have no "disks" under a VM: its attachment of the disk names it.
  engine->answer("GET", sub, Answer::engineFault(404, "Not Found", "no such collection"));
  engine->answer("GET", Href("vms", "v") + "/diskattachments/d",
                 Answer::xml(200,
                             "<disk_attachment id=\"d\"><logical_name>/dev/vdc"
                             "</logical_name><disk id=\"d\"/></disk_attachment>"));
  ASSERT_TRUE(queries.getDiskInfoFromVMInfo("v", "d", disk, 0));
  EXPECT_EQ(disk.logicalName, "/dev/vdc");
  EXPECT_EQ(count("GET", sub), 2u);
  EXPECT_TRUE(sleeps.sleeps().empty());
}

TEST_F(QueriesTest, LogicalNameWaitBacksOffAndGivesUpAfterFifteenTries) {
  // Failed requests and answers without a name count alike.
  engine->script(
      "GET", Href("vms", "v") + "/disks/d",
      {Answer::xml(503, "<fault/>"), Answer::xml(200, hvtest::DiskXml("d", "disk", "s"))});
  SDiskInfoLib disk;
  // Read from the source VM: its name there is no name in this VM.
  disk.logicalName = "/dev/vda";
  EXPECT_FALSE(queries.getDiskInfoFromVMInfo("v", "d", disk, 0));
  EXPECT_EQ(count("GET", Href("vms", "v") + "/disks/d"), 15u);
  EXPECT_EQ(sleeps.sleeps(),
            (std::vector<unsigned long>{2000, 4000, 8000, 16000, 32000, 64000, 128000, 1000, 2000,
                                        4000, 8000, 16000, 32000, 64000, 128000}));
  EXPECT_TRUE(logs.containsError("Failed to getDiskInfoFromLink"));

  logs.clear();
  engine->clearRequests();
  EXPECT_FALSE(queries.getDiskInfoFromVMInfo("", "", disk, 0));
  EXPECT_EQ(logs.errors(), std::vector<std::string>{"Must pass VMId"});
  EXPECT_TRUE(engine->requests().empty());
}

TEST_F(QueriesTest, PathsOfTheDiskSnapshotJobAndNetworkQueries) {
  engine->setFallback([](const hvtest::Request& r) -> std::optional<Answer> {
    // Any list the query asks for, empty; any single object, a minimal one of its kind.
    if (r.path.find("/snapshots/") != std::string::npos &&
        r.path.find("/disks") == std::string::npos) {
      return Answer::xml(200, "<snapshot/>");
    }
    if (r.path.find("/jobs/") != std::string::npos) return Answer::xml(200, "<job/>");
    if (r.path.find("/tags/") != std::string::npos) return Answer::xml(200, "<tag/>");
    if (r.path.find("/diskattachments/") != std::string::npos) {
      return Answer::xml(200, "<disk_attachment/>");
    }
    static const char* lists[][2] = {{"diskattachments", "disk_attachments"},
                                     {"disks", "disks"},
                                     {"snapshots", "snapshots"},
                                     {"networks", "networks"},
                                     {"vnicprofiles", "vnic_profiles"},
                                     {"tags", "tags"}};
    for (const auto& list : lists) {
      const std::string suffix = std::string("/") + list[0];
      if (r.path.size() >= suffix.size() &&
          r.path.compare(r.path.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return Answer::xml(200, std::string("<") + list[1] + "/>");
      }
    }
    return std::nullopt;
  });
  std::vector<SDiskInfoLib> disks;
  std::vector<SDiskAttachmentInfoLib> attachments;
  SDiskAttachmentInfoLib attachment;
  std::vector<SSnapshotInfoLib> snapshots;
  SSnapshotInfoLib snapshot;
  snapshot.id = "s";
  SJobInfoLib job;
  STagInfoLib tag;
  std::vector<STagInfoLib> tags;
  std::vector<SNetworkInfoLib> networks;
  std::vector<SVnicProfileInfoLib> profiles;
  EXPECT_TRUE(queries.getDiskInfoListForVM("v", disks, 0));
  EXPECT_TRUE(queries.getDiskInfoListForVM("", disks, 0));
  EXPECT_TRUE(queries.getDiskInfoListForSnapshot("v", "s", disks, 0)) << logs.all();
  EXPECT_TRUE(queries.getDiskAttachmentInfoListForVM("v", attachments, 0));
  EXPECT_TRUE(queries.getDiskAttachmentInfoForVM("v", "d", attachment, 0));
  EXPECT_TRUE(queries.getSnapshotInfoList("v", snapshots, 0));
  EXPECT_TRUE(queries.getSnapshotInfo("v", snapshot, 0));
  EXPECT_TRUE(queries.getJobInfo("j", job, 0));
  EXPECT_TRUE(queries.getTagInfo("t", tag));
  EXPECT_TRUE(queries.getTagInfoList(tags));
  EXPECT_TRUE(queries.getNetworkInfoList("", networks, 0));
  EXPECT_TRUE(queries.getNetworkInfoList("dc", networks, 0));
  EXPECT_TRUE(queries.getVnicProfileInfoList(profiles, 0));
  EXPECT_EQ(targets(), (std::vector<std::string>{
                           "GET /ovirt-engine/api/vms/v/disks",
                           "GET /ovirt-engine/api/vms//disks",
                           "GET /ovirt-engine/api/vms/v/snapshots/s/disks",
                           "GET /ovirt-engine/api/vms/v/diskattachments",
                           "GET /ovirt-engine/api/vms/v/diskattachments/d",
                           "GET /ovirt-engine/api/vms/v/snapshots",
                           "GET /ovirt-engine/api/vms/v/snapshots/s",
                           "GET /ovirt-engine/api/jobs/j",
                           "GET /ovirt-engine/api/tags/t",
                           "GET /ovirt-engine/api/tags",
                           "GET /ovirt-engine/api/networks",
                           "GET /ovirt-engine/api/datacenters/dc/networks",
                           "GET /ovirt-engine/api/vnicprofiles",
                       }));

  logs.clear();
  engine->clearRequests();
  SDiskInfoLib disk;
  EXPECT_FALSE(queries.getDiskInfo("", disk, 0));
  EXPECT_FALSE(queries.getSnapshotInfoList("", snapshots, 0));
  EXPECT_EQ(logs.errors(), (std::vector<std::string>{"Must pass diskId", "Must pass vm id"}));
  EXPECT_TRUE(engine->requests().empty());
}

TEST_F(QueriesTest, ExistenceChecksAreSilentAndListsAppend) {
  std::string scratch;
  connection.post("ovirt-engine/api/nothing", "<x/>", scratch);
  ASSERT_FALSE(connection.getLastError().empty());  // the engine's 404 fault
  logs.clear();
  EXPECT_FALSE(queries.checkExistence(Href("vms", "missing")));
  EXPECT_TRUE(logs.errors().empty());
  EXPECT_EQ(connection.getLastError(), "");

  engine->answer("GET", "/ovirt-engine/api/clusters",
                 Answer::xml(200, ListXml("clusters", {hvtest::ClusterXml("c2", "two", "d")})));
  std::vector<SClusterInfoLib> clusters(1);
  clusters[0].id = "c1";
  ASSERT_TRUE(queries.getClusterInfoList(clusters, 0));
  ASSERT_EQ(clusters.size(), 2u);
  EXPECT_EQ(clusters[1].id, "c2");
}

}  // namespace
}  // namespace Hypervale
