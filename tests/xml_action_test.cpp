// Faults and actions, in both directions.
#include <gtest/gtest.h>

#include "support/record_test_support.h"

namespace Hypervale {
namespace {

using hvtest::Fixture;

TEST(FaultAndActionTest, ErrorBodiesOfBothVersions) {
  TzRhevParser parser;
  SFaultInfoLib fault;
  ASSERT_TRUE(parser.parseFault(Fixture("v4/fault.xml"), fault, true));
  EXPECT_EQ(recordtest::Join({fault.reason, fault.detail}),
            "Incomplete parameters|Vm [name] required for add");
  struct Case {
    std::string body;
    const char* summary;  // status, reason and detail
  };
  const Case cases[] = {
      {Fixture("v4/action-with-fault.xml"), "|myreason|mydetail"},
      {Fixture("v3/action-with-fault.xml"), "||[Cannot stop VM. VM is not running.]"},
      {"<action><status><state>failed</state></status><fault><reason>Operation Failed</reason>"
       "<detail>[Cannot stop VM.]</detail></fault></action>",
       "failed|Operation Failed|[Cannot stop VM.]"},
  };
  for (const auto& c : cases) {
    SActionInfoLib action;
    ASSERT_TRUE(parser.parseAction(c.body, action, true));
    EXPECT_EQ(recordtest::Join({action.status, action.fault.reason, action.fault.detail}),
              c.summary);
  }
  // A v3 usage message is neither a fault nor an action.
  hvtest::LogCapture capture;
  SActionInfoLib action;
  EXPECT_FALSE(parser.parseFault(Fixture("v3/usage-message.xml"), fault, false));
  EXPECT_FALSE(parser.parseAction(Fixture("v3/usage-message.xml"), action, false));
  EXPECT_TRUE(capture.errors().empty());
}

TEST(ActionWriterTest, DetachUnderApiV3OrWhenAsked) {
  struct Case {
    const char* api;
    bool detach;
    const char* storageDomainId;
    const char* expectedChildren;
  };
  const Case cases[] = {
      {"v3/api-ovirt-3.6.xml", false, "", "<detach>false</detach><async>false</async>"},
      {"v3/api-ovirt-3.6.xml", true, "", "<detach>true</detach><async>false</async>"},
      // Asked for, it is written whatever the engine: without it a DELETE on a VM's
      // "disks" deletes the disk.
      {"v3/api-served-by-4.1-engine.xml", true, "", "<detach>true</detach><async>false</async>"},
      {"v4/api.xml", true, "", "<detach>true</detach><async>false</async>"},
      {"v4/api.xml", false, "a&b<\"c\">",
       "<async>false</async><storage_domain id=\"a&amp;b&lt;&quot;c&quot;>\"/>"},
  };
  for (const auto& c : cases) {
    TzRhevParser parser;
    SAPIInfoLib api;
    ASSERT_TRUE(parser.DetectVersion(Fixture(c.api), api));
    SActionInfoLib action;
    action.detach = c.detach;
    action.storageDomainId = c.storageDomainId;
    action.id = action.name = "never-written";
    std::string body;
    ASSERT_TRUE(parser.serializeAction(action, body));
    EXPECT_EQ(recordtest::RootOf(body), std::string("<action>") + c.expectedChildren + "</action>")
        << c.api;
  }
  hvtest::LogCapture capture;
  SActionInfoLib invalid;
  invalid.storageDomainId = std::string("bad \xC3\x28 utf8");
  std::string body = "untouched";
  EXPECT_FALSE(TzRhevParser().serializeAction(invalid, body));
  EXPECT_TRUE(capture.containsError("Failed to write [action] document")) << capture.all();
}

}  // namespace
}  // namespace Hypervale
