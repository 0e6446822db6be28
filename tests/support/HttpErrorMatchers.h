// Matchers for the HTTP client's protocol error (http/IdHTTP.h): the status
// code, and beside it the status line (its message) or the error page.
#pragma once

#include <gmock/gmock.h>

#include <cstdint>
#include <string>
#include <utility>

#include "http/IdHTTP.h"
#include "tests/support/ExceptionMatchers.h"

namespace vto::testing {

// The error page the server sent with the status (ErrorMessage()) matches m.
template <typename M>
auto WithErrorPage(M&& m) {
  return ::testing::Property("ErrorMessage", &EIdHTTPProtocolException::ErrorMessage,
                             ::testing::MatcherCast<std::string>(std::forward<M>(m)));
}

// The callable raises an EIdHTTPProtocolException whose status code is code and
// that matches every further matcher given (WithMessage, WithErrorPage).
template <typename... M>
auto ThrowsProtocolError(std::int32_t code, M&&... more) {
  return ::testing::Throws<EIdHTTPProtocolException>(
      ::testing::AllOf(::testing::Property("ErrorCode", &EIdHTTPProtocolException::ErrorCode, code),
                       std::forward<M>(more)...));
}

}  // namespace vto::testing
