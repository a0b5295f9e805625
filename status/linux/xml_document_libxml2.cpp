#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <memory>

#include "platform/files.h"
#include "status/xml_document.h"

namespace status {
namespace {

struct DocDeleter {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocDeleter>;

struct BufferDeleter {
  void operator()(xmlBuffer* buffer) const { xmlBufferFree(buffer); }
};

// One character per byte, as the Windows side widens narrow texts for its DOM.
std::string Utf8FromBytes(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

const xmlChar* Chars(const std::string& s) {
  return reinterpret_cast<const xmlChar*>(s.c_str());
}

xmlNode* BuildElement(xmlDoc* doc, const XmlElement& element) {
  xmlNode* node = xmlNewDocNode(doc, nullptr, Chars(element.name), nullptr);
  if (!node) return nullptr;
  if (!element.text.empty()) {
    std::string text = Utf8FromBytes(element.text);
    xmlNode* textNode = xmlNewDocTextLen(doc, Chars(text), static_cast<int>(text.size()));
    if (!textNode || !xmlAddChild(node, textNode)) {
      xmlFreeNode(textNode);
      xmlFreeNode(node);
      return nullptr;
    }
  }
  for (const XmlElement& child : element.children) {
    xmlNode* childNode = BuildElement(doc, child);
    if (!childNode || !xmlAddChild(node, childNode)) {
      xmlFreeNode(childNode);
      xmlFreeNode(node);
      return nullptr;
    }
  }
  return node;
}

bool Serialise(xmlDoc* doc, std::string* out) {
  std::unique_ptr<xmlBuffer, BufferDeleter> buffer(xmlBufferCreate());
  if (!buffer) return false;
  // The declaration is written by hand so that its data reads exactly as on the Windows side.
  xmlSaveCtxt* ctxt = xmlSaveToBuffer(buffer.get(), "UTF-8", XML_SAVE_NO_DECL);
  if (!ctxt) return false;
  bool ok = xmlSaveDoc(ctxt, doc) >= 0;
  ok = xmlSaveClose(ctxt) >= 0 && ok;
  if (!ok) return false;
  *out = std::string("<?xml ") + kXmlDeclarationData + "?>\n";
  out->append(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
              static_cast<size_t>(xmlBufferLength(buffer.get())));
  return true;
}

// Matches the qualified name, as an element lookup by tag name does.
bool HasName(const xmlNode* node, const std::string& name) {
  if (node->ns && node->ns->prefix) {
    std::string qualified = reinterpret_cast<const char*>(node->ns->prefix);
    qualified += ':';
    qualified += reinterpret_cast<const char*>(node->name);
    return qualified == name;
  }
  return name == reinterpret_cast<const char*>(node->name);
}

const xmlNode* FindFirstBelow(const xmlNode* parent, const std::string& name) {
  for (const xmlNode* child = parent->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    if (HasName(child, name)) return child;
    if (const xmlNode* found = FindFirstBelow(child, name)) return found;
  }
  return nullptr;
}

}  // namespace

XmlSaveResult SaveXmlDocument(const XmlElement& root, const std::string& path,
                              platform::Console& /*console*/) {
  DocPtr doc(xmlNewDoc(Chars("1.0")));
  if (!doc) return XmlSaveResult::kNotSaved;
  xmlNode* rootNode = BuildElement(doc.get(), root);
  if (!rootNode) return XmlSaveResult::kNotSaved;
  xmlDocSetRootElement(doc.get(), rootNode);
  std::string content;
  if (!Serialise(doc.get(), &content)) return XmlSaveResult::kNotSaved;
  return platform::WriteFileAtomically(path, content) ? XmlSaveResult::kSaved : XmlSaveResult::kNotSaved;
}

XmlTextResult ReadFirstElementText(const std::string& path, const std::string& name, std::string* text,
                                   platform::Console& /*console*/) {
  // No network, no parser chatter on stderr. Without XML_PARSE_NOENT, DTDLOAD, DTDATTR or
  // DTDVALID the parser loads no external subset, parameter entity or external entity.
  DocPtr doc(xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc) return XmlTextResult::kNotLoaded;
  // A document type is refused as MSXML 6 refuses it: its entities would make the text depend
  // on what the package points at.
  if (doc->intSubset || doc->extSubset) return XmlTextResult::kNotLoaded;
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!root) return XmlTextResult::kNoElement;
  const xmlNode* element = FindFirstBelow(root, name);
  if (!element) return XmlTextResult::kNoElement;
  xmlChar* content = xmlNodeGetContent(element);
  if (!content) return XmlTextResult::kEmptyOrError;
  *text = reinterpret_cast<const char*>(content);
  xmlFree(content);
  // The Windows DOM's text drops leading and trailing whitespace; a pretty-printed
  // descriptor must give the same version on both sides.
  const char* blanks = " \t\r\n";
  size_t first = text->find_first_not_of(blanks);
  size_t last = text->find_last_not_of(blanks);
  *text = first == std::string::npos ? std::string() : text->substr(first, last - first + 1);
  return text->empty() ? XmlTextResult::kEmptyOrError : XmlTextResult::kFound;
}

}  // namespace status
