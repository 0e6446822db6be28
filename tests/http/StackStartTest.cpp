// The socket library is started when the HTTP client is made: a start-up that
// fails raises EIdStackInitializationFailed there, before any request, and a
// later client starts it afresh.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "http/IdHTTP.h"
#include "net/IdExceptions.h"
#include "net/IdSocketApi.h"

namespace vto {
namespace {

int gStartups = 0;

int RefusedStartup(std::uint16_t) {
  ++gStartups;
  return WSASYSNOTREADY;
}

TEST(HttpClientStack, FailedSocketLibraryStartRaisesWhenTheClientIsMade) {
  ASSERT_EQ(TIdStack::UsageCount(), 0);
  sockets::SetStartupCall(RefusedStartup);
  EXPECT_THAT([] { TIdHTTP http; },
              ::testing::ThrowsMessage<EIdStackInitializationFailed>(
                  ::testing::StartsWith("Error on call to Winsock2 library function WSAStartup")));
  sockets::SetStartupCall(nullptr);
  EXPECT_EQ(gStartups, 1);
  EXPECT_EQ(TIdStack::UsageCount(), 0);
  TIdHTTP http;  // the real start-up
  EXPECT_GT(TIdStack::UsageCount(), 0);
}

}  // namespace
}  // namespace vto
