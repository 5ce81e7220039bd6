// The action body in its version forms. (Faults and action answers are read in the
// connection's error capture and in the operations' outcome tests.)
#include <gtest/gtest.h>

#include <tuple>

#include "support/record_test_support.h"

namespace Hypervale {
namespace {

TEST(ActionWriterTest, DetachUnderApiV3OrWhenAsked) {
  // Engine version, detach asked for, storage domain, the action's children.
  const std::tuple<unsigned, unsigned, bool, const char*, const char*> cases[] = {
      {3, 6, false, "", "<detach>false</detach><async>false</async>"},
      {3, 6, true, "", "<detach>true</detach><async>false</async>"},
      // Asked for, it is written whatever the engine: without it a DELETE on a VM's
      // "disks" deletes the disk.
      {4, 0, true, "", "<detach>true</detach><async>false</async>"},
      {4, 0, false, "a&b<\"c\">",
       "<async>false</async><storage_domain id=\"a&amp;b&lt;&quot;c&quot;>\"/>"},
      // Beyond ASCII (two, three and four bytes in UTF-8), written as given.
      {4, 0, false, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       "<async>false</async><storage_domain id=\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"/>"},
  };
  for (const auto& [major, minor, detach, storageDomainId, children] : cases) {
    TzRhevParser parser = recordtest::ParserAt(major, minor, 0);
    SActionInfoLib action;
    action.detach = detach;
    action.storageDomainId = storageDomainId;
    action.id = action.name = "never-written";
    EXPECT_EQ(recordtest::Written(parser, action, &TzRhevParser::serializeAction),
              std::string("<action>") + children + "</action>");
  }
  hvtest::LogCapture capture;
  SActionInfoLib invalid;
  invalid.storageDomainId = std::string("bad \xC3\x28 utf8");
  std::string body;
  EXPECT_FALSE(TzRhevParser().serializeAction(invalid, body));
  EXPECT_TRUE(capture.containsError("Failed to write [action] document")) << capture.all();
}

}  // namespace
}  // namespace Hypervale
