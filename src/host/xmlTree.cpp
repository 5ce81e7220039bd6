#include "host/xmlTree.h"

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
  throw DOMException(DOMException::NOT_SUPPORTED_ERR, 0,
                     xercesc::XMLPlatformUtils::fgMemoryManager);
}

}  // namespace

DOMNode* TreeAttributes::item(XMLSize_t index) const {
  return index < attributes_.size() ? attributes_[index] : nullptr;
}

DOMNode* TreeAttributes::getNamedItem(const XMLCh* name) const {
  for (TreeNode* attribute : attributes_) {
    if (xercesc::XMLString::equals(attribute->getNodeName(), name)) return attribute;
  }
  return nullptr;
}

DOMNode* TreeAttributes::getNamedItemNS(const XMLCh*, const XMLCh*) const { return nullptr; }
DOMNode* TreeAttributes::setNamedItem(DOMNode*) { NotSupported(); }
DOMNode* TreeAttributes::setNamedItemNS(DOMNode*) { NotSupported(); }
DOMNode* TreeAttributes::removeNamedItem(const XMLCh*) { NotSupported(); }
DOMNode* TreeAttributes::removeNamedItemNS(const XMLCh*, const XMLCh*) { NotSupported(); }

TreeNode::TreeNode(NodeType type, const XMLCh* name, const XMLCh* value, XMLSize_t valueLength)
    : type_(type) {
  if (type != TEXT_NODE && name) name_ = name;
  if (value) value_.assign(value, valueLength);
}

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

const XMLCh* TreeNode::getNodeName() const {
  return type_ == TEXT_NODE ? kTextName : name_.c_str();
}

const XMLCh* TreeNode::getNodeValue() const {
  return type_ == ELEMENT_NODE ? nullptr : value_.c_str();
}

DOMNamedNodeMap* TreeNode::getAttributes() const {
  // As in Xerces: elements have a (possibly empty) map, other nodes none.
  return type_ == ELEMENT_NODE ? const_cast<TreeAttributes*>(&attributes_) : nullptr;
}

const XMLCh* TreeNode::getTextContent() const {
  if (type_ != ELEMENT_NODE) return value_.c_str();
  // The common case, an element holding one text, needs no copy.
  if (!firstChild_) return kEmpty;
  if (firstChild_ == lastChild_ && firstChild_->type_ == TEXT_NODE) {
    return firstChild_->value_.c_str();
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

TreeNode* XmlTree::NewNode(DOMNode::NodeType type, const XMLCh* name, const XMLCh* value,
                           XMLSize_t valueLength) {
  nodes_.emplace_back(type, name, value, valueLength);
  return &nodes_.back();
}

void XmlTree::openElement(const XMLCh* name) {
  TreeNode* element = NewNode(DOMNode::ELEMENT_NODE, name, nullptr, 0);
  if (open_) {
    open_->attach(element);
  } else if (!root_) {
    root_ = element;
  }
  open_ = element;
}

void XmlTree::addAttribute(const XMLCh* name, const XMLCh* value) {
  TreeNode* attribute =
      NewNode(DOMNode::ATTRIBUTE_NODE, name, value, xercesc::XMLString::stringLen(value));
  open_->addAttribute(attribute);
}

void XmlTree::closeElement() {
  if (open_) open_ = open_->parent();
}

void XmlTree::addText(const XMLCh* chars, XMLSize_t length) {
  if (!open_ || length == 0) return;
  TreeNode* last = open_->lastChild();
  if (last && last->getNodeType() == DOMNode::TEXT_NODE) {
    last->appendText(chars, length);
    return;
  }
  open_->attach(NewNode(DOMNode::TEXT_NODE, nullptr, chars, length));
}

void XmlTree::clear() {
  nodes_.clear();
  root_ = nullptr;
  open_ = nullptr;
}

}  // namespace xml
}  // namespace Hypervale
