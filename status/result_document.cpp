#include "status/result_document.h"

namespace status {

const char* ResultFileName(ResultKind kind) {
  switch (kind) {
    case ResultKind::VersionResult:
      return "Get_version.xml";
    case ResultKind::NormalResult:
      return "Update_normal.xml";
    case ResultKind::ForceResult:
      return "Update_force.xml";
    case ResultKind::RatioWorkFile:
      return "Get_ratio.xml_tmp";
    case ResultKind::RatioResult:
      return "Get_ratio.xml";
  }
  return "";
}

XmlElement BuildResultDocument(ResultKind kind, const std::string& resultCode, const std::string& data,
                               const std::string& version) {
  XmlElement dataElement{"data", {}, {}};
  switch (kind) {
    case ResultKind::VersionResult:
      dataElement.children.push_back({"cmp", data, {}});
      dataElement.children.push_back({"version", version, {}});
      break;
    case ResultKind::RatioWorkFile:
    case ResultKind::RatioResult:
      dataElement.text = data;
      break;
    case ResultKind::NormalResult:
    case ResultKind::ForceResult:
      break;
  }
  return XmlElement{"Response", {}, {XmlElement{"result_code", resultCode, {}}, dataElement}};
}

}  // namespace status
