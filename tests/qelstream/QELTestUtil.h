// Helpers for the document stream tests: streams from bytes, temporary files and
// running the independent peers (coreutils, Python).
#pragma once

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "qelstream/QELStream.h"
#include "tests/qelstream/LinuxCommand.h"

namespace vto::test {

inline void Fill(TQELMemoryStream& s, const std::string& bytes) {
  s.Clear();
  s.AppendStr(bytes);
}

inline std::string Bytes(TCustomMemoryStream& s) {
  return std::string(s.Memory(), static_cast<std::size_t>(s.Size()));
}

inline std::string TempPath(const std::string& leaf) {
#if defined(_WIN32)
  // Below the build tree, where the Linux programs of Run see the same path.
  return std::string(VTO_BINARY_DIR) + "/qeltest_" + std::to_string(_getpid()) + "_" + leaf;
#else
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/qeltest_" + std::to_string(getpid()) + "_" +
         leaf;
#endif
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Runs a shell command and returns its standard output; status receives the
// exit status (0 for success).
inline std::string Run(const std::string& command, int& status) {
  std::string out;
  status = vto::testing::RunLinuxCommand(command, &out, false);
  return out;
}

inline std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

// Text-like data that compresses the way documents do.
inline std::string DocumentLike(std::size_t n, unsigned seed) {
  static const char* words[] = {"invoice", "total",  "amount", "page",  "customer", "PCL",
                                "stream",  "Veltra", "online", "print", "date",     "line"};
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(n + 16);
  while (s.size() < n) {
    s += words[rng() % 12];
    s += (rng() % 9 == 0) ? "\r\n" : " ";
    if (rng() % 7 == 0) s += std::to_string(rng() % 100000);
  }
  s.resize(n);
  return s;
}

}  // namespace vto::test
