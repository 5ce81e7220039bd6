// Creating, deleting, starting and stopping VMs and adding NICs, against the loopback engine.
#include <gtest/gtest.h>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using hvtest::Answer;
using hvtest::Api;
using hvtest::VmXml;
using Script = std::vector<std::pair<std::string, Answer>>;  // GET target, answer

class VmOperationsTest : public hvtest::OperationsTest {
 protected:
  void SetUp() override {
    OperationsTest::SetUp();
    connectAs(hvtest::ApiXml(4, 1, 0));
  }
  void serve(const std::string& method, const Script& script) {
    for (const auto& [target, answer] : script) engine->answer(method, target, answer);
  }
};

std::string Nic(bool linked, bool plugged) {
  return std::string("<nic id=\"n1\"><name>nic1</name><linked>") + (linked ? "true" : "false") +
         "</linked><plugged>" + (plugged ? "true" : "false") + "</plugged></nic>";
}

TEST_F(VmOperationsTest, CreateTakesTheClusterFromIdNameOrHostAndWaitsForDown) {
  struct Case {
    const char* name;
    SVMInfoLib vm;
    Script lookups;
    bool result;
    std::vector<std::string> lookupTrail;
    const char* bodyHas;  // in the POST body
    const char* error;
  };
  auto vm = [](const char* clusterId, const char* clusterName, const char* hostId) {
    SVMInfoLib record;
    record.name = "vm7";
    record.clusterId = clusterId;
    record.clusterName = clusterName;
    record.hostId = hostId;
    return record;
  };
  const Case cases[] = {
      {"cluster id wins over host", vm("c1", "", "h1"), {}, true, {}, "id=\"c1\"", nullptr},
      {"cluster name",
       vm("", "Prod", ""),
       {{Api("clusters?search=name=Prod"),
         Answer::xml(200, "<clusters><cluster id=\"c9\"><name>Prod</name></cluster></clusters>")}},
       true,
       {"GET " + Api("clusters?search=name=Prod")},
       "<name>Prod</name>",
       nullptr},
      {"host",
       vm("", "", "h1"),
       {{Api("hosts/h1"), Answer::xml(200, "<host id=\"h1\"><cluster id=\"c7\"/></host>")}},
       true,
       {"GET " + Api("hosts/h1")},
       "id=\"c7\"",
       nullptr},
      {"unknown cluster name",
       vm("", "Nope", ""),
       {{Api("clusters?search=name=Nope"), Answer::xml(200, "<clusters/>")}},
       false,
       {"GET " + Api("clusters?search=name=Nope")},
       nullptr,
       "Failed to find cluster [Nope] to create VM [vm7]"},
      {"nothing",
       vm("", "", ""),
       {},
       false,
       {},
       nullptr,
       "No host or cluster specified to create VM [vm7]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine->reset();
    logs.clear();
    serve("GET", c.lookups);
    engine->answer("POST", Api("vms"), Answer::xml(201, VmXml("new", "image_locked")));
    engine->script(
        "GET", Api("vms/new"),
        {Answer::xml(200, VmXml("new", "image_locked")), Answer::xml(200, VmXml("new", "Down"))});
    SVMInfoLib record = c.vm;
    const size_t sleepsBefore = sleeps.sleeps().size();
    EXPECT_EQ(ops->createVM(record), c.result);
    std::vector<std::string> expected = c.lookupTrail;
    if (c.result) {
      expected.insert(expected.end(),
                      {"POST " + Api("vms"), "GET " + Api("vms/new"), "GET " + Api("vms/new")});
      EXPECT_EQ(record.id, "new");
      EXPECT_EQ(record.status, "Down");
      EXPECT_EQ(sleeps.sleeps().size() - sleepsBefore, 1u);
    }
    EXPECT_EQ(trail(), expected);
    if (c.bodyHas) {
      const std::string body = bodyOf("POST", Api("vms"));
      EXPECT_NE(body.find(c.bodyHas), std::string::npos);
      EXPECT_EQ(body.find("c9"), std::string::npos);  // a cluster name is not turned into an id
    }
    if (c.error) {
      EXPECT_TRUE(logs.containsError(c.error));
    }
  }

  engine->reset();
  engine->answer("POST", Api("vms"), Answer::xml(201, VmXml("new", "image_locked")));
  SVMInfoLib stuck = vm("c1", "", "");
  EXPECT_FALSE(ops->createVM(stuck));
  EXPECT_EQ(count("GET", Api("vms/new")), 1u);  // unscripted: the engine answers 404
  engine->clearRequests();
  engine->answer("GET", Api("vms/new"), Answer::xml(200, VmXml("new", "image_locked")));
  EXPECT_FALSE(ops->createVM(stuck));
  EXPECT_EQ(count("GET", Api("vms/new")), 3u);
  EXPECT_TRUE(logs.containsError("Timed out polling for create VM [vm-new][new]"));
}

TEST_F(VmOperationsTest, DeleteCountsOnlyTheEnginesNotFoundAsAlreadyDeleted) {
  const std::string search = Api("vms?search=name=vm-v1");
  struct Case {
    const char* name;
    const char* vmName;
    const char* vmId;
    Script gets;
    Answer deleteAnswer;
    bool stale404;
    bool result;
    bool deletes;
  };
  const Answer complete = Answer::xml(200, hvtest::ActionXml("complete"));
  const Case cases[] = {
      {"by id",
       "",
       "v1",
       {{Api("vms/v1"), Answer::xml(200, VmXml("v1", "down"))}},
       complete,
       false,
       true,
       true},
      {"by name",
       "vm-v1",
       "",
       {{search, Answer::xml(200, hvtest::ListXml("vms", {VmXml("v1", "down")}))}},
       complete,
       false,
       true,
       true},
      {"not complete",
       "",
       "v1",
       {{Api("vms/v1"), Answer::xml(200, VmXml("v1", "down"))}},
       Answer::xml(200, hvtest::ActionXml("pending")),
       false,
       false,
       true},
      {"404 on the lookup",
       "",
       "v1",
       {{Api("vms/v1"), Answer::engineFault(404, "Not Found", "gone")}},
       complete,
       false,
       true,
       false},
      {"name search without it",
       "vm-v1",
       "",
       {{search, Answer::xml(200, "<vms/>")}},
       complete,
       false,
       true,
       false},
      {"500 on the lookup",
       "",
       "v1",
       {{Api("vms/v1"), Answer::engineFault(500, "Err", "boom")}},
       complete,
       false,
       false,
       false},
      {"unreadable lookup after an older 404",
       "",
       "v1",
       {{Api("vms/v1"), Answer::xml(200, "<html/>")}},
       complete,
       true,
       false,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine->reset();
    logs.clear();
    if (c.stale404) leaveStale404();
    serve("GET", c.gets);
    engine->answer("DELETE", Api("vms/v1"), c.deleteAnswer);
    EXPECT_EQ(ops->deleteVM(c.vmName, c.vmId), c.result);
    EXPECT_EQ(count("DELETE", Api("vms/v1")), c.deletes ? 1u : 0u);
    if (c.deletes) {
      const std::string body = bodyOf("DELETE", Api("vms/v1"));
      EXPECT_NE(body.find("<async>false</async>"), std::string::npos);
      EXPECT_EQ(body.find("detach"), std::string::npos);  // API v4
    }
    EXPECT_EQ(logs.containsError("Delete VM returned state: pending"), c.deletes && !c.result);
  }
}

TEST_F(VmOperationsTest, PowerChangesWaitForTheWantedStateInBothDirections) {
  struct Case {
    int powerState;
    std::vector<const char*> states;  // refresh, then the polls
    const char* action;
  };
  const Case cases[] = {{0, {"up", "powering_down", "Down"}, "stop"},
                        {1, {"down", "wait_for_launch", "UP"}, "start"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    engine->reset();
    std::vector<Answer> answers;
    for (const char* state : c.states) answers.push_back(Answer::xml(200, VmXml("v1", state)));
    engine->script("GET", Api("vms/v1"), answers);
    engine->answer("POST", Api(std::string("vms/v1/") + c.action),
                   Answer::xml(200, hvtest::ActionXml("complete")));
    const size_t sleepsBefore = sleeps.sleeps().size();
    SVMInfoLib vm;
    vm.id = "v1";
    EXPECT_TRUE(ops->changePowerState(vm, c.powerState));
    EXPECT_EQ(trail(), (std::vector<std::string>{"GET " + Api("vms/v1"),
                                                 "POST " + Api(std::string("vms/v1/") + c.action),
                                                 "GET " + Api("vms/v1"), "GET " + Api("vms/v1")}));
    EXPECT_EQ(sleeps.sleeps().size() - sleepsBefore, 1u);
  }

  engine->clearRequests();
  SVMInfoLib vm;
  vm.id = "v1";
  EXPECT_FALSE(ops->changePowerState(vm, 2));
  EXPECT_TRUE(engine->requests().empty());
  EXPECT_TRUE(logs.containsError("Invalid power state [2]"));
}

TEST_F(VmOperationsTest, NicWaitGoesOnWhilePluggedButNotLinked) {
  const std::string nicLink = Api("vms/v1/nics/n1");
  engine->answer("POST", Api("vms/v1/nics"), Answer::xml(201, Nic(false, true)));
  engine->script("GET", nicLink,
                 {Answer::xml(200, Nic(false, true)), Answer::xml(200, Nic(true, true))});
  SNicInfoLib nic;
  nic.name = "nic1";
  nic.vnicProfileId = "p1";
  EXPECT_TRUE(ops->addNicToVM("v1", nic));
  EXPECT_EQ(nic.id, "n1");
  EXPECT_NE(bodyOf("POST", Api("vms/v1/nics")).find("<vnic_profile id=\"p1\"/>"),
            std::string::npos);
  EXPECT_EQ(count("GET", nicLink), 2u);
  EXPECT_EQ(sleeps.sleeps(), (std::vector<unsigned long>{100}));

  engine->answer("GET", nicLink, Answer::xml(200, Nic(false, true)));
  engine->clearRequests();
  EXPECT_FALSE(ops->pollForNicLinkedToVM("v1", "n1"));
  EXPECT_EQ(count("GET", nicLink), 3u);
  EXPECT_TRUE(logs.contains("Timed out polling for nic [n1] to be linked to VM v1"));
}

}  // namespace
}  // namespace Hypervale
