#include "host/xmlTree.h"

#include <algorithm>
#include <new>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUniDefs.hpp>

namespace Hypervale {
namespace xml {
namespace {

using namespace xercesc;

const XMLCh kTextName[] = {chPound, chLatin_t, chLatin_e, chLatin_x, chLatin_t, chNull};
const XMLCh kEmpty[] = {chNull};

[[noreturn]] void NotSupported() {
  throw DOMException(DOMException::NOT_SUPPORTED_ERR, 0, XMLPlatformUtils::fgMemoryManager);
}

}  // namespace

void TreeAttributes::add(TreeNode* attribute) {
  if (last_) {
    last_->setNextAttribute(attribute);
  } else {
    first_ = attribute;
  }
  last_ = attribute;
  ++count_;
}

DOMNode* TreeAttributes::item(XMLSize_t index) const {
  TreeNode* attribute = first_;
  for (; attribute && index > 0; --index) attribute = attribute->nextAttribute();
  return attribute;
}

DOMNode* TreeAttributes::getNamedItem(const XMLCh* name) const {
  for (TreeNode* attribute = first_; attribute; attribute = attribute->nextAttribute()) {
    if (XMLString::equals(attribute->getNodeName(), name)) return attribute;
  }
  return nullptr;
}

DOMNode* TreeAttributes::getNamedItemNS(const XMLCh*, const XMLCh*) const { return nullptr; }
DOMNode* TreeAttributes::setNamedItem(DOMNode*) { NotSupported(); }
DOMNode* TreeAttributes::setNamedItemNS(DOMNode*) { NotSupported(); }
DOMNode* TreeAttributes::removeNamedItem(const XMLCh*) { NotSupported(); }
DOMNode* TreeAttributes::removeNamedItemNS(const XMLCh*, const XMLCh*) { NotSupported(); }

TreeNode::TreeNode(NodeType type, const XMLCh* name, const XMLCh* value)
    : type_(type),
      name_(type == TEXT_NODE || !name ? kTextName : name),
      value_(value ? value : kEmpty) {}

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

const XMLCh* TreeNode::getNodeName() const { return name_; }

const XMLCh* TreeNode::getNodeValue() const { return type_ == ELEMENT_NODE ? nullptr : value_; }

DOMNamedNodeMap* TreeNode::getAttributes() const {
  // As in Xerces: elements have a (possibly empty) map, other nodes none.
  return type_ == ELEMENT_NODE ? const_cast<TreeAttributes*>(&attributes_) : nullptr;
}

const XMLCh* TreeNode::getTextContent() const {
  if (type_ != ELEMENT_NODE) return value_;
  // The common case, an element holding one text, needs no copy.
  if (!firstChild_) return kEmpty;
  if (firstChild_ == lastChild_ && firstChild_->type_ == TEXT_NODE) {
    return firstChild_->value_;
  }
  if (!textContentKnown_) {
    AppendTextContent(textContent_);
    textContentKnown_ = true;
  }
  return textContent_.c_str();
}

void TreeNode::AppendTextContent(XmlChars& out) const {
  for (const TreeNode* child = firstChild_; child; child = child->nextSibling_) {
    if (child->type_ == TEXT_NODE) {
      out += child->value_;
    } else {
      child->AppendTextContent(out);
    }
  }
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

namespace {

constexpr size_t kFirstNodeChunk = 32;
constexpr size_t kLargestNodeChunk = 512;
constexpr size_t kFirstTextChunk = 1024;
constexpr size_t kLargestTextChunk = 16 * 1024;
static_assert(alignof(TreeNode) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__,
              "node chunks come from plain new[]");

}  // namespace

XmlTree::~XmlTree() { clear(); }

TreeNode* XmlTree::NewNode(DOMNode::NodeType type, const XMLCh* name, const XMLCh* value) {
  if (nodeChunksUsed_ == 0 ||
      nodeChunks_[nodeChunksUsed_ - 1].used == nodeChunks_[nodeChunksUsed_ - 1].capacity) {
    if (nodeChunksUsed_ == nodeChunks_.size()) {
      const size_t capacity = nodeChunks_.empty()
                                  ? kFirstNodeChunk
                                  : std::min(nodeChunks_.back().capacity * 2, kLargestNodeChunk);
      nodeChunks_.push_back(
          {std::unique_ptr<unsigned char[]>(new unsigned char[capacity * sizeof(TreeNode)]),
           capacity, 0});
    }
    ++nodeChunksUsed_;
  }
  NodeChunk& chunk = nodeChunks_[nodeChunksUsed_ - 1];
  TreeNode* node = new (chunk.at(chunk.used)) TreeNode(type, name, value);
  ++chunk.used;
  return node;
}

const XMLCh* XmlTree::Store(const XMLCh* text, XMLSize_t length) {
  XMLCh* copy = nullptr;
  const size_t need = length + 1;
  if (need > kLargestTextChunk / 4) {
    largeTexts_.push_back(std::unique_ptr<XMLCh[]>(new XMLCh[need]));
    copy = largeTexts_.back().get();
  } else {
    // Kept chunks too small for this text are skipped; a new one is made large enough.
    while (textChunksUsed_ == 0 || textUsed_ + need > textChunks_[textChunksUsed_ - 1].capacity) {
      if (textChunksUsed_ == textChunks_.size()) {
        size_t capacity = textChunks_.empty()
                              ? kFirstTextChunk
                              : std::min(textChunks_.back().capacity * 2, kLargestTextChunk);
        capacity = std::max(capacity, need);
        textChunks_.push_back({std::unique_ptr<XMLCh[]>(new XMLCh[capacity]), capacity});
      }
      ++textChunksUsed_;
      textUsed_ = 0;
    }
    copy = textChunks_[textChunksUsed_ - 1].chars.get() + textUsed_;
    textUsed_ += need;
  }
  std::copy(text, text + length, copy);
  copy[length] = chNull;
  return copy;
}

void XmlTree::FlushText() {
  if (pendingText_.empty()) return;
  if (open_) {
    open_->attach(
        NewNode(DOMNode::TEXT_NODE, nullptr, Store(pendingText_.data(), pendingText_.size())));
  }
  pendingText_.clear();
}

void XmlTree::openElement(const XMLCh* name) {
  FlushText();
  TreeNode* element =
      NewNode(DOMNode::ELEMENT_NODE, Store(name, XMLString::stringLen(name)), nullptr);
  if (open_) {
    open_->attach(element);
  } else if (!root_) {
    root_ = element;
  }
  open_ = element;
}

void XmlTree::addAttribute(const XMLCh* name, const XMLCh* value) {
  TreeNode* attribute = NewNode(DOMNode::ATTRIBUTE_NODE, Store(name, XMLString::stringLen(name)),
                                Store(value, XMLString::stringLen(value)));
  open_->addAttribute(attribute);
}

void XmlTree::closeElement() {
  FlushText();
  if (open_) open_ = open_->parent();
}

void XmlTree::addText(const XMLCh* chars, XMLSize_t length) {
  if (open_) pendingText_.append(chars, length);
}

void XmlTree::clear() {
  for (size_t c = 0; c < nodeChunksUsed_; ++c) {
    NodeChunk& chunk = nodeChunks_[c];
    for (size_t i = 0; i < chunk.used; ++i) chunk.at(i)->~TreeNode();
    chunk.used = 0;
  }
  nodeChunksUsed_ = 0;
  textChunksUsed_ = 0;
  textUsed_ = 0;
  largeTexts_.clear();
  pendingText_.clear();
  root_ = nullptr;
  open_ = nullptr;
}

}  // namespace xml
}  // namespace Hypervale
