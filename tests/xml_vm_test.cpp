// VM records: real bodies of both API versions, reading rules and the creation body.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "support/record_test_support.h"
#include "support/test_support.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace {

using hvtest::Fixture;
using recordtest::Join;
using recordtest::ParserAt;
using recordtest::RootOf;
using std::to_string;

std::string Summary(const SVMInfoLib& vm) {
  std::string properties;
  for (const auto& p : vm.customProperties) properties += p.name + "=" + p.value + ";";
  return Join({vm.id, vm.name, vm.status, to_string(vm.memory), to_string(vm.sockets),
               vm.architecture, vm.osType, vm.clusterId, vm.clusterHref, vm.hostId, vm.hostHref,
               vm.fqdn, vm.guestOsFullVersion, properties,
               vm.hostName + vm.clusterName + vm.dataCenterName + vm.dataCenterId + vm.ovfData});
}

TEST(VmReaderTest, RealBodies) {
  struct Case {
    const char* fixture;
    size_t index;  // in a list body
    const char* summary;
  };
  const Case cases[] = {
      // v3: status/state, topology and os type as attributes.
      {"v3/vm.xml", 0,
       "4f6dd4c3-5241-494f-8afc-f1c67254bf77|123|down|1073741824|1|X86_64|other|"
       "00000002-0002-0002-0002-0000000001e9|/api/clusters/00000002-0002-0002-0002-0000000001e9|"
       "|||||"},
      // Engine 3.1: the host inside placement_policy is not the VM's host.
      {"v3/vms.xml", 0,
       "8e58fa33-8026-4a01-9802-4ee1850bb9f7|aab_demo_vm|down|1073741824|1||rhel_6x64|"
       "5be5d08a-a60b-11e2-bee6-005056a217db|/api/clusters/5be5d08a-a60b-11e2-bee6-005056a217db|"
       "|||||"},
      {"v3/vms.xml", 14,
       "fe052832-2350-48ce-8e56-c24b4cd91876|EmsRefreshSpec-PoweredOn|up|1073741824|2||rhel_6x64|"
       "99408929-82cf-4dc7-a532-9d998063fa95|/api/clusters/99408929-82cf-4dc7-a532-9d998063fa95|"
       "2f1d11cc-e269-11e2-839c-005056a217db|/api/hosts/2f1d11cc-e269-11e2-839c-005056a217db|||"
       "|"},
      {"v4/vm.xml", 0,
       "a99773ed-28a3-4370-8240-df9e732bc3e1|vm_off|up|1073741824|1|x86_64|other_linux|"
       "1930506d-e424-4a3e-8262-9c5d7bcd5125|"
       "/ovirt-engine/api/clusters/1930506d-e424-4a3e-8262-9c5d7bcd5125|"
       "72877001-6012-4921-bdd2-3ff17043083e|"
       "/ovirt-engine/api/hosts/72877001-6012-4921-bdd2-3ff17043083e|||"
       "viodiskcache=writethrough;|"},
      // The kernel's version inside guest_operating_system is not the guest's version.
      {"v4/vms.xml", 1,
       "a1293e54-dae8-496f-baa4-27719592113e|vm_on|up|2147483648|2|x86_64|other|"
       "1c273044-e6ca-492f-9ac2-47381b626808|"
       "/ovirt-engine/api/clusters/1c273044-e6ca-492f-9ac2-47381b626808|"
       "ce40bb38-f10a-43f3-8e15-d0ffad692a19|"
       "/ovirt-engine/api/hosts/ce40bb38-f10a-43f3-8e15-d0ffad692a19|"
       "dhcp-8-199.lab.eng.tlv2.redhat.com|7||"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    SVMInfoLib vm;
    ASSERT_TRUE(recordtest::ReadOneOf(Fixture(c.fixture), "vms", c.index, vm,
                                      &TzRhevParser::parseVMInfo, &TzRhevParser::parseVMInfoList));
    EXPECT_EQ(Summary(vm), c.summary);
    EXPECT_NE(vm.href.find("/vms/" + vm.id), std::string::npos);
  }

  TzRhevParser parser;
  SVMInfoLib v3;
  ASSERT_TRUE(parser.parseVMInfo(Fixture("v3/vm.xml"), v3));
  // Action links sit inside "actions" and are not the VM's links.
  EXPECT_EQ(v3.links.size(), 14u);
  EXPECT_EQ(v3.links["disks"], "/api/vms/4f6dd4c3-5241-494f-8afc-f1c67254bf77/disks");
}

TEST(VmReaderTest, ApiV3AndV4FormsGiveEqualRecords) {
  TzRhevParser parser;
  SVMInfoLib v3, v4;
  ASSERT_TRUE(parser.parseVMInfo(
      "<vm href=\"/api/vms/v1\" id=\"v1\"><name>web</name><status><state>up</state></status>"
      "<memory>8589934592</memory><cpu><topology sockets=\"4\" cores=\"2\" threads=\"1\"/>"
      "<architecture>X86_64</architecture></cpu><os type=\"rhel_7x64\"><boot dev=\"hd\"/></os>"
      "<host href=\"/api/hosts/h1\" id=\"h1\"/><cluster href=\"/api/clusters/c1\" id=\"c1\"/>"
      "<guest_info><ips><ip address=\"10.0.0.5\"/></ips><fqdn>web.example</fqdn></guest_info>"
      "<custom_properties><custom_property><name>sap_agent</name><value>true</value>"
      "</custom_property></custom_properties></vm>",
      v3));
  ASSERT_TRUE(parser.parseVMInfo(
      "<vm href=\"/api/vms/v1\" id=\"v1\"><name>web</name><cluster href=\"/api/clusters/c1\" "
      "id=\"c1\"/><cpu><architecture>X86_64</architecture><topology><cores>2</cores>"
      "<sockets>4</sockets><threads>1</threads></topology></cpu><custom_properties>"
      "<custom_property><name>sap_agent</name><value>true</value></custom_property>"
      "</custom_properties><fqdn>web.example</fqdn><memory>8589934592</memory><os><boot>"
      "<devices><device>hd</device></devices></boot><type>rhel_7x64</type></os>"
      "<status>up</status><host href=\"/api/hosts/h1\" id=\"h1\"/></vm>",
      v4));
  EXPECT_EQ(Summary(v3), Summary(v4));
  EXPECT_EQ(Summary(v4),
            "v1|web|up|8589934592|4|X86_64|rhel_7x64|c1|/api/clusters/c1|h1|/api/hosts/h1|"
            "web.example||sap_agent=true;|");
}

TEST(VmReaderTest, ReadingRules) {
  struct Case {
    const char* children;
    const char* fqdn;
    const char* osType;
    unsigned sockets;
  };
  const Case cases[] = {
      {"<fqdn>first</fqdn><guest_info><fqdn>second</fqdn></guest_info>", "second", "", 0},
      {"<guest_info><fqdn>first</fqdn></guest_info><fqdn>second</fqdn>", "second", "", 0},
      {"<os type=\"attr\"><type>element</type></os>", "", "attr", 0},
      {"<os><type>element</type></os>", "", "element", 0},
      // Only sockets are read; cores are lost.
      {"<cpu><topology><sockets>2</sockets><cores>4</cores></topology></cpu>", "", "", 2},
      {"<cpu><topology cores=\"4\" sockets=\"3\"/></cpu>", "", "", 3},
      // The v3 attribute wins over the element, as for hosts.
      {"<cpu><topology sockets=\"6\"><sockets>2</sockets></topology></cpu>", "", "", 6},
      // Nested elements of the same names are not the VM's.
      {"<display><type>spice</type></display><placement_policy><host id=\"h\"/>"
       "</placement_policy><memory_policy><memory>1</memory></memory_policy>",
       "", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.children);
    TzRhevParser parser;
    SVMInfoLib vm;
    ASSERT_TRUE(parser.parseVMInfo(std::string("<vm>") + c.children + "</vm>", vm));
    EXPECT_EQ(Join({vm.fqdn, vm.osType, to_string(vm.sockets), vm.hostId, to_string(vm.memory)}),
              Join({c.fqdn, c.osType, to_string(c.sockets), "", "0"}));
  }
}

TEST(VmReaderTest, ReadsIntoWhatTheRecordHolds) {
  TzRhevParser parser;
  SVMInfoLib vm;
  vm.memory = 42;
  vm.id = "kept";
  vm.customProperties.push_back({"old", "1"});
  ASSERT_TRUE(parser.parseVMInfo(
      "<vm><custom_properties><custom_property><name>a</name><value>2</value></custom_property>"
      "<custom_property><name>b</name></custom_property></custom_properties></vm>",
      vm));
  EXPECT_EQ(Summary(vm), "kept|||42|0|||||||||old=1;a=2;b=;|");
}

TEST(VmWriterTest, ThresholdsAndForms) {
  const std::string head =
      "<name>restored</name><template><name>Blank</name></template>"
      "<cluster id=\"c-1\"><name>prod</name></cluster>";
  const std::string sizing =
      "<cpu><topology><cores>4</cores></topology></cpu><memory>17179869184</memory>";
  const std::string ovf =
      "<initialization><configuration><data>&lt;ovf:Envelope/&gt;</data><type>ovf</type>"
      "</configuration>";
  const std::string regenerate = "<regenerate_ids>true</regenerate_ids>";
  struct Case {
    unsigned major, minor, build;
    const char* id;
    bool withOvf;
    std::string children;
  };
  const Case cases[] = {
      {3, 6, 0, "", false, head},
      {4, 0, 0, "", false, head},  // 4.0.0 itself gets no sizing
      {4, 0, 1, "", false, head + sizing},
      {4, 1, 0, "vm-1", false, head + sizing},
      {3, 4, 0, "", true, head + ovf + "</initialization>"},
      {3, 5, 0, "", true, head + ovf + regenerate + "</initialization>"},
      {4, 1, 0, "", true, head + ovf + regenerate + "</initialization>"},
      {4, 1, 0, "vm-1", true, head + ovf + "</initialization>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.children);
    TzRhevParser parser = ParserAt(c.major, c.minor, c.build);
    SVMInfoLib vm;
    vm.id = c.id;
    vm.name = "restored";
    vm.clusterName = "prod";
    vm.clusterId = "c-1";
    vm.sockets = 4;
    vm.memory = 17179869184ULL;
    vm.ovfData = c.withOvf ? "<ovf:Envelope/>" : "";
    vm.description = vm.hostId = vm.status = vm.osType = "never-written";
    vm.customProperties.push_back({"p", "v"});
    std::string body;
    ASSERT_TRUE(parser.serializeVMInfo(vm, body));
    const std::string id = *c.id ? std::string(" id=\"") + c.id + "\"" : "";  // none when new
    EXPECT_EQ(RootOf(body), "<vm" + id + ">" + c.children + "</vm>");
  }
}

TEST(VmWriterTest, HasTheShapeOfRealRequests) {
  TzRhevParser v3 = ParserAt(3, 6, 7);
  SVMInfoLib fromOvf;
  fromOvf.name = "OVERRIDING_NAME";
  fromOvf.clusterName = "cluster_name";
  fromOvf.ovfData = ".....";
  std::string body;
  ASSERT_TRUE(v3.serializeVMInfo(fromOvf, body));
  recordtest::ExpectSendsShapeOf(Fixture("v3/request-add-vm-from-ovf.xml"), body, {});

  // Description and boot devices are not sent.
  TzRhevParser v4 = ParserAt(4, 1, 0);
  SVMInfoLib plain;
  plain.name = "myvm";
  plain.clusterName = "Default";
  plain.memory = 536870912;
  ASSERT_TRUE(v4.serializeVMInfo(plain, body));
  recordtest::ExpectSendsShapeOf(Fixture("v4/request-add-vm.xml"), body,
                                 {"vm/description", "vm/os"});
  // The v3 example names a test template; ours is always the stock "Blank".
  plain.name = "DefaultTestVm";
  plain.clusterName = "DefaultTestCluster";
  ASSERT_TRUE(v3.serializeVMInfo(plain, body));
  recordtest::ExpectSendsShapeOf(Fixture("v3/request-add-vm.xml"), body,
                                 {"vm/description", "vm/template/name="});
}

}  // namespace
}  // namespace Hypervale
