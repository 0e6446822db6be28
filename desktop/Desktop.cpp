#include "desktop/Desktop.h"

#include <mutex>

#include "desktop/Application.h"
#if defined(_WIN32)
#include "desktop/WindowsDesktop.h"
#else
#include "desktop/LinuxDesktop.h"
#endif

namespace vto {

namespace {
std::mutex g_desktop_lock;
std::unique_ptr<Desktop> g_installed;

Desktop& BuiltIn() {
#if defined(_WIN32)
  static WindowsDesktop desktop;
#else
  static LinuxDesktop desktop;
#endif
  return desktop;
}
}  // namespace

Desktop& CurrentDesktop() {
  std::lock_guard<std::mutex> lock(g_desktop_lock);
  if (g_installed) return *g_installed;
  return BuiltIn();
}

std::unique_ptr<Desktop> SetDesktop(std::unique_ptr<Desktop> desktop) {
  std::lock_guard<std::mutex> lock(g_desktop_lock);
  std::unique_ptr<Desktop> previous = std::move(g_installed);
  g_installed = std::move(desktop);
  return previous;
}

void ShowMessageAt(const std::string& text, int /*left*/, int /*top*/) {
  CurrentDesktop().ShowDialog(DialogKind::Message, Application().Title(), text);
}

void ShowErrorDialog(const std::string& text) {
  CurrentDesktop().ShowDialog(DialogKind::Error, "Error", text);
}

void ShowApplicationError(const std::string& text) {
  CurrentDesktop().ShowDialog(DialogKind::ApplicationError, "Application Error", text);
}

std::string GetEnvironmentVariable(const std::string& name) {
  return CurrentDesktop().GetEnvironmentVariable(name);
}

int ShellExecute(const std::string& file, const std::string& parameters) {
  return CurrentDesktop().ShellExecute(file, parameters);
}

int StartProgram(const std::string& path, const std::string& parameters) {
  return CurrentDesktop().StartProgram(path, parameters);
}

}  // namespace vto
