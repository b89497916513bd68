// The XML layer: a loaded document and read-only element access over libxml2.
//
// Loading never touches the network, never loads a DTD and never reads an external entity; libxml2's
// limits on entity expansion and nesting stay on. Whitespace-only text between elements is dropped on
// load, as soon as the element that holds it is closed, so that it never adds to the memory a large
// document needs. Looking up a child that does not exist gives an empty element (no name, text, attributes or
// children) instead of failing, so a missing block reads as an empty one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

struct _xmlDoc;
struct _xmlNode;

namespace xml {

// A document that did not load, or an element whose text cannot be read.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A view of one node of a loaded document; a default-constructed node is the empty element.
// Valid as long as the document that it came from is neither reloaded nor destroyed.
class Node {
 public:
  Node() = default;
  explicit Node(_xmlNode* node) : node_(node) {}

  // False for the empty element that stands for a missing child.
  bool exists() const { return node_ != nullptr; }
  // The element's name; empty for the empty element and for nodes that are not elements.
  std::string name() const;

  // The first child element with this exact name, or the empty element.
  Node child(std::string_view name) const;

  // The element's text: empty without children, the content of a single text or CDATA child, and an
  // Error "Element "NAME" does not contain a single text node" for anything else.
  std::string text() const;

  // The attribute's value when present (an empty value counts as present).
  std::optional<std::string> attribute(std::string_view name) const;

  // Child nodes by position, whatever their kind or name. Reading them in increasing positions costs
  // one step per child, however long the list (the node remembers the child it reached last).
  std::size_t childCount() const;
  Node childAt(std::size_t index) const;

  // Iteration over all child nodes, in document order.
  class Iterator {
   public:
    explicit Iterator(_xmlNode* n) : n_(n) {}
    Node operator*() const { return Node(n_); }
    Iterator& operator++();
    bool operator!=(const Iterator& o) const { return n_ != o.n_; }

   private:
    _xmlNode* n_;
  };
  struct Children {
    _xmlNode* first;
    Iterator begin() const { return Iterator(first); }
    Iterator end() const { return Iterator(nullptr); }
  };
  Children children() const;

  _xmlNode* raw() const { return node_; }

 private:
  _xmlNode* node_ = nullptr;
  mutable _xmlNode* cursor_ = nullptr;  // the child childAt reached last, and its position
  mutable std::size_t cursorIndex_ = 0;
};

// One XML document at a time; loading a new one releases the previous one first.
class Document {
 public:
  Document() = default;
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // Parse a file. Throws Error with libxml2's first error, its line and column, and, without reading
  // it, for a file larger than `maxBytes`.
  void loadFile(const std::string& path, std::uint64_t maxBytes = UINT64_MAX);
  // Parse a document held in memory (tests and tools); `label` names it in error messages.
  void loadMemory(std::string_view text, const std::string& label = "document");
  void release();
  // Exchanges the documents (and so the nodes they hold) of the two.
  void swap(Document& other) noexcept { std::swap(doc_, other.doc_); }

  bool loaded() const { return doc_ != nullptr; }
  // The document element; the empty element when nothing is loaded.
  Node documentElement() const;

 private:
  void adopt(_xmlDoc* doc);
  _xmlDoc* doc_ = nullptr;
};

}  // namespace xml
