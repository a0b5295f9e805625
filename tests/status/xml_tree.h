#pragma once
#include <string>

namespace statustest {

// Parses a document with the platform's XML parser (libxml2 or MSXML) and describes its tree
// in one line, e.g.  ?xml(version=1.0,encoding=UTF-8) Response{result_code{"OK"} data{}}
// Text that is only whitespace between elements is layout and left out; attributes, comments
// and other processing instructions appear as @name="value", !comment and ?target.
// False (and the parser's complaint in *error) when the bytes are not a well-formed document.
bool DescribeXml(const std::string& bytes, std::string* tree, std::string* error);

// "version=1.0,encoding=UTF-8" from the data of an XML declaration, whichever quotes it uses.
std::string DescribeDeclaration(const std::string& data);

}  // namespace statustest
