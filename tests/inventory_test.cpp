// The facade's inventory: which requests each detail bit sends, and what lands in the records.
#include <gtest/gtest.h>

#include "hypervale/hypervale.h"
#include "support/engine_fixture.h"
#include "support/inventory_xml.h"

namespace Hypervale {
namespace {

using namespace hvtest;  // the XML builders

constexpr UINT64 kBit(int n) { return UINT64{1} << n; }
const std::string kApi = "/ovirt-engine/api/";

template <typename Record>
std::string Ids(const std::vector<Record>& list) {
  std::string ids;
  for (const auto& r : list) ids += r.id + " ";
  return ids;
}

class InventoryTest : public EngineTest {
 protected:
  // Two data centers, each with one cluster; three hosts; three VMs (one down, v2 listing its
  // disks in the v3 form); two storage domains; networks and vNIC profiles; one tag.
  void SetUp() override {
    EngineTest::SetUp();
    serveApiRoot("v4/api.xml");
    const std::string d1 = DataCenterXml("d1", "DC1"), d2 = DataCenterXml("d2", "DC2");
    const std::string c1 = ClusterXml("c1", "Cluster1", "d1"),
                      c2 = ClusterXml("c2", "Cluster2", "d2");
    const std::string h1 = HostXml("h1", "host1", "c1"), h2 = HostXml("h2", "host2", "c1"),
                      h3 = HostXml("h3", "host3", "c2");
    auto vm = [](const char* id, const char* host, const char* cluster, const char* disks) {
      return VmXml(
          id, std::string("vm") + id[1], host, cluster,
          {{disks, Href("vms", id) + "/" + disks}, {"snapshots", Href("vms", id) + "/snapshots"}});
    };
    const std::string v1 = vm("v1", "h1", "c1", "diskattachments"),
                      v2 = vm("v2", "h3", "c2", "disks"),
                      v3 = vm("v3", "", "c1", "diskattachments");
    const std::string s1 = StorageDomainXml(
        "s1", "data1", {{"disks", Href("storagedomains", "s1") + "/disks"}}, "active");
    const std::string s2 = StorageDomainXml("s2", "iso", {}, "active");
    const std::string k1 = DiskXml("k1", "boot", "s1"), n1 = NetworkXml("n1", "ovirtmgmt");
    const std::pair<std::string, std::string> answers[] = {
        {"datacenters", ListXml("data_centers", {d1, d2})},
        {"datacenters/d1", d1},
        {"datacenters/d1/clusters", ListXml("clusters", {c1})},
        {"datacenters/d2/clusters", ListXml("clusters", {c2})},
        {"datacenters/d1/storagedomains", ListXml("storage_domains", {s1})},
        {"datacenters/d2/storagedomains", ListXml("storage_domains", {s2})},
        {"datacenters/d1/networks", ListXml("networks", {n1})},
        {"clusters/c1", c1},
        {"clusters/c2", c2},
        {"hosts", ListXml("hosts", {h1, h2, h3})},
        {"hosts?search=cluster=Cluster1", ListXml("hosts", {h1, h2})},
        {"hosts/h1", h1},
        {"hosts/h3", h3},
        {"vms", ListXml("vms", {v1, v2, v3})},
        {"vms?search=cluster=Cluster1", ListXml("vms", {v1, v3})},
        {"vms/v1/diskattachments",
         ListXml("disk_attachments", {AttachmentXml("k1", "virtio_scsi", true, true),
                                      AttachmentXml("k2", "ide", false, false)})},
        {"disks/k1", k1},  // k2 is not found
        {"vms/v2/disks", ListXml("disks", {DiskXml("k3", "data", "s2")})},
        {"vms/v1/snapshots", ListXml("snapshots", {SnapshotXml("a", "active", "ok"),
                                                   SnapshotXml("b", "regular", "ok")})},
        {"vms/v2/snapshots", ListXml("snapshots", {})},
        {"vms/v3/snapshots", ListXml("snapshots", {})},
        {"vms/v3/diskattachments", ListXml("disk_attachments", {})},
        {"storagedomains", ListXml("storage_domains", {s1, s2})},
        {"storagedomains/s1", s1},
        {"storagedomains/s2", s2},
        {"storagedomains/s1/disks", ListXml("disks", {k1, DiskXml("k9", "orphan", "s1")})},
        {"networks", ListXml("networks", {n1, NetworkXml("n2", "backup")})},
        {"vnicprofiles", ListXml("vnic_profiles", {VnicProfileXml("p1", "ovirtmgmt", "n1"),
                                                   VnicProfileXml("p2", "backup", "n2"),
                                                   VnicProfileXml("p3", "mgmt-qos", "n1")})},
        {"tags/t1", TagXml("t1", "backup")},
        {"tags", ListXml("tags", {TagXml("t1", "backup")})},
        {"jobs/j1", "<job id=\"j1\"><status>started</status></job>"},
        {"vms?search=tag=backup", ListXml("vms", {v3})},
        {"hosts?search=tag=backup", ListXml("hosts", {h3})},
    };
    for (const auto& [target, body] : answers) {
      engine->answer("GET", kApi + target, Answer::xml(200, body));
    }
    ASSERT_TRUE(facade.connect(server(), "admin", TestPassword()));
    engine->clearRequests();
  }

  // The targets asked for since the last call, under the API.
  std::vector<std::string> asked() {
    std::vector<std::string> result;
    for (const auto& r : engine->requests()) result.push_back(r.target.substr(kApi.size()));
    engine->clearRequests();
    return result;
  }

  TzHypervale facade;
};

using Targets = std::vector<std::string>;

// With mask 0 a record gets only the names it refers to, each asked once per id while the
// engine knows it; a failed lookup is not kept.
TEST_F(InventoryTest, MaskZeroAsksOnlyForNamesNotCachedOrThatFailed) {
  engine->answer("GET", kApi + "hosts/h1", Answer::engineFault(404, "Not Found", "no host"));
  std::vector<SVMInfoLib> first, vms;
  ASSERT_TRUE(facade.getVMInfoList(first, 0));
  ASSERT_TRUE(facade.getVMInfoList(vms, 0));
  ASSERT_EQ(vms.size(), 3u);
  EXPECT_EQ(vms[0].hostName + "|" + vms[1].hostName + "|" + vms[2].clusterName, "|host3|Cluster1");
  EXPECT_EQ(asked(), (Targets{"vms", "hosts/h1", "clusters/c1", "hosts/h3", "clusters/c2", "vms",
                              "hosts/h1"}));
  std::vector<SHostInfoLib> hosts;
  ASSERT_TRUE(facade.getHostInfoList(hosts, 0));
  EXPECT_EQ(asked(), Targets{"hosts"});  // no details, and the names known
  ASSERT_EQ(hosts.size(), 3u);
  EXPECT_EQ(hosts[1].clusterName + " " + hosts[2].clusterName, "Cluster1 Cluster2");
}

TEST_F(InventoryTest, VmDataCenterFromEitherBitOncePerCall) {
  for (const UINT64 bit : {kBit(0), kBit(6)}) {
    TzHypervale fresh;
    ASSERT_TRUE(fresh.connect(server(), "admin", TestPassword()));
    engine->clearRequests();
    std::vector<SVMInfoLib> vms;
    ASSERT_TRUE(fresh.getVMInfoList(vms, bit));
    ASSERT_EQ(vms.size(), 3u);
    EXPECT_EQ(vms[0].dataCenterId + " " + vms[0].dataCenterName + " " + vms[1].dataCenterName +
                  " " + vms[2].dataCenterName + " " + vms[0].hostName + " " + vms[0].clusterName,
              "d1 DC1 DC2 DC1 host1 Cluster1");
    // The data centers and their clusters once (fixed inner mask: clusters only), then only
    // the host names the cache lacks; cluster names came with the data centers.
    EXPECT_EQ(asked(), (Targets{"vms", "datacenters", "datacenters/d1/clusters",
                                "datacenters/d2/clusters", "hosts/h1", "hosts/h3"}));
  }
}

TEST_F(InventoryTest, VmDisksThroughEitherLinkAndSnapshots) {
  std::vector<SVMInfoLib> vms;
  ASSERT_TRUE(facade.getVMInfoList(vms, kBit(4) | kBit(3))) << logs.all();
  ASSERT_EQ(vms.size(), 3u);
  // API v4: one disk per attachment, with what the attachment says; an unreadable disk keeps
  // only the attachment's facts.
  ASSERT_EQ(vms[0].disks.size(), 2u);
  const SDiskInfoLib& boot = vms[0].disks[0];
  EXPECT_EQ(boot.id + " " + boot.interface + " " + boot.storageDomainName, "k1 virtio_scsi data1");
  EXPECT_TRUE(boot.bootable && boot.active);
  EXPECT_EQ(vms[0].disks[1].id + " " + vms[0].disks[1].interface, " ide");
  EXPECT_EQ(Ids(vms[0].snapshots), "a b ");
  // API v3: the VM's own disk list.
  EXPECT_EQ(Ids(vms[1].disks) + vms[1].disks[0].storageDomainName, "k3 iso");
  EXPECT_TRUE(vms[2].disks.empty());
}

// From 4.2 one request brings every VM's disks and snapshots inline. What an answer leaves
// out (a VM without them, a disk only referred to) is read on its own; an engine that refuses
// to follow, or the configuration, gets one request per object.
TEST_F(InventoryTest, FollowedDetailsAndWhatTheAnswerLeftOut) {
  std::string api = Fixture("v4/api.xml");
  api.replace(api.find("<minor>0</minor>"), 16, "<minor>2</minor>");
  engine->answer("GET", "/ovirt-engine/api", Answer::xml(200, api));
  TzHypervale at42;
  ASSERT_TRUE(at42.connect(server(), "admin", TestPassword()));
  engine->clearRequests();
  std::string k1 = AttachmentXml("k1", "virtio_scsi", true, true);
  const size_t reference = k1.find("<disk ");
  k1.replace(reference, k1.find("/>", reference) + 2 - reference, DiskXml("k1", "boot", "s1"));
  std::string v1 = VmXml("v1", "vm1", "h1", "c1");
  v1.insert(v1.rfind("</vm>"),
            "<disk_attachments>" + k1 + AttachmentXml("k2", "ide", false, false) +
                "</disk_attachments><snapshots>" + SnapshotXml("a", "active", "ok") +
                SnapshotXml("b", "regular", "ok") + "</snapshots>");
  const std::string v3 = VmXml("v3", "vm3", "", "c1",
                               {{"diskattachments", Href("vms", "v3") + "/diskattachments"},
                                {"snapshots", Href("vms", "v3") + "/snapshots"}});
  engine->answer("GET", kApi + "vms?follow=disk_attachments.disk,snapshots",
                 Answer::xml(200, ListXml("vms", {v1, v3})));
  std::vector<SVMInfoLib> vms;
  ASSERT_TRUE(at42.getVMInfoList(vms, kBit(4) | kBit(3))) << logs.all();
  EXPECT_EQ(asked(), (Targets{"vms?follow=disk_attachments.disk,snapshots", "hosts/h1",
                              "clusters/c1", "disks/k2", "storagedomains/s1",
                              "vms/v3/diskattachments", "vms/v3/snapshots"}));
  ASSERT_EQ(vms.size(), 2u);
  ASSERT_EQ(vms[0].disks.size(), 2u);
  const SDiskInfoLib& boot = vms[0].disks[0];
  EXPECT_EQ(boot.id + " " + boot.name + " " + boot.interface + " " + boot.storageDomainName,
            "k1 boot virtio_scsi data1");
  EXPECT_TRUE(boot.bootable && boot.active);
  EXPECT_EQ(vms[0].disks[1].id + " " + vms[0].disks[1].interface, " ide");
  EXPECT_EQ(Ids(vms[0].snapshots), "a b ");
  EXPECT_TRUE(vms[1].disks.empty() && vms[1].snapshots.empty());

  engine->answer("GET", kApi + "vms?follow=snapshots",
                 Answer::engineFault(400, "Bad Request", "[cannot follow]"));
  vms.clear();
  ASSERT_TRUE(at42.getVMInfoList(vms, kBit(3))) << logs.all();
  const Targets refused = asked();
  ASSERT_GE(refused.size(), 3u);
  EXPECT_EQ(Targets(refused.begin(), refused.begin() + 3),
            (Targets{"vms?follow=snapshots", "vms", "vms/v1/snapshots"}));
  EXPECT_TRUE(logs.containsError("Warning: the engine refused to follow [snapshots]"));
  EXPECT_EQ(vms.size(), 3u);
  // An answer that does not read is no refusal, whatever the request before was answered.
  engine->answer("GET", kApi + "vms/v1?follow=snapshots", Answer::xml(200, "<html>busy</html>"));
  SVMInfoLib one;
  EXPECT_FALSE(at42.getVMInfo("", "v1", one, kBit(3)));
  EXPECT_EQ(asked(), Targets{"vms/v1?follow=snapshots"});

  config.set("nRhevFollowLinks", "0");
  engine->answer("GET", kApi + "vms/v1",
                 Answer::xml(200, VmXml("v1", "vm1", "h1", "c1",
                                        {{"snapshots", Href("vms", "v1") + "/snapshots"}})));
  one = SVMInfoLib();
  ASSERT_TRUE(at42.getVMInfo("", "v1", one, kBit(3))) << logs.all();
  EXPECT_EQ(asked(), (Targets{"vms/v1", "vms/v1/snapshots"}));
}

TEST_F(InventoryTest, HostDataCenterProfilesAndVms) {
  std::vector<SHostInfoLib> hosts;
  ASSERT_TRUE(facade.getHostInfoList(hosts, kBit(25) | kBit(29)));
  ASSERT_EQ(hosts.size(), 3u);
  EXPECT_EQ(hosts[0].dataCenterId + " " + Ids(hosts[0].storageDomains) + hosts[2].dataCenterName,
            "d1 s1 DC2");
  EXPECT_EQ(Ids(hosts[0].vms) + "|" + Ids(hosts[1].vms) + "|" + Ids(hosts[2].vms), "v1 ||v2 ");
  // The expensive lists once per call, not per host.
  EXPECT_EQ(engine->requestCount("GET", kApi + "vms"), 1u);
  EXPECT_EQ(engine->requestCount("GET", kApi + "datacenters"), 1u);

  // vNIC profiles: the data center's networks when known, otherwise every network.
  SHostInfoLib host1;
  ASSERT_TRUE(facade.getHostInfo("", "h1", host1, kBit(25) | kBit(26)));
  EXPECT_EQ(Ids(host1.vnicProfiles), "p1 p3 ");
  SHostInfoLib host3;
  ASSERT_TRUE(facade.getHostInfo("", "h3", host3, kBit(26)));
  EXPECT_EQ(host3.dataCenterId + Ids(host3.vnicProfiles), "p1 p2 p3 ");
}

TEST_F(InventoryTest, StorageDomainUsersAreFoundThroughSharedDisks) {
  std::vector<SStorageDomainInfoLib> domains;
  ASSERT_TRUE(facade.getStorageDomainInfoList(domains, kBit(34)));
  ASSERT_EQ(domains.size(), 2u);
  EXPECT_EQ(Ids(domains[0].disks) + "| " + Ids(domains[0].vms), "k1 k9 | v1 ");
  EXPECT_EQ(domains[0].vms[0].disks.size(), 2u);  // the VMs came with their disks (mask 0x10)
  EXPECT_TRUE(domains[1].disks.empty() && domains[1].vms.empty());  // no "disks" link
  EXPECT_EQ(engine->requestCount("GET", kApi + "vms"), 1u);
  EXPECT_EQ(engine->requestCount("GET", kApi + "vms/v1/snapshots"), 0u);
}

TEST_F(InventoryTest, DataCenterAndClusterMembersNestWithTheCallersMask) {
  SDataCenterInfoLib dc;
  ASSERT_TRUE(facade.getDataCenterInfo("", "d1", dc, kBit(48) | kBit(49) | kBit(53)));
  EXPECT_EQ(Ids(dc.storageDomains) + Ids(dc.clusters), "s1 c1 ");
  // Bit 53 reached the clusters of the data center: their hosts were fetched and filled.
  ASSERT_EQ(dc.clusters.size(), 1u);
  EXPECT_EQ(Ids(dc.clusters[0].hosts) + dc.clusters[0].hosts[0].clusterName, "h1 h2 Cluster1");
  EXPECT_TRUE(dc.clusters[0].vms.empty());

  SClusterInfoLib cluster;
  ASSERT_TRUE(facade.getClusterInfo("", "c1", cluster, kBit(52)));
  EXPECT_EQ(Ids(cluster.vms), "v1 v3 ");
  EXPECT_TRUE(cluster.hosts.empty());
}

TEST_F(InventoryTest, TaggedVmsDirectlyAndThroughTheirHostsTagsAndJobsWhereTagsExist) {
  std::vector<SVMInfoLib> vms;
  ASSERT_TRUE(facade.getVMInfoListForTag("", "t1", vms, 0));
  EXPECT_EQ(Ids(vms), "v3 v2 ");
  EXPECT_FALSE(facade.getVMInfoListForTag("", "unknown", vms, 0));

  // The VM search failing does not fail the call when the host search works.
  engine->answer("GET", kApi + "vms?search=tag=backup", Answer::xml(500, "<fault/>"));
  std::vector<SVMInfoLib> throughHosts;
  ASSERT_TRUE(facade.getVMInfoListForTag("backup", "", throughHosts, 0));
  EXPECT_EQ(Ids(throughHosts), "v2 ");

  std::vector<STagInfoLib> tags;
  SJobInfoLib job;
  ASSERT_TRUE(facade.getTagInfoList(tags) && facade.getJobInfo("j1", job, 0));
  EXPECT_EQ(Ids(tags) + job.id + " " + job.status, "t1 j1 started");
  EXPECT_TRUE(facade.checkTagsSupported());
  serveApiRoot("v3/api-ovirt-3.6.xml");
  TzHypervale v3;
  ASSERT_TRUE(v3.connect(server(), "admin", TestPassword()));
  EXPECT_FALSE(v3.checkTagsSupported());
}

}  // namespace
}  // namespace Hypervale
