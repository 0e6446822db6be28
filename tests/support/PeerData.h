// Test data from public peers lives beside the project, not in it: a clone has
// none. A case that compares with it runs where the folder is there and is
// skipped, saying what is missing, where it is not.
#pragma once

#include <sys/stat.h>

#include <string>

namespace vto::testing {

inline std::string PeerDataPath(const std::string& relative) {
  return std::string(VTO_PEER_DATA) + "/" + relative;
}

inline bool PeerDataPresent(const std::string& relative) {
  struct stat st;
  return ::stat(PeerDataPath(relative).c_str(), &st) == 0;
}

}  // namespace vto::testing

// Skips the running test when the peer file is not beside the project.
#define VTO_SKIP_WITHOUT_PEER_DATA(relative)                                          \
  do {                                                                                \
    if (!::vto::testing::PeerDataPresent(relative))                                   \
      GTEST_SKIP() << "peer data missing: " << ::vto::testing::PeerDataPath(relative) \
                   << " (the shared peer-data folder is not beside the project)";     \
  } while (0)
