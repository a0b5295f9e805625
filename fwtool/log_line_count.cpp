#include "fwtool/log_line_count.h"

#include <cstdio>

namespace korvane {
namespace {

constexpr int kCountPieceChars = 255;

}  // namespace

int32_t CountLogLines(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return 0;
  char piece[kCountPieceChars + 1];
  int32_t count = 0;
  while (std::fgets(piece, sizeof piece, f)) ++count;
  std::fclose(f);
  return count;
}

}  // namespace korvane
