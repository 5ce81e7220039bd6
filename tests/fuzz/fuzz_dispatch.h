// One input of the XML parser fuzzer: the first byte picks the entry point, the second the
// engine generation the parser is set to, the rest is the body. Shared by the libFuzzer target
// and the regression test so both run exactly the same checks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "xml/rhevParser.h"

namespace Hypervale {
namespace fuzz {

// Both bytes are taken modulo these counts.
constexpr unsigned kEntryPointCount = 36;
constexpr unsigned kGenerationCount = 8;
// "nRhevMaxListItems" while an input runs.
constexpr std::size_t kMaxListItems = 64;

// What one or more inputs exercised, so a caller can tell a check that ran from one that
// never had anything to check.
struct RunStats {
  std::size_t roundTrips = 0;  // records written and read back
};

// Runs inputs under the settings every input shares: the list bound ("nRhevMaxListItems", set
// here) and a parser per engine generation. The generations are detected once, from fixed API
// roots: parsing the same root again for every input taught the fuzzer nothing and took over
// a quarter of its time.
class Dispatcher {
 public:
  Dispatcher();

  // Runs one input. Returns an empty string when every check held, otherwise what broke
  // (a generation whose fixed root read wrong breaks every input).
  std::string Run(const std::uint8_t* data, std::size_t size, RunStats* stats = nullptr) const;

 private:
  std::array<TzRhevParser, kGenerationCount> parsers_;
  // Each input's parser: assigned from its generation's above, which resets what an entry point
  // may change (the version) and keeps the XML reader, as a facade's parser keeps it.
  mutable std::array<TzRhevParser, kGenerationCount> working_;
  // The document type check's reader, kept from input to input.
  mutable xml::XmlReader documentTypeReader_;
  std::string setupFailure_;
};

// The entry point an input starting with `first` runs, and the name of an entry point.
unsigned SelectorOfInput(std::uint8_t first);
const char* NameOf(unsigned selector);
// The longest body the fuzzer runs through an entry point, 0 when any: libFuzzer grows inputs
// toward -max_len, and an entry point that reads each body twice spends twice the reading on
// every byte that buys it nothing. Run() itself takes any body, as a replay should.
std::size_t MaxFuzzedBody(unsigned selector);

// The selector of an entry point, by the name in its seed and crash file names.
unsigned SelectorOf(const std::string& name);

// The first entry point reading bodies whose document element is `rootName`; -1 when none.
int SelectorForRoot(const std::string& rootName);

std::string MakeInput(unsigned selector, unsigned generation, const std::string& body);

}  // namespace fuzz
}  // namespace Hypervale
