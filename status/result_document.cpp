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

std::string XmlSafeText(std::string_view text) {
  std::string safe;
  safe.reserve(text.size());
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u == 0x09 || u == 0x0A || u == 0x0D || (u >= 0x20 && u <= 0x7E)) safe += c;
  }
  return safe;
}

XmlElement BuildResultDocument(ResultKind kind, const std::string& resultCode, const std::string& data,
                               const std::string& version) {
  XmlElement dataElement{"data", {}, {}};
  switch (kind) {
    case ResultKind::VersionResult:
      dataElement.children.push_back({"cmp", XmlSafeText(data), {}});
      dataElement.children.push_back({"version", XmlSafeText(version), {}});
      break;
    case ResultKind::RatioWorkFile:
    case ResultKind::RatioResult:
      dataElement.text = XmlSafeText(data);
      break;
    case ResultKind::NormalResult:
    case ResultKind::ForceResult:
      break;
  }
  return XmlElement{"Response", {}, {XmlElement{"result_code", XmlSafeText(resultCode), {}}, dataElement}};
}

}  // namespace status
