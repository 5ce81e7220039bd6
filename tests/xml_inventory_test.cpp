// Data centers, clusters, hosts, tags, networks, vNIC profiles and NICs; the entry points of
// every record family; and the helpers the other record tests of this executable share.
#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "host/xmlDocument.h"
#include "host/xmlText.h"
#include "support/record_test_support.h"
#include "support/test_support.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace recordtest {

TzRhevParser ParserAt(unsigned major, unsigned minor, unsigned build) {
  TzRhevParser parser;
  SAPIInfoLib api;
  EXPECT_TRUE(parser.DetectVersion("<api><product_info><version major=\"" + std::to_string(major) +
                                       "\" minor=\"" + std::to_string(minor) + "\" build=\"" +
                                       std::to_string(build) + "\"/></product_info></api>",
                                   api));
  return parser;
}

std::string RootOf(const std::string& body) {
  EXPECT_EQ(body.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"", 0), 0u) << body;
  const size_t root = body.find('<', body.find("?>"));
  return root == std::string::npos ? body : body.substr(root);
}

std::string Join(std::initializer_list<std::string> fields) {
  std::string text;
  for (const std::string& field : fields) text += "|" + field;
  return text.substr(1);
}

namespace {

// Every element as its path ("vm/cluster/name"), a leaf's trimmed text as "path=text" and
// every attribute as "path/@name=value".
void CollectShape(const xercesc::DOMNode* element, const std::string& path,
                  std::set<std::string>& shape) {
  shape.insert(path);
  xercesc::DOMNamedNodeMap* attributes = element->getAttributes();
  for (XMLSize_t i = 0; attributes && i < attributes->getLength(); ++i) {
    shape.insert(path + "/@" + xml::ToUtf8(attributes->item(i)->getNodeName()) + "=" +
                 xml::ToUtf8(attributes->item(i)->getNodeValue()));
  }
  bool hasElements = false;
  for (const xercesc::DOMNode* child = element->getFirstChild(); child;
       child = child->getNextSibling()) {
    if (child->getNodeType() != xercesc::DOMNode::ELEMENT_NODE) continue;
    hasElements = true;
    CollectShape(child, path + "/" + xml::ToUtf8(child->getNodeName()), shape);
  }
  const std::string text = xml::ToUtf8(element->getTextContent());
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (hasElements || first == std::string::npos) return;
  shape.insert(path + "=" + text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

}  // namespace

std::set<std::string> ShapeOf(const std::string& body) {
  xml::ParsedXml document;
  std::set<std::string> shape;
  EXPECT_TRUE(document.parse(body, "shape")) << body;
  if (document.root()) {
    CollectShape(document.root(), xml::ToUtf8(document.root()->getNodeName()), shape);
  }
  return shape;
}

void ExpectSendsShapeOf(const std::string& request, const std::string& sent,
                        const std::vector<std::string>& notSent) {
  const std::set<std::string> ours = ShapeOf(sent);
  for (const std::string& entry : ShapeOf(request)) {
    bool skipped = false;
    for (const std::string& prefix : notSent) skipped |= entry.rfind(prefix, 0) == 0;
    if (skipped) continue;
    EXPECT_EQ(ours.count(entry), 1u) << entry << " missing from " << sent;
  }
}

}  // namespace recordtest

namespace {

using hvtest::Fixture;
using recordtest::Join;
using recordtest::RootOf;
using std::to_string;

template <typename T>
void ExpectListEntry(bool (TzRhevParser::*parse)(const std::string&, std::vector<T>&),
                     const char* fixture, size_t count, const std::string& list,
                     const std::string& item) {
  SCOPED_TRACE(fixture);
  TzRhevParser parser;
  std::vector<T> records(1);
  records[0].id = "kept";
  ASSERT_TRUE((parser.*parse)(Fixture(fixture), records));
  ASSERT_EQ(records.size(), 1 + count);
  EXPECT_EQ(records[0].id, "kept");
  EXPECT_FALSE(records[1].id.empty());

  hvtest::LogCapture capture;
  EXPECT_FALSE((parser.*parse)("<" + item + "/>", records));
  EXPECT_EQ(records.size(), 1 + count);
  EXPECT_EQ(capture.errors(),
            std::vector<std::string>{"List name is [" + item + "], expected [" + list + "]"});
}

template <typename T>
void ExpectObjectEntry(bool (TzRhevParser::*parse)(const std::string&, T&), const std::string& item,
                       const std::string& list) {
  TzRhevParser parser;
  T record;
  record.id = "kept";
  hvtest::LogCapture capture;
  EXPECT_FALSE((parser.*parse)("<" + list + "><" + item + " id=\"x\"/></" + list + ">", record));
  EXPECT_EQ(record.id, "kept");
  EXPECT_EQ(capture.errors(),
            std::vector<std::string>{"Object name is [" + list + "], expected [" + item + "]"});
}

TEST(RecordEntryPointsTest, ListsAppendAndRootNamesAreChecked) {
  using P = TzRhevParser;
  ExpectListEntry(&P::parseDataCenterInfoList, "v3/data_centers.xml", 2, "data_centers",
                  "data_center");
  ExpectListEntry(&P::parseClusterInfoList, "v4/clusters.xml", 3, "clusters", "cluster");
  ExpectListEntry(&P::parseHostInfoList, "v3/hosts.xml", 2, "hosts", "host");
  ExpectListEntry(&P::parseTagInfoList, "v4/tags.xml", 3, "tags", "tag");
  ExpectListEntry(&P::parseNetworkInfoList, "v3/networks.xml", 6, "networks", "network");
  ExpectListEntry(&P::parseVnicProfileInfoList, "v4/vnic_profiles.xml", 2, "vnic_profiles",
                  "vnic_profile");
  ExpectListEntry(&P::parseNicInfoList, "v4/nics.xml", 1, "nics", "nic");
  ExpectListEntry(&P::parseVMInfoList, "v3/vms.xml", 27, "vms", "vm");
  ExpectListEntry(&P::parseStorageDomainInfoList, "v4/data_center_storage_domains.xml", 3,
                  "storage_domains", "storage_domain");
  ExpectListEntry(&P::parseDiskInfoList, "v4/disks.xml", 14, "disks", "disk");
  ExpectListEntry(&P::parseDiskAttachmentInfoList, "v4/disk_attachments.xml", 1, "disk_attachments",
                  "disk_attachment");
  ExpectListEntry(&P::parseSnapshotInfoList, "v3/snapshots.xml", 3, "snapshots", "snapshot");

  ExpectObjectEntry(&P::parseDataCenterInfo, "data_center", "data_centers");
  ExpectObjectEntry(&P::parseClusterInfo, "cluster", "clusters");
  ExpectObjectEntry(&P::parseHostInfo, "host", "hosts");
  ExpectObjectEntry(&P::parseTagInfo, "tag", "tags");
  ExpectObjectEntry(&P::parseNetworkInfo, "network", "networks");
  ExpectObjectEntry(&P::parseVnicProfileInfo, "vnic_profile", "vnic_profiles");
  ExpectObjectEntry(&P::parseNicInfo, "nic", "nics");
  ExpectObjectEntry(&P::parseVMInfo, "vm", "vms");
  ExpectObjectEntry(&P::parseStorageDomainInfo, "storage_domain", "storage_domains");
  ExpectObjectEntry(&P::parseDiskInfo, "disk", "disks");
  ExpectObjectEntry(&P::parseDiskAttachmentInfo, "disk_attachment", "disk_attachments");
  ExpectObjectEntry(&P::parseSnapshotInfo, "snapshot", "snapshots");
}

std::string Summary(const SDataCenterInfoLib& dc) {
  std::string text = Join({dc.id, dc.name, dc.description, dc.status, dc.storageFormat,
                           to_string(dc.version.major) + "." + to_string(dc.version.minor)});
  for (const auto& v : dc.supportedVersions)
    text += "|" + to_string(v.major) + "." + to_string(v.minor);
  return text;
}

TEST(DataCenterReaderTest, RealBodies) {
  TzRhevParser parser;
  std::vector<SDataCenterInfoLib> v3, v4;
  SDataCenterInfoLib single;
  ASSERT_TRUE(parser.parseDataCenterInfoList(Fixture("v3/data_centers.xml"), v3));
  ASSERT_TRUE(parser.parseDataCenterInfoList(Fixture("v4/data_centers.xml"), v4));
  ASSERT_TRUE(parser.parseDataCenterInfo(Fixture("v3/data_center.xml"), single));
  ASSERT_EQ(v3.size(), 2u);
  ASSERT_EQ(v4.size(), 2u);
  EXPECT_EQ(Summary(v3[0]), "45b5a710-eccd-11e1-bc2c-005056a217db|Default|iSCSI|up|v3|3.1|3.1");
  EXPECT_EQ(Summary(v4[1]), "944df9ee-3274-43c4-908f-8c35e59e483b|newd1||up|v5|4.3|4.3");
  EXPECT_EQ(Summary(single),
            "00000001-0001-0001-0001-0000000000f1|Default|The default Data Center|up|v3|3.6|3.6");
  EXPECT_EQ(v4[1].href, "/ovirt-engine/api/datacenters/944df9ee-3274-43c4-908f-8c35e59e483b");
  EXPECT_EQ(single.links.size(), 7u);
  EXPECT_EQ(single.links["clusters"],
            "/api/datacenters/00000001-0001-0001-0001-0000000000f1/clusters");
}

TEST(DataCenterReaderTest, StatusFormsAndSupportedVersionsAppend) {
  TzRhevParser parser;
  SDataCenterInfoLib v3, v4;
  ASSERT_TRUE(parser.parseDataCenterInfo(
      "<data_center><status><state>up</state></status></data_center>", v3));
  ASSERT_TRUE(parser.parseDataCenterInfo(
      "<data_center><status> \tup \t</status><supported_versions><version major=\"4\" "
      "minor=\"1\"/><version><major>4</major><minor>2</minor></version>"
      "<version major=\"4\" minor=\"3\"/></supported_versions></data_center>",
      v4));
  EXPECT_EQ(Summary(v3), "|||up||0.0");
  EXPECT_EQ(Summary(v4), "|||up||0.0|4.1|4.2|4.3");
  // A second reading appends and keeps what the body lacks.
  ASSERT_TRUE(parser.parseDataCenterInfo(
      "<data_center><supported_versions><version major=\"4\" minor=\"4\"/>"
      "</supported_versions></data_center>",
      v4));
  EXPECT_EQ(Summary(v4), "|||up||0.0|4.1|4.2|4.3|4.4");
}

TEST(ClusterReaderTest, DataCenterReference) {
  TzRhevParser parser;
  std::vector<SClusterInfoLib> v3, v4;
  SClusterInfoLib idOnly;
  ASSERT_TRUE(parser.parseClusterInfoList(Fixture("v3/clusters.xml"), v3));
  ASSERT_TRUE(parser.parseClusterInfoList(Fixture("v4/clusters.xml"), v4));
  ASSERT_TRUE(
      parser.parseClusterInfo("<cluster id=\"c1\"><data_center id=\"dc1\"/></cluster>", idOnly));
  auto summary = [](const SClusterInfoLib& c) {
    return Join({c.id, c.name, c.dataCenterId, c.dataCenterHref});
  };
  ASSERT_EQ(v3.size(), 4u);
  ASSERT_EQ(v4.size(), 3u);
  EXPECT_EQ(summary(v3[0]),
            "99408929-82cf-4dc7-a532-9d998063fa95|iSCSI|45b5a710-eccd-11e1-bc2c-005056a217db|"
            "/api/datacenters/45b5a710-eccd-11e1-bc2c-005056a217db");
  EXPECT_EQ(summary(v4[1]),
            "b875154c-5b87-4068-aa3f-f32c4d672193|newc|2812e1c2-fb19-4bf9-ac42-74c069a5e507|"
            "/ovirt-engine/api/datacenters/2812e1c2-fb19-4bf9-ac42-74c069a5e507");
  EXPECT_EQ(summary(v4[0]), "5a55d518-00c7-00ef-015b-000000000055|Default||");
  EXPECT_EQ(summary(idOnly), "c1||dc1|");
}

std::string Summary(const SHostInfoLib& h) {
  return Join({h.id, h.name, h.address, h.status, h.clusterId, h.clusterHref, h.cpuName,
               to_string(h.cpuSockets), to_string(h.cpuCores), to_string(h.cpuThreads),
               to_string(h.cpuSpeed), to_string(h.memory), to_string(h.maxSchedulingMemory),
               to_string(h.summaryTotal), h.osType, h.osVersion, h.manufacturer, h.productName,
               h.clusterName + h.dataCenterName + h.dataCenterId});
}

TEST(HostReaderTest, RealBodies) {
  struct Case {
    const char* fixture;
    size_t index;  // in a list body
    const char* summary;
  };
  const Case cases[] = {
      {"v3/host.xml", 0,
       "49530bd6-31eb-44ab-9e70-6d6c26b0a69a|rhev_3_4_host|1.2.3.4|up|"
       "dfd22951-68b1-4c68-a8ce-2d067a6ba6cf|/api/clusters/dfd22951-68b1-4c68-a8ce-2d067a6ba6cf|"
       "Intel(R) Xeon(R) CPU E3-1220 V2 @ 3.10GHz|1|4|1|3100|33658241024|30678188032|9|RHEL|"
       "6Server - 6.5.0.1.el6|IBM|IBM System X3250 M4 -[2583AC1]-|"},
      // Engine 3.1: no os, no threads, no hardware information.
      {"v3/hosts.xml", 1,
       "6ab50456-d4f9-11e2-931e-005056a217db|rhelh-nfs|192.168.252.233|up|"
       "5be5d08a-a60b-11e2-bee6-005056a217db|/api/clusters/5be5d08a-a60b-11e2-bee6-005056a217db|"
       "Intel(R) Core(TM)2 Quad CPU    Q6600  @ 2.40GHz|1|4|0|2394|8185184256|7848591360|0|||||"},
      // The nested spm/status and the host's own (VDSM) version are not read.
      {"v4/host.xml", 0,
       "9be35c00-6523-4c2f-89d2-680a6b6da4c0|bodh2|bodh2.usersys.redhat.com|up|"
       "b875154c-5b87-4068-aa3f-f32c4d672193|"
       "/ovirt-engine/api/clusters/b875154c-5b87-4068-aa3f-f32c4d672193|"
       "Intel Xeon Processor (Skylake)|8|1|1|2100|16654532608|16249782272|0|RHEL|7.6 - 4.el7|"
       "Red Hat|RHEV Hypervisor|"},
      {"v4/hosts.xml", 0,
       "ce40bb38-f10a-43f3-8e15-d0ffad692a19|bodh1|bodh1.usersys.redhat.com|up|"
       "1c273044-e6ca-492f-9ac2-47381b626808|"
       "/ovirt-engine/api/clusters/1c273044-e6ca-492f-9ac2-47381b626808|"
       "Intel Xeon Processor (Skylake)|2|1|1|2100|3970957312|1246756864|1|RHEL|7.6 - 4.el7|"
       "Red Hat|RHEV Hypervisor|"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    SHostInfoLib host;
    ASSERT_TRUE(recordtest::ReadOneOf(Fixture(c.fixture), "hosts", c.index, host,
                                      &TzRhevParser::parseHostInfo,
                                      &TzRhevParser::parseHostInfoList));
    EXPECT_EQ(Summary(host), c.summary);
  }
}

TEST(HostReaderTest, ApiV3AndV4FormsGiveEqualRecords) {
  TzRhevParser parser;
  SHostInfoLib v3, v4;
  ASSERT_TRUE(parser.parseHostInfo(
      "<host href=\"/api/hosts/h1\" id=\"h1\"><name>h</name><address>10.0.0.1</address>"
      "<status><state>maintenance</state></status><cluster href=\"/api/clusters/c1\" id=\"c1\"/>"
      "<cpu><topology sockets=\"2\" cores=\"6\" threads=\"2\"/><name>Xeon</name>"
      "<speed>2600</speed></cpu><memory>68719476736</memory>"
      "<max_scheduling_memory>60000000000</max_scheduling_memory><summary><active>3</active>"
      "<total>5</total></summary><os type=\"RHEL\"><version full_version=\"7.9 - 1.el7\"/></os>"
      "<hardware_information><manufacturer>Dell</manufacturer><product_name>R640</product_name>"
      "</hardware_information></host>",
      v3));
  ASSERT_TRUE(parser.parseHostInfo(
      "<host href=\"/api/hosts/h1\" id=\"h1\"><name>h</name><address>10.0.0.1</address>"
      "<cpu><name>Xeon</name><speed>2600</speed><topology><cores>6</cores><sockets>2</sockets>"
      "<threads>2</threads></topology></cpu><hardware_information><manufacturer>Dell"
      "</manufacturer><product_name>R640</product_name></hardware_information>"
      "<max_scheduling_memory>60000000000</max_scheduling_memory><memory>68719476736</memory>"
      "<os><type>RHEL</type><version><full_version>7.9 - 1.el7</full_version><major>7</major>"
      "</version></os><status>maintenance</status><summary><total>5</total></summary>"
      "<cluster href=\"/api/clusters/c1\" id=\"c1\"/></host>",
      v4));
  EXPECT_EQ(Summary(v3), Summary(v4));
  EXPECT_EQ(Summary(v4),
            "h1|h|10.0.0.1|maintenance|c1|/api/clusters/c1|Xeon|2|6|2|2600|68719476736|"
            "60000000000|5|RHEL|7.9 - 1.el7|Dell|R640|");
  EXPECT_EQ(v3.href, v4.href);
}

TEST(HostReaderTest, AttributesWinOverElements) {
  TzRhevParser parser;
  SHostInfoLib host;
  ASSERT_TRUE(parser.parseHostInfo(
      "<host><cpu><topology sockets=\"4\" threads=\"2\"><sockets>1</sockets><cores>3</cores>"
      "<threads>1</threads></topology></cpu><os type=\"attr\"><type>element</type></os></host>",
      host));
  EXPECT_EQ(Join({to_string(host.cpuSockets), to_string(host.cpuCores), to_string(host.cpuThreads),
                  host.osType}),
            "4|3|2|attr");
}

TEST(SmallInventoryReaderTest, TagsNetworksProfilesAndNics) {
  TzRhevParser parser;
  std::vector<STagInfoLib> tags;
  STagInfoLib v3Tag;
  ASSERT_TRUE(parser.parseTagInfoList(Fixture("v4/tags.xml"), tags));
  ASSERT_TRUE(parser.parseTagInfo(Fixture("v3/tag-fragment.xml"), v3Tag));
  auto tag = [](const STagInfoLib& t) {
    return Join({t.id, t.name, t.description, t.parentId, t.parentHref});
  };
  ASSERT_EQ(tags.size(), 3u);
  EXPECT_EQ(tag(tags[0]), "222|root2|root2|111|/ovirt-engine/api/tags/111");
  EXPECT_EQ(tag(tags[2]), "111|root|root||");
  // v3 wraps the parent (<parent><tag id href/></parent>); only "parent"'s own attributes
  // are read, so that form yields no parent.
  EXPECT_EQ(tag(v3Tag), "|mytag|||");

  std::vector<SNetworkInfoLib> v3Networks, v4Networks;
  ASSERT_TRUE(parser.parseNetworkInfoList(Fixture("v3/networks.xml"), v3Networks));
  ASSERT_TRUE(parser.parseNetworkInfoList(Fixture("v4/networks.xml"), v4Networks));
  ASSERT_EQ(v3Networks.size(), 6u);
  ASSERT_EQ(v4Networks.size(), 3u);
  const SNetworkInfoLib& net = v3Networks[0];
  EXPECT_EQ(Join({net.id, net.href, net.name, net.description}),
            "00000000-0000-0000-0000-000000000009|/api/networks/"
            "00000000-0000-0000-0000-000000000009|rhevm|Management Network");
  EXPECT_EQ(v4Networks[0].name, "newnet");

  std::vector<SVnicProfileInfoLib> profiles;
  ASSERT_TRUE(parser.parseVnicProfileInfoList(Fixture("v4/vnic_profiles.xml"), profiles));
  ASSERT_EQ(profiles.size(), 2u);
  EXPECT_EQ(Join({profiles[1].id, profiles[1].name, profiles[1].networkId}),
            "4ec7ba24-c6bf-42fc-9975-d6a9bf3f01cf|ovirtmgmt|f46b7c46-6196-4750-a07f-bfeab9f1c275");

  // "linked" sits beside "link" elements and is not mistaken for one.
  auto nic = [](const SNicInfoLib& n) {
    return Join({n.id, n.name, n.interface, n.vnicProfileId, n.linked ? "linked" : "-",
                 n.plugged ? "plugged" : "-", to_string(n.links.size())});
  };
  std::vector<SNicInfoLib> nics;
  ASSERT_TRUE(parser.parseNicInfoList(Fixture("v3/nics.xml"), nics));
  ASSERT_TRUE(parser.parseNicInfoList(Fixture("v4/nics.xml"), nics));
  ASSERT_EQ(nics.size(), 2u);
  EXPECT_EQ(nic(nics[0]),
            "6409858a-e1a1-4049-bef2-22a438442420|nic1|virtio|"
            "0000000a-000a-000a-000a-000000000398|linked|plugged|1");
  EXPECT_EQ(nic(nics[1]),
            "40c3c841-74be-461f-ac6c-25df73c1b40b|nic1|virtio|"
            "4ec7ba24-c6bf-42fc-9975-d6a9bf3f01cf|linked|plugged|3");
}

TEST(InventoryWriterTest, Documents) {
  TzRhevParser parser;
  SNetworkInfoLib network;
  network.name = "ovirtmgmt";
  network.id = network.description = "never-written";
  std::string body;
  ASSERT_TRUE(parser.serializeNetworkInfo(network, body));
  EXPECT_EQ(RootOf(body), "<network><name>ovirtmgmt</name></network>");

  SVnicProfileInfoLib profile;
  profile.name = "blue";
  profile.networkId = "never-written";
  ASSERT_TRUE(parser.serializeVnicProfileInfo(profile, body));
  EXPECT_EQ(RootOf(body), "<vnic_profile><name>blue</name></vnic_profile>");

  SNicInfoLib nic;
  nic.name = "nic1";
  nic.interface = "rtl8139";
  nic.vnicProfileId = "p-1";
  nic.linked = nic.plugged = true;
  nic.id = "never-written";
  ASSERT_TRUE(parser.serializeNicInfo(nic, body));
  EXPECT_EQ(RootOf(body),
            "<nic><name>nic1</name><interface>rtl8139</interface><vnic_profile id=\"p-1\"/></nic>");

  // The engine's own NIC has every element we send, where we send it.
  nic.interface = "virtio";
  nic.vnicProfileId = "4ec7ba24-c6bf-42fc-9975-d6a9bf3f01cf";
  ASSERT_TRUE(parser.serializeNicInfo(nic, body));
  const std::string real = Fixture("v4/nics.xml");
  const size_t start = real.find("<nic "), end = real.find("</nic>") + 6;
  recordtest::ExpectSendsShapeOf(body, real.substr(start, end - start), {});
}

}  // namespace
}  // namespace Hypervale
