// VM records: real bodies of both API versions, reading rules and the creation body.
#include <gtest/gtest.h>

#include "support/record_test_support.h"

namespace Hypervale {
namespace {

using recordtest::Join;
using recordtest::ParserAt;
using std::to_string;

std::string Vm(const SVMInfoLib& vm) {
  std::string properties;
  for (const auto& p : vm.customProperties) properties += p.name + "=" + p.value + ";";
  return Join({vm.id, vm.name, vm.status, to_string(vm.memory), to_string(vm.sockets),
               vm.architecture, vm.osType, vm.clusterId, vm.clusterHref, vm.hostId, vm.hostHref,
               vm.fqdn, vm.guestOsFullVersion, properties,
               vm.hostName + vm.clusterName + vm.dataCenterName + vm.dataCenterId + vm.ovfData});
}

TEST(VmReaderTest, RealBodiesAndReadingRules) {
  recordtest::ExpectReads(
      "vms", &TzRhevParser::parseVMInfo, &TzRhevParser::parseVMInfoList, Vm,
      {
          // v3: status/state, topology and os type as attributes.
          {"v3/vm.xml", 0,
           "4f6dd4c3-5241-494f-8afc-f1c67254bf77|123|down|1073741824|1|X86_64|other|"
           "00000002-0002-0002-0002-0000000001e9|"
           "/api/clusters/00000002-0002-0002-0002-0000000001e9||||||"},
          // Engine 3.1: the host inside placement_policy is not the VM's host.
          {"v3/vms.xml", 14,
           "fe052832-2350-48ce-8e56-c24b4cd91876|EmsRefreshSpec-PoweredOn|up|1073741824|2||"
           "rhel_6x64|99408929-82cf-4dc7-a532-9d998063fa95|"
           "/api/clusters/99408929-82cf-4dc7-a532-9d998063fa95|"
           "2f1d11cc-e269-11e2-839c-005056a217db|/api/hosts/"
           "2f1d11cc-e269-11e2-839c-005056a217db||||"},
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
          // The later fqdn wins; the v3 attributes win over elements; only sockets are read;
          // nested elements of the VM's names are not the VM's.
          {"<vm><fqdn>first</fqdn><guest_info><fqdn>second</fqdn></guest_info></vm>", 0,
           "|||0|0|||||||second|||"},
          {"<vm><guest_info><fqdn>first</fqdn></guest_info><fqdn>second</fqdn><os type=\"attr\">"
           "<type>element</type></os></vm>",
           0, "|||0|0||attr|||||second|||"},
          {"<vm><cpu><topology sockets=\"6\"><sockets>2</sockets><cores>4</cores></topology></cpu>"
           "<os><type>element</type></os></vm>",
           0, "|||0|6||element||||||||"},
          {"<vm><cpu><topology><sockets>2</sockets><cores>4</cores></topology></cpu><display>"
           "<type>spice</type></display><placement_policy><host id=\"h\"/></placement_policy>"
           "<memory_policy><memory>1</memory></memory_policy></vm>",
           0, "|||0|2||||||||||"},
      });
}

TEST(VmWriterTest, SizingAfter400AndNewIdsForAnOvfFrom350) {
  struct Case {
    unsigned major, minor, build;
    const char* id;
    bool withOvf;
    bool sizing;      // cpu and memory sent
    bool regenerate;  // new ids asked for the OVF's devices
  };
  const Case cases[] = {
      {3, 6, 0, "", false, false, false}, {4, 0, 0, "", false, false, false},
      {4, 0, 1, "", false, true, false},  {4, 1, 0, "vm-1", false, true, false},
      {3, 4, 0, "", true, false, false},  {3, 5, 0, "", true, false, true},
      {4, 1, 0, "", true, false, true},   {4, 1, 0, "vm-1", true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(to_string(c.major) + "." + to_string(c.minor) + "." + to_string(c.build) + " " +
                 c.id + (c.withOvf ? " with OVF" : ""));
    TzRhevParser parser = ParserAt(c.major, c.minor, c.build);
    SVMInfoLib vm;
    vm.id = c.id;
    vm.name = "restored";
    vm.clusterName = "prod";
    vm.clusterId = "c-1";
    vm.sockets = 4;
    vm.memory = 17179869184ULL;
    vm.ovfData = c.withOvf ? "<ovf:Envelope/>" : "";
    std::string body;
    ASSERT_TRUE(parser.serializeVMInfo(vm, body));
    const std::string head =
        "<name>restored</name><template><name>Blank</name></template>"
        "<cluster id=\"c-1\"><name>prod</name></cluster>";
    EXPECT_NE(body.find((*c.id ? "<vm id=\"vm-1\">" : "<vm>") + head), std::string::npos);
    EXPECT_EQ(body.find("<cpu><topology><cores>4</cores></topology></cpu>"
                        "<memory>17179869184</memory></vm>") != std::string::npos,
              c.sizing);
    EXPECT_EQ(body.find("<data>&lt;ovf:Envelope/&gt;</data><type>ovf</type>") != std::string::npos,
              c.withOvf);
    EXPECT_EQ(
        body.find("<regenerate_ids>true</regenerate_ids></initialization>") != std::string::npos,
        c.regenerate);
  }
}

}  // namespace
}  // namespace Hypervale
