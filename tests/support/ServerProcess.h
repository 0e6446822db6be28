// A Linux server program started by a test (openssl s_server, gnutls-serv,
// nginx), standard input empty, both output streams into a log file, stopped
// and waited for when the object goes.
//
// A Windows test under Wine starts it as a Linux program too: a small shell
// script (run by Z:\bin\sh) starts it and watches a "keep running" file; the
// stop removes that file and waits for the script's "ended" file. Wine gives
// no handle for a Linux process, so this is the one way to stop it, and the
// script ends the server by itself after ten minutes if the test never does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/types.h>
#endif

namespace vto::testing {

// A file name as a Linux program sees it: on Windows under Wine the Unix name
// of the Windows path; elsewhere the name as it is.
std::string LinuxPath(const std::string& path);

// Whether a Linux program exists at that absolute Linux path.
bool LinuxProgramExists(const std::string& linuxPath);

class ServerProcess {
 public:
  // args[0] is the program's absolute Linux path; an argument that is a
  // Windows path (drive letter, colon, slash), or an "--option=" with one, is
  // passed with its Linux path.
  // Throws std::runtime_error when it cannot be started.
  ServerProcess(std::vector<std::string> args, const std::string& logFile, bool append);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // True once the program has ended by itself (or was stopped).
  bool Ended();
  // Ends it (SIGTERM) and waits; twice does nothing.
  void Stop();

 private:
#if defined(_WIN32)
  std::string control_;  // the folder of the script and its two files
#else
  pid_t pid_ = -1;
#endif
  bool stopped_ = false;
};

}  // namespace vto::testing
