#include "tests/support/ServerProcess.h"

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#if defined(_WIN32)
#include <filesystem>
#include <random>

#include "desktop/WinApi.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace vto::testing {

#if defined(_WIN32)

namespace {

std::wstring Wide(const std::string& s) {
  if (s.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

bool IsWindowsPath(const std::string& s) {
  return s.size() >= 3 && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')) &&
         s[1] == ':' && (s[2] == '\\' || s[2] == '/');
}

// Single quotes for the shell, a quote inside written '\''.
std::string ShellWord(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool Exists(const std::string& path) {
  return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string NewControlFolder() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "vto-srv-%08x", static_cast<unsigned>(random()));
    const std::filesystem::path folder = base / name;
    std::error_code ec;
    if (std::filesystem::create_directory(folder, ec)) return folder.string();
  }
  throw std::runtime_error("no control folder for a server process");
}

}  // namespace

std::string LinuxPath(const std::string& path) {
  using UnixName = char*(__cdecl*)(const wchar_t*);
  static const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) throw std::runtime_error("not under Wine: no Linux file names");
  std::wstring wide = Wide(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  char* name = unixName(wide.c_str());
  if (name == nullptr) throw std::runtime_error("no Linux name for " + path);
  std::string result(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

bool LinuxProgramExists(const std::string& linuxPath) {
  return Exists("Z:" + linuxPath);
}

ServerProcess::ServerProcess(std::vector<std::string> args, const std::string& logFile, bool append)
    : control_(NewControlFolder()) {
  const std::string dir = LinuxPath(control_);
  std::string command;
  for (const std::string& a : args) {
    // A Windows path, alone or as the value of an "--option=path".
    std::string word = a;
    const std::size_t equals = a.find('=');
    if (IsWindowsPath(a)) {
      word = LinuxPath(a);
    } else if (a.compare(0, 2, "--") == 0 && equals != std::string::npos &&
               IsWindowsPath(a.substr(equals + 1))) {
      word = a.substr(0, equals + 1) + LinuxPath(a.substr(equals + 1));
    }
    command += ShellWord(word) + " ";
  }
  const std::string log = LinuxPath(logFile.empty() ? control_ + "/output.log" : logFile);
  {
    std::ofstream script(control_ + "/run.sh", std::ios::binary);
    script << "alive=" << ShellWord(dir + "/alive") << "\n"
           << "ended=" << ShellWord(dir + "/ended") << "\n"
           << ": > \"$alive\"\n"
           << command << "</dev/null " << (append ? ">>" : ">") << ShellWord(log) << " 2>&1 &\n"
           << "child=$!\n"
           << "n=0\n"
           << "while [ -e \"$alive\" ] && kill -0 $child 2>/dev/null && [ $n -lt 6000 ]; do\n"
           << "  sleep 0.1; n=$((n+1))\n"
           << "done\n"
           << "kill $child 2>/dev/null\n"
           << "wait $child\n"
           << "rm -f \"$alive\"\n"
           << ": > \"$ended\"\n";
    if (!script) throw std::runtime_error("cannot write the server script");
  }
  // A Windows command line: Wine splits it by Windows' rules (double quotes).
  std::wstring commandLine = Wide("sh \"" + dir + "/run.sh\"");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(L"Z:\\bin\\sh", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
    throw std::runtime_error("cannot start " + args.at(0));
  }
  // A Linux program comes with no handles; close them should Wine give any.
  if (info.hThread != nullptr) ::CloseHandle(info.hThread);
  if (info.hProcess != nullptr) ::CloseHandle(info.hProcess);
  // The script is running once its "keep running" file is there.
  for (int i = 0; i < 400 && !Exists(control_ + "/alive") && !Ended(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

ServerProcess::~ServerProcess() {
  Stop();
  std::error_code ec;
  std::filesystem::remove_all(control_, ec);
}

bool ServerProcess::Ended() {
  return Exists(control_ + "/ended");
}

void ServerProcess::Stop() {
  if (stopped_) return;
  stopped_ = true;
  ::DeleteFileW(Wide(control_ + "/alive").c_str());
  for (int i = 0; i < 400 && !Ended(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

#else

std::string LinuxPath(const std::string& path) {
  return path;
}

bool LinuxProgramExists(const std::string& linuxPath) {
  return ::access(linuxPath.c_str(), X_OK) == 0;
}

ServerProcess::ServerProcess(std::vector<std::string> args, const std::string& logFile,
                             bool append) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(),
                                   O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + args[0]);
  }
}

ServerProcess::~ServerProcess() {
  Stop();
}

bool ServerProcess::Ended() {
  if (pid_ <= 0) return true;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return true;
  }
  return false;
}

void ServerProcess::Stop() {
  if (stopped_) return;
  stopped_ = true;
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

#endif

}  // namespace vto::testing
