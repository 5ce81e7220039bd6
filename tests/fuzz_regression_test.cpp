// Replays the fuzzer's saved inputs, every fixture and a few generated hostile bodies through
// the fuzzer's own checks (tests/fuzz/fuzz_dispatch.h), so a fixed crash stays fixed in the
// normal and the sanitizer builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "fuzz/fuzz_dispatch.h"
#include "host/xmlDocument.h"
#include "support/test_support.h"
#include "xml/rhevParser.h"

namespace {

namespace fs = std::filesystem;
using namespace Hypervale;
using namespace Hypervale::fuzz;

const fs::path kFixtures = HV_FIXTURE_DIR;
const fs::path kFuzzDir = kFixtures.parent_path() / "fuzz";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Check(const std::string& input, RunStats* stats = nullptr) {
  return RunInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size(), stats);
}

// Name of the document element, after any declaration, processing instruction or comment.
std::string RootName(const std::string& body) {
  size_t pos = 0;
  while (pos < body.size()) {
    if (std::isspace(static_cast<unsigned char>(body[pos]))) {
      ++pos;
    } else if (body.compare(pos, 2, "<?") == 0) {
      pos = body.find("?>", pos);
      pos = pos == std::string::npos ? body.size() : pos + 2;
    } else if (body.compare(pos, 4, "<!--") == 0) {
      pos = body.find("-->", pos);
      pos = pos == std::string::npos ? body.size() : pos + 3;
    } else {
      break;
    }
  }
  if (pos >= body.size() || body[pos] != '<') return std::string();
  const size_t end = body.find_first_of(" \t\r\n/>", pos + 1);
  return body.substr(pos + 1, end == std::string::npos ? std::string::npos : end - pos - 1);
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class FuzzRegressionTest : public ::testing::Test {
 protected:
  void SetUp() override { SilenceLogging(); }
  void TearDown() override {
    SetLogSink(nullptr);
    SetLogThreshold(2);
  }
};

TEST_F(FuzzRegressionTest, SavedInputsPassEveryCheck) {
  size_t deepNesting = 0;
  for (const fs::path& file : FilesIn(kFuzzDir / "regressions")) {
    const std::string name = file.filename().string();
    if (name.rfind("README", 0) == 0) continue;
    hvtest::LogCapture log;
    EXPECT_EQ("", Check(ReadFile(file))) << name;
    // The inputs that once overflowed the stack are refused, after reading 256 levels only.
    if (name.find("deep_nesting") != std::string::npos) {
      EXPECT_TRUE(log.containsError("nests elements more than 256 levels deep")) << name;
      ++deepNesting;
    }
  }
  EXPECT_GE(deepNesting, 2u);
}

// Every real body, through the reader of its document element under every generation,
// and through every other entry point once.
TEST_F(FuzzRegressionTest, FixturesPassEveryCheck) {
  std::map<unsigned, RunStats> statsBySelector;
  size_t bodies = 0;
  for (const char* version : {"v3", "v4"}) {
    for (const fs::path& file : FilesIn(kFixtures / version)) {
      if (file.extension() != ".xml") continue;
      const std::string body = ReadFile(file);
      const std::string name = std::string(version) + "/" + file.filename().string();
      const int matching = SelectorForRoot(RootName(body));
      EXPECT_TRUE(matching >= 0 || RootName(body) == "usage_message") << name;
      for (unsigned selector = 0; selector < kEntryPointCount; ++selector) {
        const bool own = static_cast<int>(selector) == matching;
        for (unsigned generation = 0; generation < (own ? kGenerationCount : 1); ++generation) {
          EXPECT_EQ("", Check(MakeInput(selector, generation, body), &statsBySelector[selector]))
              << name << " as " << EntryPointName(selector);
        }
      }
      ++bodies;
    }
  }
  EXPECT_GE(bodies, 50u);
  // The round-trip check really ran for every writer the fixtures reach.
  for (unsigned selector : {kActionLogged, kActionQuiet, kNetworkList, kVnicProfileList, kNicList,
                            kVm, kVmList, kStorageDomain, kStorageDomainList, kDisk, kDiskList,
                            kDiskAttachment, kDiskAttachmentList, kSnapshot, kSnapshotList}) {
    EXPECT_GT(statsBySelector[selector].roundTrips, 0u) << EntryPointName(selector);
  }
}

// Empty elements before the nesting count as opened and closed, not as closed only.
TEST_F(FuzzRegressionTest, NestingUpToTheLimitReadsAndOneLevelMoreIsRefused) {
  const auto nested = [](int levels, int emptiesFirst, bool inList) {
    std::string name = "<name>";
    for (int i = 0; i < emptiesFirst; ++i) name += "<e/>";
    for (int i = 0; i < levels; ++i) name += "<a>";
    name += "deep";
    for (int i = 0; i < levels; ++i) name += "</a>";
    name += "</name>";
    return inList ? "<networks><network>" + name + "</network></networks>"
                  : "<network>" + name + "</network>";
  };
  for (const bool inList : {false, true}) {
    for (const int empties : {0, 300}) {
      SCOPED_TRACE(std::string(inList ? "list" : "object") + ", empties " +
                   std::to_string(empties));
      const int allowed = inList ? 253 : 254;  // 256 levels of elements
      TzRhevParser parser;
      SNetworkInfoLib network;
      std::vector<SNetworkInfoLib> networks;
      ASSERT_TRUE(inList ? parser.parseNetworkInfoList(nested(allowed, empties, true), networks)
                         : parser.parseNetworkInfo(nested(allowed, empties, false), network));
      EXPECT_EQ("deep", inList ? networks.at(0).name : network.name);
      const unsigned selector = inList ? kNetworkList : kNetwork;
      EXPECT_EQ("", Check(MakeInput(selector, 0, nested(allowed, empties, inList))));
      hvtest::LogCapture log;
      networks.clear();
      EXPECT_FALSE(inList
                       ? parser.parseNetworkInfoList(nested(allowed + 1, empties, true), networks)
                       : parser.parseNetworkInfo(nested(allowed + 1, empties, false), network));
      EXPECT_TRUE(networks.empty());
      EXPECT_TRUE(log.containsError("more than 256 levels deep"));
    }
  }
}

// Huge bodies go through one reader once each: the whole suite's time is mostly theirs.
TEST_F(FuzzRegressionTest, TenMegabytesOfWhitespace) {
  const std::string blanks(10u << 20, ' ');
  TzRhevParser parser;
  SFaultInfoLib out;
  hvtest::LogCapture log;
  EXPECT_FALSE(parser.parseFault(blanks, out, true));
  EXPECT_TRUE(log.containsError("expected as [fault]"));
  ASSERT_TRUE(parser.parseFault("<fault><detail>kept</detail></fault>" + blanks, out, true));
  EXPECT_EQ("kept", out.detail);
}

TEST_F(FuzzRegressionTest, MegabyteAttributeSurvivesAWriteAndRead) {
  const std::string id(4u << 20, 'i');
  RunStats stats;
  EXPECT_EQ("", Check(MakeInput(kVm, 6, "<vm id=\"" + id + "\"><name>n</name></vm>"), &stats));
  EXPECT_EQ("", Check(MakeInput(kDiskList, 4, "<disks><disk id=\"" + id + "\"/></disks>"), &stats));
  EXPECT_EQ(2u, stats.roundTrips);
}

// A saved regression input without its selector and generation bytes.
std::string Saved(const std::string& name) {
  return ReadFile(kFuzzDir / "regressions" / name).substr(2);
}

// The same text in another encoding: every character widened to `width` bytes, the ASCII
// code first (little-endian) or last (big-endian).
std::string Widen(const std::string& ascii, size_t width, bool bigEndian) {
  std::string out;
  for (char c : ascii) {
    std::string unit(width, '\0');
    unit[bigEndian ? width - 1 : 0] = c;
    out += unit;
  }
  return out;
}

// A body that expands a handful of bytes into gigabytes once its entities are declared. In
// any encoding it must be refused before the XML library reads it: the cost of a hostile
// body is one pass over its bytes, never the expansion.
TEST_F(FuzzRegressionTest, HostileBodiesInEveryEncodingAreRefusedBeforeParsing) {
  std::string entities = "<!ENTITY a \"aaaaaaaaaa\">";
  for (char name = 'b'; name <= 'i'; ++name) {
    entities += std::string("<!ENTITY ") + name + " \"";
    for (int i = 0; i < 10; ++i) entities += std::string("&") + static_cast<char>(name - 1) + ";";
    entities += "\">";
  }
  const auto bomb = [&](const char* encoding) {
    return std::string("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?><!DOCTYPE fault [" +
           entities + "]><fault><detail>&i;</detail></fault>";
  };
  const char* const kNotUtf8 = "is not UTF-8";
  struct Case {
    const char* name;
    std::string body;
    const char* reason;  // empty: the body reads
  };
  const Case cases[] = {
      {"UTF-8", bomb("UTF-8"), "document type declaration"},
      {"UTF-16LE with BOM", "\xFF\xFE" + Widen(bomb("UTF-16"), 2, false), kNotUtf8},
      {"UTF-16BE with BOM", "\xFE\xFF" + Widen(bomb("UTF-16"), 2, true), kNotUtf8},
      {"UTF-16BE without BOM", Widen(bomb("UTF-16"), 2, true), kNotUtf8},
      {"UTF-32LE with BOM", std::string("\xFF\xFE\0\0", 4) + Widen(bomb("UTF-32"), 4, false),
       kNotUtf8},
      {"UTF-32BE without BOM", Widen(bomb("UTF-32"), 4, true), kNotUtf8},
      {"EBCDIC", Saved("last_error-hostile-ebcdic_entity_expansion"), kNotUtf8},
      {"ASCII declared UTF-16", bomb("UTF-16"), "declares the encoding [UTF-16]"},
      {"declared Latin-1, ASCII only", Saved("vm-hostile-declared_latin1_ascii_only"),
       "declares the encoding [ISO-8859-1]"},
      {"external entity",
       "<!DOCTYPE fault [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><fault>&x;</fault>",
       "document type declaration"},
      {"external DTD behind a comment",
       "<!-- x --><!DOCTYPE fault SYSTEM \"http://127.0.0.1:1/evil.dtd\"><fault/>",
       "document type declaration"},
      {"Latin-1", "<fault><detail>caf\xE9</detail></fault>", "byte 18 starts no valid UTF-8"},
      {"CESU surrogate", "<fault><detail>\xED\xA0\x80</detail></fault>", kNotUtf8},
      {"declared UTF-8 with BOM", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><fault/>",
       ""},
      {"declared US-ASCII", "<?xml version='1.0' encoding = 'US-ASCII'?><fault/>", ""},
      {"predefined and character entities", "<fault>a &lt;b&gt; &amp; &#233;</fault>", ""},
  };
  for (const Case& c : cases) {
    xml::ParsedXml document;
    const bool read = document.parse(c.body, "test");
    EXPECT_EQ(read, *c.reason == '\0') << c.name << ": " << document.error();
    if (*c.reason == '\0') continue;
    EXPECT_NE(document.error().find(c.reason), std::string::npos)
        << c.name << ": " << document.error();
    EXPECT_FALSE(document.reachedParser()) << c.name;
    EXPECT_EQ("", Check(MakeInput(kLastErrorFromResponse, 0, c.body))) << c.name;
  }
}

TEST_F(FuzzRegressionTest, ControlCharactersOfXml11AreRefusedByTheWriterOnly) {
  RunStats stats;
  const std::string body = "<?xml version=\"1.1\"?><nic><name>a&#x1;b</name></nic>";
  EXPECT_EQ("", Check(MakeInput(kNic, 0, body), &stats));
  EXPECT_EQ(1u, stats.refusedWrites);
  EXPECT_EQ(0u, stats.roundTrips);
}

TEST_F(FuzzRegressionTest, InputsOfEveryLength) {
  // Empty input, selector only, selector and generation only, and out-of-range bytes.
  EXPECT_EQ("", Check(std::string()));
  for (int byte = 0; byte < 256; ++byte) {
    EXPECT_EQ("", Check(std::string(1, static_cast<char>(byte))));
    EXPECT_EQ("", Check(std::string(2, static_cast<char>(byte))));
    EXPECT_EQ("", Check(MakeInput(static_cast<unsigned>(byte), static_cast<unsigned>(byte),
                                  std::string(1, '\0'))));
  }
}

// make_corpus.sh builds seeds and names crash files from its own copy of the entry points.
TEST_F(FuzzRegressionTest, CorpusScriptNamesTheSameEntryPoints) {
  const std::string script = ReadFile(kFuzzDir / "make_corpus.sh");
  const size_t open = script.find("names=(");
  ASSERT_NE(std::string::npos, open);
  const size_t close = script.find(')', open);
  ASSERT_NE(std::string::npos, close);
  std::istringstream words(script.substr(open + 7, close - open - 7));
  std::vector<std::string> names{std::istream_iterator<std::string>(words),
                                 std::istream_iterator<std::string>()};
  ASSERT_EQ(static_cast<size_t>(kEntryPointCount), names.size());
  for (unsigned i = 0; i < kEntryPointCount; ++i) EXPECT_EQ(names[i], EntryPointName(i)) << i;
}

}  // namespace
