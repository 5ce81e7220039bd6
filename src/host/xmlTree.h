// What a parsed body is read through: a compact, read-only tree of elements, attributes and
// text, presented through Xerces' DOMNode interface, so record readers work on it exactly as on
// a Xerces document. Building it costs a fraction of a Xerces DOM (whose every insertion goes
// through several dynamic casts), which matters for lists of thousands of VMs.
//
// Readers may navigate (first child, siblings, parent), ask names, values, types, attributes
// and text content. Everything that would change the tree, or needs a document, fails with a
// DOMException (NOT_SUPPORTED_ERR). Comments and processing instructions are not kept; text
// and CDATA sections next to each other form one text node.
#pragma once

#include <memory>
#include <string>
#include <vector>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNode.hpp>

namespace Hypervale {
namespace xml {

using XmlChars = std::basic_string<XMLCh>;

class TreeNode;

// The attributes of one element, in document order.
class TreeAttributes final : public xercesc::DOMNamedNodeMap {
 public:
  TreeAttributes() = default;
  TreeAttributes(const TreeAttributes&) = delete;
  TreeAttributes& operator=(const TreeAttributes&) = delete;

  void add(TreeNode* attribute);

  XMLSize_t getLength() const override { return count_; }
  xercesc::DOMNode* item(XMLSize_t index) const override;
  xercesc::DOMNode* getNamedItem(const XMLCh* name) const override;
  xercesc::DOMNode* getNamedItemNS(const XMLCh*, const XMLCh*) const override;
  xercesc::DOMNode* setNamedItem(xercesc::DOMNode*) override;
  xercesc::DOMNode* setNamedItemNS(xercesc::DOMNode*) override;
  xercesc::DOMNode* removeNamedItem(const XMLCh*) override;
  xercesc::DOMNode* removeNamedItemNS(const XMLCh*, const XMLCh*) override;

 private:
  TreeNode* first_ = nullptr;
  TreeNode* last_ = nullptr;
  XMLSize_t count_ = 0;
};

class TreeNode final : public xercesc::DOMNode {
 public:
  // `name` is ignored for text nodes ("#text"); `value` is the text or the attribute value.
  // Both are NUL-terminated and owned by the tree.
  TreeNode(NodeType type, const XMLCh* name, const XMLCh* value);
  TreeNode(const TreeNode&) = delete;
  TreeNode& operator=(const TreeNode&) = delete;

  // Building (the tree's owner only).
  void attach(TreeNode* child);
  void addAttribute(TreeNode* attribute) { attributes_.add(attribute); }
  TreeNode* parent() const { return parent_; }
  TreeNode* nextAttribute() const { return nextAttribute_; }
  void setNextAttribute(TreeNode* next) { nextAttribute_ = next; }

  // Reading.
  const XMLCh* getNodeName() const override;
  const XMLCh* getNodeValue() const override;
  NodeType getNodeType() const override { return type_; }
  xercesc::DOMNode* getParentNode() const override { return parent_; }
  xercesc::DOMNode* getFirstChild() const override { return firstChild_; }
  xercesc::DOMNode* getLastChild() const override { return lastChild_; }
  xercesc::DOMNode* getPreviousSibling() const override { return previousSibling_; }
  xercesc::DOMNode* getNextSibling() const override { return nextSibling_; }
  xercesc::DOMNamedNodeMap* getAttributes() const override;
  bool hasChildNodes() const override { return firstChild_ != nullptr; }
  bool hasAttributes() const override { return attributes_.getLength() > 0; }
  const XMLCh* getTextContent() const override;
  bool isSameNode(const xercesc::DOMNode* other) const override { return other == this; }
  // Nodes without namespace processing have neither.
  const XMLCh* getNamespaceURI() const override { return nullptr; }
  const XMLCh* getPrefix() const override { return nullptr; }
  const XMLCh* getLocalName() const override { return nullptr; }
  xercesc::DOMDocument* getOwnerDocument() const override { return nullptr; }
  // Nodes belong to their tree.
  void release() override {}

  // Not supported: they change the tree or need a document.
  xercesc::DOMNodeList* getChildNodes() const override;
  xercesc::DOMNode* cloneNode(bool) const override;
  xercesc::DOMNode* insertBefore(xercesc::DOMNode*, xercesc::DOMNode*) override;
  xercesc::DOMNode* replaceChild(xercesc::DOMNode*, xercesc::DOMNode*) override;
  xercesc::DOMNode* removeChild(xercesc::DOMNode*) override;
  xercesc::DOMNode* appendChild(xercesc::DOMNode*) override;
  void setNodeValue(const XMLCh*) override;
  void normalize() override;
  bool isSupported(const XMLCh*, const XMLCh*) const override;
  void setPrefix(const XMLCh*) override;
  bool isEqualNode(const xercesc::DOMNode*) const override;
  void* setUserData(const XMLCh*, void*, xercesc::DOMUserDataHandler*) override;
  void* getUserData(const XMLCh*) const override;
  const XMLCh* getBaseURI() const override;
  short compareDocumentPosition(const xercesc::DOMNode*) const override;
  void setTextContent(const XMLCh*) override;
  const XMLCh* lookupPrefix(const XMLCh*) const override;
  bool isDefaultNamespace(const XMLCh*) const override;
  const XMLCh* lookupNamespaceURI(const XMLCh*) const override;
  void* getFeature(const XMLCh*, const XMLCh*) const override;

 private:
  void AppendTextContent(XmlChars& out) const;

  const NodeType type_;
  const XMLCh* const name_;
  const XMLCh* const value_;
  TreeNode* parent_ = nullptr;
  TreeNode* firstChild_ = nullptr;
  TreeNode* lastChild_ = nullptr;
  TreeNode* previousSibling_ = nullptr;
  TreeNode* nextSibling_ = nullptr;
  TreeNode* nextAttribute_ = nullptr;  // an attribute's: the element's next one
  TreeAttributes attributes_;
  mutable XmlChars textContent_;  // an element's, computed when first asked
  mutable bool textContentKnown_ = false;
};

// Owns the nodes of one tree and builds it in document order. Nodes and their texts live in
// chunks that are kept when the tree is cleared, so reading the items of a list one after the
// other allocates little beyond the first item.
class XmlTree {
 public:
  XmlTree() = default;
  ~XmlTree();
  XmlTree(const XmlTree&) = delete;
  XmlTree& operator=(const XmlTree&) = delete;

  // Opens an element below the open one (as the root when none is open).
  void openElement(const XMLCh* name);
  void addAttribute(const XMLCh* name, const XMLCh* value);
  void closeElement();
  // Text of the open element; text arriving in pieces becomes one text node.
  void addText(const XMLCh* chars, XMLSize_t length);

  TreeNode* root() const { return root_; }
  bool elementOpen() const { return open_ != nullptr; }
  // Forgets every node.
  void clear();

 private:
  struct NodeChunk {
    std::unique_ptr<unsigned char[]> bytes;
    size_t capacity;
    size_t used;
    TreeNode* at(size_t i) { return reinterpret_cast<TreeNode*>(bytes.get()) + i; }
  };
  struct TextChunk {
    std::unique_ptr<XMLCh[]> chars;
    size_t capacity;
  };
  TreeNode* NewNode(xercesc::DOMNode::NodeType type, const XMLCh* name, const XMLCh* value);
  // A NUL-terminated copy owned by the tree.
  const XMLCh* Store(const XMLCh* text, XMLSize_t length);
  void FlushText();

  // Chunks grow from small (a fault body) to large (a VM of a list); clear() keeps them.
  std::vector<NodeChunk> nodeChunks_;
  size_t nodeChunksUsed_ = 0;  // chunks holding nodes; the last one may have room
  std::vector<TextChunk> textChunks_;
  size_t textChunksUsed_ = 0;
  size_t textUsed_ = 0;                               // in the last used text chunk
  std::vector<std::unique_ptr<XMLCh[]>> largeTexts_;  // texts too long for a chunk
  XmlChars pendingText_;
  TreeNode* root_ = nullptr;
  TreeNode* open_ = nullptr;
};

}  // namespace xml
}  // namespace Hypervale
