#include "desktop/Application.h"

#include <unistd.h>

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
  std::string name = path.substr(path.find_last_of('/') + 1);
  name = name.substr(0, name.find('.'));
  if (name.empty()) return name;
  // The first character stays; the rest goes to lower case, whole characters at a time.
  std::size_t first_end = 0;
  char32_t cp;
  if (!DecodeUtf8(name, first_end, cp)) first_end = 1;
  return name.substr(0, first_end) + LowerCase(name.substr(first_end));
}

std::string TApplication::Title() const {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return TitleFromExecutable(std::string(buffer, static_cast<std::size_t>(n)));
}

}  // namespace vto
