// Helpers for the document stream tests: streams from bytes, temporary files and
// running the independent peers (coreutils, Python).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "qelstream/QELStream.h"

namespace vto::test {

inline void Fill(TQELMemoryStream& s, const std::string& bytes) {
  s.Clear();
  s.AppendStr(bytes);
}

inline std::string Bytes(TCustomMemoryStream& s) {
  return std::string(s.Memory(), static_cast<std::size_t>(s.Size()));
}

inline std::string TempPath(const std::string& leaf) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/qeltest_" + std::to_string(getpid()) + "_" +
         leaf;
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
// exit status.
inline std::string Run(const std::string& command, int& status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    status = -1;
    return out;
  }
  char buf[65536];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  status = pclose(p);
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
