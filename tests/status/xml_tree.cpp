#include "tests/status/xml_tree.h"

#include <cctype>

namespace statustest {

std::string DescribeDeclaration(const std::string& data) {
  std::string out;
  size_t pos = 0;
  while (pos < data.size()) {
    while (pos < data.size() && std::isspace(static_cast<unsigned char>(data[pos]))) ++pos;
    size_t eq = data.find('=', pos);
    if (eq == std::string::npos || eq + 1 >= data.size()) break;
    char quote = data[eq + 1];
    size_t end = data.find(quote, eq + 2);
    if ((quote != '\'' && quote != '"') || end == std::string::npos) return "malformed:" + data;
    if (!out.empty()) out += ',';
    out += data.substr(pos, eq - pos) + "=" + data.substr(eq + 2, end - eq - 2);
    pos = end + 1;
  }
  return out;
}

}  // namespace statustest
