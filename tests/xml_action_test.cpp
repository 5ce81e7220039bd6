// Faults, actions (both directions) and creation statuses.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace {

using hvtest::Fixture;

// A parser that believes it talks to the engine whose API root is `apiFixture`.
TzRhevParser ParserFor(const char* apiFixture) {
  TzRhevParser parser;
  SAPIInfoLib api;
  EXPECT_TRUE(parser.DetectVersion(Fixture(apiFixture), api));
  return parser;
}

TEST(FaultAndActionTest, RealErrorBodies) {
  TzRhevParser parser;
  SFaultInfoLib fault;
  ASSERT_TRUE(parser.parseFault(Fixture("v4/fault.xml"), fault, true));
  EXPECT_EQ(fault.reason, "Incomplete parameters");
  EXPECT_EQ(fault.detail, "Vm [name] required for add");

  SActionInfoLib v4;
  ASSERT_TRUE(parser.parseAction(Fixture("v4/action-with-fault.xml"), v4, true));
  EXPECT_EQ(v4.fault.reason, "myreason");
  EXPECT_EQ(v4.fault.detail, "mydetail");

  SActionInfoLib v3;
  ASSERT_TRUE(parser.parseAction(Fixture("v3/action-with-fault.xml"), v3, true));
  EXPECT_EQ(v3.fault.detail, "[Cannot stop VM. VM is not running.]");
  EXPECT_EQ(v3.fault.reason, "");

  // A v3 usage message is neither a fault nor an action.
  hvtest::LogCapture capture;
  EXPECT_FALSE(parser.parseFault(Fixture("v3/usage-message.xml"), fault, false));
  EXPECT_FALSE(parser.parseAction(Fixture("v3/usage-message.xml"), v3, false));
  EXPECT_TRUE(capture.errors().empty());
}

TEST(FaultAndActionTest, ActionAnswersFillStatusFaultAndJob) {
  TzRhevParser parser;
  SActionInfoLib failed;
  ASSERT_TRUE(parser.parseAction(
      "<action><status><state>failed</state></status>"
      "<fault><reason>Operation Failed</reason><detail>[Cannot stop VM.]</detail></fault>"
      "</action>",
      failed, true));
  EXPECT_EQ(failed.status, "failed");
  EXPECT_EQ(failed.fault.reason, "Operation Failed");
  EXPECT_EQ(failed.fault.detail, "[Cannot stop VM.]");

  SActionInfoLib complete;
  ASSERT_TRUE(
      parser.parseAction("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<action>"
                         "<async>false</async><status> complete\t</status>"
                         "<job href=\"/ovirt-engine/api/jobs/5\" id=\"5\"/></action>",
                         complete, true));
  EXPECT_EQ(complete.status, "complete");
  EXPECT_EQ(complete.jobId, "5");
  EXPECT_EQ(complete.jobHref, "/ovirt-engine/api/jobs/5");
  EXPECT_FALSE(complete.async);  // answers' flags are not read
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
      {"v4/api.xml", false, "sd-1", "<async>false</async><storage_domain id=\"sd-1\"/>"},
      {"v3/api.xml", false, "sd-2",
       "<detach>false</detach><async>false</async><storage_domain id=\"sd-2\"/>"},
  };
  for (const auto& c : cases) {
    TzRhevParser parser = ParserFor(c.api);
    SActionInfoLib action;
    action.detach = c.detach;
    action.storageDomainId = c.storageDomainId;
    action.id = "never-written";
    action.name = "never-written";
    std::string body;
    ASSERT_TRUE(parser.serializeAction(action, body));
    EXPECT_EQ(body.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"", 0), 0u) << body;
    const size_t open = body.find("<action>");
    ASSERT_NE(open, std::string::npos) << body;
    EXPECT_EQ(body.substr(open), std::string("<action>") + c.expectedChildren + "</action>")
        << c.api;
  }
}

TEST(ActionWriterTest, WrittenActionReadsBackAndRefusesInvalidText) {
  TzRhevParser parser = ParserFor("v4/api.xml");
  SActionInfoLib action;
  action.storageDomainId = "a&b<\"c\">";
  std::string body;
  ASSERT_TRUE(parser.serializeAction(action, body));
  EXPECT_NE(body.find("id=\"a&amp;b&lt;&quot;c&quot;>\""), std::string::npos) << body;

  hvtest::LogCapture capture;
  action.storageDomainId = std::string("bad \xC3\x28 utf8");
  body = "untouched";
  EXPECT_FALSE(parser.serializeAction(action, body));
  EXPECT_TRUE(capture.containsError("Failed to write [action] document")) << capture.all();
}

}  // namespace
}  // namespace Hypervale
