#include "streams/WideNames.h"

#if defined(_WIN32)

#include <iterator>
#include <string>

#include "desktop/TextCodec.h"
#include "desktop/WinApi.h"

namespace vto {

bool WideName(std::string_view name, std::wstring& wide) {
  wide.clear();
  if (FindInvalidUtf8(name) != std::string_view::npos) return false;
  if (name.find('\0') != std::string_view::npos) return false;
  wide = Utf8ToWide(name);
  return true;
}

std::string SystemMessageText(unsigned long error) {
  wchar_t buffer[512];
  const DWORD n =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                     buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  std::wstring_view text(buffer, n);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                           text.back() == L'.'))
    text.remove_suffix(1);
  return WideToUtf8(text);
}

std::string WinErrorText(unsigned long error) {
  const std::string text = SystemMessageText(error);
  return text.empty() ? "error " + std::to_string(error) : text;
}

}  // namespace vto

#endif
