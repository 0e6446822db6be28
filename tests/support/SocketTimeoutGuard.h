// Shortens the TLS handler's bound on every wait (its default socket time-out)
// for as long as the object lives, then puts back what was there.
#pragma once

#include <cstdint>

#include "net/IdSSLOpenSSL.h"

namespace vto::testing {

class SocketTimeoutGuard {
 public:
  explicit SocketTimeoutGuard(std::int32_t ms)
      : saved_(TIdSSLIOHandlerSocketOpenSSL::DefaultSocketTimeout()) {
    TIdSSLIOHandlerSocketOpenSSL::SetDefaultSocketTimeout(ms);
  }
  ~SocketTimeoutGuard() { TIdSSLIOHandlerSocketOpenSSL::SetDefaultSocketTimeout(saved_); }
  SocketTimeoutGuard(const SocketTimeoutGuard&) = delete;
  SocketTimeoutGuard& operator=(const SocketTimeoutGuard&) = delete;

 private:
  std::int32_t saved_;
};

}  // namespace vto::testing
