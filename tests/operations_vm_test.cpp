// Creating, deleting, starting and stopping VMs and adding NICs.
#include <gtest/gtest.h>

#include <tuple>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using namespace hvtest;
using VmOperationsTest = OperationsTest;

std::string Nic(bool linked) {
  return "<nic id=\"n1\"><linked>" + Flag(linked) + "</linked><plugged>true</plugged></nic>";
}

TEST_F(VmOperationsTest, CreateTakesTheClusterFromIdNameOrHostThenWaitsForDown) {
  const Exchange cluster = {
      "GET clusters?search=name=Prod",
      Ok("<clusters><cluster id=\"c9\"><name>Prod</name></cluster></clusters>")};
  const Exchange host = {"GET hosts/h1", Ok("<host id=\"h1\"><cluster id=\"c7\"/></host>")};
  // A cluster name stays a name in the request: "c9" is never sent.
  auto created = [](Exchanges lookups, const char* sent) {
    lookups.push_back({"POST vms", Ok(VmXml("new", "image_locked"))});
    lookups.push_back({"GET vms/new", Ok(VmXml("new", "image_locked"))});
    lookups.push_back({"GET vms/new", Ok(VmXml("new", "Down"))});
    return Flow{lookups, true, {{"POST vms", sent}, {"POST vms", "!c9"}}};
  };
  auto accepted = [](const std::vector<std::string>& named) {
    Exchanges flow = {{"POST vms", Answer::xml(202, "")},
                      {"GET vms?search=name=vm7", Ok(ListXml("vms", named))}};
    if (named.size() > 1 && named[1].find(">vm7<") != std::string::npos) return Flow{flow, false};
    flow.push_back({"GET vms/new", Ok(VmXml("new", "image_locked"))});
    flow.push_back({"GET vms/new", Ok(VmXml("new", "Down"))});
    return Flow{flow, true};
  };
  // The cluster id, cluster name and host id of the VM, and the flow of its creation.
  using Case = std::tuple<const char*, const char*, const char*, Flow>;
  const Case cases[] = {
      {"c1", "", "h1", created({}, "id=\"c1\"")},  // the host is not looked up
      {"", "Prod", "", created({cluster}, "<name>Prod</name>")},
      {"", "", "h1", created({host}, "id=\"c7\"")},
      // Accepted (202) without the VM: the one of exactly that name is followed, if one.
      {"c1", "", "",
       accepted({"<vm id=\"new\"><name>vm7</name></vm>", "<vm id=\"up\"><name>VM7</name></vm>"})},
      {"c1", "", "",
       accepted({"<vm id=\"new\"><name>vm7</name></vm>", "<vm id=\"two\"><name>vm7</name></vm>"})},
      {"", "", "", {{}, false}},
  };
  for (const auto& [clusterId, clusterName, hostId, flow] : cases) {
    SVMInfoLib vm;
    vm.name = "vm7";
    vm.clusterId = clusterId;
    vm.clusterName = clusterName;
    vm.hostId = hostId;
    expectFlow(flow, [&] { return ops->createVM(vm); });
    EXPECT_EQ(vm.status, flow.result ? "Down" : "");
    EXPECT_EQ(newSleeps().size(), flow.result ? 1u : 0u);
  }
  EXPECT_TRUE(logs.containsError("No host or cluster specified to create VM [vm7]"));
}

TEST_F(VmOperationsTest, DeleteCountsOnlyTheEnginesNotFoundAsAlreadyDeleted) {
  const Exchange found = {"GET vms/v1", Ok(VmXml("v1", "down"))};
  const std::string del = "DELETE vms/v1";
  const Exchange deleted = {del, Ok(ActionXml("complete"))};
  const std::pair<const char*, Flow> cases[] = {
      {"", {{found, {del, Ok(ActionXml("pending"))}}, false}},
      {"", {{{"GET vms/v1", Fault(404)}}, true}},
      {"vm-v1", {{{"GET vms?search=name=vm-v1", Ok("<vms/>")}}, true}},
      // Two of exactly that name: which one is meant cannot be told, so nothing is deleted.
      {"vm-v1",
       {{{"GET vms?search=name=vm-v1",
          Ok(ListXml("vms", {VmXml("v1", "down"), VmXml("v1", "down")}))}},
        false}},
      {"", {{{"GET vms/v1", Ok("<html/>")}}, false}},
      {"", {{found, deleted}, true, {{del, "<async>false</async>"}, {del, "!detach"}}}},
  };
  for (const auto& c : cases) {
    expectFlow(c.second, [&] {
      leaveStale404();
      return ops->deleteVM(c.first, *c.first ? "" : "v1");
    });
  }
}

TEST_F(VmOperationsTest, PowerChangesWaitForTheWantedStateInBothDirections) {
  auto vm = [](const char* status) { return Exchange{"GET vms/v1", Ok(VmXml("v1", status))}; };
  const Answer ok = Ok(ActionXml("complete"));
  const std::pair<int, Flow> cases[] = {
      {0, {{vm("up"), {"POST vms/v1/stop", ok}, vm("powering_down"), vm("Down")}, true}},
      {1, {{vm("down"), {"POST vms/v1/start", ok}, vm("wait_for_launch"), vm("UP")}, true}},
      {2, {{}, false}},
  };
  for (const auto& c : cases) {
    SVMInfoLib record;
    record.id = "v1";
    expectFlow(c.second, [&] { return ops->changePowerState(record, c.first); });
    EXPECT_EQ(newSleeps(), std::vector<unsigned long>(c.second.result ? 1 : 0, 100));
  }
  EXPECT_TRUE(logs.containsError("Invalid power state [2]"));
}

TEST_F(VmOperationsTest, NicWaitGoesOnWhilePluggedButNotLinked) {
  SNicInfoLib nic;
  nic.vnicProfileId = "p1";
  const Exchange unlinked = {"GET vms/v1/nics/n1", Ok(Nic(false))};
  expectFlow(
      {{{"POST vms/v1/nics", Ok(Nic(false))}, unlinked, {"GET vms/v1/nics/n1", Ok(Nic(true))}},
       true,
       {{"POST vms/v1/nics", "<vnic_profile id=\"p1\"/>"}}},
      [&] { return ops->addNicToVM("v1", nic); });
  EXPECT_EQ(nic.id, "n1");
  expectFlow({{unlinked, unlinked, unlinked}, false},
             [&] { return ops->pollForNicLinkedToVM("v1", "n1"); });
  EXPECT_EQ(newSleeps().size(), 3u);
}

}  // namespace
}  // namespace Hypervale
