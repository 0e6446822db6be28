// A loopback listener whose accept queue is full: a further connect to it is
// never answered (its SYN is dropped), as with an address that does not reply.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/TestSocket.h"

namespace vto::testing {

class UnansweredListener {
 public:
  UnansweredListener() {
    fd_ = sock::Open(AF_INET);
    sockaddr_storage a{};
    const socklen_t len = sock::LoopbackAddress(false, 0, a);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), len);
    ::listen(fd_, 0);
    port_ = sock::BoundPort(fd_);
    sock::LoopbackAddress(false, port_, a);
    for (int i = 0; i < 4; ++i) {
      const sock::Fd c = sock::Open(AF_INET);
      sock::SetNonBlocking(c);
      ::connect(c, reinterpret_cast<sockaddr*>(&a), len);
      fillers_.push_back(c);
    }
    sock::Pause(100);  // the queued handshakes complete
  }
  ~UnansweredListener() {
    for (sock::Fd c : fillers_) sock::CloseFd(c);
    sock::CloseFd(fd_);
  }
  std::uint16_t Port() const { return port_; }

 private:
  sock::Fd fd_ = sock::kNone;
  std::uint16_t port_ = 0;
  std::vector<sock::Fd> fillers_;
};

}  // namespace vto::testing
