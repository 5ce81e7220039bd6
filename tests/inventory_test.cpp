// The facade's inventory: which requests each detail bit sends, and what lands in the records.
#include <gtest/gtest.h>

#include "hypervale/hypervale.h"
#include "support/engine_fixture.h"
#include "support/inventory_xml.h"

namespace Hypervale {
namespace {

using hvtest::Answer;
using hvtest::Href;
using hvtest::ListXml;
using namespace hvtest;  // the XML builders

constexpr UINT64 kBit(int n) { return UINT64{1} << n; }

class InventoryTest : public hvtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    serveApiRoot("v4/api.xml");
    serveInventory();
    ASSERT_TRUE(facade.connect(server(), "admin", hvtest::TestPassword()));
    engine->clearRequests();
  }

  void serve(const std::string& target, const std::string& body) {
    engine->answer("GET", target, Answer::xml(200, body));
  }

  // Two data centers, each with one cluster; three hosts; three VMs (one down); two storage
  // domains; networks and vNIC profiles; one tag.
  void serveInventory() {
    const std::string d1 = DataCenterXml("d1", "DC1"), d2 = DataCenterXml("d2", "DC2");
    const std::string c1 = ClusterXml("c1", "Cluster1", "d1"),
                      c2 = ClusterXml("c2", "Cluster2", "d2");
    const std::string h1 = HostXml("h1", "host1", "c1"), h2 = HostXml("h2", "host2", "c1"),
                      h3 = HostXml("h3", "host3", "c2");
    const std::string v1 = VmXml("v1", "vm1", "h1", "c1",
                                 {{"diskattachments", Href("vms", "v1") + "/diskattachments"},
                                  {"snapshots", Href("vms", "v1") + "/snapshots"}});
    const std::string v2 = VmXml(
        "v2", "vm2", "h3", "c2",
        {{"disks", Href("vms", "v2") + "/disks"}, {"snapshots", Href("vms", "v2") + "/snapshots"}});
    const std::string v3 = VmXml("v3", "vm3", "", "c1",
                                 {{"diskattachments", Href("vms", "v3") + "/diskattachments"},
                                  {"snapshots", Href("vms", "v3") + "/snapshots"}});
    const std::string s1 = StorageDomainXml(
        "s1", "data1", {{"disks", Href("storagedomains", "s1") + "/disks"}}, "active");
    const std::string s2 = StorageDomainXml("s2", "iso", {}, "active");

    serve("/ovirt-engine/api/datacenters", ListXml("data_centers", {d1, d2}));
    serve(Href("datacenters", "d1"), d1);
    serve(Href("datacenters", "d1") + "/clusters", ListXml("clusters", {c1}));
    serve(Href("datacenters", "d2") + "/clusters", ListXml("clusters", {c2}));
    serve(Href("datacenters", "d1") + "/storagedomains", ListXml("storage_domains", {s1}));
    serve(Href("datacenters", "d2") + "/storagedomains", ListXml("storage_domains", {s2}));
    serve(Href("datacenters", "d1") + "/networks",
          ListXml("networks", {NetworkXml("n1", "ovirtmgmt")}));
    serve("/ovirt-engine/api/clusters", ListXml("clusters", {c1, c2}));
    serve(Href("clusters", "c1"), c1);
    serve(Href("clusters", "c2"), c2);
    serve("/ovirt-engine/api/hosts", ListXml("hosts", {h1, h2, h3}));
    serve("/ovirt-engine/api/hosts?search=cluster=Cluster1", ListXml("hosts", {h1, h2}));
    serve(Href("hosts", "h1"), h1);
    serve(Href("hosts", "h3"), h3);
    serve("/ovirt-engine/api/vms", ListXml("vms", {v1, v2, v3}));
    serve("/ovirt-engine/api/vms?search=cluster=Cluster1", ListXml("vms", {v1, v3}));
    serve(Href("vms", "v1"), v1);
    serve(Href("vms", "v1") + "/diskattachments",
          ListXml("disk_attachments", {AttachmentXml("k1", "virtio_scsi", true, true),
                                       AttachmentXml("k2", "ide", false, false)}));
    serve(Href("disks", "k1"), DiskXml("k1", "boot", "s1"));
    engine->answer("GET", Href("disks", "k2"), Answer::engineFault(404, "Not Found", "gone"));
    serve(Href("vms", "v2") + "/disks", ListXml("disks", {DiskXml("k3", "data", "s2")}));
    serve(Href("vms", "v1") + "/snapshots",
          ListXml("snapshots",
                  {SnapshotXml("a", "active", "ok"), SnapshotXml("b", "regular", "ok")}));
    serve(Href("vms", "v2") + "/snapshots", ListXml("snapshots", {}));
    serve(Href("vms", "v3") + "/snapshots", ListXml("snapshots", {}));
    serve(Href("vms", "v3") + "/diskattachments", ListXml("disk_attachments", {}));
    serve("/ovirt-engine/api/storagedomains", ListXml("storage_domains", {s1, s2}));
    serve(Href("storagedomains", "s1"), s1);
    serve(Href("storagedomains", "s2"), s2);
    serve(Href("storagedomains", "s1") + "/disks",
          ListXml("disks", {DiskXml("k1", "boot", "s1"), DiskXml("k9", "orphan", "s1")}));
    serve("/ovirt-engine/api/networks",
          ListXml("networks", {NetworkXml("n1", "ovirtmgmt"), NetworkXml("n2", "backup")}));
    serve("/ovirt-engine/api/vnicprofiles",
          ListXml("vnic_profiles",
                  {VnicProfileXml("p1", "ovirtmgmt", "n1"), VnicProfileXml("p2", "backup", "n2"),
                   VnicProfileXml("p3", "mgmt-qos", "n1")}));
    serve(Href("tags", "t1"), TagXml("t1", "backup"));
    serve("/ovirt-engine/api/vms?search=tag=backup", ListXml("vms", {v3}));
    serve("/ovirt-engine/api/hosts?search=tag=backup", ListXml("hosts", {h3}));
  }

  std::vector<std::string> paths() const {
    std::vector<std::string> result;
    for (const auto& r : engine->requests()) result.push_back(r.target);
    return result;
  }

  template <typename Record>
  static std::vector<std::string> Ids(const std::vector<Record>& list) {
    std::vector<std::string> ids;
    for (const auto& r : list) ids.push_back(r.id);
    return ids;
  }

  TzHypervale facade;
};

TEST_F(InventoryTest, MaskZeroOnHostsAsksOnlyForUncachedClusterNames) {
  std::vector<SHostInfoLib> hosts;
  ASSERT_TRUE(facade.getHostInfoList(hosts, 0));
  EXPECT_EQ(paths(), (std::vector<std::string>{"/ovirt-engine/api/hosts", Href("clusters", "c1"),
                                               Href("clusters", "c2")}));
  ASSERT_EQ(hosts.size(), 3u);
  EXPECT_EQ(hosts[1].clusterName, "Cluster1");
  EXPECT_EQ(hosts[2].clusterName, "Cluster2");
  for (const auto& host : hosts) {
    EXPECT_TRUE(host.vms.empty() && host.storageDomains.empty() && host.vnicProfiles.empty());
    EXPECT_TRUE(host.dataCenterId.empty() && host.dataCenterName.empty());
  }
  engine->clearRequests();
  std::vector<SHostInfoLib> again;
  ASSERT_TRUE(facade.getHostInfoList(again, 0));
  EXPECT_EQ(paths(), std::vector<std::string>{"/ovirt-engine/api/hosts"});  // names cached
}

TEST_F(InventoryTest, VmDataCenterFromEitherBitOncePerCall) {
  for (const UINT64 bit : {kBit(0), kBit(6)}) {
    TzHypervale fresh;
    ASSERT_TRUE(fresh.connect(server(), "admin", hvtest::TestPassword()));
    engine->clearRequests();
    std::vector<SVMInfoLib> vms;
    ASSERT_TRUE(fresh.getVMInfoList(vms, bit));
    ASSERT_EQ(vms.size(), 3u);
    EXPECT_EQ(vms[0].dataCenterId, "d1");
    EXPECT_EQ(vms[0].dataCenterName, "DC1");
    EXPECT_EQ(vms[1].dataCenterName, "DC2");
    EXPECT_EQ(vms[2].dataCenterName, "DC1");
    EXPECT_EQ(vms[0].hostName, "host1");
    EXPECT_EQ(vms[0].clusterName, "Cluster1");
    // The data centers and their clusters once (fixed inner mask: clusters only), then only
    // the host names the cache lacks; cluster names came with the data centers.
    EXPECT_EQ(paths(),
              (std::vector<std::string>{"/ovirt-engine/api/vms", "/ovirt-engine/api/datacenters",
                                        Href("datacenters", "d1") + "/clusters",
                                        Href("datacenters", "d2") + "/clusters",
                                        Href("hosts", "h1"), Href("hosts", "h3")}));
  }
}

TEST_F(InventoryTest, VmDisksThroughEitherLinkAndSnapshots) {
  std::vector<SVMInfoLib> vms;
  ASSERT_TRUE(facade.getVMInfoList(vms, kBit(4) | kBit(3))) << logs.all();
  ASSERT_EQ(vms.size(), 3u);
  // API v4: one disk per attachment, with what the attachment says.
  ASSERT_EQ(vms[0].disks.size(), 2u);
  EXPECT_EQ(vms[0].disks[0].id, "k1");
  EXPECT_EQ(vms[0].disks[0].interface, "virtio_scsi");
  EXPECT_TRUE(vms[0].disks[0].bootable);
  EXPECT_TRUE(vms[0].disks[0].active);
  EXPECT_EQ(vms[0].disks[0].storageDomainName, "data1");
  EXPECT_EQ(vms[0].disks[1].id, "");  // unreadable disk: only the attachment's facts
  EXPECT_EQ(vms[0].disks[1].interface, "ide");
  EXPECT_EQ(Ids(vms[0].snapshots), (std::vector<std::string>{"a", "b"}));
  // API v3: the VM's own disk list.
  EXPECT_EQ(Ids(vms[1].disks), std::vector<std::string>{"k3"});
  EXPECT_EQ(vms[1].disks[0].storageDomainName, "iso");
  EXPECT_FALSE(engine->requestCount("GET", Href("vms", "v2") + "/diskattachments"));
  EXPECT_TRUE(vms[2].disks.empty());
}

TEST_F(InventoryTest, HostDataCenterProfilesAndVms) {
  std::vector<SHostInfoLib> hosts;
  ASSERT_TRUE(facade.getHostInfoList(hosts, kBit(25) | kBit(29)));
  ASSERT_EQ(hosts.size(), 3u);
  EXPECT_EQ(hosts[0].dataCenterId, "d1");
  EXPECT_EQ(Ids(hosts[0].storageDomains), std::vector<std::string>{"s1"});
  EXPECT_EQ(hosts[2].dataCenterName, "DC2");
  EXPECT_EQ(Ids(hosts[0].vms), std::vector<std::string>{"v1"});
  EXPECT_TRUE(hosts[1].vms.empty());
  EXPECT_EQ(Ids(hosts[2].vms), std::vector<std::string>{"v2"});
  // The expensive lists once per call, not per host.
  EXPECT_EQ(count("GET", "/ovirt-engine/api/vms"), 1u);
  EXPECT_EQ(count("GET", "/ovirt-engine/api/datacenters"), 1u);

  // vNIC profiles: the data center's networks when known, otherwise every network.
  SHostInfoLib host1;
  ASSERT_TRUE(facade.getHostInfo("", "h1", host1, kBit(25) | kBit(26)));
  EXPECT_EQ(Ids(host1.vnicProfiles), (std::vector<std::string>{"p1", "p3"}));
  SHostInfoLib host3;
  ASSERT_TRUE(facade.getHostInfo("", "h3", host3, kBit(26)));
  EXPECT_TRUE(host3.dataCenterId.empty());
  EXPECT_EQ(Ids(host3.vnicProfiles), (std::vector<std::string>{"p1", "p2", "p3"}));
}

TEST_F(InventoryTest, StorageDomainUsersAreFoundThroughSharedDisks) {
  std::vector<SStorageDomainInfoLib> domains;
  ASSERT_TRUE(facade.getStorageDomainInfoList(domains, kBit(34)));
  ASSERT_EQ(domains.size(), 2u);
  EXPECT_EQ(Ids(domains[0].disks), (std::vector<std::string>{"k1", "k9"}));
  EXPECT_EQ(Ids(domains[0].vms), std::vector<std::string>{"v1"});
  EXPECT_EQ(domains[0].vms[0].disks.size(), 2u);  // the VMs came with their disks (mask 0x10)
  EXPECT_TRUE(domains[1].disks.empty());          // no "disks" link: nothing to fetch
  EXPECT_TRUE(domains[1].vms.empty());
  EXPECT_EQ(count("GET", "/ovirt-engine/api/vms"), 1u);
  EXPECT_EQ(count("GET", Href("vms", "v1") + "/snapshots"), 0u);

  // The single form with bit 34 clear touches nothing, not even the cache.
  SStorageDomainInfoLib untouched;
  untouched.id = "sX";
  engine->clearRequests();
  ASSERT_TRUE(facade.FillStorageDomainInfoDetails(untouched, 0));
  EXPECT_TRUE(engine->requests().empty());
}

TEST_F(InventoryTest, DataCenterAndClusterMembersNestWithTheCallersMask) {
  SDataCenterInfoLib dc;
  ASSERT_TRUE(facade.getDataCenterInfo("", "d1", dc, kBit(48) | kBit(49) | kBit(53)));
  EXPECT_EQ(Ids(dc.storageDomains), std::vector<std::string>{"s1"});
  ASSERT_EQ(Ids(dc.clusters), std::vector<std::string>{"c1"});
  // Bit 53 reached the clusters of the data center: their hosts were fetched and filled.
  EXPECT_EQ(Ids(dc.clusters[0].hosts), (std::vector<std::string>{"h1", "h2"}));
  EXPECT_EQ(dc.clusters[0].hosts[0].clusterName, "Cluster1");
  EXPECT_TRUE(dc.clusters[0].vms.empty());

  SClusterInfoLib cluster;
  ASSERT_TRUE(facade.getClusterInfo("", "c1", cluster, kBit(52)));
  EXPECT_EQ(Ids(cluster.vms), (std::vector<std::string>{"v1", "v3"}));
  EXPECT_TRUE(cluster.hosts.empty());
}

TEST_F(InventoryTest, TaggedVmsDirectlyAndThroughTheirHosts) {
  std::vector<SVMInfoLib> vms;
  ASSERT_TRUE(facade.getVMInfoListForTag("", "t1", vms, 0));
  EXPECT_EQ(Ids(vms), (std::vector<std::string>{"v3", "v2"}));
  EXPECT_EQ(count("GET", Href("tags", "t1")), 1u);

  std::vector<SVMInfoLib> none;
  EXPECT_FALSE(facade.getVMInfoListForTag("", "unknown", none, 0));

  // The VM search failing does not fail the call when the host search works.
  engine->answer("GET", "/ovirt-engine/api/vms?search=tag=backup", Answer::xml(500, "<fault/>"));
  std::vector<SVMInfoLib> throughHosts;
  ASSERT_TRUE(facade.getVMInfoListForTag("backup", "", throughHosts, 0));
  EXPECT_EQ(Ids(throughHosts), std::vector<std::string>{"v2"});
}

TEST_F(InventoryTest, TagSupportFollowsTheEngineGeneration) {
  EXPECT_TRUE(facade.checkTagsSupported());
  serveApiRoot("v3/api-ovirt-3.6.xml");
  TzHypervale v3;
  ASSERT_TRUE(v3.connect(server(), "admin", hvtest::TestPassword()));
  EXPECT_FALSE(v3.checkTagsSupported());
}

TEST_F(InventoryTest, NameCacheAsksOncePerIdAndKeepsNoFailures) {
  std::vector<SVMInfoLib> first, second;
  engine->answer("GET", Href("hosts", "h1"), Answer::engineFault(404, "Not Found", "no host"));
  ASSERT_TRUE(facade.getVMInfoList(first, 0));
  ASSERT_TRUE(facade.getVMInfoList(second, 0));
  EXPECT_EQ(second[0].hostName, "");
  EXPECT_EQ(second[1].hostName, "host3");
  EXPECT_EQ(count("GET", Href("hosts", "h1")), 2u);  // failed lookups are asked again
  EXPECT_EQ(count("GET", Href("hosts", "h3")), 1u);
  EXPECT_EQ(count("GET", Href("clusters", "c1")), 1u);
}

TEST_F(InventoryTest, SnapshotAndJobGetters) {
  SSnapshotInfoLib snapshot;
  snapshot.id = "missing";
  EXPECT_FALSE(facade.getSnapshotInfo("v1", snapshot, 0));
  EXPECT_TRUE(logs.containsError("Failed to obtain snapshot info for VM Id [v1]"));
  engine->answer("GET", Href("vms", "v1") + "/snapshots/b",
                 Answer::xml(200, SnapshotXml("b", "regular", "locked")));
  snapshot.id = "b";
  ASSERT_TRUE(facade.getSnapshotInfo("v1", snapshot, 0));
  EXPECT_EQ(snapshot.snapshotStatus, "locked");
}

}  // namespace
}  // namespace Hypervale

#include "facade/rhevNameCache.h"

namespace Hypervale {
namespace {

TEST(NameCacheTest, OverridesAreLoggedAndListsStoreSilently) {
  hvtest::LogCapture logs;
  TzRhevNameCache cache(nullptr);  // every lookup below is answered from the cache
  cache.CacheName("id1", "old");
  cache.CacheName("id1", "old");
  cache.CacheName("id1", "new");
  EXPECT_EQ(cache.GetClusterName("id1"), "new");
  EXPECT_TRUE(logs.contains("Overriding map entry key [id1] old value[old] new value[old]"));
  EXPECT_TRUE(logs.contains("Overriding map entry key [id1] old value[old] new value[new]"));

  logs.clear();
  std::vector<SHostInfoLib> hosts(2);
  hosts[0].id = "id1";
  hosts[0].name = "host name";
  hosts[1].id = "id2";
  hosts[1].name = "second";
  cache.CacheHostNames(hosts);
  cache.CacheStorageDomainNames({});
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_EQ(cache.GetHostName("id1"), "host name");
  EXPECT_EQ(cache.GetStorageDomainName("id2"), "second");  // one map for every kind
  EXPECT_TRUE(logs.lines().empty());
}

}  // namespace
}  // namespace Hypervale
