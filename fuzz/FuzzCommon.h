// Shared pieces of the fuzz targets: the input split into parts, and the check
// that fails a run loudly (libFuzzer records the input that made it fail).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace vto::fuzz {

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The input cut at every NUL byte: the fuzzer learns to place the separators.
inline std::vector<std::string_view> SplitAtNul(std::string_view input, std::size_t max_parts) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < max_parts) {
    const std::size_t nul = input.find('\0');
    if (nul == std::string_view::npos) break;
    parts.push_back(input.substr(0, nul));
    input.remove_prefix(nul + 1);
  }
  parts.push_back(input);
  parts.resize(max_parts);
  return parts;
}

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

#define VTO_FUZZ_CHECK(cond)               \
  do {                                     \
    if (!(cond)) ::vto::fuzz::Fail(#cond); \
  } while (0)

}  // namespace vto::fuzz
