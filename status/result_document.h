#pragma once
#include <string>
#include <string_view>

#include "status/result_kind.h"
#include "status/xml_document.h"

namespace status {

// The Response element of a result file: result_code, then data holding cmp and version
// (version file), the data text (ratio files) or nothing (update files). Every text is
// reduced to XmlSafeText first.
XmlElement BuildResultDocument(ResultKind kind, const std::string& resultCode, const std::string& data,
                               const std::string& version);

// The documents carry plain ASCII; anything else (a control character in a version text read
// from the BMC, a byte above 7Eh) would make the file unparseable for the manager, so only
// tab, line feed, carriage return and 20h..7Eh are kept.
std::string XmlSafeText(std::string_view text);

}  // namespace status
