#include "desktop/Application.h"

#if defined(_WIN32)
#include "desktop/WinApi.h"
#else
#include <unistd.h>
#endif

#include <vector>

#include "desktop/TextCodec.h"

namespace vto {

TApplication& Application() {
  static TApplication app;
  return app;
}

void TApplication::Initialize() {
  if (init_proc_ != nullptr) init_proc_();
}

std::string TitleFromExecutable(const std::string& path) {
#if defined(_WIN32)
  std::string name = path.substr(path.find_last_of("\\/") + 1);
#else
  std::string name = path.substr(path.find_last_of('/') + 1);
#endif
  name = name.substr(0, name.find('.'));
  if (name.empty()) return name;
  // The first character stays; the rest goes to lower case, whole characters at a time.
  std::size_t first_end = 0;
  char32_t cp;
  if (!DecodeUtf8(name, first_end, cp)) first_end = 1;
  return name.substr(0, first_end) + LowerCase(name.substr(first_end));
}

#if defined(_WIN32)
std::string TApplication::Title() const {
  // The buffer grows until the whole name fits (long paths exceed MAX_PATH).
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (n == 0) return std::string();
    if (n < size) return TitleFromExecutable(WideToUtf8(std::wstring_view(buffer.data(), n)));
    if (buffer.size() >= 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}
#else
std::string TApplication::Title() const {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return TitleFromExecutable(std::string(buffer, static_cast<std::size_t>(n)));
}
#endif

}  // namespace vto
