// Runs a shell command line with the Linux shell, for the suites that compare
// with Linux programs (Info-ZIP, Python). On Windows under Wine a Windows
// process can start Z:\bin\sh, but that start neither waits nor hands back
// the standard output or the exit status: the line runs from a script whose
// output and status go to files beside it, and the call waits for the status.
// Paths in the line are the Linux ones (folders below the build tree, which
// Wine shows at the same path on the drive the tests run in).
#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#if defined(_WIN32)
#include <process.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "desktop/WinApi.h"
#else
#include <sys/wait.h>
#endif

namespace vto::testing {

// The exit status (-1 when the command could not be run or did not end within
// a minute); output receives standard output and, when merge_errors, standard
// error after it.
inline int RunLinuxCommand(const std::string& command, std::string* output, bool merge_errors) {
#if defined(_WIN32)
  static int counter = 0;
  const std::string stem = std::string(VTO_BINARY_DIR) + "/linux-command-" +
                           std::to_string(_getpid()) + "-" + std::to_string(++counter);
  {
    std::ofstream script(stem + ".sh", std::ios::binary);
    script << command << "\n";
  }
  const std::string line = "sh " + stem + ".sh >" + stem + ".out" +
                           (merge_errors ? " 2>&1" : " 2>/dev/null") + "; echo $? >" + stem +
                           ".part; mv " + stem + ".part " + stem + ".status";
  std::wstring cmd = L"Z:\\bin\\sh -c \"";
  for (const char c : line) cmd += static_cast<wchar_t>(static_cast<unsigned char>(c));
  cmd += L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(L"Z:\\bin\\sh", cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                     &pi) == 0)
    return -1;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  int status = -1;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::error_code ec;
  while (std::chrono::steady_clock::now() < until) {
    if (std::filesystem::exists(stem + ".status", ec)) {
      std::ifstream in(stem + ".status");
      if (in >> status) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (output != nullptr) {
    std::ifstream in(stem + ".out", std::ios::binary);
    *output = std::string(std::istreambuf_iterator<char>(in), {});
  }
  for (const char* ext : {".sh", ".out", ".status"}) std::filesystem::remove(stem + ext, ec);
  return status;
#else
  FILE* p = ::popen((merge_errors ? command + " 2>&1" : command).c_str(), "r");
  if (p == nullptr) return -1;
  std::string text;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  const int status = ::pclose(p);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace vto::testing
