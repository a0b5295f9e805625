#include <windows.h>
#include <msxml.h>
#include <oleauto.h>

#include <string>

#include "tests/status/xml_tree.h"

namespace statustest {
namespace {

const CLSID kDomDocumentClsid = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kDomDocumentIid = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

template <class T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (p) p->Release();
  }
};

std::string Utf8(const wchar_t* s, size_t n) {
  if (!s || n == 0) return {};
  int len = WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(len), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(n), &out[0], len, nullptr, nullptr);
  return out;
}

std::string TakeBstr(BSTR b) {
  std::string out = Utf8(b, b ? SysStringLen(b) : 0);
  SysFreeString(b);
  return out;
}

std::string NodeName(IXMLDOMNode* node) {
  BSTR name = nullptr;
  node->get_nodeName(&name);
  return TakeBstr(name);
}

std::string NodeValue(IXMLDOMNode* node) {
  VARIANT v;
  VariantInit(&v);
  std::string out;
  if (SUCCEEDED(node->get_nodeValue(&v)) && v.vt == VT_BSTR) out = Utf8(v.bstrVal, SysStringLen(v.bstrVal));
  VariantClear(&v);
  return out;
}

bool IsBlank(const std::string& s) {
  return s.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::string Describe(IXMLDOMNode* element);

// One child node; false when it is layout only.
bool DescribeChild(IXMLDOMNode* node, std::string* out) {
  DOMNodeType type = NODE_INVALID;
  node->get_nodeType(&type);
  switch (type) {
    case NODE_ELEMENT:
      *out = Describe(node);
      return true;
    case NODE_TEXT:
    case NODE_CDATA_SECTION: {
      std::string text = NodeValue(node);
      if (IsBlank(text)) return false;
      *out = "\"" + text + "\"";
      return true;
    }
    case NODE_COMMENT:
      *out = "!comment";
      return true;
    case NODE_PROCESSING_INSTRUCTION:
      *out = "?" + NodeName(node);
      if (NodeName(node) == "xml") *out += "(" + DescribeDeclaration(NodeValue(node)) + ")";
      return true;
    default:
      *out = "#" + std::to_string(static_cast<int>(type));
      return true;
  }
}

std::string DescribeChildren(IXMLDOMNode* parent, std::string sep) {
  std::string out;
  Ref<IXMLDOMNodeList> children;
  long count = 0;
  if (FAILED(parent->get_childNodes(&children.p)) || !children.p) return out;
  children.p->get_length(&count);
  for (long i = 0; i < count; ++i) {
    Ref<IXMLDOMNode> child;
    if (FAILED(children.p->get_item(i, &child.p)) || !child.p) continue;
    std::string piece;
    if (!DescribeChild(child.p, &piece)) continue;
    out += sep + piece;
    sep = " ";
  }
  return out;
}

std::string Describe(IXMLDOMNode* element) {
  std::string out = NodeName(element) + "{";
  std::string sep;
  Ref<IXMLDOMNamedNodeMap> attributes;
  long count = 0;
  if (SUCCEEDED(element->get_attributes(&attributes.p)) && attributes.p) attributes.p->get_length(&count);
  for (long i = 0; i < count; ++i) {
    Ref<IXMLDOMNode> a;
    if (FAILED(attributes.p->get_item(i, &a.p)) || !a.p) continue;
    out += sep + "@" + NodeName(a.p) + "=\"" + NodeValue(a.p) + "\"";
    sep = " ";
  }
  return out + DescribeChildren(element, sep) + "}";
}

}  // namespace

bool DescribeXml(const std::string& bytes, std::string* tree, std::string* error) {
  HRESULT init = CoInitialize(nullptr);
  bool ok = false;
  {
    Ref<IXMLDOMDocument> doc;
    HRESULT hr = CoCreateInstance(kDomDocumentClsid, nullptr, CLSCTX_INPROC_SERVER, kDomDocumentIid,
                                  reinterpret_cast<void**>(&doc.p));
    if (FAILED(hr) || !doc.p) {
      *error = "no DOMDocument";
    } else {
      doc.p->put_async(VARIANT_FALSE);
      doc.p->put_preserveWhiteSpace(VARIANT_TRUE);
      // The bytes go in as they are, so the parser itself decides their encoding.
      SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
      void* data = nullptr;
      if (array && SUCCEEDED(SafeArrayAccessData(array, &data))) {
        memcpy(data, bytes.data(), bytes.size());
        SafeArrayUnaccessData(array);
      }
      VARIANT source;
      VariantInit(&source);
      source.vt = VT_ARRAY | VT_UI1;
      source.parray = array;
      VARIANT_BOOL loaded = VARIANT_FALSE;
      hr = doc.p->load(source, &loaded);
      VariantClear(&source);
      if (FAILED(hr) || loaded != VARIANT_TRUE) {
        Ref<IXMLDOMParseError> parseError;
        BSTR reason = nullptr;
        if (SUCCEEDED(doc.p->get_parseError(&parseError.p)) && parseError.p)
          parseError.p->get_reason(&reason);
        *error = "load failed: " + TakeBstr(reason);
      } else {
        *tree = DescribeChildren(doc.p, "");
        ok = true;
      }
    }
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return ok;
}

}  // namespace statustest
