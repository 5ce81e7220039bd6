// The parser framework: API root and schema version, document checks, hostile bodies,
// lists, links and the shared helpers.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace {

using hvtest::Fixture;

TEST(DetectVersionTest, ReadsEveryRealApiRoot) {
  struct Case {
    const char* fixture;
    std::int32_t schema;
    const char* name;
    const char* fullVersion;
  };
  const Case cases[] = {
      {"v3/api.xml", 3001000, "Red Hat Enterprise Virtualization", ""},
      // v3 form of 3.6 and later: full_version beside the version element.
      {"v3/api-ovirt-3.6.xml", 3006007, "oVirt Engine", "3.6.7_master"},
      {"v3/api-served-by-4.1-engine.xml", 4001000, "oVirt Engine", "4.1.0_master"},
      {"v4/api.xml", 4000004, "oVirt Engine", "4.0.4"},
  };
  for (const auto& c : cases) {
    TzRhevParser parser;
    SAPIInfoLib api;
    ASSERT_TRUE(parser.DetectVersion(Fixture(c.fixture), api)) << c.fixture;
    EXPECT_EQ(parser.getSchemaVersion(), c.schema) << c.fixture;
    EXPECT_EQ(api.productInfo.name, c.name);
    EXPECT_EQ(api.productInfo.version.fullVersion, c.fullVersion) << c.fixture;
    EXPECT_TRUE(api.id.empty());  // the root's base fields are not read
    EXPECT_TRUE(api.links.empty());
  }
}

TEST(DetectVersionTest, VersionFormsAndFailures) {
  TzRhevParser parser;
  SAPIInfoLib api;
  ASSERT_TRUE(parser.DetectVersion(
      "<api><product_info><version major=\"3\" minor=\"6\" build=\"2\" revision=\"0\"/>"
      "</product_info></api>",
      api));
  EXPECT_EQ(parser.getSchemaVersion(), 3006002);
  SAPIInfoLib api4;
  ASSERT_TRUE(parser.DetectVersion(
      "<api><product_info><version><major>4</major><minor>2</minor><build>8</build>"
      "<full_version>4.2.8</full_version></version><full_version>other</full_version>"
      "</product_info></api>",
      api4));
  EXPECT_EQ(parser.getSchemaVersion(), 4002008);
  EXPECT_EQ(api4.productInfo.version.fullVersion, "4.2.8");  // the version's own text wins

  hvtest::LogCapture capture;
  SAPIInfoLib other;
  EXPECT_FALSE(parser.DetectVersion("<vms/>", other));
  EXPECT_TRUE(capture.containsError("Object name is [vms], expected [api]"));
  EXPECT_FALSE(parser.DetectVersion("<html><body>Bad gateway</body></html>", other));
  EXPECT_FALSE(parser.DetectVersion("", other));
  EXPECT_EQ(parser.getSchemaVersion(), 4002008);  // unchanged by failures

  // A hostile version cannot wrap the schema version to a negative number.
  SAPIInfoLib huge;
  ASSERT_TRUE(parser.DetectVersion(
      "<api><product_info><version major=\"4294967295\" minor=\"1\"/></product_info></api>", huge));
  EXPECT_GT(parser.getSchemaVersion(), 4000000);
}

TEST(ParserFrameworkTest, WrongRootNamesAreRefusedWithTheExactMessages) {
  TzRhevParser parser;
  hvtest::LogCapture capture;
  std::vector<SJobInfoLib> jobs;
  EXPECT_FALSE(parser.parseJobInfoList("<job id=\"1\"/>", jobs));
  EXPECT_TRUE(jobs.empty());
  EXPECT_EQ(capture.errors(), std::vector<std::string>{"List name is [job], expected [jobs]"});

  capture.clear();
  SJobInfoLib job;
  job.id = "kept";
  EXPECT_FALSE(parser.parseJobInfo("<jobs/>", job));
  EXPECT_EQ(job.id, "kept");
  EXPECT_EQ(capture.errors(), std::vector<std::string>{"Object name is [jobs], expected [job]"});

  // The transport's probes of error bodies stay silent on a mismatch.
  capture.clear();
  SFaultInfoLib fault;
  SActionInfoLib action;
  EXPECT_FALSE(parser.parseFault("<action/>", fault, false));
  EXPECT_FALSE(parser.parseAction("<fault/>", action, false));
  EXPECT_TRUE(capture.errors().empty());
  EXPECT_FALSE(parser.parseAction("<fault/>", action, true));
  EXPECT_EQ(capture.errors(),
            std::vector<std::string>{"Object name is [fault], expected [action]"});
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

// Reading and writing alike: the facade writes request bodies (createVM, createDisk,
// attachDisk) before it reads anything.
TEST(ParserFrameworkTest, AHostThatForgotToInitialiseTheXmlLibraryIsTold) {
  TerminateXmlLibrary();  // the suite's own initialisation
  TzRhevParser parser;
  hvtest::LogCapture capture;
  SFaultInfoLib fault;
  SVMInfoLib vm;
  vm.name = "vm";
  SDiskAttachmentInfoLib attachment;
  std::string body = "untouched";
  const bool results[] = {
      parser.parseFault("<fault><detail>d</detail></fault>", fault, true),
      parser.serializeVMInfo(vm, body),
      parser.serializeDiskAttachmentInfo(attachment, body),
  };
  InitializeXmlLibrary();
  for (const bool result : results) EXPECT_FALSE(result);
  EXPECT_EQ(body, "untouched");
  ASSERT_EQ(capture.errors().size(), 3u) << capture.all();
  for (const auto& error : capture.errors()) {
    EXPECT_NE(error.find("XMLPlatformUtils::Initialize()"), std::string::npos) << error;
  }
}

TEST(ParserFrameworkTest, ValuesHoldingANulByteAreRefusedWhenWritten) {
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
  for (const SNicInfoLib& refused : {nulInElement, nulInAttribute}) {
    hvtest::LogCapture capture;
    body = "untouched";
    EXPECT_FALSE(parser.serializeNicInfo(refused, body));
    EXPECT_EQ(body, "untouched");
    EXPECT_TRUE(capture.containsError("holds a NUL byte")) << capture.all();
  }
}

// Lists are read one item at a time and appended after what the vector held, in document
// order; an item's text reads whole however references, comments and CDATA sections cut it.
TEST(ParserFrameworkTest, ListsAreReadItemByItemAndAppended) {
  TzRhevParser parser;
  std::vector<SJobInfoLib> jobs(2);
  jobs[0].id = "first";
  ASSERT_TRUE(parser.parseJobInfoList(Fixture("v4/jobs.xml"), jobs));
  ASSERT_EQ(jobs.size(), 3u);
  EXPECT_EQ(jobs[0].id, "first");
  EXPECT_EQ(jobs[2].id, "123");
  EXPECT_EQ(jobs[2].status, "failed");

  ASSERT_TRUE(parser.parseJobInfoList("<jobs/>", jobs));
  EXPECT_EQ(jobs.size(), 3u);
  ASSERT_TRUE(parser.parseJobInfoList("<jobs>\n  <!-- none -->\n</jobs>", jobs));
  EXPECT_EQ(jobs.size(), 3u);

  ASSERT_TRUE(parser.parseJobInfoList(
      "<jobs total=\"2\">loose text<?pi x?><job id=\"a\"><description>a &amp; b<!-- c -->"
      " &#233;<![CDATA[<x>]]></description></job><job id=\"b\"><description/></job></jobs>",
      jobs));
  ASSERT_EQ(jobs.size(), 5u);
  EXPECT_EQ(jobs[3].id, "a");
  EXPECT_EQ(jobs[3].description, "a & b \xC3\xA9<x>");
  EXPECT_EQ(jobs[4].id, "b");
  EXPECT_EQ(jobs[4].description, "");
}

TEST(ParserFrameworkTest, BaseReaderLinksIdsAndTexts) {
  TzRhevParser parser;
  SJobInfoLib job;
  job.id = "previous";
  job.name = "previous name";
  ASSERT_TRUE(parser.parseJobInfo(
      "<job href=\"/ovirt-engine/api/jobs/7\">"
      "<name>n</name><description>  d\t</description><comment></comment>"
      "<link rel=\"steps\" href=\"/a\"/><link rel=\"steps\" href=\"/b\"/>"
      "<link href=\"/c\" rel=\"clear\"/>"
      "<actions><link href=\"/ovirt-engine/api/jobs/7/end\" rel=\"end\"/></actions>"
      "<owner id=\"u1\"><name>owner name</name></owner></job>",
      job));
  EXPECT_EQ(job.id, "previous");  // no id attribute: unchanged
  EXPECT_EQ(job.href, "/ovirt-engine/api/jobs/7");
  EXPECT_EQ(job.name, "n");  // a nested name does not overwrite the direct one
  EXPECT_EQ(job.description, "  d\t");
  EXPECT_EQ(job.links.size(), 2u);
  EXPECT_EQ(job.links["steps"], "/b");  // the later link of a rel wins
  EXPECT_EQ(job.links["clear"], "/c");
  EXPECT_EQ(job.links.count("end"), 0u);  // only direct "link" children count
}

TEST(ParserFrameworkTest, StatusAndReferenceHelpers) {
  TzRhevParser parser;
  struct Case {
    const char* body;
    const char* status;
  };
  const Case cases[] = {
      {"<creation><status> \tup\t </status></creation>", "up"},
      {"<creation><status><state>down</state></status></creation>", "down"},
      {"<creation><status><state>complete</state><detail>x</detail></status></creation>",
       "complete"},
      {"<creation><status>\n  pending\n</status></creation>",
       "\n  pending\n"},  // only blanks and tabs
      {"<creation><status/></creation>", ""},
  };
  for (const auto& c : cases) {
    SCreationInfoLib creation;
    creation.status = "stale";
    ASSERT_TRUE(parser.parseCreation(c.body, creation));
    EXPECT_EQ(creation.status, c.status) << c.body;
  }
  SActionInfoLib action;
  ASSERT_TRUE(
      parser.parseAction("<action><job href=\"/ovirt-engine/api/jobs/9\" id=\"9\"/>"
                         "<status>complete</status></action>",
                         action, true));
  EXPECT_EQ(action.jobId, "9");
  EXPECT_EQ(action.jobHref, "/ovirt-engine/api/jobs/9");
}

TEST(ParserFrameworkTest, NumbersAndDatesInJobs) {
  TzRhevParser parser;
  SJobInfoLib job;
  ASSERT_TRUE(parser.parseJobInfo(Fixture("v4/job.xml"), job));
  EXPECT_EQ(job.description, "Adding Disk");
  EXPECT_EQ(job.status, "failed");
  EXPECT_EQ(job.startTime, 1481576846593L);  // 2016-12-12T23:07:26.593+02:00
  EXPECT_EQ(job.endTime, 1481576849758L);
  EXPECT_EQ(job.lastUpdated, 1481576849758L);

  SJobInfoLib v3;
  ASSERT_TRUE(
      parser.parseJobInfo("<job id=\"j\"><status><state>FINISHED</state></status>"
                          "<start_time>1700000000000</start_time>"
                          "<end_time>2016-12-12T21:07:29Z</end_time>"
                          "<last_updated>not a time</last_updated></job>",
                          v3));
  EXPECT_EQ(v3.status, "FINISHED");
  EXPECT_EQ(v3.startTime, 1700000000000L);
  EXPECT_EQ(v3.endTime, 1481576849000L);
  EXPECT_EQ(v3.lastUpdated, 0);
}

}  // namespace
}  // namespace Hypervale
