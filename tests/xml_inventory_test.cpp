// Data centers, clusters, hosts, tags, networks, vNIC profiles and NICs: real bodies of both API
// versions, the reading rules they do not show, and the NIC body sent to the engine.
#include <gtest/gtest.h>

#include "support/record_test_support.h"

namespace Hypervale {
namespace {

using recordtest::ExpectReads;
using recordtest::Join;
using std::to_string;
using P = TzRhevParser;

std::string DataCenter(const SDataCenterInfoLib& dc) {
  std::string text = Join({dc.id, dc.name, dc.description, dc.status, dc.storageFormat,
                           to_string(dc.version.major) + "." + to_string(dc.version.minor)});
  for (const auto& v : dc.supportedVersions) {
    text += "|" + to_string(v.major) + "." + to_string(v.minor);
  }
  return text;
}

std::string Cluster(const SClusterInfoLib& c) {
  return Join({c.id, c.name, c.dataCenterId, c.dataCenterHref});
}

std::string Host(const SHostInfoLib& h) {
  return Join({h.id, h.name, h.address, h.status, h.clusterId, h.clusterHref, h.cpuName,
               to_string(h.cpuSockets), to_string(h.cpuCores), to_string(h.cpuThreads),
               to_string(h.cpuSpeed), to_string(h.memory), to_string(h.maxSchedulingMemory),
               to_string(h.summaryTotal), h.osType, h.osVersion, h.manufacturer, h.productName,
               h.clusterName + h.dataCenterName + h.dataCenterId});
}

std::string Tag(const STagInfoLib& t) {
  return Join({t.id, t.name, t.description, t.parentId, t.parentHref});
}

std::string Network(const SNetworkInfoLib& n) {
  return Join({n.id, n.href, n.name, n.description});
}

std::string Profile(const SVnicProfileInfoLib& p) { return Join({p.id, p.name, p.networkId}); }

std::string Nic(const SNicInfoLib& n) {
  return Join({n.id, n.name, n.interface, n.vnicProfileId, n.linked ? "linked" : "-",
               n.plugged ? "plugged" : "-", to_string(n.links.size())});
}

TEST(InventoryReaderTest, RealBodiesAndReadingRules) {
  ExpectReads(
      "data_centers", &P::parseDataCenterInfo, &P::parseDataCenterInfoList, DataCenter,
      {
          {"v3/data_centers.xml", 0, "45b5~17db|Default|iSCSI|up|v3|3.1|3.1"},
          {"v4/data_centers.xml", 1, "944d~483b|newd1||up|v5|4.3|4.3"},
          {"<data_center><supported_versions><version major=\"4\" "
           "minor=\"1\"/><version><major>4</major><minor>2</minor></version></supported_versions></"
           "data_center>",
           0, "|||||0.0|4.1|4.2"},
      });
  ExpectReads("clusters", &P::parseClusterInfo, &P::parseClusterInfoList, Cluster,
              {
                  {"v3/clusters.xml", 0, "9940~fa95|iSCSI|45b5~17db|/api/datacenters/45b5~17db"},
                  {"v4/clusters.xml", 1,
                   "b875~2193|newc|2812~e507|/ovirt-engine/api/datacenters/2812~e507"},
              });
  ExpectReads(
      "hosts", &P::parseHostInfo, &P::parseHostInfoList, Host,
      {
          {"v3/host.xml", 0,
           "4953~a69a|rhev_3_4_host|1.2.3.4|up|dfd2~a6cf|/api/clusters/dfd2~a6cf|Intel(R) Xeon(R) "
           "CPU E3-1220 V2 @ 3.10GHz|1|4|1|3100|33658241024|30678188032|9|RHEL|6Server - "
           "6.5.0.1.el6|IBM|IBM System X3250 M4 -[2583AC1]-|"},
          // The nested spm/status and the host's own (VDSM) version are not read.
          {"v4/host.xml", 0,
           "9be3~a4c0|bodh2|bodh2.usersys.redhat.com|up|b875~2193|/ovirt-engine/api/clusters/"
           "b875~2193|Intel Xeon Processor (Skylake)|8|1|1|2100|16654532608|16249782272|0|RHEL|7.6 "
           "- 4.el7|Red Hat|RHEV Hypervisor|"},
          // The v3 attribute wins over the element.
          {"<host><cpu><topology sockets=\"4\" "
           "threads=\"2\"><sockets>1</sockets><cores>3</cores><threads>1</threads></topology></"
           "cpu><os type=\"attr\"><type>element</type></os></host>",
           0, "|||||||4|3|2|0|0|0|0|attr||||"},
      });
  ExpectReads("tags", &P::parseTagInfo, &P::parseTagInfoList, Tag,
              {
                  {"v4/tags.xml", 0, "222|root2|root2|111|/ovirt-engine/api/tags/111"},
                  // v3 wraps the parent (<parent><tag id href/></parent>); only "parent"'s own
                  // attributes are read, so that form yields no parent.
                  {"v3/tag-fragment.xml", 0, "|mytag|||"},
              });
  ExpectReads(
      "networks", &P::parseNetworkInfo, &P::parseNetworkInfoList, Network,
      {{"v3/networks.xml", 0, "0000~0009|/api/networks/0000~0009|rhevm|Management Network"}});
  ExpectReads("vnic_profiles", &P::parseVnicProfileInfo, &P::parseVnicProfileInfoList, Profile,
              {{"v4/vnic_profiles.xml", 1, "4ec7~01cf|ovirtmgmt|f46b~c275"}});
  // "linked" sits beside "link" elements and is not mistaken for one.
  ExpectReads("nics", &P::parseNicInfo, &P::parseNicInfoList, Nic,
              {
                  {"v3/nics.xml", 0, "6409~2420|nic1|virtio|0000~0398|linked|plugged|1"},
                  {"v4/nics.xml", 0, "40c3~b40b|nic1|virtio|4ec7~01cf|linked|plugged|3"},
              });
}

// Every element and attribute the NIC body carries is where the engine's own NIC has it.
TEST(InventoryWriterTest, NicHasTheShapeOfTheEnginesOwn) {
  TzRhevParser parser;
  SNicInfoLib nic;
  nic.name = "nic1";
  nic.interface = "virtio";
  nic.vnicProfileId = "4ec7ba24-c6bf-42fc-9975-d6a9bf3f01cf";
  nic.linked = nic.plugged = true;
  nic.id = "never-written";
  const std::set<std::string> real = recordtest::ShapeOf(hvtest::Fixture("v4/nics.xml"));
  const std::set<std::string> ours =
      recordtest::ShapeOf(recordtest::Written(parser, nic, &P::serializeNicInfo));
  EXPECT_EQ(ours.size(), 7u);  // the name, interface and profile id
  for (const std::string& entry : ours) EXPECT_EQ(real.count("nics/" + entry), 1u) << entry;
}

}  // namespace
}  // namespace Hypervale
