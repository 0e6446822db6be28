#include "streams/WideNames.h"

#if defined(_WIN32)

#include <iterator>
#include <string>

#include "desktop/TextCodec.h"
#include "desktop/WinApi.h"

namespace vto {

bool WideName(std::string_view name, std::wstring& wide) {
  wide.clear();
  wide.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    char32_t cp = 0;
    if (!DecodeUtf8(name, i, cp) || cp == 0) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      wide.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      wide.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      wide.push_back(static_cast<wchar_t>(cp));
    }
  }
  return true;
}

std::string NarrowName(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const auto u = static_cast<char32_t>(static_cast<unsigned short>(wide[i]));
    if (IsHighSurrogate(u) && i + 1 < wide.size()) {
      const auto low = static_cast<char32_t>(static_cast<unsigned short>(wide[i + 1]));
      if (IsLowSurrogate(low)) {
        AppendUtf8(out, JoinSurrogates(u, low));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD there
  }
  return out;
}

std::string WinErrorText(unsigned long error) {
  wchar_t buffer[512];
  const DWORD n =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                     buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  std::wstring_view text(buffer, n);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                           text.back() == L'.'))
    text.remove_suffix(1);
  if (text.empty()) return "error " + std::to_string(error);
  return NarrowName(text);
}

}  // namespace vto

#endif
