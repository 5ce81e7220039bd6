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

TEST(InventoryReaderTest, DataCentersAndClusters) {
  ExpectReads(
      "data_centers", &P::parseDataCenterInfo, &P::parseDataCenterInfoList, DataCenter,
      {
          {"v3/data_centers.xml", 0,
           "45b5a710-eccd-11e1-bc2c-005056a217db|Default|iSCSI|up|v3|3.1|3.1"},
          {"v4/data_centers.xml", 1, "944df9ee-3274-43c4-908f-8c35e59e483b|newd1||up|v5|4.3|4.3"},
          {"v3/data_center.xml", 0,
           "00000001-0001-0001-0001-0000000000f1|Default|The default Data Center|up|v3|"
           "3.6|3.6"},
          {"<data_center><supported_versions><version major=\"4\" minor=\"1\"/><version>"
           "<major>4</major><minor>2</minor></version></supported_versions></data_center>",
           0, "|||||0.0|4.1|4.2"},
      });
  ExpectReads(
      "clusters", &P::parseClusterInfo, &P::parseClusterInfoList, Cluster,
      {
          {"v3/clusters.xml", 0,
           "99408929-82cf-4dc7-a532-9d998063fa95|iSCSI|45b5a710-eccd-11e1-bc2c-005056a217db|"
           "/api/datacenters/45b5a710-eccd-11e1-bc2c-005056a217db"},
          {"v4/clusters.xml", 1,
           "b875154c-5b87-4068-aa3f-f32c4d672193|newc|2812e1c2-fb19-4bf9-ac42-74c069a5e507|"
           "/ovirt-engine/api/datacenters/2812e1c2-fb19-4bf9-ac42-74c069a5e507"},
      });
}

TEST(InventoryReaderTest, Hosts) {
  ExpectReads(
      "hosts", &P::parseHostInfo, &P::parseHostInfoList, Host,
      {
          {"v3/host.xml", 0,
           "49530bd6-31eb-44ab-9e70-6d6c26b0a69a|rhev_3_4_host|1.2.3.4|up|"
           "dfd22951-68b1-4c68-a8ce-2d067a6ba6cf|/api/clusters/"
           "dfd22951-68b1-4c68-a8ce-2d067a6ba6cf|"
           "Intel(R) Xeon(R) CPU E3-1220 V2 @ 3.10GHz|1|4|1|3100|33658241024|30678188032|9|RHEL|"
           "6Server - 6.5.0.1.el6|IBM|IBM System X3250 M4 -[2583AC1]-|"},
          // Engine 3.1: no os, no threads, no hardware information.
          {"v3/hosts.xml", 1,
           "6ab50456-d4f9-11e2-931e-005056a217db|rhelh-nfs|192.168.252.233|up|"
           "5be5d08a-a60b-11e2-bee6-005056a217db|/api/clusters/"
           "5be5d08a-a60b-11e2-bee6-005056a217db|"
           "Intel(R) Core(TM)2 Quad CPU    Q6600  @ "
           "2.40GHz|1|4|0|2394|8185184256|7848591360|0|||||"},
          // The nested spm/status and the host's own (VDSM) version are not read.
          {"v4/host.xml", 0,
           "9be35c00-6523-4c2f-89d2-680a6b6da4c0|bodh2|bodh2.usersys.redhat.com|up|"
           "b875154c-5b87-4068-aa3f-f32c4d672193|"
           "/ovirt-engine/api/clusters/b875154c-5b87-4068-aa3f-f32c4d672193|"
           "Intel Xeon Processor (Skylake)|8|1|1|2100|16654532608|16249782272|0|RHEL|7.6 - 4.el7|"
           "Red Hat|RHEV Hypervisor|"},
          // The v3 attribute wins over the element.
          {"<host><cpu><topology sockets=\"4\" threads=\"2\"><sockets>1</sockets><cores>3</cores>"
           "<threads>1</threads></topology></cpu><os "
           "type=\"attr\"><type>element</type></os></host>",
           0, "|||||||4|3|2|0|0|0|0|attr||||"},
      });
}

TEST(InventoryReaderTest, TagsNetworksProfilesAndNics) {
  ExpectReads("tags", &P::parseTagInfo, &P::parseTagInfoList, Tag,
              {
                  {"v4/tags.xml", 0, "222|root2|root2|111|/ovirt-engine/api/tags/111"},
                  {"v4/tags.xml", 2, "111|root|root||"},
                  // v3 wraps the parent (<parent><tag id href/></parent>); only "parent"'s own
                  // attributes are read, so that form yields no parent.
                  {"v3/tag-fragment.xml", 0, "|mytag|||"},
              });
  ExpectReads("networks", &P::parseNetworkInfo, &P::parseNetworkInfoList, Network,
              {{"v3/networks.xml", 0,
                "00000000-0000-0000-0000-000000000009|/api/networks/"
                "00000000-0000-0000-0000-000000000009|rhevm|Management Network"}});
  ExpectReads("vnic_profiles", &P::parseVnicProfileInfo, &P::parseVnicProfileInfoList, Profile,
              {{"v4/vnic_profiles.xml", 1,
                "4ec7ba24-c6bf-42fc-9975-d6a9bf3f01cf|ovirtmgmt|"
                "f46b7c46-6196-4750-a07f-bfeab9f1c275"}});
  // "linked" sits beside "link" elements and is not mistaken for one.
  ExpectReads("nics", &P::parseNicInfo, &P::parseNicInfoList, Nic,
              {
                  {"v3/nics.xml", 0,
                   "6409858a-e1a1-4049-bef2-22a438442420|nic1|virtio|"
                   "0000000a-000a-000a-000a-000000000398|linked|plugged|1"},
                  {"v4/nics.xml", 0,
                   "40c3c841-74be-461f-ac6c-25df73c1b40b|nic1|virtio|"
                   "4ec7ba24-c6bf-42fc-9975-d6a9bf3f01cf|linked|plugged|3"},
              });
}

TEST(InventoryWriterTest, NicHasTheShapeOfTheEnginesOwn) {
  TzRhevParser parser;
  SNicInfoLib nic;
  nic.name = "nic1";
  nic.interface = "virtio";
  nic.vnicProfileId = "4ec7ba24-c6bf-42fc-9975-d6a9bf3f01cf";
  nic.linked = nic.plugged = true;
  nic.id = "never-written";
  std::string body;
  ASSERT_TRUE(parser.serializeNicInfo(nic, body));
  EXPECT_EQ(recordtest::RootOf(body),
            "<nic><name>nic1</name><interface>virtio</interface>"
            "<vnic_profile id=\"4ec7ba24-c6bf-42fc-9975-d6a9bf3f01cf\"/></nic>");
  // Every element we send is where the engine's own NIC has it.
  const std::set<std::string> real = recordtest::ShapeOf(hvtest::Fixture("v4/nics.xml"));
  for (const std::string& entry : recordtest::ShapeOf(body)) {
    EXPECT_EQ(real.count("nics/" + entry), 1u) << entry;
  }
}

}  // namespace
}  // namespace Hypervale
