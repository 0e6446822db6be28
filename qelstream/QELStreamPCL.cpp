// PCL printer data: page orientation and macro removal by byte patterns.
#include <cstring>
#include <string>

#include "qelstream/QELStream.h"
#include "qelstream/QELStreamInternal.h"

namespace vto {

namespace {

bool Contains(std::string_view content, std::string_view pattern) {
  return qel::FindBytes(content.data(), content.size(), pattern.data(), pattern.size()) != nullptr;
}

}  // namespace

TOrientation TQELMemoryStream::GetOrientation() {
  if (FSize == 0) return NoOrientation;
  SetPosition(0);
  const std::string_view c = View();
  const bool portrait = Contains(c, "\033&l0O") || Contains(c, "\033&l0o");
  const bool landscape = Contains(c, "\033&l1O") || Contains(c, "\033&l1o");
  if (portrait) return pgPortrait;
  if (landscape) return pgLandscape;
  return NoOrientation;
}

std::string TQELMemoryStream::RemovePCLMacro(std::int32_t aMacroID) {
  if (FSize == 0) return std::string();
  SetPosition(0);
  const std::string_view c = View();
  const std::string m = "\033&f" + std::to_string(aMacroID) + "Y";
  const std::int32_t from = FindFolded(m, c, 0);
  if (from == 0) return std::string();
  const std::int32_t to = FindFolded("\033&f8X", c, from);
  if (to == 0 || to <= from) return std::string();
  const std::int32_t after = to + 5;
  std::string removed(
      c.substr(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(after - from)));
  const auto tail = static_cast<std::size_t>(FSize - (after - 1));
  std::memmove(FMemory + from - 1, FMemory + after - 1, tail);
  FSize -= after - from;
  if (FSize == 0) Clear();
  SetPosition(0);
  return removed;
}

}  // namespace vto
