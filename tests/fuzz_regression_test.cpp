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

std::string Check(const Dispatcher& dispatcher, const std::string& input,
                  RunStats* stats = nullptr) {
  return dispatcher.Run(reinterpret_cast<const std::uint8_t*>(input.data()), input.size(), stats);
}

TEST(FuzzRegressionTest, SavedInputsPassEveryCheck) {
  const Dispatcher dispatcher;
  size_t deepNesting = 0;
  for (const fs::path& file : FilesIn(kFixtures / kRegressions)) {
    const std::string name = file.filename().string();
    if (name.rfind("README", 0) == 0) continue;
    hvtest::LogCapture log;
    EXPECT_EQ("", Check(dispatcher, hvtest::Fixture(kRegressions + name))) << name;
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
  const Dispatcher dispatcher;
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
        EXPECT_EQ("", Check(dispatcher, MakeInput(selector, generation, body), &stats[selector]))
            << file;
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

// `count` elements with names of their own ("<e0/>", "<e1/>", ...).
std::string DistinctElements(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += "<e" + std::to_string(i) + "/>";
  return out;
}

// Bodies no engine sends, read whole and item by item. A body that expands a handful of bytes
// into gigabytes once its entities are declared is refused in any encoding before the XML
// library reads it: the cost of a hostile body is one pass over its bytes, never the
// expansion. What the XML library would otherwise gather whole (blanks around the document
// element, an attribute value, element names) is bounded, and so is the tree: the bounds are
// found while reading (empty elements count as opened and closed). A long text is no hostile
// body: it reaches the tree in pieces.
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
  const std::string blanks(1u << 20, ' ');
  const char* const kNotUtf8 = "is not UTF-8";
  const char* const kMark = "byte order mark";
  const char* const kZero = "zero byte";
  const char* const kDocumentType = "document type declaration";
  const struct {
    const char* name;
    std::string body;
    const char* refusal;  // empty: the body reads
    bool whileReading;    // found by the XML library, not before
  } cases[] = {
      {"UTF-8", bomb("UTF-8"), kDocumentType, false},
      {"UTF-16LE with BOM", "\xFF\xFE" + Widen(bomb("UTF-16"), 2, false), kMark, false},
      {"UTF-16BE with BOM", "\xFE\xFF" + Widen(bomb("UTF-16"), 2, true), kMark, false},
      {"UTF-16BE without BOM", Widen(bomb("UTF-16"), 2, true), kZero, false},
      {"UTF-32LE with BOM", std::string("\xFF\xFE\0\0", 4) + Widen(bomb("UTF-32"), 4, false), kMark,
       false},
      {"UTF-32BE without BOM", Widen(bomb("UTF-32"), 4, true), kZero, false},
      {"EBCDIC", Saved("last_error-hostile-ebcdic_entity_expansion"), kNotUtf8, false},
      {"ASCII declared UTF-16", bomb("UTF-16"), "declares the encoding [UTF-16]", false},
      {"declared Latin-1, ASCII only", Saved("vm-hostile-declared_latin1_ascii_only"),
       "declares the encoding [ISO-8859-1]", false},
      {"external entity",
       "<!DOCTYPE fault [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><fault>&x;</fault>",
       kDocumentType, false},
      {"external DTD behind a comment",
       "<!-- x --><!DOCTYPE fault SYSTEM \"http://127.0.0.1:1/evil.dtd\"><fault/>", kDocumentType,
       false},
      {"Latin-1", "<fault><detail>caf\xE9</detail></fault>", "byte 18 starts no valid UTF-8",
       false},
      {"CESU surrogate", "<fault><detail>\xED\xA0\x80</detail></fault>", kNotUtf8, false},
      // XML 1.1 lets a value carry control characters.
      {"XML 1.1", "<?xml version=\"1.1\"?><fault><detail>a&#x1B;b</detail></fault>",
       "declares the version [1.1]", false},
      {"declared UTF-8 with BOM", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><fault/>",
       "", false},
      {"declared US-ASCII", "<?xml version='1.0' encoding = 'US-ASCII'?><fault/>", "", false},
      {"predefined and character entities", "<fault>a &lt;b&gt; &amp; &#233;</fault>", "", false},
      {"a megabyte of text", "<fault><detail>" + blanks + "</detail></fault>", "", false},
      {"blanks alone", blanks, "bytes precede the document element", false},
      {"blanks before", blanks + "<fault/>", "bytes precede the document element", false},
      {"64 KiB of blanks after", "<fault/>" + std::string(1u << 16, ' '), "", false},
      {"blanks after", "<fault/>" + blanks, "bytes follow the document element", true},
      {"256 levels after empty elements", Nested(254, 300), "", false},
      {"257 levels", Nested(255, 0), "more than 256 levels deep", true},
      {"a megabyte tag", "<fault id=\"" + std::string((1u << 20) - 14, 'i') + "\"/>", "", false},
      {"a longer one", "<fault id=\"" + std::string((1u << 20) - 13, 'i') + "\"/>",
       "a tag, comment, processing instruction or CDATA section is longer than 1048576", false},
      {"a long CDATA section", "<fault><![CDATA[" + blanks + "]]></fault>", "is longer than",
       false},
      {"a long comment", "<fault><!--" + blanks + "--></fault>", "is longer than", false},
      {"a tag without an end", "<fault><a b='>" + blanks + "</fault>", "is longer than", false},
      {"a long element name", "<fault><" + std::string(257, 'n') + "/></fault>",
       "element name is longer than 256", true},
      {"4096 element names", "<fault>" + DistinctElements(4095) + "</fault>", "", false},
      {"4097 element names", "<fault>" + DistinctElements(4096) + "</fault>",
       "more than 4096 different elements", true},
  };
  // Each body on a reader of its own and on one reader kept through every case, as a parser
  // keeps it: the kept one carries nothing from a case to the next (a body of 4096 element
  // names reads right after one of 4097).
  xml::XmlReader kept;
  const std::string manyNames = "<fault>" + DistinctElements(4094) + "<detail>d</detail></fault>";
  for (const auto& c : cases) {
    for (const bool byItem : {false, true}) {
      for (xml::XmlReader* reader : {static_cast<xml::XmlReader*>(nullptr), &kept}) {
        SCOPED_TRACE(std::string(c.name) + (byItem ? ", item by item" : ", whole") +
                     (reader ? ", kept reader" : ""));
        xml::ParsedXml document(reader);
        const bool read = byItem ? document.parseItems(
                                       c.body, "test", [](const xercesc::DOMNode*) { return true; },
                                       [](xercesc::DOMNode*, size_t) { return true; })
                                 : document.parse(c.body, "test");
        EXPECT_EQ(read, *c.refusal == '\0') << document.error();
        if (read) continue;
        EXPECT_NE(document.error().find(c.refusal), std::string::npos) << document.error();
        EXPECT_EQ(document.reachedParser(), c.whileReading);
      }
      xml::ParsedXml after(&kept);
      ASSERT_TRUE(after.parse(manyNames, "test")) << c.name << ": " << after.error();
      EXPECT_EQ(xml::TextOf(after.root()), "d") << c.name;
    }
  }
}

// A reader of items that parses again on the reader its list is read on gets a reader of its
// own: both reads are whole, and the kept reader serves the next parse.
TEST(FuzzRegressionTest, ItemReadersMayParseAgainOnTheKeptReader) {
  xml::XmlReader kept;
  xml::ParsedXml list(&kept);
  std::string inner;
  ASSERT_TRUE(list.parseItems(
      "<faults><fault><detail>a</detail></fault><fault><detail>b</detail></fault></faults>", "test",
      [](const xercesc::DOMNode*) { return true; },
      [&](xercesc::DOMNode* item, size_t) {
        xml::ParsedXml again(&kept);
        const bool read =
            again.parse("<fault><detail>" + xml::TextOf(item) + "</detail></fault>", "test");
        inner += read ? xml::TextOf(again.root()) : again.error();
        return read;
      }))
      << list.error();
  EXPECT_EQ(inner, "ab");
  xml::ParsedXml next(&kept);
  ASSERT_TRUE(next.parse("<fault><detail>c</detail></fault>", "test")) << next.error();
  EXPECT_EQ(xml::TextOf(next.root()), "c");
}

// The body gate walks eight bytes at a time: what it refuses is found in the last bytes of a
// body too, whatever the body's length, and a multi-byte character just before the end reads.
TEST(FuzzRegressionTest, RefusalsInTheLastBytesOfABody) {
  for (size_t pad = 0; pad < 16; ++pad) {
    SCOPED_TRACE("pad " + std::to_string(pad));
    const std::string body = "<fault><detail>" + std::string(pad, 'x') + "</detail></fault>";
    const struct {
      std::string body;
      std::string refusal;
    } cases[] = {
        {body + std::string(1, '\0'), "it holds a zero byte"},
        {body + "\xC3", "byte " + std::to_string(body.size()) + " starts no valid UTF-8 sequence"},
        {body + "<!--" + std::string(1u << 20, '-'), "is longer than 1048576 bytes"},
        {body + "<!--\xC3\xA9-->", ""},
    };
    for (const auto& c : cases) {
      xml::ParsedXml document;
      const bool read = document.parse(c.body, "test");
      if (c.refusal.empty()) {
        EXPECT_TRUE(read) << document.error();
        EXPECT_EQ(xml::TextOf(document.root()), std::string(pad, 'x'));
      } else {
        EXPECT_FALSE(read);
        EXPECT_NE(document.error().find(c.refusal), std::string::npos) << document.error();
      }
    }
  }
}

// A tree stops at twice its body (and a fixed allowance): a record of 300,000 empty elements
// is refused, as many items of a list are each a tree of their own.
TEST(FuzzRegressionTest, TreesStayWithinTwiceTheirBody) {
  const std::string body = "<fault>" + Repeat("<a/>", 300000) + "</fault>";
  xml::ParsedXml document;
  EXPECT_FALSE(document.parse(body, "test"));
  EXPECT_NE(document.error().find("more than twice its size"), std::string::npos)
      << document.error();
  size_t items = 0;
  EXPECT_TRUE(document.parseItems(
      body, "test", [](const xercesc::DOMNode*) { return true; },
      [&](xercesc::DOMNode*, size_t) { return ++items > 0; }));
  EXPECT_EQ(items, 300000u);
}

// Megabyte-long values: a text read whole, whatever pieces it arrives in, an attribute (its tag
// just within the bound) of a list's second item through a write and a read.
TEST(FuzzRegressionTest, HugeValues) {
  TzRhevParser parser;
  SFaultInfoLib fault;
  // A character outside the basic plane is two UTF-16 units; the pieces the text arrives in
  // (64 K units) split some of them, and references and a CDATA section cut it too.
  const std::string detail =
      "a &amp; " + Repeat("\xC3\xA9\xF0\x9D\x84\x9E", 1u << 17) + "<![CDATA[<x>]]>";
  ASSERT_TRUE(parser.parseFault("<fault><detail>" + detail + "</detail></fault>\n", fault, true));
  EXPECT_TRUE(fault.detail == "a & " + Repeat("\xC3\xA9\xF0\x9D\x84\x9E", 1u << 17) + "<x>")
      << fault.detail.size();
  RunStats stats;
  const Dispatcher dispatcher;
  const std::string id((1u << 20) - 32, 'i');
  EXPECT_EQ("", Check(dispatcher,
                      MakeInput(SelectorOf("disk_list"), 4,
                                "<disks><disk id=\"d\"/><disk id=\"" + id + "\"/></disks>"),
                      &stats));
  EXPECT_EQ(2u, stats.roundTrips);
}

TEST(FuzzRegressionTest, InputsOfEveryLength) {
  hvtest::LogCapture log;  // every line formatted, none printed
  const Dispatcher dispatcher;
  // Empty input, selector only, selector and generation only, and out-of-range bytes.
  EXPECT_EQ("", Check(dispatcher, std::string()));
  for (int byte = 0; byte < 256; ++byte) {
    EXPECT_EQ("", Check(dispatcher, std::string(1, static_cast<char>(byte))));
    EXPECT_EQ("", Check(dispatcher, std::string(2, static_cast<char>(byte))));
    EXPECT_EQ("", Check(dispatcher, std::string(2, static_cast<char>(byte)) + '\0'));
  }
}

}  // namespace
