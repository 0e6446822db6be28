// Matchers for what an exception carries, to go inside gmock's Throws<E>(...)
// beside the class's own fields: Throws<E>(AllOf(WithMessage("..."),
// Property(&E::ErrorCode, 404))). A message alone is ThrowsMessage<E>(...).
#pragma once

#include <gmock/gmock.h>

#include <exception>
#include <string>
#include <utility>

namespace vto::testing {

// The exception's message (what()) matches m: a text, or a string matcher.
template <typename M>
auto WithMessage(M&& m) {
  return ::testing::Property("what", &std::exception::what,
                             ::testing::MatcherCast<std::string>(std::forward<M>(m)));
}

}  // namespace vto::testing
