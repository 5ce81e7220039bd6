// Creating, deleting, starting and stopping VMs and adding NICs.
#include <gtest/gtest.h>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using namespace hvtest;

SVMInfoLib Vm(const char* clusterId, const char* clusterName, const char* hostId) {
  SVMInfoLib vm;
  vm.name = "vm7";
  vm.clusterId = clusterId;
  vm.clusterName = clusterName;
  vm.hostId = hostId;
  return vm;
}

std::string Nic(bool linked) {
  return std::string("<nic id=\"n1\"><linked>") + (linked ? "true" : "false") +
         "</linked><plugged>true</plugged></nic>";
}

class VmOperationsTest : public OperationsTest {};

TEST_F(VmOperationsTest, CreateTakesTheClusterFromIdNameOrHostThenWaitsForDown) {
  const Exchanges created = {{"POST vms", Ok(VmXml("new", "image_locked"))},
                             {"GET vms/new", Ok(VmXml("new", "image_locked"))},
                             {"GET vms/new", Ok(VmXml("new", "Down"))}};
  const Exchange clusterFound = {"GET clusters?search=name=Prod",
                                 Ok("<clusters><cluster id=\"c9\"><name>Prod</name></cluster>"
                                    "</clusters>")};
  const Exchange hostFound = {"GET hosts/h1", Ok("<host id=\"h1\"><cluster id=\"c7\"/></host>")};
  struct Case {
    SVMInfoLib vm;
    Exchanges lookups;
    bool result;
    const char* sent;  // in the POST body; "c9" never is: a cluster name stays a name
  };
  const Case cases[] = {
      {Vm("c1", "", "h1"), {}, true, "id=\"c1\""},  // the host is not looked up
      {Vm("", "Prod", ""), {clusterFound}, true, "<name>Prod</name>"},
      {Vm("", "", "h1"), {hostFound}, true, "id=\"c7\""},
      {Vm("", "", ""), {}, false, ""},
  };
  for (const auto& c : cases) {
    Exchanges exchanges = c.lookups;
    if (c.result) exchanges.insert(exchanges.end(), created.begin(), created.end());
    SVMInfoLib vm = c.vm;
    expectFlow(kApi41, exchanges, c.result, [&] { return ops->createVM(vm); });
    EXPECT_NE(bodyOf("POST vms").find(c.sent), std::string::npos);
    EXPECT_EQ(bodyOf("POST vms").find("c9"), std::string::npos);
    EXPECT_EQ(vm.status, c.result ? "Down" : "");
    EXPECT_EQ(newSleeps().size(), c.result ? 1u : 0u);
  }
  EXPECT_TRUE(logs.containsError("No host or cluster specified to create VM [vm7]"));
}

TEST_F(VmOperationsTest, DeleteCountsOnlyTheEnginesNotFoundAsAlreadyDeleted) {
  const Exchange found = {"GET vms/v1", Ok(VmXml("v1", "down"))};
  const Exchange deleted = {"DELETE vms/v1", Ok(ActionXml("complete"))};
  struct Case {
    const char* name;
    const char* id;
    Exchanges exchanges;
    bool result;
    bool stale404;
  };
  const Case cases[] = {
      {"", "v1", {found, {"DELETE vms/v1", Ok(ActionXml("pending"))}}, false, false},
      {"", "v1", {{"GET vms/v1", Fault(404)}}, true, false},
      {"vm-v1", "", {{"GET vms?search=name=vm-v1", Ok("<vms/>")}}, true, false},
      {"", "v1", {{"GET vms/v1", Ok("<html/>")}}, false, true},
      {"", "v1", {found, deleted}, true, false},
  };
  for (const auto& c : cases) {
    expectFlow(kApi41, c.exchanges, c.result, [&] {
      if (c.stale404) leaveStale404();
      return ops->deleteVM(c.name, c.id);
    });
  }
  EXPECT_NE(bodyOf("DELETE vms/v1").find("<async>false</async>"), std::string::npos);
  EXPECT_EQ(bodyOf("DELETE vms/v1").find("detach"), std::string::npos);  // API v4
}

TEST_F(VmOperationsTest, PowerChangesWaitForTheWantedStateInBothDirections) {
  auto vm = [](const char* status) { return Exchange{"GET vms/v1", Ok(VmXml("v1", status))}; };
  const Answer complete = Ok(ActionXml("complete"));
  struct Case {
    int powerState;
    Exchanges exchanges;
  };
  const Case cases[] = {
      {0, {vm("up"), {"POST vms/v1/stop", complete}, vm("powering_down"), vm("Down")}},
      {1, {vm("down"), {"POST vms/v1/start", complete}, vm("wait_for_launch"), vm("UP")}},
  };
  for (const auto& c : cases) {
    SVMInfoLib record;
    record.id = "v1";
    expectFlow(kApi41, c.exchanges, true,
               [&] { return ops->changePowerState(record, c.powerState); });
    EXPECT_EQ(newSleeps(), std::vector<unsigned long>{100});
  }
  SVMInfoLib record;
  record.id = "v1";
  expectFlow(kApi41, {}, false, [&] { return ops->changePowerState(record, 2); });
  EXPECT_TRUE(logs.containsError("Invalid power state [2]"));
}

TEST_F(VmOperationsTest, NicWaitGoesOnWhilePluggedButNotLinked) {
  SNicInfoLib nic;
  nic.vnicProfileId = "p1";
  expectFlow(kApi41,
             {{"POST vms/v1/nics", Ok(Nic(false))},
              {"GET vms/v1/nics/n1", Ok(Nic(false))},
              {"GET vms/v1/nics/n1", Ok(Nic(true))}},
             true, [&] { return ops->addNicToVM("v1", nic); });
  EXPECT_EQ(nic.id, "n1");
  EXPECT_NE(bodyOf("POST vms/v1/nics").find("<vnic_profile id=\"p1\"/>"), std::string::npos);

  const Exchange unlinked = {"GET vms/v1/nics/n1", Ok(Nic(false))};
  expectFlow(kApi41, {unlinked, unlinked, unlinked}, false,
             [&] { return ops->pollForNicLinkedToVM("v1", "n1"); });
  EXPECT_EQ(newSleeps().size(), 3u);
}

}  // namespace
}  // namespace Hypervale
