#include "xml/xml.h"

#include <fcntl.h>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fmt/format.h>

namespace xml {
namespace {

const char* chars(const xmlChar* s) { return reinterpret_cast<const char*>(s); }

bool sameName(const xmlChar* a, std::string_view b) {
  const std::size_t n = std::strlen(chars(a));
  return n == b.size() && std::memcmp(a, b.data(), n) == 0;
}

// Every external entity, DTD or schema that a document names is refused: a document never makes the
// program open another file or a URL.
xmlParserInputPtr refuseExternal(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

struct LibxmlSetup {
  LibxmlSetup() {
    xmlInitParser();
    xmlSetExternalEntityLoader(refuseExternal);
  }
};

void ensureSetup() { static LibxmlSetup setup; }

// Collects the errors of one parse instead of letting libxml2 print them.
struct ErrorCollector {
  std::string first;
  static void handler(void* self, xmlErrorPtr e) {
    auto* c = static_cast<ErrorCollector*>(self);
    if (!c->first.empty() || e == nullptr || e->level < XML_ERR_ERROR) return;
    std::string msg = e->message ? e->message : "unknown error";
    while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' ')) msg.pop_back();
    c->first = fmt::format("linia {}, coloana {}: {}", e->line, e->int2, msg);
  }
};

class ErrorScope {
 public:
  explicit ErrorScope(ErrorCollector* c) { xmlSetStructuredErrorFunc(c, &ErrorCollector::handler); }
  ~ErrorScope() { xmlSetStructuredErrorFunc(nullptr, nullptr); }
  ErrorScope(const ErrorScope&) = delete;
  ErrorScope& operator=(const ErrorScope&) = delete;
};

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_NOWARNING | XML_PARSE_COMPACT;

bool whitespaceOnly(const xmlChar* s) {
  if (s == nullptr) return true;
  for (; *s; ++s)
    if (*s != ' ' && *s != '\t' && *s != '\r' && *s != '\n') return false;
  return true;
}

// Drops the whitespace-only text children of one element.
void dropBlankChildren(xmlNodePtr element) {
  for (xmlNodePtr c = element->children; c != nullptr;) {
    xmlNodePtr next = c->next;
    if (c->type == XML_TEXT_NODE && whitespaceOnly(c->content)) {
      xmlUnlinkNode(c);
      xmlFreeNode(c);
    }
    c = next;
  }
}

// The parser's end-of-element step, followed by dropping the closed element's whitespace-only text:
// no more text can join its children, so this is what dropBlankText would do, only earlier.
void endElementDroppingBlanks(void* context, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
  xmlNodePtr closed = ctxt->node;
  xmlSAX2EndElementNs(context, localName, prefix, uri);
  if (closed != nullptr && closed->type == XML_ELEMENT_NODE) dropBlankChildren(closed);
}

// A parser context that drops whitespace-only text while it parses.
xmlParserCtxtPtr newParserContext() {
  xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
  if (ctxt != nullptr && ctxt->sax != nullptr && ctxt->sax->endElementNs == xmlSAX2EndElementNs)
    ctxt->sax->endElementNs = endElementDroppingBlanks;
  return ctxt;
}

// Drops whitespace-only text nodes everywhere, as the documents' producer expects of its readers.
void dropBlankText(xmlNodePtr root) {
  std::vector<xmlNodePtr> stack{root};
  while (!stack.empty()) {
    xmlNodePtr n = stack.back();
    stack.pop_back();
    for (xmlNodePtr c = n->children; c != nullptr;) {
      xmlNodePtr next = c->next;
      if (c->type == XML_TEXT_NODE && whitespaceOnly(c->content)) {
        xmlUnlinkNode(c);
        xmlFreeNode(c);
      } else if (c->type == XML_ELEMENT_NODE) {
        stack.push_back(c);
      }
      c = next;
    }
  }
}

std::string loadFailure(const std::string& what, const ErrorCollector& errors) {
  return fmt::format("Documentul XML {} nu poate fi incarcat: {}", what,
                     errors.first.empty() ? std::string("eroare necunoscuta") : errors.first);
}

}  // namespace

std::string Node::name() const {
  if (node_ == nullptr || node_->type != XML_ELEMENT_NODE) return {};
  return chars(node_->name);
}

Node Node::child(std::string_view name) const {
  if (node_ == nullptr) return {};
  for (xmlNodePtr c = node_->children; c != nullptr; c = c->next)
    if (c->type == XML_ELEMENT_NODE && sameName(c->name, name)) return Node(c);
  return {};
}

std::string Node::text() const {
  if (node_ == nullptr || node_->children == nullptr) return {};
  xmlNodePtr c = node_->children;
  if (c->next == nullptr && (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE))
    return c->content ? chars(c->content) : std::string();
  throw Error(fmt::format("Element \"{}\" does not contain a single text node", name()));
}

std::optional<std::string> Node::attribute(std::string_view name) const {
  if (node_ == nullptr || node_->type != XML_ELEMENT_NODE) return std::nullopt;
  for (xmlAttrPtr a = node_->properties; a != nullptr; a = a->next) {
    if (a->ns != nullptr || !sameName(a->name, name)) continue;
    xmlChar* v = xmlNodeListGetString(node_->doc, a->children, 1);
    std::string value = v ? chars(v) : "";
    xmlFree(v);
    return value;
  }
  return std::nullopt;
}

std::size_t Node::childCount() const {
  std::size_t n = 0;
  if (node_ != nullptr)
    for (xmlNodePtr c = node_->children; c != nullptr; c = c->next) ++n;
  return n;
}

Node Node::childAt(std::size_t index) const {
  if (node_ == nullptr) return {};
  xmlNodePtr c = node_->children;
  std::size_t at = 0;
  if (cursor_ != nullptr && cursorIndex_ <= index) {
    c = cursor_;
    at = cursorIndex_;
  }
  for (; c != nullptr && at < index; c = c->next) ++at;
  if (c != nullptr) {
    cursor_ = c;
    cursorIndex_ = at;
  }
  return Node(c);
}

Node::Iterator& Node::Iterator::operator++() {
  n_ = n_->next;
  return *this;
}

Node::Children Node::children() const { return Children{node_ ? node_->children : nullptr}; }

Document::~Document() { release(); }

void Document::release() {
  if (doc_ != nullptr) xmlFreeDoc(doc_);
  doc_ = nullptr;
}

void Document::adopt(_xmlDoc* doc) {
  doc_ = doc;
  if (xmlNodePtr root = xmlDocGetRootElement(doc_)) dropBlankText(root);
}

void Document::loadFile(const std::string& path, std::uint64_t maxBytes) {
  ensureSetup();
  release();
  // Without O_NONBLOCK, opening a FIFO named like an input file would wait for a writer for ever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    throw Error(fmt::format("Fisierul \"{}\" nu poate fi deschis: {}", path, std::strerror(errno)));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw Error(fmt::format("\"{}\" nu este un fisier obisnuit", path));
  }
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    ::close(fd);
    throw Error(fmt::format("Fisierul \"{}\" are {:.1f} MB, peste limita de {:.1f} MB (--max-file-size)", path,
                            static_cast<double>(st.st_size) / 1048576.0, static_cast<double>(maxBytes) / 1048576.0));
  }
  ErrorCollector errors;
  xmlDocPtr doc = nullptr;
  {
    ErrorScope scope(&errors);
    xmlParserCtxtPtr ctxt = newParserContext();
    if (ctxt == nullptr) {
      ::close(fd);
      throw Error("Memorie insuficienta pentru analiza XML");
    }
    doc = xmlCtxtReadFd(ctxt, fd, path.c_str(), nullptr, kParseOptions);
    if (doc != nullptr && !ctxt->wellFormed) {
      xmlFreeDoc(doc);
      doc = nullptr;
    }
    xmlFreeParserCtxt(ctxt);
  }
  ::close(fd);
  if (doc == nullptr || !errors.first.empty()) {
    if (doc != nullptr) xmlFreeDoc(doc);
    throw Error(loadFailure(fmt::format("\"{}\"", path), errors));
  }
  adopt(doc);
}

void Document::loadMemory(std::string_view text, const std::string& label) {
  ensureSetup();
  release();
  ErrorCollector errors;
  xmlDocPtr doc = nullptr;
  {
    ErrorScope scope(&errors);
    xmlParserCtxtPtr ctxt = newParserContext();
    if (ctxt == nullptr) throw Error("Memorie insuficienta pentru analiza XML");
    doc = xmlCtxtReadMemory(ctxt, text.data(), static_cast<int>(text.size()), label.c_str(), nullptr,
                            kParseOptions);
    if (doc != nullptr && !ctxt->wellFormed) {
      xmlFreeDoc(doc);
      doc = nullptr;
    }
    xmlFreeParserCtxt(ctxt);
  }
  if (doc == nullptr || !errors.first.empty()) {
    if (doc != nullptr) xmlFreeDoc(doc);
    throw Error(loadFailure(fmt::format("\"{}\"", label), errors));
  }
  adopt(doc);
}

Node Document::documentElement() const {
  return Node(doc_ != nullptr ? xmlDocGetRootElement(doc_) : nullptr);
}

}  // namespace xml
