// Storage domain creation, attachment, activation and removal.
#include <gtest/gtest.h>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using namespace hvtest;
using StorageOperationsTest = OperationsTest;

// The host name is a query value like any other: encoded.
const std::string kDestroy = "DELETE storagedomains/sd1?host=host%261&destroy=true";
const std::string kInDc = "GET datacenters/dc1/storagedomains?search=name=data1";
const std::string kSelf = "GET storagedomains/sd1";
const Exchange kDataCenter = {
    "GET datacenters?search=name=DC",
    Ok("<data_centers><data_center id=\"dc1\"><name>DC</name></data_center></data_centers>")};
const Exchange kDestroyed = {kDestroy, Ok(ActionXml("complete"))};
const Exchange kGone = {kSelf, Fault(404)};
// Outside its data center an attached domain shows no status, only its data center.
const Exchange kAttached = {kSelf, Ok("<storage_domain id=\"sd1\"><name>data1</name><data_centers>"
                                      "<data_center id=\"dc1\"/></data_centers></storage_domain>")};
const Exchange kUnattached = {kSelf, Ok(DomainXml("sd1", "data1", "unattached"))};
const Exchange kNoStatus = {kSelf, Ok(DomainXml("sd1", "data1", ""))};

// The engine's search is loose: a domain of the name in another letter case comes first.
Exchange Listed(const std::string& request, const char* status) {
  const std::string other = DomainXml("sd0", "DATA1", "active");
  return {request, Ok(ListXml("storage_domains", {other, DomainXml("sd1", "data1", status)}))};
}

SStorageDomainInfoLib Domain(const char* dataCenter) {
  SStorageDomainInfoLib domain;
  domain.id = "sd1";
  domain.name = "data1";
  domain.hostName = "host&1";
  domain.dataCenterName = dataCenter;
  return domain;
}

Exchanges Then(Exchanges first, const Exchanges& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

TEST_F(StorageOperationsTest, CreateAttachesAndActivatesOrDestroysAgain) {
  const Exchanges created = {{"POST storagedomains", Ok(DomainXml("sd1", "data1", ""))},
                             Listed("GET storagedomains?search=name=data1", "unattached"),
                             kDataCenter};
  const std::string attach = "POST datacenters/dc1/storagedomains";
  const Exchange attached = {attach, Ok(DomainXml("sd1", "data1", "maintenance"))};
  const Exchange activated = {attach + "/sd1/activate", Ok(ActionXml("complete"))};
  const Exchanges active = {kDataCenter, Listed(kInDc, "maintenance"), kDataCenter,
                            Listed(kInDc, "Active")};
  // The create request names the host, not the data center; the attach names the domain.
  const std::vector<std::pair<std::string, std::string>> bodies = {
      {"POST storagedomains", "<host><name>host&amp;1</name></host>"},
      {"POST storagedomains", "!DC"},
      {attach, "<storage_domain><name>data1</name></storage_domain>"}};
  const Flow cases[] = {
      {Then(created, Then({attached, activated}, active)), true, bodies, ApiXml(4, 0, 1)},
      // From 4.0.2 on an attached domain is activated by the engine.
      {Then(created, Then({attached}, active)), true, bodies, ApiXml(4, 0, 2)},
      {Then(created, {{attach, Fault(400)}, kDestroyed, kGone}), false, bodies},
  };
  for (const auto& flow : cases) {
    SStorageDomainInfoLib domain = Domain("DC");
    expectFlow(flow, [&] { return ops->createStorageDomain(domain); });
  }
}

// Only the engine saying that the domain is not there makes it count as removed, and nothing
// is destroyed whose status is not established; an active domain goes through maintenance.
TEST_F(StorageOperationsTest,
       DeleteDestroysOnlyADomainOfKnownStatusAndTakesItForGoneOnlyOnTheEnginesWord) {
  const Exchange deactivated = {"POST datacenters/dc1/storagedomains/sd1/deactivate",
                                Ok(ActionXml("complete"))};
  const Exchanges fromActive = {kDataCenter, Listed(kInDc, "Active"),      kDataCenter, deactivated,
                                kDataCenter, Listed(kInDc, "maintenance"), kDestroyed,  kGone};
  const Exchange dataCenterById = {"GET datacenters/dc1",
                                   Ok("<data_center id=\"dc1\"><name>DC</name></data_center>")};
  const Exchange elsewhere = {kInDc, Ok(ListXml("storage_domains", {DomainXml("x", "other", "")}))};
  const std::pair<const char*, Flow> cases[] = {
      {"DC", {fromActive, true, {{kDestroy, "<async>false</async>"}}}},
      // The data center the domain names decides.
      {"", {Then({kAttached, dataCenterById}, fromActive), true}},
      {"DC", {{kDataCenter, Listed(kInDc, "maintenance"), kDestroyed, kGone}, true}},
      {"", {{kUnattached, kDestroyed, kGone}, true}},
      {"", {{kGone}, true}},
      // Not in the named data center: gone only when the engine does not know it at all.
      {"DC", {{kDataCenter, elsewhere, kGone}, true}},
      {"DC", {{kDataCenter, elsewhere, kNoStatus}, false}},
      {"", {{{kSelf, Fault(500)}}, false}},
      {"", {{{kSelf, Answer::partial(200, "<storage_domain>")}}, false}},
      {"", {{{kSelf, Ok("<html/>")}}, false}},  // after an older 404
      // Attached, but its data center cannot tell the status; or no status shown at all.
      {"", {{kAttached, {"GET datacenters/dc1", Fault(500)}}, false}},
      {"", {{kNoStatus}, false}},
      // Attached to two data centers: which one the caller means cannot be told.
      {"",
       {{{kSelf, Ok("<storage_domain id=\"sd1\"><name>data1</name><data_centers><data_center "
                    "id=\"dc1\"/><data_center id=\"dc2\"/></data_centers></storage_domain>")}},
        false}},
  };
  for (const auto& [dataCenter, flow] : cases) {
    SStorageDomainInfoLib domain = Domain(dataCenter);
    expectFlow(flow, [&] {
      leaveStale404();
      return ops->deleteStorageDomain(domain);
    });
    EXPECT_EQ(logs.containsError("Could not establish the status of storage domain [sd1]"),
              !flow.result);
  }
}

TEST_F(StorageOperationsTest, DestroyRequiresCompleteAndTheDomainGone) {
  const std::pair<Exchanges, const char*> cases[] = {
      {{kDestroyed, kNoStatus}, "Storage domain [data1][sd1] still exist after destroy"},
      // Only the engine's 404 proves it destroyed; an error or a broken answer does not.
      {{kDestroyed, {kSelf, Fault(500)}}, "Storage domain [data1][sd1] still exist after destroy"},
      {{kDestroyed, {kSelf, Ok("<html/>")}},
       "Storage domain [data1][sd1] still exist after destroy"},
      {{{kDestroy, Ok(ActionXml("failed"))}},
       "Destroy Storage domain [data1] has not completed, returned state: failed"},
  };
  for (const auto& [exchanges, error] : cases) {
    SStorageDomainInfoLib domain = Domain("");
    expectFlow({exchanges, false}, [&] { return ops->destroyStorageDomain(domain); });
    EXPECT_TRUE(logs.containsError(error));
  }
}

}  // namespace
}  // namespace Hypervale
