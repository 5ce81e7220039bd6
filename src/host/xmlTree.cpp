#include "host/xmlTree.h"

#include <algorithm>
#include <new>
#include <typeinfo>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUniDefs.hpp>

#include "host/xmlText.h"

namespace Hypervale {
namespace xml {
namespace {

using namespace xercesc;

const XMLCh kTextName[] = {chPound, chLatin_t, chLatin_e, chLatin_x, chLatin_t, chNull};
const XMLCh kNoChars[] = {chNull};

[[noreturn]] void NotSupported() {
  throw DOMException(DOMException::NOT_SUPPORTED_ERR, 0, XMLPlatformUtils::fgMemoryManager);
}

bool IsHighSurrogate(XMLCh c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(XMLCh c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The UTF-8 bytes of `code`, written at `out`; how many.
size_t PutCodePoint(char* out, unsigned long code) {
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | code >> 6);
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    out[0] = static_cast<char>(0xE0 | code >> 12);
    out[1] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out[2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | code >> 18);
  out[1] = static_cast<char>(0x80 | (code >> 12 & 0x3F));
  out[2] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
  out[3] = static_cast<char>(0x80 | (code & 0x3F));
  return 4;
}

void AppendCodePoint(std::string& out, unsigned long code) {
  char bytes[4];
  out.append(bytes, PutCodePoint(bytes, code));
}

// UTF-16 to UTF-8. A surrogate pair may be split between two pieces of one text: a high
// surrogate at the end waits in `pending`. A surrogate without its pair (XML allows none)
// becomes U+FFFD. The string grows once per piece, by at most three bytes a character.
void AppendUtf16(std::string& out, const XMLCh* chars, size_t length, XMLCh& pending) {
  size_t most = 4;  // a pending pair completed, or U+FFFD for it
  for (size_t i = 0; i < length; ++i) most += chars[i] < 0x80 ? 1 : 3;
  const size_t start = out.size();
  out.resize(start + most);
  char* at = &out[start];
  for (size_t i = 0; i < length; ++i) {
    const XMLCh c = chars[i];
    if (c < 0x80 && !pending) {
      *at++ = static_cast<char>(c);
      continue;
    }
    if (pending) {
      if (IsLowSurrogate(c)) {
        at += PutCodePoint(at, 0x10000 + ((pending - 0xD800ul) << 10) + (c - 0xDC00ul));
        pending = 0;
        continue;
      }
      at += PutCodePoint(at, 0xFFFD);
      pending = 0;
    }
    if (IsHighSurrogate(c)) {
      pending = c;
    } else {
      at += PutCodePoint(at, IsLowSurrogate(c) ? 0xFFFD : c);
    }
  }
  out.resize(static_cast<size_t>(at - out.data()));
}

// UTF-8 made by AppendUtf16 (so well-formed) back to UTF-16.
XmlChars ToUtf16(const std::string& text) {
  XmlChars out;
  out.reserve(text.size());
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    unsigned long code = bytes[i];
    size_t length = 1;
    if (code >= 0xF0) {
      code &= 0x07;
      length = 4;
    } else if (code >= 0xE0) {
      code &= 0x0F;
      length = 3;
    } else if (code >= 0xC0) {
      code &= 0x1F;
      length = 2;
    }
    for (size_t k = 1; k < length && i + k < text.size(); ++k)
      code = code << 6 | (bytes[i + k] & 0x3F);
    i += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<XMLCh>(0xD800 + (code >> 10));
      out += static_cast<XMLCh>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<XMLCh>(code);
    }
  }
  return out;
}

}  // namespace

DOMNode* TreeAttributes::item(XMLSize_t index) const {
  return index < count_ ? first_ + index : nullptr;
}

DOMNode* TreeAttributes::getNamedItem(const XMLCh* name) const {
  for (XMLSize_t i = 0; i < count_; ++i) {
    if (XMLString::equals(first_[i].getNodeName(), name)) return first_ + i;
  }
  return nullptr;
}

DOMNode* TreeAttributes::getNamedItemNS(const XMLCh*, const XMLCh*) const { return nullptr; }
DOMNode* TreeAttributes::setNamedItem(DOMNode*) { NotSupported(); }
DOMNode* TreeAttributes::setNamedItemNS(DOMNode*) { NotSupported(); }
DOMNode* TreeAttributes::removeNamedItem(const XMLCh*) { NotSupported(); }
DOMNode* TreeAttributes::removeNamedItemNS(const XMLCh*, const XMLCh*) { NotSupported(); }

TreeNode::TreeNode(NodeType type, const XMLCh* name, const XMLCh* utf16)
    : type_(type),
      name_(type == TEXT_NODE || !name ? kTextName : name),
      utf16_(utf16 ? utf16 : kNoChars),
      utf8_(nullptr),
      utf8Length_(0) {}

TreeNode::TreeNode(NodeType type, const char* utf8, size_t length)
    : type_(type), name_(kTextName), utf16_(nullptr), utf8_(utf8), utf8Length_(length) {}

TreeNode::~TreeNode() = default;

void TreeNode::attach(TreeNode* child) {
  child->parent_ = this;
  child->previousSibling_ = lastChild_;
  if (lastChild_) {
    lastChild_->nextSibling_ = child;
  } else {
    firstChild_ = child;
  }
  lastChild_ = child;
}

std::string TreeNode::utf8Text() const {
  if (type_ != ELEMENT_NODE) return utf8_ ? std::string(utf8_, utf8Length_) : ToUtf8(utf16_);
  // The common case, an element holding one text, is one copy.
  if (firstChild_ && firstChild_ == lastChild_ && firstChild_->type_ == TEXT_NODE) {
    return firstChild_->utf8Text();
  }
  std::string text;
  AppendUtf8(text);
  return text;
}

void TreeNode::AppendUtf8(std::string& out) const {
  for (const TreeNode* child = firstChild_; child; child = child->nextSibling_) {
    if (child->type_ != TEXT_NODE) {
      child->AppendUtf8(out);
    } else if (child->utf8_) {
      out.append(child->utf8_, child->utf8Length_);
    } else {
      out += ToUtf8(child->utf16_);
    }
  }
}

const XMLCh* TreeNode::Converted() const {
  if (!converted_) converted_ = std::make_unique<XmlChars>(ToUtf16(utf8Text()));
  return converted_->c_str();
}

const XMLCh* TreeNode::getNodeName() const { return name_; }

const XMLCh* TreeNode::getNodeValue() const {
  if (type_ == ELEMENT_NODE) return nullptr;
  return utf16_ ? utf16_ : Converted();
}

DOMNamedNodeMap* TreeNode::getAttributes() const {
  // As in Xerces: elements have a (possibly empty) map, other nodes none.
  return type_ == ELEMENT_NODE ? const_cast<TreeAttributes*>(&attributes_) : nullptr;
}

const XMLCh* TreeNode::getTextContent() const {
  if (type_ != ELEMENT_NODE) return getNodeValue();
  if (!firstChild_) return kNoChars;
  if (firstChild_ == lastChild_ && firstChild_->type_ == TEXT_NODE) {
    return firstChild_->getNodeValue();
  }
  return Converted();
}

DOMNodeList* TreeNode::getChildNodes() const { NotSupported(); }
DOMNode* TreeNode::cloneNode(bool) const { NotSupported(); }
DOMNode* TreeNode::insertBefore(DOMNode*, DOMNode*) { NotSupported(); }
DOMNode* TreeNode::replaceChild(DOMNode*, DOMNode*) { NotSupported(); }
DOMNode* TreeNode::removeChild(DOMNode*) { NotSupported(); }
DOMNode* TreeNode::appendChild(DOMNode*) { NotSupported(); }
void TreeNode::setNodeValue(const XMLCh*) { NotSupported(); }
void TreeNode::normalize() { NotSupported(); }
bool TreeNode::isSupported(const XMLCh*, const XMLCh*) const { return false; }
void TreeNode::setPrefix(const XMLCh*) { NotSupported(); }
bool TreeNode::isEqualNode(const DOMNode*) const { NotSupported(); }
void* TreeNode::setUserData(const XMLCh*, void*, xercesc::DOMUserDataHandler*) { NotSupported(); }
void* TreeNode::getUserData(const XMLCh*) const { return nullptr; }
const XMLCh* TreeNode::getBaseURI() const { return nullptr; }
short TreeNode::compareDocumentPosition(const DOMNode*) const { NotSupported(); }
void TreeNode::setTextContent(const XMLCh*) { NotSupported(); }
const XMLCh* TreeNode::lookupPrefix(const XMLCh*) const { return nullptr; }
bool TreeNode::isDefaultNamespace(const XMLCh*) const { return false; }
const XMLCh* TreeNode::lookupNamespaceURI(const XMLCh*) const { return nullptr; }
void* TreeNode::getFeature(const XMLCh*, const XMLCh*) const { return nullptr; }

std::string TextOf(const DOMNode* node) {
  if (!node) return std::string();
  // The tree's own nodes are all of one final class: a type check, cheaper than a cast.
  if (typeid(*node) == typeid(TreeNode)) return static_cast<const TreeNode*>(node)->utf8Text();
  return ToUtf8(node->getNodeType() == DOMNode::ELEMENT_NODE ? node->getTextContent()
                                                             : node->getNodeValue());
}

namespace {

constexpr size_t kFirstNodeChunk = 32;
constexpr size_t kLargestNodeChunk = 512;
constexpr size_t kFirstTextChunk = 1024;
constexpr size_t kLargestTextChunk = 16 * 1024;
// A text longer than this many characters is gathered and kept as UTF-8.
constexpr size_t kLongText = 4 * 1024;

}  // namespace

XmlTree::~XmlTree() { clear(); }

template <typename T>
T* XmlTree::Take(Chunks<T>& pool, size_t room, size_t count, size_t first, size_t largest) {
  // Kept chunks too small are skipped; a new one is made large enough.
  while (pool.inUse == 0 ||
         pool.chunks[pool.inUse - 1].used + room > pool.chunks[pool.inUse - 1].capacity) {
    if (pool.inUse == pool.chunks.size()) {
      size_t capacity =
          pool.chunks.empty() ? first : std::min(pool.chunks.back().capacity * 2, largest);
      capacity = std::max(capacity, room);
      pool.chunks.push_back({std::unique_ptr<T[]>(new T[capacity]), capacity, 0});
      Count(capacity * sizeof(T));
    }
    ++pool.inUse;
  }
  Chunk<T>& chunk = pool.chunks[pool.inUse - 1];
  T* taken = chunk.items.get() + chunk.used;
  chunk.used += count;
  return taken;
}

void* XmlTree::NodeSlot(size_t room) {
  return Take(nodes_, room, 1, kFirstNodeChunk, kLargestNodeChunk);
}

const XMLCh* XmlTree::Store(const XMLCh* text, size_t length) {
  XMLCh* copy = nullptr;
  if (length + 1 > kLargestTextChunk) {
    largeValues_.push_back(std::unique_ptr<XMLCh[]>(new XMLCh[length + 1]));
    largeValueBytes_ += (length + 1) * sizeof(XMLCh);
    Count((length + 1) * sizeof(XMLCh));
    copy = largeValues_.back().get();
  } else {
    copy = Take(texts_, length + 1, length + 1, kFirstTextChunk, kLargestTextChunk);
  }
  std::copy(text, text + length, copy);
  copy[length] = chNull;
  return copy;
}

void XmlTree::FlushText() {
  if (pendingText_.empty() && pendingUtf8_.empty()) return;
  if (open_ && !overBudget()) {
    TreeNode* text = nullptr;
    if (pendingUtf8_.empty()) {
      textBytes_ += pendingText_.size();
      text = new (NodeSlot(1))
          TreeNode(DOMNode::TEXT_NODE, nullptr, Store(pendingText_.data(), pendingText_.size()));
    } else {
      if (pendingSurrogate_) AppendCodePoint(pendingUtf8_, 0xFFFD);
      // One copy of a long text: the string it was gathered in is kept as it is (moving a
      // string this long keeps its characters where they are).
      textBytes_ += pendingUtf8_.size();
      largeTexts_.push_back(std::move(pendingUtf8_));
      Count(largeTexts_.back().capacity());
      text = new (NodeSlot(1))
          TreeNode(DOMNode::TEXT_NODE, largeTexts_.back().c_str(), largeTexts_.back().size());
    }
    open_->attach(text);
  }
  pendingText_.clear();
  pendingUtf8_ = std::string();
  pendingSurrogate_ = 0;
  RecountPending();
}

void XmlTree::RecountPending() {
  const size_t held = pendingText_.capacity() * sizeof(XMLCh) + pendingUtf8_.capacity();
  used_ = used_ - pendingCounted_ + held;
  pendingCounted_ = held;
}

const XMLCh* XmlTree::keep(const XMLCh* text, size_t length) { return Store(text, length); }

void XmlTree::openElement(const XMLCh* name, XMLSize_t attributes) {
  FlushText();
  if (overBudget()) return;
  // The element and its attributes side by side.
  TreeNode* element = new (NodeSlot(1 + attributes)) TreeNode(DOMNode::ELEMENT_NODE, name, nullptr);
  element->attributes().start(element + 1);
  if (open_) {
    open_->attach(element);
  } else if (!root_) {
    root_ = element;
  }
  open_ = element;
}

void XmlTree::addAttribute(const XMLCh* name, const XMLCh* value) {
  if (!open_ || overBudget()) return;
  const XMLCh* storedName = Store(name, XMLString::stringLen(name));
  const size_t length = XMLString::stringLen(value);
  textBytes_ += length;
  const XMLCh* storedValue = Store(value, length);
  // Taken without further room: openElement set aside the slots of every attribute.
  new (Take(nodes_, 1, 1, kFirstNodeChunk, kLargestNodeChunk))
      TreeNode(DOMNode::ATTRIBUTE_NODE, storedName, storedValue);
  open_->attributes().added();
}

void XmlTree::closeElement() {
  FlushText();
  if (open_) open_ = open_->parent();
}

void XmlTree::addText(const XMLCh* chars, XMLSize_t length) {
  if (!open_ || overBudget()) return;
  if (pendingUtf8_.empty() && pendingText_.size() + length <= kLongText) {
    pendingText_.append(chars, length);
  } else {
    // Long: gathered as UTF-8 from now on, so it is kept once, at its own size.
    if (!pendingText_.empty()) {
      AppendUtf16(pendingUtf8_, pendingText_.data(), pendingText_.size(), pendingSurrogate_);
      pendingText_ = XmlChars();
    }
    AppendUtf16(pendingUtf8_, chars, length, pendingSurrogate_);
  }
  RecountPending();
}

void XmlTree::clear() {
  for (size_t c = 0; c < nodes_.inUse; ++c) {
    Chunk<RawNode>& chunk = nodes_.chunks[c];
    for (size_t i = 0; i < chunk.used; ++i) {
      std::launder(reinterpret_cast<TreeNode*>(chunk.items[i].bytes))->~TreeNode();
    }
  }
  const auto reset = [](auto& pool) {
    for (size_t c = 0; c < pool.inUse; ++c) pool.chunks[c].used = 0;
    pool.inUse = 0;
  };
  reset(nodes_);
  reset(texts_);
  for (const std::string& text : largeTexts_) used_ -= text.capacity();
  largeTexts_.clear();
  used_ -= largeValueBytes_;
  largeValueBytes_ = 0;
  largeValues_.clear();
  pendingText_ = XmlChars();
  pendingUtf8_ = std::string();
  RecountPending();
  pendingSurrogate_ = 0;
  textBytes_ = 0;
  root_ = nullptr;
  open_ = nullptr;
}

}  // namespace xml
}  // namespace Hypervale
