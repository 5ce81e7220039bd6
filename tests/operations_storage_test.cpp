// Storage domain creation, attachment, activation and removal.
#include <gtest/gtest.h>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using namespace hvtest;

const std::string kApi41 = ApiXml(4, 1, 0);
const std::string kDestroy = "DELETE storagedomains/sd1?host=host1&destroy=true";
const std::string kInDc = "GET datacenters/dc1/storagedomains?search=name=data1";
const Exchange kDataCenter = {
    "GET datacenters?search=name=DC",
    Ok("<data_centers><data_center id=\"dc1\"><name>DC</name></data_center></data_centers>")};
const Exchange kDestroyed = {kDestroy, Ok(ActionXml("complete"))};
const Exchange kGone = {"GET storagedomains/sd1", Fault(404)};
// Outside its data center an attached domain shows no status, only its data center.
const Exchange kAttached = {"GET storagedomains/sd1",
                            Ok("<storage_domain id=\"sd1\"><name>data1</name><data_centers>"
                               "<data_center id=\"dc1\"/></data_centers></storage_domain>")};
const Exchange kDataCenterById = {"GET datacenters/dc1",
                                  Ok("<data_center id=\"dc1\"><name>DC</name></data_center>")};

Exchange Listed(const std::string& request, const char* status) {
  return {request, Ok(ListXml("storage_domains", {DomainXml("sd1", "data1", status)}))};
}

SStorageDomainInfoLib Domain(const char* dataCenter, const char* host = "host1") {
  SStorageDomainInfoLib domain;
  domain.id = "sd1";
  domain.name = "data1";
  domain.hostName = host;
  domain.dataCenterName = dataCenter;
  return domain;
}

class StorageOperationsTest : public OperationsTest {};

TEST_F(StorageOperationsTest, CreateAttachesAndActivatesOrDestroysAgain) {
  const Exchanges created = {{"POST storagedomains", Ok(DomainXml("sd1", "data1", ""))},
                             Listed("GET storagedomains?search=name=data1", "unattached"),
                             kDataCenter};
  const Exchange attach = {"POST datacenters/dc1/storagedomains",
                           Ok(DomainXml("sd1", "data1", "maintenance"))};
  const Exchanges active = {kDataCenter, Listed(kInDc, "maintenance"), kDataCenter,
                            Listed(kInDc, "Active")};
  auto flow = [&](Exchanges middle, const Exchanges& end) {
    Exchanges all = created;
    all.insert(all.end(), middle.begin(), middle.end());
    all.insert(all.end(), end.begin(), end.end());
    return all;
  };
  struct Case {
    std::string api;
    Exchanges exchanges;
    bool result;
  };
  const Case cases[] = {
      {ApiXml(4, 0, 1),
       flow({attach,
             {"POST datacenters/dc1/storagedomains/sd1/activate", Ok(ActionXml("complete"))}},
            active),
       true},
      {ApiXml(4, 0, 2), flow({attach}, active), true},  // attached means activated
      {kApi41, flow({{attach.request, Fault(400)}, kDestroyed}, {kGone}), false},
  };
  for (const auto& c : cases) {
    SStorageDomainInfoLib domain = Domain("DC");
    expectFlow(c.api, c.exchanges, c.result, [&] { return ops->createStorageDomain(domain); });
    EXPECT_NE(bodyOf("POST storagedomains").find("<host><name>host1</name></host>"),
              std::string::npos);
    EXPECT_EQ(bodyOf("POST storagedomains").find("DC"), std::string::npos);
    EXPECT_NE(bodyOf(attach.request).find("<storage_domain><name>data1</name></storage_domain>"),
              std::string::npos);
  }
}

TEST_F(StorageOperationsTest, DeleteGoesThroughMaintenanceOnlyFromActive) {
  struct Case {
    const char* dataCenter;
    Exchanges exchanges;
  };
  const Exchanges fromActive = {
      kDataCenter,
      Listed(kInDc, "Active"),
      kDataCenter,
      {"POST datacenters/dc1/storagedomains/sd1/deactivate", Ok(ActionXml("complete"))},
      kDataCenter,
      Listed(kInDc, "maintenance"),
      kDestroyed,
      kGone};
  Exchanges attachedFromActive = {kAttached, kDataCenterById};
  attachedFromActive.insert(attachedFromActive.end(), fromActive.begin(), fromActive.end());
  const Case cases[] = {
      {"DC", fromActive},
      {"", attachedFromActive},  // the data center named by the domain decides
      {"DC", {kDataCenter, Listed(kInDc, "maintenance"), kDestroyed, kGone}},
      {"",
       {{"GET storagedomains/sd1", Ok(DomainXml("sd1", "data1", "unattached"))},
        kDestroyed,
        kGone}},
  };
  for (const auto& c : cases) {
    SStorageDomainInfoLib domain = Domain(c.dataCenter);
    expectFlow(kApi41, c.exchanges, true, [&] { return ops->deleteStorageDomain(domain); });
    EXPECT_NE(bodyOf(kDestroy).find("<async>false</async>"), std::string::npos);
  }
  EXPECT_TRUE(logs.containsError("Storage domain [data1] is not in active state. Destroying ..."));
}

TEST_F(StorageOperationsTest, DeleteTakesADomainForGoneOnlyOnTheEnginesWordAndElseSendsNothing) {
  struct Case {
    const char* dataCenter;
    Exchanges exchanges;
    bool result;
  };
  const Exchange elsewhere = {kInDc, Ok(ListXml("storage_domains", {DomainXml("x", "other", "")}))};
  const Case cases[] = {
      {"", {kGone}, true},
      // Not in the named data center: gone only when the engine does not know it at all.
      {"DC", {kDataCenter, elsewhere, kGone}, true},
      {"DC",
       {kDataCenter, elsewhere, {"GET storagedomains/sd1", Ok(DomainXml("sd1", "data1", ""))}},
       false},
      {"", {{"GET storagedomains/sd1", Fault(500)}}, false},
      {"", {{"GET storagedomains/sd1", Answer::partial(200, "<storage_domain>")}}, false},
      {"", {{"GET storagedomains/sd1", Ok("<html/>")}}, false},  // after an older 404
      // Attached, but its data center cannot tell the status; or no status shown at all.
      {"", {kAttached, {"GET datacenters/dc1", Fault(500)}}, false},
      {"", {{"GET storagedomains/sd1", Ok(DomainXml("sd1", "data1", ""))}}, false},
  };
  for (const auto& c : cases) {
    SStorageDomainInfoLib domain = Domain(c.dataCenter);
    expectFlow(kApi41, c.exchanges, c.result, [&] {
      leaveStale404();
      return ops->deleteStorageDomain(domain);
    });
    EXPECT_EQ(logs.containsError("Could not establish the status of storage domain [sd1][data1]; "
                                 "not destroying it"),
              !c.result);
  }
}

TEST_F(StorageOperationsTest, DestroyRequiresCompleteAndTheDomainGone) {
  const std::pair<Exchanges, const char*> cases[] = {
      {{kDestroyed, {"GET storagedomains/sd1", Ok(DomainXml("sd1", "data1", ""))}},
       "Storage domain [data1][sd1] still exist after destroy"},
      {{{kDestroy, Ok(ActionXml("failed"))}},
       "Destroy Storage domain [data1] has not completed, returned state: failed"},
  };
  for (const auto& [exchanges, error] : cases) {
    SStorageDomainInfoLib domain = Domain("");
    expectFlow(kApi41, exchanges, false, [&] { return ops->destroyStorageDomain(domain); });
    EXPECT_TRUE(logs.containsError(error));
  }
}

}  // namespace
}  // namespace Hypervale
