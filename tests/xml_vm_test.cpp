// VM records: real bodies of both API versions, reading rules and the creation body.
#include <gtest/gtest.h>

#include <tuple>

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
           "4f6d~bf77|123|down|1073741824|1|X86_64|other|0000~01e9|/api/clusters/0000~01e9||||||"},
          // Engine 3.1: the host inside placement_policy is not the VM's host.
          {"v3/vms.xml", 14,
           "fe05~1876|EmsRefreshSpec-PoweredOn|up|1073741824|2||rhel_6x64|9940~fa95|/api/clusters/"
           "9940~fa95|2f1d~17db|/api/hosts/2f1d~17db||||"},
          {"v4/vm.xml", 0,
           "a997~c3e1|vm_off|up|1073741824|1|x86_64|other_linux|1930~5125|/ovirt-engine/api/"
           "clusters/1930~5125|7287~083e|/ovirt-engine/api/hosts/"
           "7287~083e|||viodiskcache=writethrough;|"},
          // The kernel's version inside guest_operating_system is not the guest's version.
          {"v4/vms.xml", 1,
           "a129~113e|vm_on|up|2147483648|2|x86_64|other|1c27~6808|/ovirt-engine/api/clusters/"
           "1c27~6808|ce40~2a19|/ovirt-engine/api/hosts/"
           "ce40~2a19|dhcp-8-199.lab.eng.tlv2.redhat.com|7||"},
          // The later fqdn wins, also one inside guest_info; the v3 attributes win over
          // elements; only sockets are read; nested elements of the VM's names are not the VM's.
          {"<vm><fqdn>first</fqdn><guest_info><fqdn>second</fqdn></guest_info><cpu><topology>"
           "<sockets>2</sockets><cores>4</cores></topology></cpu><os type=\"attr\"><type>"
           "element</type></os></vm>",
           0, "|||0|2||attr|||||second|||"},
          {"<vm><cpu><topology sockets=\"6\"><sockets>2</sockets></topology></cpu><os><type>"
           "element</type></os><display><type>spice</type></display><placement_policy><host "
           "id=\"h\"/></placement_policy><memory_policy><memory>1</memory></memory_policy></vm>",
           0, "|||0|6||element||||||||"},
      });
}

// Engine version, VM id and OVF given, and what the creation body carries: the VM's Id, Sizing
// (cpu and memory), the Ovf, new ids for the OVF's devices (Regenerate).
TEST(VmWriterTest, SizingAfter400AndNewIdsForAnOvfFrom350) {
  const std::tuple<unsigned, unsigned, unsigned, bool, bool, const char*> cases[] = {
      {3, 6, 0, false, false, "----"}, {4, 0, 0, false, false, "----"},
      {4, 0, 1, false, false, "-S--"}, {4, 1, 0, true, false, "IS--"},
      {3, 4, 0, false, true, "--O-"},  {3, 5, 0, false, true, "--OR"},
      {4, 1, 0, false, true, "--OR"},  {4, 1, 0, true, true, "I-O-"},
  };
  const std::pair<const char*, char> parts[] = {
      {"<vm id=\"vm-1\">", 'I'},
      {"<cpu><topology><cores>4</cores></topology></cpu><memory>17179869184</memory>", 'S'},
      {"<initialization><configuration><data>&lt;ovf:Envelope/&gt;</data><type>ovf</type>"
       "</configuration>",
       'O'},
      {"<regenerate_ids>true</regenerate_ids>", 'R'}};
  for (const auto& [major, minor, build, withId, withOvf, carried] : cases) {
    TzRhevParser parser = ParserAt(major, minor, build);
    SVMInfoLib vm;
    vm.id = withId ? "vm-1" : "";
    vm.name = "restored";
    vm.sockets = 4;
    vm.memory = 17179869184ULL;
    vm.ovfData = withOvf ? "<ovf:Envelope/>" : "";
    const std::string body = recordtest::Written(parser, vm, &TzRhevParser::serializeVMInfo);
    std::string found;
    for (const auto& [part, letter] : parts) {
      found += body.find(part) == std::string::npos ? '-' : letter;
    }
    EXPECT_EQ(found, carried) << major << "." << minor << "." << build;
  }
}

}  // namespace
}  // namespace Hypervale
