// Helpers for the zip tests: a scratch folder, file and process helpers, and a small
// archive builder that can write whatever a hostile archive needs.
#pragma once

#include <gtest/gtest.h>
#if defined(_WIN32)
#include <process.h>
#endif
#include <stdlib.h>
#include <sys/stat.h>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/qelstream/LinuxCommand.h"
#include "tests/support/PeerData.h"

#include "zip/ZipCommon.h"

namespace vto::ziptest {

namespace fs = std::filesystem;

// A UTF-8 name as a path (a narrow name means the ANSI code page on Windows).
inline fs::path U8(const std::string& name) {
  return fs::path(std::u8string(name.begin(), name.end()));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(U8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(U8(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Runs a shell command; returns its exit status and collects its standard output
// and error.
inline int RunCommand(const std::string& command, std::string* output = nullptr) {
  return vto::testing::RunLinuxCommand(command, output, true);
}

inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

inline std::string PeerZip(const std::string& name) {
  return vto::testing::PeerDataPath("zips/" + name);
}

#if !defined(_WIN32)
// Pins the process's umask while it lives.
class UmaskGuard {
 public:
  explicit UmaskGuard(mode_t mask) : old_(::umask(mask)) {}
  ~UmaskGuard() { ::umask(old_); }
  UmaskGuard(const UmaskGuard&) = delete;
  UmaskGuard& operator=(const UmaskGuard&) = delete;

 private:
  mode_t old_;
};
#endif

// A fresh folder under the build tree, removed afterwards: <root>/base is where
// extraction goes, <root> itself is where anything escaping it would land.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    // A name of the test's own that did not exist.
    static int counter = 0;
    std::error_code ec;
    do {
      root_ = std::string(VTO_BINARY_DIR) + "/zip-test-" + std::to_string(_getpid()) + "-" +
              std::to_string(++counter);
    } while (!fs::create_directory(root_, ec) && !ec && counter < 100000);
    ASSERT_FALSE(ec) << ec.message();
#else
    std::string pattern = std::string(VTO_BINARY_DIR) + "/zip-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
#endif
    base_ = root_ + "/base";
    fs::create_directory(base_);
  }
  void TearDown() override {
    std::error_code ec;
    // Read-only files and folders must be removable.
    for (auto& e : fs::recursive_directory_iterator(root_, ec)) {
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(root_, ec);
  }
  // Every entry below root, relative to it, sorted.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (auto& e : fs::recursive_directory_iterator(U8(root_))) {
      const std::u8string name = fs::relative(e.path(), U8(root_)).generic_u8string();
      names.emplace_back(name.begin(), name.end());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string root_, base_;
};

// Writes archives entry by entry, with every field open to the test.
struct RawEntry {
  std::string name;
  std::string data;       // the bytes as stored (already compressed when method 8)
  std::uint32_t usz = 0;  // declared uncompressed size
  std::uint32_t crc = 0;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
  std::uint16_t made_by = 20;
  std::uint16_t needed = 20;
  std::uint32_t attributes = 0x20;
  std::uint32_t dos_time = 0x58A669C7;  // 2024-05-06 13:14:14
  std::string extra;
  std::string comment;

  // A stored entry with correct size and CRC.
  static RawEntry Stored(const std::string& name, const std::string& content) {
    RawEntry e;
    e.name = name;
    e.data = content;
    e.usz = static_cast<std::uint32_t>(content.size());
    e.crc = ZipCrc32(content);
    return e;
  }
};

inline void Put16(std::string& s, std::uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
inline void Put32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline std::string BuildArchive(const std::vector<RawEntry>& entries,
                                const std::string& archive_comment = "") {
  std::string out, dir;
  for (const auto& e : entries) {
    const auto offset = static_cast<std::uint32_t>(out.size());
    Put32(out, 0x04034B50);
    Put16(out, e.needed);
    Put16(out, e.flags);
    Put16(out, e.method);
    Put32(out, e.dos_time);
    Put32(out, e.crc);
    Put32(out, static_cast<std::uint32_t>(e.data.size()));
    Put32(out, e.usz);
    Put16(out, static_cast<std::uint16_t>(e.name.size()));
    Put16(out, 0);
    out += e.name + e.data;
    Put32(dir, 0x02014B50);
    Put16(dir, e.made_by);
    Put16(dir, e.needed);
    Put16(dir, e.flags);
    Put16(dir, e.method);
    Put32(dir, e.dos_time);
    Put32(dir, e.crc);
    Put32(dir, static_cast<std::uint32_t>(e.data.size()));
    Put32(dir, e.usz);
    Put16(dir, static_cast<std::uint16_t>(e.name.size()));
    Put16(dir, static_cast<std::uint16_t>(e.extra.size()));
    Put16(dir, static_cast<std::uint16_t>(e.comment.size()));
    Put16(dir, 0);
    Put16(dir, 0);
    Put32(dir, e.attributes);
    Put32(dir, offset);
    dir += e.name + e.extra + e.comment;
  }
  const auto dir_offset = static_cast<std::uint32_t>(out.size());
  out += dir;
  Put32(out, 0x06054B50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<std::uint16_t>(entries.size()));
  Put16(out, static_cast<std::uint16_t>(entries.size()));
  Put32(out, static_cast<std::uint32_t>(dir.size()));
  Put32(out, dir_offset);
  Put16(out, static_cast<std::uint16_t>(archive_comment.size()));
  return out + archive_comment;
}

}  // namespace vto::ziptest
