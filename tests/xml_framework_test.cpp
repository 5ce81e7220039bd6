// The parser framework: API root and schema version, document checks, lists, links and the
// shared helpers.
#include <gtest/gtest.h>

#include "support/record_test_support.h"

namespace Hypervale {
namespace {

using hvtest::Fixture;
using recordtest::Join;

TEST(DetectVersionTest, RealRootsTheVersionsOwnTextAndFailures) {
  const struct {
    std::string body;
    std::int32_t schema;
    const char* summary;  // product name, full version
  } cases[] = {
      {Fixture("v3/api.xml"), 3001000, "Red Hat Enterprise Virtualization|"},
      // v3 form of 3.6 and later: full_version beside the version element.
      {Fixture("v3/api-ovirt-3.6.xml"), 3006007, "oVirt Engine|3.6.7_master"},
      {Fixture("v3/api-served-by-4.1-engine.xml"), 4001000, "oVirt Engine|4.1.0_master"},
      {Fixture("v4/api.xml"), 4000004, "oVirt Engine|4.0.4"},
      // The version's own full_version wins over the one beside it.
      {"<api><product_info><version><major>4</major><minor>2</minor><build>8</build>"
       "<full_version>4.2.8</full_version></version><full_version>other</full_version>"
       "</product_info></api>",
       4002008, "|4.2.8"},
  };
  TzRhevParser parser;
  for (const auto& c : cases) {
    SAPIInfoLib api;
    ASSERT_TRUE(parser.DetectVersion(c.body, api)) << c.summary;
    EXPECT_EQ(parser.getSchemaVersion(), c.schema) << c.summary;
    // The root's own id and links are not read.
    EXPECT_EQ(Join({api.productInfo.name, api.productInfo.version.fullVersion, api.id,
                    std::to_string(api.links.size())}),
              std::string(c.summary) + "||0");
  }
  hvtest::LogCapture capture;
  for (const char* body : {"<vms/>", "<html><body>Bad gateway</body></html>", ""}) {
    SAPIInfoLib other;
    EXPECT_FALSE(parser.DetectVersion(body, other)) << body;
  }
  EXPECT_TRUE(capture.containsError("Object name is [vms], expected [api]"));
  EXPECT_EQ(parser.getSchemaVersion(), 4002008);  // unchanged by failures
}

// A wrong document element leaves the record as it was and is logged with what was expected.
TEST(ParserFrameworkTest, WrongDocumentElementsAreRefusedWithTheExactMessages) {
  TzRhevParser parser;
  hvtest::LogCapture capture;
  std::vector<SJobInfoLib> jobs;
  SJobInfoLib job;
  job.id = "kept";
  EXPECT_FALSE(parser.parseJobInfoList("<job id=\"1\"/>", jobs));
  EXPECT_FALSE(parser.parseJobInfo("<jobs/>", job));
  EXPECT_TRUE(jobs.empty());
  EXPECT_EQ(job.id, "kept");
  EXPECT_EQ(capture.errors(), (std::vector<std::string>{"List name is [job], expected [jobs]",
                                                        "Object name is [jobs], expected [job]"}));
}

TEST(ParserFrameworkTest, UnreadableBodiesGiveFalseAndAClearError) {
  const std::string bodies[] = {
      "",
      "   ",
      "<jobs><job id=\"1\">",                                       // truncated
      "<jobs><job id=\"1\"/><job id=\"2\"/><job id=\"3\"></jobs>",  // broken after two items
      "<html><head><title>502 Proxy Error</title></head><body><p>Bad gateway<br></body></html>",
      std::string("\x00\x01\xff\xfe<jobs/>\x80", 12),
      "<?xml version=\"1.0\"?>",
      "<jobs/><jobs/>",
      "<jobs attr=\"1\" attr=\"2\"/>",
      "\xEF\xBB\xBF<jobs><job id=\"\xC3\x28\"/></jobs>",  // invalid UTF-8
  };
  for (const auto& body : bodies) {
    TzRhevParser parser;
    hvtest::LogCapture capture;
    std::vector<SJobInfoLib> jobs;
    EXPECT_FALSE(parser.parseJobInfoList(body, jobs)) << body;
    EXPECT_TRUE(jobs.empty());
    ASSERT_EQ(capture.errors().size(), 1u) << capture.all();
    EXPECT_NE(capture.errors()[0].find("Failed to read XML body expected as [jobs]"),
              std::string::npos)
        << capture.errors()[0];
  }
}

// A writer that cannot write leaves the body as it was and says why: for a value holding a NUL
// byte, which XML cannot carry, and for a host that forgot to initialise the XML library
// (reading fails too; the facade writes request bodies before it reads anything).
TEST(ParserFrameworkTest, WritersThatCannotWriteSayWhy) {
  TzRhevParser parser;
  SNicInfoLib nic;
  nic.name = "nic1";
  nic.interface = "virtio";
  nic.vnicProfileId = "p1";
  std::string body;
  ASSERT_TRUE(parser.serializeNicInfo(nic, body));
  SNicInfoLib nulInElement = nic;
  nulInElement.name = std::string("ni\0c1", 5);
  SNicInfoLib nulInAttribute = nic;
  nulInAttribute.vnicProfileId = std::string("p\0", 2);
  hvtest::LogCapture capture;
  body = "untouched";
  SFaultInfoLib fault;
  SDiskAttachmentInfoLib attachment;
  TerminateXmlLibrary();  // the suite's own initialisation
  const bool withoutLibrary[] = {
      parser.parseFault("<fault><detail>d</detail></fault>", fault, true),
      parser.serializeNicInfo(nic, body),
      parser.serializeDiskAttachmentInfo(attachment, body),
  };
  InitializeXmlLibrary();
  for (const bool result : withoutLibrary) EXPECT_FALSE(result);
  EXPECT_FALSE(parser.serializeNicInfo(nulInElement, body));
  EXPECT_FALSE(parser.serializeNicInfo(nulInAttribute, body));
  EXPECT_EQ(body, "untouched");
  ASSERT_EQ(capture.errors().size(), 5u) << capture.all();
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_NE(
        capture.errors()[i].find(i < 3 ? "XMLPlatformUtils::Initialize()" : "holds a NUL byte"),
        std::string::npos)
        << capture.errors()[i];
  }
}

// Lists are read one item at a time and appended after what the vector held, in document
// order; an item's text reads whole however references, comments and CDATA sections cut it.
TEST(ParserFrameworkTest, ListsAreReadItemByItemAndAppended) {
  TzRhevParser parser;
  std::vector<SJobInfoLib> jobs(2);
  jobs[0].id = "first";
  ASSERT_TRUE(parser.parseJobInfoList(Fixture("v4/jobs.xml"), jobs));
  ASSERT_TRUE(parser.parseJobInfoList("<jobs/>", jobs));
  ASSERT_TRUE(parser.parseJobInfoList("<jobs>\n  <!-- none -->\n</jobs>", jobs));
  ASSERT_TRUE(parser.parseJobInfoList(
      "<jobs total=\"2\">loose text<?pi x?><job id=\"a\"><description>a &amp; b<!-- c -->"
      " &#233;<![CDATA[<x>]]></description></job><job id=\"b\"><description/></job></jobs>",
      jobs));
  ASSERT_EQ(jobs.size(), 5u);
  EXPECT_EQ(Join({jobs[0].id, jobs[1].id, jobs[2].id, jobs[2].status, jobs[3].id,
                  jobs[3].description, jobs[4].id, jobs[4].description}),
            "first||123|failed|a|a & b \xC3\xA9<x>|b|");
}

// A large list (its room reserved from the items the body checks counted) reads every record,
// in document order, after what the vector held; a body malformed near its end, more items
// than allowed and more element names than the bound are refused with the vector unchanged.
TEST(ParserFrameworkTest, LargeListsReadWholeAfterWhatTheListHeld) {
  const std::string fixture = Fixture("v4/vm.xml");
  TzRhevParser parser;
  SVMInfoLib single;
  ASSERT_TRUE(parser.parseVMInfo(fixture, single));
  const std::string vm = fixture.substr(fixture.find("<vm "));
  const size_t name = vm.find("<name>vm_off</name>");
  ASSERT_NE(name, std::string::npos);
  const auto list = [&](const std::string& firstExtra, const std::string& lastExtra) {
    std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<vms>\n";
    for (int i = 0; i < 600; ++i) {
      const std::string extra = i == 0 ? firstExtra : i == 599 ? lastExtra : "";
      body += vm.substr(0, name) + extra + "<name>vm-" + std::to_string(i) + "</name>" +
              vm.substr(name + 19);
    }
    return body + "</vms>\n";
  };
  const auto names = [](char letter) {
    std::string out;
    for (int i = 0; i < 3000; ++i) out += "<" + std::string(1, letter) + std::to_string(i) + "/>";
    return out;
  };
  const std::string body = list("", "");
  ASSERT_GT(body.size(), 5u << 20);
  std::vector<SVMInfoLib> vms(1);
  ASSERT_TRUE(parser.parseVMInfoList(body, vms));
  ASSERT_EQ(vms.size(), 601u);
  for (size_t i = 1; i < vms.size(); ++i) {
    const SVMInfoLib& v = vms[i];
    EXPECT_EQ(Join({v.name, v.id, v.href, v.status, v.clusterId, v.osType, v.fqdn,
                    std::to_string(v.memory), std::to_string(v.links.size()),
                    std::to_string(v.customProperties.size())}),
              Join({"vm-" + std::to_string(i - 1), single.id, single.href, single.status,
                    single.clusterId, single.osType, single.fqdn, std::to_string(single.memory),
                    std::to_string(single.links.size()),
                    std::to_string(single.customProperties.size())}));
  }
  // A body its owner drops unread gives back the memory of what was parsed (it reads as zeros
  // afterwards) but its first MiB, with the same records; any other body stays whole.
  {
    std::string dropped = body;
    std::vector<SVMInfoLib> again;
    const TzRhevParser::DisposableBodies scope(parser);
    ASSERT_TRUE(parser.parseVMInfoList(dropped, again));
    ASSERT_EQ(again.size(), 600u);
    EXPECT_EQ(again.back().name + again.back().id, "vm-599" + single.id);
    EXPECT_EQ(dropped.compare(0, 1u << 20, body, 0, 1u << 20), 0);
    EXPECT_EQ(dropped[3u << 20], '\0');
  }
  EXPECT_EQ(body.find('\0'), std::string::npos);
  // 3,000 names more twice: the same ones read, other ones are too many.
  vms.clear();
  EXPECT_TRUE(parser.parseVMInfoList(list(names('e'), names('e')), vms));
  EXPECT_EQ(vms.size(), 600u);
  hvtest::ConfigScope config;
  const std::string malformed = list("", "<open>");
  xml::ParsedXml whole;
  ASSERT_FALSE(whole.parseItems(
      malformed, "ParseList", [](const xercesc::DOMNode*) { return true; },
      [](xercesc::DOMNode*, size_t) { return true; }));
  const struct {
    std::string body;
    const char* items;  // nRhevMaxListItems
    std::string error;
  } refused[] = {
      {malformed, "200000", "Failed to read XML body expected as [vms]: " + whole.error()},
      {body, "599", "Refusing the list [vms]: it holds more than 599 items"},
      {list(names('e'), names('f')), "200000", "names more than 4096 different elements"},
  };
  for (const auto& c : refused) {
    config.set("nRhevMaxListItems", c.items);
    hvtest::LogCapture capture;
    vms.assign(1, SVMInfoLib());
    EXPECT_FALSE(parser.parseVMInfoList(c.body, vms)) << c.error;
    EXPECT_EQ(vms.size(), 1u);
    ASSERT_EQ(capture.errors().size(), 1u) << capture.all();
    EXPECT_NE(capture.errors()[0].find(c.error), std::string::npos) << capture.errors()[0];
  }
}

// Jobs and actions over the shared helpers: base fields and links, status (a text trimmed of
// blanks and tabs only, or a nested state), times as dates or milliseconds, references. A field
// the body lacks keeps its value; a status present replaces it even when empty.
TEST(ParserFrameworkTest, JobsThroughTheSharedHelpers) {
  const struct {
    std::string body;
    const char* summary;  // id, href, name, description, links, status, start, end, updated
  } cases[] = {
      {Fixture("v4/job.xml"),  // times at +02:00
       "123|/ovirt-engine/api/jobs/123|n0|Adding "
       "Disk|steps=/ovirt-engine/api/jobs/123/steps|failed|"
       "1481576846593|1481576849758|1481576849758"},
      {"<job href=\"/j/7\"><name>n</name><description>  d\t</description><comment></comment>"
       "<link rel=\"steps\" href=\"/a\"/><link rel=\"steps\" href=\"/b\"/>"
       "<link href=\"/c\" rel=\"clear\"/><actions><link href=\"/j/7/end\" rel=\"end\"/></actions>"
       "<owner id=\"u1\"><name>owner name</name></owner></job>",
       "i0|/j/7|n|  d\t|clear=/c steps=/b|s0|0|0|0"},
      {"<job id=\"j\"><status><state>FINISHED</state></status><start_time>1700000000000"
       "</start_time><end_time>2016-12-12T21:07:29Z</end_time><last_updated>not a time"
       "</last_updated></job>",
       "j||n0|||FINISHED|1700000000000|1481576849000|0"},
      {"<job><status> \tup\t </status></job>", "i0||n0|||up|0|0|0"},
      {"<job><status><state>complete</state><detail>x</detail></status></job>",
       "i0||n0|||complete|0|0|0"},
      {"<job><status>\n  pending\n</status></job>", "i0||n0|||\n  pending\n|0|0|0"},
      {"<job><status/></job>", "i0||n0||||0|0|0"},
  };
  TzRhevParser parser;
  for (const auto& c : cases) {
    SJobInfoLib job;
    job.id = "i0";
    job.name = "n0";
    job.status = "s0";
    ASSERT_TRUE(parser.parseJobInfo(c.body, job)) << c.body;
    std::string links;
    for (const auto& link : job.links)
      links += (links.empty() ? "" : " ") + link.first + "=" + link.second;
    EXPECT_EQ(Join({job.id, job.href, job.name, job.description, links, job.status,
                    std::to_string(job.startTime), std::to_string(job.endTime),
                    std::to_string(job.lastUpdated)}),
              c.summary);
  }
  // An action names the job it started, which is then polled.
  SActionInfoLib action;
  ASSERT_TRUE(parser.parseAction(
      "<action><job href=\"/j/9\" id=\"9\"/><status>complete</status></action>", action, true));
  EXPECT_EQ(Join({action.jobId, action.jobHref, action.status}), "9|/j/9|complete");
}

}  // namespace
}  // namespace Hypervale
