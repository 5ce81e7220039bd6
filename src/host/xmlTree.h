// What a parsed body is read through: a compact, read-only tree of elements, attributes and
// text, presented through Xerces' DOMNode interface, so record readers work on it exactly as on
// a Xerces document. Building it costs a fraction of a Xerces DOM (whose every insertion goes
// through several dynamic casts), which matters for lists of thousands of VMs.
//
// Every text and value is kept once: a short one as Xerces hands it over (UTF-16, one copy per
// piece of a chunk), a long one (beyond 4 K characters) as UTF-8 gathered piece by piece, the
// form the readers want (TextOf), so a long text costs its size in the tree and never twice
// that. The attributes of an element lie next to each other, so reaching one by its index costs
// the same however many there are.
//
// Readers may navigate (first child, siblings, parent), ask names, values, types, attributes
// and text content. Everything that would change the tree, or needs a document, fails with a
// DOMException (NOT_SUPPORTED_ERR). Comments and processing instructions are not kept; text
// and CDATA sections next to each other form one text node.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNode.hpp>

namespace Hypervale {
namespace xml {

using XmlChars = std::basic_string<XMLCh>;

class TreeNode;

// The attributes of one element, in document order, side by side.
class TreeAttributes final : public xercesc::DOMNamedNodeMap {
 public:
  TreeAttributes() = default;
  TreeAttributes(const TreeAttributes&) = delete;
  TreeAttributes& operator=(const TreeAttributes&) = delete;

  // The element's attributes start at `first`; each one added counts one more.
  void start(TreeNode* first) { first_ = first; }
  void added() { ++count_; }

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
  XMLSize_t count_ = 0;
};

class TreeNode final : public xercesc::DOMNode {
 public:
  // An element has a name; a text node has a text; an attribute has both. A text is UTF-16
  // (`utf16`) or, when long, UTF-8 (`utf8` and `length`); both are NUL-terminated and owned by
  // the tree.
  TreeNode(NodeType type, const XMLCh* name, const XMLCh* utf16);
  TreeNode(NodeType type, const char* utf8, size_t length);
  TreeNode(const TreeNode&) = delete;
  TreeNode& operator=(const TreeNode&) = delete;
  ~TreeNode() override;

  // Building (the tree's owner only).
  void attach(TreeNode* child);
  TreeAttributes& attributes() { return attributes_; }
  TreeNode* parent() const { return parent_; }

  // The value of a text node or an attribute, or an element's text content, as UTF-8.
  std::string utf8Text() const;

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
  void AppendUtf8(std::string& out) const;
  // The UTF-16 form of utf8Text() where it is not kept so, made when first asked for.
  const XMLCh* Converted() const;

  const NodeType type_;
  const XMLCh* const name_;
  const XMLCh* const utf16_;
  const char* const utf8_;
  const size_t utf8Length_;
  TreeNode* parent_ = nullptr;
  TreeNode* firstChild_ = nullptr;
  TreeNode* lastChild_ = nullptr;
  TreeNode* previousSibling_ = nullptr;
  TreeNode* nextSibling_ = nullptr;
  TreeAttributes attributes_;
  mutable std::unique_ptr<XmlChars> converted_;
};

// The value (text node, attribute) or text content (element) of any node as UTF-8; without a
// detour through UTF-16 for the nodes of an XmlTree.
std::string TextOf(const xercesc::DOMNode* node);

// Owns the nodes of one tree and builds it in document order. Nodes and short texts live in
// chunks that are kept when the tree is cleared, so reading the items of a list one after the
// other allocates little beyond the first item. What the tree holds is counted against a
// budget; once past it the tree takes nothing more and says so (overBudget), and its builder
// stops reading.
class XmlTree {
 public:
  explicit XmlTree(size_t budgetBytes = SIZE_MAX) : budget_(budgetBytes) {}
  ~XmlTree();
  XmlTree(const XmlTree&) = delete;
  XmlTree& operator=(const XmlTree&) = delete;

  // A NUL-terminated copy of `text`, held until the tree is cleared.
  const XMLCh* keep(const XMLCh* text, size_t length);
  // Opens an element below the open one (as the root when none is open); its `attributes`
  // follow, each through addAttribute. `name` is kept by this tree or one that outlives it.
  void openElement(const XMLCh* name, XMLSize_t attributes);
  void addAttribute(const XMLCh* name, const XMLCh* value);
  void closeElement();
  // Text of the open element, in UTF-16 pieces; pieces next to each other become one text.
  void addText(const XMLCh* chars, XMLSize_t length);

  TreeNode* root() const { return root_; }
  bool elementOpen() const { return open_ != nullptr; }
  bool overBudget() const { return used_ > budget_; }
  // Bytes of text and values held since the last clear.
  size_t textBytes() const { return textBytes_; }
  // Forgets every node.
  void clear();

 private:
  template <typename T>
  struct Chunk {
    std::unique_ptr<T[]> items;
    size_t capacity;
    size_t used;
  };
  // Items of one type in chunks of growing size, kept by clear().
  template <typename T>
  struct Chunks {
    std::vector<Chunk<T>> chunks;
    size_t inUse = 0;  // chunks holding items; the last one may have room
  };

  // `count` slots of a chunk that has `room` free ones in a row (room >= count).
  template <typename T>
  T* Take(Chunks<T>& pool, size_t room, size_t count, size_t first, size_t largest);
  // A slot for a node; `room` makes that many lie side by side from it.
  void* NodeSlot(size_t room);
  // A NUL-terminated copy owned by the tree.
  const XMLCh* Store(const XMLCh* text, size_t length);
  void FlushText();
  void Count(size_t bytes) { used_ += bytes; }
  // Counts the pending text's buffer as it is now.
  void RecountPending();

  const size_t budget_;
  size_t used_ = 0;  // bytes of chunks and texts held, kept chunks included
  size_t textBytes_ = 0;
  // Raw storage for nodes; constructed in place, in order, destroyed by clear().
  struct RawNode {
    alignas(TreeNode) unsigned char bytes[sizeof(TreeNode)];
  };
  Chunks<RawNode> nodes_;
  Chunks<XMLCh> texts_;                                // names, values and short texts
  std::vector<std::unique_ptr<XMLCh[]>> largeValues_;  // values too long for a chunk
  size_t largeValueBytes_ = 0;
  std::vector<std::string> largeTexts_;  // long texts, moved in whole
  XmlChars pendingText_;                 // the open element's text while it is short
  std::string pendingUtf8_;              // ... and once it is long
  size_t pendingCounted_ = 0;            // their capacity as counted in used_
  XMLCh pendingSurrogate_ = 0;           // a high surrogate whose pair is in the next piece
  TreeNode* root_ = nullptr;
  TreeNode* open_ = nullptr;
};

}  // namespace xml
}  // namespace Hypervale
