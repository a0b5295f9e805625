#include <windows.h>
#include <objbase.h>
#include <msxml2.h>
#include <oleauto.h>

#include <string>

#include "platform/win32/com_objects.h"
#include "platform/files.h"
#include "status/com_error_report.h"
#include "status/xml_document.h"

namespace status {
namespace {

// Result files are built and saved with the version-independent DOMDocument (served by MSXML 3):
// saving parses nothing, and its bytes are the ones managers know.
const CLSID kDomDocumentClsid = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kDomDocumentIid = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// A package's file is read with MSXML 6 (Msxml2.DOMDocument.6.0, part of Windows since Vista and
// Server 2008), which prohibits DTDs and resolves nothing external by default; with MSXML 3
// (Msxml2.DOMDocument.3.0) only where 6 is not registered. The version-independent document
// allows DTDs and their external entities, through which a package could make the tool open
// files or network paths of its choosing. Both are locked down explicitly: no default is relied on.
const CLSID kDomDocument60Clsid = {
    0x88D96A05, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
const CLSID kDomDocument30Clsid = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
const IID kDomDocument2Iid = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// COM for the duration of one file operation.
class ComScope {
 public:
  ComScope() : hr_(CoInitialize(nullptr)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool ok() const { return SUCCEEDED(hr_); }

 private:
  HRESULT hr_;
};

using platform::Bstr;
using platform::ComRef;

// One UTF-16 character per byte: the programs' texts are plain ASCII.
std::wstring WidenBytes(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (unsigned char c : text) out += static_cast<wchar_t>(c);
  return out;
}

std::wstring WidenAnsi(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string NarrowAnsi(const wchar_t* text, size_t length) {
  if (!text || length == 0) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
  return out;
}

std::string NarrowBstr(BSTR text) {
  return NarrowAnsi(text, text ? SysStringLen(text) : 0);
}

void PrintComError(HRESULT hr, platform::Console& console) {
  std::string systemMessage;
  char* message = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&message), 0,
      nullptr);
  if (n > 0 && message) systemMessage.assign(message, n);
  if (message) LocalFree(message);
  std::string source, description;
  ComRef<IErrorInfo> info;
  if (GetErrorInfo(0, info.Out()) == S_OK && info) {
    Bstr text;
    if (SUCCEEDED(info->GetSource(text.Out()))) source = NarrowBstr(text.get());
    if (SUCCEEDED(info->GetDescription(text.Out()))) description = NarrowBstr(text.get());
  }
  console.Write(ComErrorReport(static_cast<uint32_t>(hr), systemMessage, source, description));
}

HRESULT CreateDocument(ComRef<IXMLDOMDocument>* doc) {
  return CoCreateInstance(kDomDocumentClsid, nullptr, CLSCTX_INPROC_SERVER, kDomDocumentIid, doc->OutVoid());
}

HRESULT CreateReadingDocument(ComRef<IXMLDOMDocument2>* doc) {
  HRESULT hr =
      CoCreateInstance(kDomDocument60Clsid, nullptr, CLSCTX_INPROC_SERVER, kDomDocument2Iid, doc->OutVoid());
  if (hr == REGDB_E_CLASSNOTREG) {
    hr = CoCreateInstance(kDomDocument30Clsid, nullptr, CLSCTX_INPROC_SERVER, kDomDocument2Iid,
                          doc->OutVoid());
  }
  return hr;
}

// Loads without validating and without fetching anything the document names. A stylesheet is
// never run on it, so the XSLT switches (AllowDocumentFunction, AllowXsltScript) guard nothing.
HRESULT LockDown(IXMLDOMDocument2* doc) {
  HRESULT hr = doc->put_async(VARIANT_FALSE);
  if (SUCCEEDED(hr)) hr = doc->put_validateOnParse(VARIANT_FALSE);
  if (SUCCEEDED(hr)) hr = doc->put_resolveExternals(VARIANT_FALSE);
  if (FAILED(hr)) return hr;
  // Where the property is unknown or ignored (early MSXML 3 releases, Wine), a document type
  // still loads, with nothing external resolved, and is refused after loading instead.
  Bstr prohibitDtd(L"ProhibitDTD");
  VARIANT on;
  VariantInit(&on);
  on.vt = VT_BOOL;
  on.boolVal = VARIANT_TRUE;
  if (prohibitDtd.get()) doc->setProperty(prohibitDtd.get(), on);
  return S_OK;
}

HRESULT AppendElement(IXMLDOMDocument* doc, IXMLDOMNode* parent, const XmlElement& element) {
  ComRef<IXMLDOMElement> node;
  Bstr name(WidenBytes(element.name));
  if (!name.get()) return E_OUTOFMEMORY;
  HRESULT hr = doc->createElement(name.get(), node.Out());
  if (FAILED(hr)) return hr;
  if (!node) return E_POINTER;
  if (!element.text.empty()) {
    Bstr text(WidenBytes(element.text));
    if (!text.get()) return E_OUTOFMEMORY;
    hr = node->put_text(text.get());
    if (FAILED(hr)) return hr;
  }
  ComRef<IXMLDOMNode> appended;
  hr = parent->appendChild(node.get(), appended.Out());
  if (FAILED(hr)) return hr;
  for (const XmlElement& child : element.children) {
    hr = AppendElement(doc, node.get(), child);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT BuildDocument(IXMLDOMDocument* doc, const XmlElement& root) {
  Bstr target(L"xml");
  Bstr data(WidenBytes(kXmlDeclarationData));
  if (!target.get() || !data.get()) return E_OUTOFMEMORY;
  ComRef<IXMLDOMProcessingInstruction> declaration;
  HRESULT hr = doc->createProcessingInstruction(target.get(), data.get(), declaration.Out());
  if (FAILED(hr)) return hr;
  ComRef<IXMLDOMNode> appended;
  hr = doc->appendChild(declaration.get(), appended.Out());
  if (FAILED(hr)) return hr;
  return AppendElement(doc, doc, root);
}

// The bytes exactly as MSXML writes them to a file, so that the one atomic writer can place them.
HRESULT SaveToMemory(IXMLDOMDocument* doc, std::string* bytes) {
  ComRef<IStream> stream;
  HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.Out());
  if (FAILED(hr)) return hr;
  if (!stream) return E_POINTER;
  VARIANT destination;
  VariantInit(&destination);
  destination.vt = VT_UNKNOWN;
  destination.punkVal = stream.get();  // borrowed for the call, so no VariantClear
  hr = doc->save(destination);
  if (FAILED(hr)) return hr;
  STATSTG stat{};
  hr = stream->Stat(&stat, STATFLAG_NONAME);
  if (FAILED(hr)) return hr;
  HGLOBAL memory = nullptr;
  hr = GetHGlobalFromStream(stream.get(), &memory);
  if (FAILED(hr)) return hr;
  // The block may be larger than what was written; the stream's size is the content.
  const size_t size = static_cast<size_t>(stat.cbSize.QuadPart);
  if (size > GlobalSize(memory)) return E_UNEXPECTED;
  bytes->clear();
  if (size == 0) return S_OK;
  const void* data = GlobalLock(memory);
  if (!data) return E_OUTOFMEMORY;
  bytes->assign(static_cast<const char*>(data), size);
  GlobalUnlock(memory);
  return S_OK;
}

}  // namespace

XmlSaveResult SaveXmlDocument(const XmlElement& root, const std::string& path, platform::Console& console) {
  ComScope com;
  if (!com.ok()) return XmlSaveResult::kUnavailable;
  ComRef<IXMLDOMDocument> doc;
  HRESULT hr = CreateDocument(&doc);
  if (SUCCEEDED(hr) && !doc) hr = E_NOINTERFACE;
  if (SUCCEEDED(hr)) hr = BuildDocument(doc.get(), root);
  if (FAILED(hr)) {
    PrintComError(hr, console);
    return XmlSaveResult::kNotSaved;
  }
  std::string bytes;
  hr = SaveToMemory(doc.get(), &bytes);
  if (FAILED(hr)) {
    PrintComError(hr, console);
    return XmlSaveResult::kNotSaved;
  }
  return platform::WriteFileAtomically(path, bytes) ? XmlSaveResult::kSaved : XmlSaveResult::kNotSaved;
}

XmlTextResult ReadFirstElementText(const std::string& path, const std::string& name, std::string* text,
                                   platform::Console& console) {
  ComScope com;
  if (!com.ok()) return XmlTextResult::kUnavailable;
  ComRef<IXMLDOMDocument2> doc;
  if (FAILED(CreateReadingDocument(&doc)) || !doc) return XmlTextResult::kUnavailable;

  auto failed = [&console](HRESULT hr) {
    PrintComError(hr, console);
    return XmlTextResult::kEmptyOrError;
  };
  HRESULT hr = LockDown(doc.get());
  if (FAILED(hr)) return failed(hr);

  VARIANT source;
  VariantInit(&source);
  source.vt = VT_BSTR;
  std::wstring widePath = WidenAnsi(path);
  source.bstrVal = SysAllocStringLen(widePath.data(), static_cast<UINT>(widePath.size()));
  if (!source.bstrVal) return failed(E_OUTOFMEMORY);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  hr = doc->load(source, &loaded);
  VariantClear(&source);
  if (FAILED(hr) || loaded != VARIANT_TRUE) return XmlTextResult::kNotLoaded;
  // Refused as MSXML 6 refuses it, also where ProhibitDTD is unknown: the same answer as on
  // Linux, and no entity decides the text.
  ComRef<IXMLDOMDocumentType> doctype;
  hr = doc->get_doctype(doctype.Out());
  if (FAILED(hr)) return failed(hr);
  if (doctype) return XmlTextResult::kNotLoaded;

  ComRef<IXMLDOMElement> root;
  hr = doc->get_documentElement(root.Out());
  if (FAILED(hr)) return failed(hr);
  if (!root) return XmlTextResult::kNoElement;

  Bstr tag(WidenBytes(name));
  if (!tag.get()) return failed(E_OUTOFMEMORY);
  ComRef<IXMLDOMNodeList> matches;
  hr = root->getElementsByTagName(tag.get(), matches.Out());
  if (FAILED(hr)) return failed(hr);
  if (!matches) return XmlTextResult::kNoElement;
  ComRef<IXMLDOMNode> first;
  hr = matches->get_item(0, first.Out());
  if (FAILED(hr)) return failed(hr);
  if (!first) return XmlTextResult::kNoElement;

  Bstr content;
  hr = first->get_text(content.Out());
  if (FAILED(hr)) return failed(hr);
  *text = NarrowBstr(content.get());
  return text->empty() ? XmlTextResult::kEmptyOrError : XmlTextResult::kFound;
}

}  // namespace status
