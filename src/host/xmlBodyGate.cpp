#include "host/xmlBodyGate.h"

#include <strings.h>

#include <cstdint>
#include <cstring>

#include "host/utf8.h"

namespace Hypervale {
namespace xml {
namespace {

const char kUtf8Mark[] = "\xEF\xBB\xBF";
// Engines start a body with an XML declaration and a line break at most.
constexpr size_t kMaxProlog = 64 * 1024;
// Xerces gathers a tag (with its attributes), a comment, a processing instruction and a CDATA
// section whole, in UTF-16, before handing it on; engine markup is a few hundred bytes, long
// values come as text, which Xerces hands on in pieces.
constexpr size_t kMaxMarkup = 1u << 20;

bool StartsWith(const std::string& body, size_t pos, const char* prefix, size_t length) {
  return body.compare(pos, length, prefix, length) == 0;
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of a pseudo-attribute (`name`: "version", "encoding") of an XML declaration at
// `pos`: empty when there is no declaration or it names none, "?" when the declaration cannot
// be read far enough to tell.
std::string Declared(const std::string& body, size_t pos, const std::string& name) {
  if (!StartsWith(body, pos, "<?xml", 5) || pos + 5 >= body.size() || !IsXmlSpace(body[pos + 5])) {
    return std::string();
  }
  const size_t end = body.find("?>", pos);
  if (end == std::string::npos) return "?";
  const std::string declaration = body.substr(pos, end - pos);
  size_t at = declaration.find(name);
  if (at == std::string::npos) return std::string();
  at += name.size();
  while (at < declaration.size() && IsXmlSpace(declaration[at])) ++at;
  if (at >= declaration.size() || declaration[at] != '=') return "?";
  ++at;
  while (at < declaration.size() && IsXmlSpace(declaration[at])) ++at;
  if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) return "?";
  const size_t close = declaration.find(declaration[at], at + 1);
  if (close == std::string::npos) return "?";
  const std::string value = declaration.substr(at + 1, close - at - 1);
  return value.empty() ? "?" : value;
}

bool IsUtf8OrAsciiName(const std::string& name) {
  for (const char* accepted : {"UTF-8", "UTF8", "US-ASCII", "ASCII"}) {
    if (strcasecmp(name.c_str(), accepted) == 0) return true;
  }
  return false;
}

// Where the prolog ends: the first byte that is no blank, processing instruction or comment
// (the document element, or a document type declaration); npos when the body ends before.
size_t EndOfProlog(const std::string& body, size_t pos) {
  while (pos < body.size()) {
    if (IsXmlSpace(body[pos])) {
      ++pos;
    } else if (StartsWith(body, pos, "<?", 2)) {
      const size_t end = body.find("?>", pos + 2);
      if (end == std::string::npos) return std::string::npos;
      pos = end + 2;
    } else if (StartsWith(body, pos, "<!--", 4)) {
      const size_t end = body.find("-->", pos + 4);
      if (end == std::string::npos) return std::string::npos;
      pos = end + 3;
    } else {
      return pos;
    }
  }
  return std::string::npos;
}

// What one walk over the bytes finds: a zero byte, the first byte that starts no valid UTF-8
// sequence, and a piece of markup (a tag with its attributes, a comment, a processing
// instruction, a CDATA section) longer than kMaxMarkup; one that never ends runs to the end of
// the body. A tag ends at the first '>' outside quoted values; the other pieces at the first
// end sequence after their start sequence.
//
// On the way it follows the nesting of tags (as far as bytes tell it, without judging names),
// to count the children of the document element: what a list reader makes room for.
class BodyWalk {
 public:
  explicit BodyWalk(const std::string& body)
      : bytes_(reinterpret_cast<const unsigned char*>(body.data())), size_(body.size()) {
    Walk();
  }
  bool zero() const { return zero_; }
  size_t firstInvalid() const { return firstInvalid_; }
  bool longMarkup() const { return longMarkup_; }
  void describe(BodyShape& shape) const { shape.items = items_; }

 private:
  // What the walk looks for next besides zero bytes and bytes above ASCII.
  enum class Looking { kMarkup, kTagEnd, kQuote, kDelimitedEnd, kNothing };

  static constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  static constexpr std::uint64_t kHighs = 0x8080808080808080ull;
  // The zero bytes of `word`, exact for the lowest one.
  static std::uint64_t Zeros(std::uint64_t word) { return (word - kOnes) & ~word & kHighs; }

  // The bytes of `word` the walk must look at: zero bytes, bytes above ASCII and the bytes it
  // looks for next; exact for the lowest one, which is all the walk uses.
  std::uint64_t Notable(std::uint64_t word) const {
    return Zeros(word) | (word & kHighs) | Zeros(word ^ sought_[0]) | Zeros(word ^ sought_[1]) |
           Zeros(word ^ sought_[2]);
  }

  // What the walk looks for next, by the bytes that end it.
  void Look(Looking looking) {
    looking_ = looking;
    const auto set = [this](unsigned char a, unsigned char b, unsigned char c) {
      sought_[0] = kOnes * a;
      sought_[1] = kOnes * b;
      sought_[2] = kOnes * c;
    };
    switch (looking) {
      case Looking::kMarkup:
        set('<', '<', '<');
        break;
      case Looking::kTagEnd:
        set('>', '"', '\'');
        break;
      case Looking::kQuote:
        set(quote_, quote_, quote_);
        break;
      case Looking::kDelimitedEnd:
        set('>', '>', '>');
        break;
      case Looking::kNothing:
        set(0, 0, 0);  // zero bytes are looked at anyway
        break;
    }
  }

  void Walk() {
    Look(Looking::kMarkup);
    size_t i = 0;
    while (i < size_) {
      // Eight bytes at a time to the next one that matters: engine bodies are long runs of
      // ASCII between the bytes that start and end markup.
      if (i + sizeof(std::uint64_t) <= size_) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes_ + i, sizeof word);
        const std::uint64_t notable = Notable(word);
        if (notable == 0) {
          i += sizeof word;
          continue;
        }
        i += static_cast<size_t>(__builtin_ctzll(notable)) / 8;  // little-endian
      }
      const unsigned char c = bytes_[i];
      if (c == 0) {
        zero_ = true;  // refused whatever else the body holds
        return;
      }
      if (c >= 0x80) {
        // Continuation bytes are above ASCII too: no markup hides in a sequence.
        const size_t length =
            firstInvalid_ == std::string::npos ? utf8::SequenceLength(bytes_ + i, size_ - i) : 1;
        if (length == 0) firstInvalid_ = i;
        i += length == 0 ? 1 : length;
        continue;
      }
      Markup(c, i);
      ++i;
    }
    if (looking_ != Looking::kMarkup && looking_ != Looking::kNothing) Ended(size_);
  }

  // The markup byte `c` at `i`.
  void Markup(unsigned char c, size_t i) {
    switch (looking_) {
      case Looking::kMarkup:
        if (c != '<') return;
        start_ = i;
        if (StartsAt(i, "<!--")) {
          Delimited(i + 4, "-->");
        } else if (StartsAt(i, "<![CDATA[")) {
          Delimited(i + 9, "]]>");
        } else if (StartsAt(i, "<?")) {
          Delimited(i + 2, "?>");
        } else {
          Look(Looking::kTagEnd);
        }
        return;
      case Looking::kTagEnd:
        if (c == '"' || c == '\'') {
          quote_ = c;
          Look(Looking::kQuote);
        } else if (c == '>') {
          TagEnded(i + 1);
          Ended(i + 1);
        }
        return;
      case Looking::kQuote:
        if (c == quote_) Look(Looking::kTagEnd);
        return;
      case Looking::kDelimitedEnd: {
        // The end sequence ends with '>' and counts only from where the piece's start ended.
        const size_t length = std::strlen(end_);
        if (c == '>' && i + 1 >= searchFrom_ + length && StartsAt(i + 1 - length, end_)) {
          Ended(i + 1);
        }
        return;
      }
      case Looking::kNothing:
        return;
    }
  }

  bool StartsAt(size_t pos, const char* text) const {
    const size_t length = std::strlen(text);
    return pos + length <= size_ && std::memcmp(bytes_ + pos, text, length) == 0;
  }

  void Delimited(size_t searchFrom, const char* end) {
    searchFrom_ = searchFrom;
    end_ = end;
    Look(Looking::kDelimitedEnd);
  }

  // The tag that started at start_ ends before `end`.
  void TagEnded(size_t end) {
    const unsigned char second = bytes_[start_ + 1];  // the tag's '>' at least follows '<'
    if (second == '/') {
      if (depth_ > 0) --depth_;
      return;
    }
    if (second == '!') return;  // a declaration
    if (depth_ == 1) ++items_;
    if (bytes_[end - 2] != '/') ++depth_;  // not an empty element
  }

  // The piece that started at start_ ends before `end`.
  void Ended(size_t end) {
    if (end - start_ > kMaxMarkup) {
      longMarkup_ = true;
      Look(Looking::kNothing);  // the rest is walked for zero and invalid bytes only
    } else {
      Look(Looking::kMarkup);
    }
  }

  const unsigned char* const bytes_;
  const size_t size_;
  Looking looking_ = Looking::kMarkup;
  size_t start_ = 0;       // where the open piece of markup started
  size_t searchFrom_ = 0;  // where its end sequence may start
  const char* end_ = "";   // its end sequence
  unsigned char quote_ = 0;
  std::uint64_t sought_[3] = {0, 0, 0};  // the bytes looked for, each in every byte of a word
  bool zero_ = false;
  size_t firstInvalid_ = std::string::npos;
  bool longMarkup_ = false;
  size_t depth_ = 0;  // elements open
  size_t items_ = 0;
};

}  // namespace

std::string WhyRefusedBeforeParsing(const std::string& body, BodyShape* shape) {
  static const char kNotUtf8[] = "the body is not UTF-8, the only encoding engines answer in: ";
  if (StartsWith(body, 0, "\xFE\xFF", 2) || StartsWith(body, 0, "\xFF\xFE", 2) ||
      StartsWith(body, 0, "\x00\x00\xFE\xFF", 4)) {
    return std::string(kNotUtf8) + "it starts with a UTF-16 or UTF-32 byte order mark";
  }
  const BodyWalk walk(body);
  if (shape) walk.describe(*shape);
  if (walk.zero()) {
    return std::string(kNotUtf8) + "it holds a zero byte (UTF-16, UTF-32 or binary data)";
  }
  if (walk.firstInvalid() != std::string::npos) {
    return std::string(kNotUtf8) + "byte " + std::to_string(walk.firstInvalid()) +
           " starts no valid UTF-8 sequence";
  }
  const size_t start = StartsWith(body, 0, kUtf8Mark, 3) ? 3 : 0;
  const std::string encoding = Declared(body, start, "encoding");
  if (encoding == "?") return std::string(kNotUtf8) + "its encoding declaration cannot be read";
  if (!encoding.empty() && !IsUtf8OrAsciiName(encoding)) {
    return std::string(kNotUtf8) + "it declares the encoding [" + encoding.substr(0, 40) + "]";
  }
  // XML 1.1 lets a value carry control characters (as "&#x1B;"); engines write XML 1.0.
  const std::string version = Declared(body, start, "version");
  if (!version.empty() && version != "1.0") {
    return "the body is not XML 1.0, the only version engines write: it declares the version [" +
           version.substr(0, 40) + "]";
  }
  const size_t prolog = EndOfProlog(body, start);
  if (prolog != std::string::npos && StartsWith(body, prolog, "<!DOCTYPE", 9)) {
    return "the body carries a document type declaration, which is refused";
  }
  // Xerces gathers blanks before the document element whole, in UTF-16.
  if ((prolog == std::string::npos ? body.size() : prolog) - start > kMaxProlog) {
    return "more than " + std::to_string(kMaxProlog) + " bytes precede the document element";
  }
  if (walk.longMarkup()) {
    return "a tag, comment, processing instruction or CDATA section is longer than " +
           std::to_string(kMaxMarkup) + " bytes";
  }
  return std::string();
}

}  // namespace xml
}  // namespace Hypervale
