// A loopback port the system hands out, closed again at once: nothing listens
// there until a server of the test binds it.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "tests/support/TestSocket.h"

namespace vto::testing {

inline std::uint16_t UnusedLoopbackPort() {
  const sock::Fd fd = sock::Open(AF_INET);
  if (fd == sock::kNone) throw std::runtime_error("socket failed");
  sockaddr_storage a{};
  const socklen_t len = sock::LoopbackAddress(false, 0, a);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0) {
    sock::CloseFd(fd);
    throw std::runtime_error("no free port");
  }
  const std::uint16_t port = sock::BoundPort(fd);
  sock::CloseFd(fd);
  if (port == 0) throw std::runtime_error("no free port");
  return port;
}

}  // namespace vto::testing
