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
  size_t replayed = 0;
  for (const fs::path& file : FilesIn(kFuzzDir / "regressions")) {
    if (file.filename().string().rfind("README", 0) == 0) continue;
    EXPECT_EQ("", Check(ReadFile(file))) << file.filename();
    ++replayed;
  }
  // The inputs that once overflowed the stack are among them.
  EXPECT_GE(replayed, 2u);
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

TEST_F(FuzzRegressionTest, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  const size_t depth = 200000;
  std::string nested;
  nested.reserve(depth * 7 + 1);
  for (size_t i = 0; i < depth; ++i) nested += "<a>";
  nested += "x";
  for (size_t i = 0; i < depth; ++i) nested += "</a>";
  const std::string vm = "<vm><status>" + nested + "</status></vm>";
  EXPECT_EQ("", Check(MakeInput(kVm, 4, vm)));
  EXPECT_EQ("", Check(MakeInput(kDiskList, 7, "<disks>" + nested + "</disks>")));
  EXPECT_EQ("", Check(MakeInput(kLastErrorFromResponse, 0,
                                "<fault><detail>" + nested + "</detail></fault>")));

  hvtest::LogCapture log;
  TzRhevParser parser;
  SVMInfoLib record;
  EXPECT_FALSE(parser.parseVMInfo(vm, record));
  EXPECT_TRUE(log.containsError("levels deep"));
}

TEST_F(FuzzRegressionTest, NestingAsDeepAsTheLimitStillReads) {
  std::string name = "<network><name>";
  for (int i = 0; i < 254; ++i) name += "<a>";
  name += "deep";
  for (int i = 0; i < 254; ++i) name += "</a>";
  name += "</name></network>";
  TzRhevParser parser;
  SNetworkInfoLib network;
  ASSERT_TRUE(parser.parseNetworkInfo(name, network));
  EXPECT_EQ("deep", network.name);
  EXPECT_EQ("", Check(MakeInput(kNetwork, 0, name)));
}

TEST_F(FuzzRegressionTest, TenMegabytesOfWhitespace) {
  const std::string blanks(10u << 20, ' ');
  EXPECT_EQ("", Check(MakeInput(kFaultLogged, 0, blanks)));
  const std::string fault = "<fault><detail>kept</detail></fault>";
  EXPECT_EQ("", Check(MakeInput(kLastErrorFromResponse, 0, blanks + fault + blanks)));

  TzRhevParser parser;
  SFaultInfoLib out;
  EXPECT_FALSE(parser.parseFault(blanks, out, false));
  ASSERT_TRUE(parser.parseFault(fault + blanks, out, false));
  EXPECT_EQ("kept", out.detail);
}

TEST_F(FuzzRegressionTest, MegabyteAttributeSurvivesAWriteAndRead) {
  const std::string id(4u << 20, 'i');
  RunStats stats;
  EXPECT_EQ("", Check(MakeInput(kVm, 6, "<vm id=\"" + id + "\"><name>n</name></vm>"), &stats));
  EXPECT_EQ("", Check(MakeInput(kDiskList, 4, "<disks><disk id=\"" + id + "\"/></disks>"), &stats));
  EXPECT_EQ(2u, stats.roundTrips);
}

TEST_F(FuzzRegressionTest, ExpandingEntitiesAreRefused) {
  std::string entities = "<!ENTITY a \"aaaaaaaaaa\">";
  std::string previous = "a";
  for (char name = 'b'; name <= 'h'; ++name) {
    entities += std::string("<!ENTITY ") + name + " \"";
    for (int i = 0; i < 10; ++i) entities += "&" + previous + ";";
    entities += "\">";
    previous = std::string(1, name);
  }
  const std::string body = "<?xml version=\"1.0\"?>\n<!DOCTYPE fault [" + entities +
                           "]><fault><detail>&h;</detail></fault>";
  EXPECT_EQ("", Check(MakeInput(kFaultLogged, 0, body)));
  EXPECT_EQ("", Check(MakeInput(kLastErrorFromResponse, 0, body)));
  TzRhevParser parser;
  SFaultInfoLib out;
  EXPECT_FALSE(parser.parseFault(body, out, true));
}

// Little-endian UTF-16 with a byte order mark, from ASCII text.
std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

TEST_F(FuzzRegressionTest, DocumentTypeIsRefusedInUtf16Too) {
  const std::string body = Utf16(
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?><!DOCTYPE fault [<!ENTITY a \"expanded\">]>"
      "<fault><detail>&a;</detail></fault>");
  EXPECT_EQ("", Check(MakeInput(kLastErrorFromResponse, 0, body)));
  hvtest::LogCapture log;
  TzRhevParser parser;
  SFaultInfoLib out;
  EXPECT_FALSE(parser.parseFault(body, out, true));
  EXPECT_TRUE(log.containsError("document type declaration"));
  // The same body without its declaration still reads.
  ASSERT_TRUE(parser.parseFault(
      Utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?><fault><detail>plain</detail></fault>"),
      out, true));
  EXPECT_EQ("plain", out.detail);
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
