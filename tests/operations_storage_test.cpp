// Storage domain creation, attachment, activation and removal, against the loopback engine.
#include <gtest/gtest.h>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using hvtest::Answer;
using hvtest::Api;
using hvtest::DomainXml;
using hvtest::Flow;
using hvtest::ListXml;

Answer Ok(const std::string& body) { return Answer::xml(200, body); }
const Answer kComplete = Answer::xml(200, hvtest::ActionXml("complete"));
const Answer kNotFound = Answer::engineFault(404, "Not Found", "Entity not found");

const std::string kDomains = Api("storagedomains");
const std::string kDomain = Api("storagedomains/sd1");
const std::string kDomainSearch = Api("storagedomains?search=name=data1");
const std::string kDcSearch = Api("datacenters?search=name=DC");
const std::string kDcDomains = Api("datacenters/dc1/storagedomains");
const std::string kDcDomainSearch = kDcDomains + "?search=name=data1";
const std::string kActivate = kDcDomains + "/sd1/activate";
const std::string kDeactivate = kDcDomains + "/sd1/deactivate";
const std::string kDestroy = kDomain + "?host=host1&destroy=true";

const Flow::Step kDataCenter{
    "GET",
    kDcSearch,
    {Ok("<data_centers><data_center id=\"dc1\"><name>DC</name></data_center>"
        "</data_centers>")}};
const Flow::Step kDestroyed{"DELETE", kDestroy, {kComplete}};

Answer Listed(const std::string& status) {
  return Ok(ListXml("storage_domains", {DomainXml("sd1", "data1", status)}));
}

SStorageDomainInfoLib Domain(const char* dataCenter, const char* host = "host1") {
  SStorageDomainInfoLib domain;
  domain.id = "sd1";
  domain.name = "data1";
  domain.hostName = host;
  domain.dataCenterName = dataCenter;
  domain.storageType = "nfs";
  return domain;
}

class StorageOperationsTest : public hvtest::OperationsTest {};

TEST_F(StorageOperationsTest, CreateAttachesAndActivatesOrDestroysAgain) {
  const Flow::Step created{"POST", kDomains, {Answer::xml(201, DomainXml("sd1", "data1", ""))}};
  const Flow::Step unattached{"GET", kDomainSearch, {Listed("unattached")}};
  const Flow::Step attached{"POST", kDcDomains, {Ok(DomainXml("sd1", "data1", "maintenance"))}};
  const Flow::Step becomesActive{"GET", kDcDomainSearch, {Listed("maintenance"), Listed("Active")}};
  const std::vector<std::string> upToAttach = {"POST " + kDomains, "GET " + kDomainSearch,
                                               "GET " + kDcSearch, "POST " + kDcDomains};
  auto then = [&](std::vector<std::string> rest) {
    std::vector<std::string> all = upToAttach;
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
  };
  const std::vector<std::string> waitActive = {"GET " + kDcSearch, "GET " + kDcDomainSearch,
                                               "GET " + kDcSearch, "GET " + kDcDomainSearch};
  struct Case {
    Flow flow;
    SStorageDomainInfoLib domain;
  };
  std::vector<std::string> withActivate = then({"POST " + kActivate});
  withActivate.insert(withActivate.end(), waitActive.begin(), waitActive.end());
  const Case cases[] = {
      {{"before 4.0.2",
        hvtest::ApiXml(4, 0, 1),
        {created,
         unattached,
         kDataCenter,
         attached,
         {"POST", kActivate, {kComplete}},
         becomesActive},
        true,
        withActivate,
        {{"POST", kDomains, "<host><name>host1</name></host>", true},
         {"POST", kDomains, "DC", false},
         {"POST", kDcDomains, "<name>data1</name>", true},
         {"POST", kDcDomains, "<host>", false}}},
       Domain("DC")},
      {{"from 4.0.2 on",
        hvtest::ApiXml(4, 0, 2),
        {created, unattached, kDataCenter, attached, becomesActive},
        true,
        then(waitActive),
        {}},
       Domain("DC")},
      {{"attach fails",
        hvtest::ApiXml(4, 1, 0),
        {created,
         unattached,
         kDataCenter,
         {"POST", kDcDomains, {Answer::engineFault(400, "Operation Failed", "no")}},
         kDestroyed,
         {"GET", kDomain, {kNotFound}}},
        false,
        then({"DELETE " + kDestroy, "GET " + kDomain}),
        {}},
       Domain("DC")},
      {{"no data center",
        hvtest::ApiXml(4, 1, 0),
        {},
        false,
        {},
        {},
        "Datacenter name can't be empty to create storage domain"},
       Domain("")},
      {{"no host",
        hvtest::ApiXml(4, 1, 0),
        {},
        false,
        {},
        {},
        "Host name can't be empty to create storage domain"},
       Domain("DC", "")},
  };
  for (const auto& c : cases) {
    SStorageDomainInfoLib domain = c.domain;
    run(c.flow, [&] { return ops->createStorageDomain(domain); });
  }
}

TEST_F(StorageOperationsTest, DeleteGoesThroughMaintenanceOnlyFromActive) {
  const std::string api = hvtest::ApiXml(4, 1, 0);
  const std::vector<std::string> readInDc = {"GET " + kDcSearch, "GET " + kDcDomainSearch};
  struct Case {
    Flow flow;
    SStorageDomainInfoLib domain;
  };
  const Case cases[] = {
      {{"active",
        api,
        {kDataCenter,
         {"GET", kDcDomainSearch, {Listed("Active"), Listed("maintenance")}},
         {"POST", kDeactivate, {kComplete}},
         kDestroyed,
         {"GET", kDomain, {kNotFound}}},
        true,
        {"GET " + kDcSearch, "GET " + kDcDomainSearch, "GET " + kDcSearch, "POST " + kDeactivate,
         "GET " + kDcSearch, "GET " + kDcDomainSearch, "DELETE " + kDestroy, "GET " + kDomain},
        {{"DELETE", kDestroy, "<async>false</async>", true}}},
       Domain("DC")},
      {{"maintenance",
        api,
        {kDataCenter,
         {"GET", kDcDomainSearch, {Listed("maintenance")}},
         kDestroyed,
         {"GET", kDomain, {kNotFound}}},
        true,
        {"GET " + kDcSearch, "GET " + kDcDomainSearch, "DELETE " + kDestroy, "GET " + kDomain},
        {},
        "Storage domain [data1] is not in active state. Destroying ..."},
       Domain("DC")},
      {{"unattached",
        api,
        {{"GET", kDomain, {Ok(DomainXml("sd1", "data1", "unattached")), kNotFound}}, kDestroyed},
        true,
        {"GET " + kDomain, "DELETE " + kDestroy, "GET " + kDomain},
        {}},
       Domain("")},
      {{"no host",
        api,
        {},
        false,
        {},
        {},
        "Host can't be empty to estroy storage domain [sd1][data1]"},
       Domain("", "")},
  };
  for (const auto& c : cases) {
    SStorageDomainInfoLib domain = c.domain;
    run(c.flow, [&] { return ops->deleteStorageDomain(domain); });
  }
}

TEST_F(StorageOperationsTest, DeleteCountsADomainAbsentOnlyWhenTheEngineSaysSo) {
  const std::string api = hvtest::ApiXml(4, 1, 0);
  struct Case {
    const char* name;
    const char* dataCenter;
    Flow::Step read;
    bool stale404;
    bool result;
  };
  const Case cases[] = {
      {"404", "", {"GET", kDomain, {kNotFound}}, false, true},
      {"not listed in the data center",
       "DC",
       {"GET",
        kDcDomainSearch,
        {Ok(ListXml("storage_domains", {DomainXml("sd9", "data9", "active")}))}},
       false,
       true},
      {"server error",
       "",
       {"GET", kDomain, {Answer::engineFault(500, "Internal", "boom")}},
       false,
       false},
      {"no answer", "", {"GET", kDomain, {Answer::drop()}}, false, false},
      {"unreadable after an older 404", "", {"GET", kDomain, {Ok("<html/>")}}, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine->reset();
    connectAs(api);
    if (c.stale404) leaveStale404();
    engine->script(std::get<0>(kDataCenter), std::get<1>(kDataCenter), std::get<2>(kDataCenter));
    engine->script(std::get<0>(c.read), std::get<1>(c.read), std::get<2>(c.read));
    engine->answer("DELETE", kDestroy, kComplete);
    SStorageDomainInfoLib domain = Domain(c.dataCenter);
    EXPECT_EQ(ops->deleteStorageDomain(domain), c.result);
    EXPECT_EQ(count("DELETE", kDestroy), 0u);
  }
}

TEST_F(StorageOperationsTest, DestroyRequiresCompleteAndTheDomainGone) {
  const std::string api = hvtest::ApiXml(4, 1, 0);
  const Flow flows[] = {
      {"still there",
       api,
       {kDestroyed, {"GET", kDomain, {Ok(DomainXml("sd1", "data1", ""))}}},
       false,
       {"DELETE " + kDestroy, "GET " + kDomain},
       {},
       "Storage domain [data1][sd1] still exist after destroy"},
      {"not complete",
       api,
       {{"DELETE", kDestroy, {Ok(hvtest::ActionXml("failed"))}}},
       false,
       {"DELETE " + kDestroy},
       {},
       "Destroy Storage domain [data1] has not completed, returned state: failed"},
      {"refused",
       api,
       {{"DELETE", kDestroy, {Answer::engineFault(409, "Busy", "locked")}}},
       false,
       std::vector<std::string>(4, "DELETE " + kDestroy),
       {},
       "destroy storage domain [sd1][data1] request failed"},
  };
  for (const auto& flow : flows) {
    SStorageDomainInfoLib domain = Domain("");
    run(flow, [&] { return ops->destroyStorageDomain(domain); });
  }
}

}  // namespace
}  // namespace Hypervale
