#pragma once
#include <string>
#include <vector>

#include "platform/console.h"

namespace status {

// One element of a document: its text (empty: no content) and its child elements.
struct XmlElement {
  std::string name;
  std::string text;
  std::vector<XmlElement> children;
};

// The declaration every document of ours starts with.
inline constexpr const char* kXmlDeclarationData = "version='1.0' encoding='UTF-8'";

enum class XmlSaveResult {
  kSaved,
  kUnavailable,  // the XML machinery cannot be initialised at all
  kNotSaved,     // nothing was written; an older file of the name is untouched
};

// Saves the declaration and root as a UTF-8 document, replacing path whole (written beside,
// then renamed over). Narrow texts are taken one character per byte. Errors of the XML
// machinery are reported on the console.
XmlSaveResult SaveXmlDocument(const XmlElement& root, const std::string& path, platform::Console& console);

enum class XmlTextResult {
  kFound,
  kUnavailable,   // machinery or document object not available
  kNotLoaded,     // missing, unreadable, not well-formed or with a document type (never resolved)
  kNoElement,     // no document element or no element of the name below it
  kEmptyOrError,  // the text is empty or could not be read (error reported on the console)
};

// The text (all descendant text joined, in the system's narrow code page) of the first
// element named `name` below the document element, in document order.
XmlTextResult ReadFirstElementText(const std::string& path, const std::string& name, std::string* text,
                                   platform::Console& console);

}  // namespace status
