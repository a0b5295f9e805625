#pragma once
#include <string>

#include "status/status_files.h"
#include "status/xml_document.h"

namespace status {

// The Response element of a result file: result_code, then data holding cmp and version
// (version file), the data text (ratio files) or nothing (update files).
XmlElement BuildResultDocument(ResultKind kind, const std::string& resultCode, const std::string& data,
                               const std::string& version);

}  // namespace status
