#include <libxml/parser.h>
#include <libxml/tree.h>

#include <string>

#include "tests/status/xml_tree.h"

namespace statustest {
namespace {

std::string Str(const xmlChar* s) {
  return s ? reinterpret_cast<const char*>(s) : "";
}

bool IsBlank(const std::string& s) {
  return s.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::string Describe(const xmlNode* node) {
  std::string out = Str(node->name) + "{";
  std::string sep;
  for (const xmlAttr* a = node->properties; a; a = a->next) {
    xmlChar* v = xmlNodeListGetString(node->doc, a->children, 1);
    out += sep + "@" + Str(a->name) + "=\"" + Str(v) + "\"";
    xmlFree(v);
    sep = " ";
  }
  for (const xmlNode* c = node->children; c; c = c->next) {
    switch (c->type) {
      case XML_ELEMENT_NODE:
        out += sep + Describe(c);
        break;
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE:
        if (IsBlank(Str(c->content))) continue;
        out += sep + "\"" + Str(c->content) + "\"";
        break;
      case XML_COMMENT_NODE:
        out += sep + "!comment";
        break;
      case XML_PI_NODE:
        out += sep + "?" + Str(c->name);
        break;
      default:
        out += sep + "#" + std::to_string(c->type);
        break;
    }
    sep = " ";
  }
  return out + "}";
}

}  // namespace

bool DescribeXml(const std::string& bytes, std::string* tree, std::string* error) {
  xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
  if (!ctxt) return false;
  xmlDocPtr doc = xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), "result.xml", nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!doc) {
    const xmlError* e = xmlCtxtGetLastError(ctxt);
    *error = e && e->message ? e->message : "not well-formed";
    xmlFreeParserCtxt(ctxt);
    return false;
  }
  xmlFreeParserCtxt(ctxt);
  // libxml2 keeps the declaration out of the tree: describe it from what the parser saw.
  std::string out;
  size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  if (bytes.compare(start, 6, "<?xml ") == 0) {
    out = "?xml(version=" + Str(doc->version);
    if (doc->encoding) out += ",encoding=" + Str(doc->encoding);
    out += ")";
  }
  for (const xmlNode* c = doc->children; c; c = c->next) {
    if (!out.empty()) out += " ";
    if (c->type == XML_ELEMENT_NODE) {
      out += Describe(c);
    } else if (c->type == XML_PI_NODE) {
      out += "?" + Str(c->name);
    } else if (c->type == XML_COMMENT_NODE) {
      out += "!comment";
    } else {
      out += "#" + std::to_string(c->type);
    }
  }
  xmlFreeDoc(doc);
  *tree = out;
  return true;
}

}  // namespace statustest
