// The shape of a temporary file name: folder "/" prefix, one to four upper-case
// hexadecimal digits, ".tmp", then an optional suffix (".jnlp"). On Windows the
// separator is "\\" and the digits are GetTempFileNameA's (Wine writes them in
// lower case).
#pragma once

#include <string>
#include <string_view>

namespace vto::testing {

inline bool IsTempName(std::string_view name, std::string_view folder, std::string_view prefix,
                       std::string_view suffix = "") {
#if defined(_WIN32)
  const std::string head = std::string(folder) + "\\" + std::string(prefix);
#else
  const std::string head = std::string(folder) + "/" + std::string(prefix);
#endif
  const std::string tail = ".tmp" + std::string(suffix);
  if (name.size() < head.size() + 1 + tail.size()) return false;
  if (name.substr(0, head.size()) != head || name.substr(name.size() - tail.size()) != tail)
    return false;
  const std::string_view digits = name.substr(head.size(), name.size() - head.size() - tail.size());
  if (digits.empty() || digits.size() > 4) return false;
  for (char c : digits) {
#if defined(_WIN32)
    if (c >= 'a' && c <= 'f') continue;
#endif
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

}  // namespace vto::testing
