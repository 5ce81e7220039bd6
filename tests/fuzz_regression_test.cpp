// Replays the fuzzer's saved inputs, every fixture and a few generated hostile bodies through
// the fuzzer's own checks (tests/fuzz/fuzz_dispatch.h), so a fixed crash stays fixed in the
// normal and the sanitizer builds.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "fuzz/fuzz_dispatch.h"
#include "host/xmlDocument.h"
#include "host/xmlText.h"
#include "support/test_support.h"
#include "xml/rhevParser.h"

namespace {

namespace fs = std::filesystem;
using namespace Hypervale;
using namespace Hypervale::fuzz;

const fs::path kFixtures = HV_FIXTURE_DIR;
const std::string kRegressions = "../fuzz/regressions/";  // beside the fixtures

std::set<fs::path> FilesIn(const fs::path& dir) {
  return {fs::directory_iterator(dir), fs::directory_iterator()};
}

std::string Check(const std::string& input, RunStats* stats = nullptr) {
  return RunInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size(), stats);
}

TEST(FuzzRegressionTest, SavedInputsPassEveryCheck) {
  size_t deepNesting = 0;
  for (const fs::path& file : FilesIn(kFixtures / kRegressions)) {
    const std::string name = file.filename().string();
    if (name.rfind("README", 0) == 0) continue;
    hvtest::LogCapture log;
    EXPECT_EQ("", Check(hvtest::Fixture(kRegressions + name))) << name;
    // The inputs that once overflowed the stack are refused, after reading 256 levels only.
    if (name.find("deep_nesting") != std::string::npos) {
      EXPECT_TRUE(log.containsError("nests elements more than 256 levels deep")) << name;
      ++deepNesting;
    }
  }
  EXPECT_GE(deepNesting, 2u);
}

// Every real body through the probes any body meets, through one reader of another document
// element (a different one from body to body), and through its own reader under a generation
// of each form the writers choose between (before 4.0.0, 4.0.0, 4.0.2 and later).
TEST(FuzzRegressionTest, FixturesPassEveryCheck) {
  hvtest::LogCapture log;  // every line formatted, none printed
  std::map<unsigned, RunStats> stats;
  size_t bodies = 0;
  for (const char* version : {"v3", "v4"}) {
    for (const fs::path& file : FilesIn(kFixtures / version)) {
      if (file.extension() != ".xml") continue;
      const std::string body = hvtest::Fixture(version + ("/" + file.filename().string()));
      xml::ParsedXml document;
      ASSERT_TRUE(document.parse(body, "fixture")) << file;
      const std::string root = xml::ToUtf8(document.root()->getNodeName());
      const int own = SelectorForRoot(root);
      EXPECT_TRUE(own >= 0 || root == "usage_message") << file;
      const auto run = [&](unsigned selector, unsigned generation) {
        EXPECT_EQ("", Check(MakeInput(selector, generation, body), &stats[selector])) << file;
      };
      run(SelectorOf("job") + bodies++ % (kEntryPointCount - SelectorOf("job")), 0);
      for (const char* probe : {"detect_version", "fault_logged", "action_logged", "last_error"}) {
        run(SelectorOf(probe), 0);
      }
      for (const unsigned generation : {3u, 4u, 5u, 6u}) {
        if (own >= 0) run(own, generation);
      }
    }
  }
  EXPECT_GE(bodies, 50u);
  // The round-trip check really ran for every writer the fixtures reach.
  for (const char* name :
       {"action_logged", "network_list", "vnic_profile_list", "nic_list", "vm", "vm_list",
        "storage_domain", "storage_domain_list", "disk", "disk_list", "disk_attachment",
        "disk_attachment_list", "snapshot", "snapshot_list"}) {
    EXPECT_GT(stats[SelectorOf(name)].roundTrips, 0u) << name;
  }
}

// A saved regression input without its selector and generation bytes.
std::string Saved(const std::string& name) {
  return hvtest::Fixture(kRegressions + name).substr(2);
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

// The same text in another encoding: every character widened to `width` bytes, the ASCII
// code first (little-endian) or last (big-endian).
std::string Widen(const std::string& ascii, size_t width, bool bigEndian) {
  std::string out;
  const std::string zeros(width - 1, '\0');
  for (const char c : ascii) out += bigEndian ? zeros + c : c + zeros;
  return out;
}

// A network whose name nests `levels` elements deep after `empties` empty elements.
std::string Nested(int levels, int empties) {
  return "<network><name>" + Repeat("<e/>", empties) + Repeat("<a>", levels) + "deep" +
         Repeat("</a>", levels) + "</name></network>";
}

// Bodies no engine sends, read whole and item by item. A body that expands a handful of bytes
// into gigabytes once its entities are declared is refused in any encoding before the XML
// library reads it: the cost of a hostile body is one pass over its bytes, never the
// expansion. Only the depth bound is found while reading, after 256 levels (empty elements
// count as opened and closed).
TEST(FuzzRegressionTest, HostileBodiesAreRefusedBeforeOrWhileReading) {
  std::string entities = "<!ENTITY a \"aaaaaaaaaa\">";
  for (char name = 'b'; name <= 'i'; ++name) {
    const std::string previous(1, static_cast<char>(name - 1));
    entities +=
        "<!ENTITY " + std::string(1, name) + " \"" + Repeat("&" + previous + ";", 10) + "\">";
  }
  const auto bomb = [&](const char* encoding) {
    return std::string("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?><!DOCTYPE fault [" +
           entities + "]><fault><detail>&i;</detail></fault>";
  };
  const char* const kNotUtf8 = "is not UTF-8";
  const char* const kMark = "byte order mark";
  const char* const kZero = "zero byte";
  const char* const kDocumentType = "document type declaration";
  const char* const kTooDeep = "more than 256 levels deep";
  const struct {
    const char* name;
    std::string body;
    const char* refusal;  // empty: the body reads
  } cases[] = {
      {"UTF-8", bomb("UTF-8"), kDocumentType},
      {"UTF-16LE with BOM", "\xFF\xFE" + Widen(bomb("UTF-16"), 2, false), kMark},
      {"UTF-16BE with BOM", "\xFE\xFF" + Widen(bomb("UTF-16"), 2, true), kMark},
      {"UTF-16BE without BOM", Widen(bomb("UTF-16"), 2, true), kZero},
      {"UTF-32LE with BOM", std::string("\xFF\xFE\0\0", 4) + Widen(bomb("UTF-32"), 4, false),
       kMark},
      {"UTF-32BE without BOM", Widen(bomb("UTF-32"), 4, true), kZero},
      {"EBCDIC", Saved("last_error-hostile-ebcdic_entity_expansion"), kNotUtf8},
      {"ASCII declared UTF-16", bomb("UTF-16"), "declares the encoding [UTF-16]"},
      {"declared Latin-1, ASCII only", Saved("vm-hostile-declared_latin1_ascii_only"),
       "declares the encoding [ISO-8859-1]"},
      {"external entity",
       "<!DOCTYPE fault [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><fault>&x;</fault>",
       kDocumentType},
      {"external DTD behind a comment",
       "<!-- x --><!DOCTYPE fault SYSTEM \"http://127.0.0.1:1/evil.dtd\"><fault/>", kDocumentType},
      {"Latin-1", "<fault><detail>caf\xE9</detail></fault>", "byte 18 starts no valid UTF-8"},
      {"CESU surrogate", "<fault><detail>\xED\xA0\x80</detail></fault>", kNotUtf8},
      {"declared UTF-8 with BOM", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><fault/>",
       ""},
      {"declared US-ASCII", "<?xml version='1.0' encoding = 'US-ASCII'?><fault/>", ""},
      {"predefined and character entities", "<fault>a &lt;b&gt; &amp; &#233;</fault>", ""},
      {"256 levels after empty elements", Nested(254, 300), ""},
      {"257 levels", Nested(255, 0), kTooDeep},
  };
  for (const auto& c : cases) {
    for (const bool byItem : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (byItem ? ", item by item" : ", whole"));
      xml::ParsedXml document;
      const bool read = byItem ? document.parseItems(
                                     c.body, "test", [](const xercesc::DOMNode*) { return true; },
                                     [](xercesc::DOMNode*) {})
                               : document.parse(c.body, "test");
      EXPECT_EQ(read, *c.refusal == '\0') << document.error();
      if (read) continue;
      EXPECT_NE(document.error().find(c.refusal), std::string::npos) << document.error();
      EXPECT_EQ(document.reachedParser(), c.refusal == kTooDeep);
    }
  }
}

// Huge bodies, each parsed once: blanks instead of or after a document, and megabyte-long
// values: a text read whole, an attribute of a list's second item through a write and a read.
TEST(FuzzRegressionTest, HugeBodies) {
  const std::string blanks(1u << 20, ' ');
  TzRhevParser parser;
  SFaultInfoLib fault;
  hvtest::LogCapture log;
  EXPECT_FALSE(parser.parseFault(blanks, fault, true));
  EXPECT_TRUE(log.containsError("expected as [fault]"));
  const std::string detail(1u << 20, 'd');
  ASSERT_TRUE(
      parser.parseFault("<fault><detail>" + detail + "</detail></fault>" + blanks, fault, true));
  EXPECT_TRUE(fault.detail == detail) << fault.detail.size();
  RunStats stats;
  const std::string id(1u << 20, 'i');
  EXPECT_EQ("", Check(MakeInput(SelectorOf("disk_list"), 4,
                                "<disks><disk id=\"d\"/><disk id=\"" + id + "\"/></disks>"),
                      &stats));
  EXPECT_EQ(2u, stats.roundTrips);
}

TEST(FuzzRegressionTest, ControlCharactersOfXml11AreRefusedByTheWriterOnly) {
  hvtest::LogCapture log;  // every line formatted, none printed
  RunStats stats;
  EXPECT_EQ("", Check(MakeInput(SelectorOf("nic"), 0,
                                "<?xml version=\"1.1\"?><nic><name>a&#x1;b</name></nic>"),
                      &stats));
  EXPECT_EQ(1u, stats.refusedWrites);
  EXPECT_EQ(0u, stats.roundTrips);
}

TEST(FuzzRegressionTest, InputsOfEveryLength) {
  hvtest::LogCapture log;  // every line formatted, none printed
  // Empty input, selector only, selector and generation only, and out-of-range bytes.
  EXPECT_EQ("", Check(std::string()));
  for (int byte = 0; byte < 256; ++byte) {
    EXPECT_EQ("", Check(std::string(1, static_cast<char>(byte))));
    EXPECT_EQ("", Check(std::string(2, static_cast<char>(byte))));
    EXPECT_EQ("", Check(std::string(2, static_cast<char>(byte)) + '\0'));
  }
}

}  // namespace
