#include "tests/support/result_file.h"

#include "platform/files.h"

namespace testsupport {
namespace {

// Content of the first element named tag inside text: "" for <tag/> or <tag></tag>.
// False when the element is missing.
bool ElementText(const std::string& text, const std::string& tag, std::string* content) {
  size_t open = text.find("<" + tag);
  while (open != std::string::npos) {
    size_t after = open + 1 + tag.size();
    if (after < text.size() && (text[after] == '>' || text[after] == '/' || text[after] == ' ')) break;
    open = text.find("<" + tag, after);
  }
  if (open == std::string::npos) return false;
  size_t close = text.find('>', open);
  if (close == std::string::npos) return false;
  if (text[close - 1] == '/') {
    content->clear();
    return true;
  }
  size_t end = text.find("</" + tag + ">", close);
  if (end == std::string::npos) return false;
  *content = text.substr(close + 1, end - close - 1);
  return true;
}

}  // namespace

ResultTree ReadResultFile(const std::string& path) {
  ResultTree tree;
  std::string text;
  if (!platform::ReadWholeFile(path, &text)) return tree;
  if (text.find("<?xml") == std::string::npos) return tree;
  std::string response;
  if (!ElementText(text, "Response", &response)) return tree;
  if (!ElementText(response, "result_code", &tree.resultCode)) return tree;
  if (!ElementText(response, "data", &tree.data)) return tree;
  tree.hasCmp = ElementText(tree.data, "cmp", &tree.cmp);
  if (tree.hasCmp) {
    if (!ElementText(tree.data, "version", &tree.version)) return tree;
  }
  // Whitespace between elements is layout, not content.
  auto trim = [](std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    size_t e = s.find_last_not_of(" \t\r\n");
    s = b == std::string::npos ? "" : s.substr(b, e - b + 1);
  };
  trim(tree.resultCode);
  if (tree.hasCmp) tree.data.clear();
  trim(tree.data);
  tree.parsed = true;
  return tree;
}

}  // namespace testsupport
