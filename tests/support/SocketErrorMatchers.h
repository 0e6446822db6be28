// Matchers for a raised socket error (net/IdExceptions.h): its number, and its
// message where the test checks that too.
#pragma once

#include <gmock/gmock.h>

#include <cstdint>
#include <string>

#include "net/IdExceptions.h"
#include "tests/support/ExceptionMatchers.h"

namespace vto::testing {

// An EIdSocketError whose LastError() is number.
inline auto IsSocketError(std::int32_t number) {
  return ::testing::Property("LastError", &EIdSocketError::LastError, number);
}

// The same, whose message is message as well.
inline auto IsSocketError(std::int32_t number, const std::string& message) {
  return ::testing::AllOf(IsSocketError(number), WithMessage(::testing::StrEq(message)));
}

// The callable raises an EIdSocketError with that number (and message).
inline auto ThrowsSocketError(std::int32_t number) {
  return ::testing::Throws<EIdSocketError>(IsSocketError(number));
}
inline auto ThrowsSocketError(std::int32_t number, const std::string& message) {
  return ::testing::Throws<EIdSocketError>(IsSocketError(number, message));
}

}  // namespace vto::testing
