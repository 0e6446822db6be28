#include "desktop/Desktop.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "desktop/Application.h"
#include "desktop/LinuxDesktop.h"

namespace vto {

namespace {
std::mutex g_desktop_lock;
std::unique_ptr<Desktop> g_installed;

Desktop& BuiltIn() {
  static LinuxDesktop desktop;
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

bool IsExistingFile(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    // A link counts only when what it names can be opened for reading.
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    close(fd);
    return true;
  }
  return !S_ISDIR(st.st_mode);
}

std::size_t SearchPath(std::string_view list, std::string_view name, std::string& found) {
  if (name.empty()) return 0;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string_view::npos) end = list.size();
    std::string folder(list.substr(start, end - start));
    // An empty entry names no folder: the current folder is never searched, so a
    // program dropped there cannot be started by accident.
    if (!folder.empty()) {
      std::string candidate = folder;
      if (candidate.back() != '/') candidate += '/';
      candidate += name;
      struct stat st {};
      if (lstat(candidate.c_str(), &st) == 0) {
        found = candidate;
        return found.size();
      }
    }
    start = end + 1;
  }
  return 0;
}

std::string GetTempFolder() {
  std::string folder = GetEnvironmentVariable("TMPDIR");
  if (folder.empty()) folder = "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string MakeTempFileName(std::string_view prefix) {
  const std::string folder = GetTempFolder();
  const std::string head = folder + std::string(prefix.substr(0, 3));
  // Start from a value that differs between runs and processes, then walk the
  // 65535 possible names until one can be created exclusively.
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  unsigned seed =
      static_cast<unsigned>(now) ^ (static_cast<unsigned>(getpid()) << 7) ^ counter.fetch_add(7919);
  for (unsigned attempt = 0; attempt < 0xFFFF; ++attempt) {
    const unsigned number = ((seed + attempt) % 0xFFFF) + 1;  // 1 .. FFFF
    char digits[8];
    std::snprintf(digits, sizeof digits, "%X", number);
    std::string name = head + digits + ".tmp";
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      return name;
    }
    if (errno != EEXIST) break;  // folder missing or not writable: no name to be had
  }
  return std::string();
}

bool WriteNewFile(const std::string& path, std::string_view bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else if (n < 0 && errno == EINTR)
      continue;
    else
      ok = false;
  }
  if (close(fd) != 0) ok = false;
  // The name is ours in a folder where others cannot remove or rename it
  // (the temporary folder is sticky): a half-written file goes again.
  if (!ok) unlink(path.c_str());
  return ok;
}

}  // namespace vto
