// Tests of http/IdHTTP.cpp over net/IdIOHandler.cpp.
// What a hostile server can make one Get cost, played through an in-memory
// transport: chunk sizes and lengths beyond what a memory stream holds, a
// multipart body that never ends, a response that sets cookies without end,
// and responses cut short by a close or a reset.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "http/IdHTTP.h"
#include "qelstream/QELStream.h"
#include "tests/support/MemoryIOHandler.h"
#include "tests/support/SocketErrorMatchers.h"

namespace vto {
namespace {

using testing::MemoryHandler;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
using testing::ThrowsSocketError;

constexpr std::int64_t kStreamLimit = std::numeric_limits<std::int32_t>::max();

// A client on one scripted connection whose bytes come in reads of `step`.
struct Exchange {
  MemoryHandler io;
  TIdHTTP http;
  TQELMemoryStream body;
  // The bytes, then the close (error 0) or a failed read with that number.
  explicit Exchange(const std::string& bytes, std::size_t step = 1000, std::int32_t end = 0) {
    MemoryHandler::Script script;
    for (std::size_t at = 0; at < bytes.size(); at += step)
      script.push_back({bytes.substr(at, step)});
    if (end != 0) script.push_back({"", end});
    io.connections.push_back(std::move(script));
    io.refuse_unscripted_open = true;
    http.SetIOHandler(&io);
    http.SetHandleRedirects(true);
  }
  void Get() { http.Get("http://h.example/dir/app.jnlp", body); }
  std::string Content() {
    return std::string(body.Memory(), static_cast<std::size_t>(body.Size()));
  }
};

// A body cut by an orderly close is what arrived; cut by a reset it is no body,
// and a header block that never reached its empty line is no response.
TEST(ExchangeBounds, ResponsesCutShort) {
  const std::string length = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string close = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
  const std::string multi =
      "HTTP/1.1 200 OK\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n";
  const std::string half(50000, 'x');
  struct Case {
    const char* what;
    std::string bytes;
    std::int32_t end;    // 0: orderly close
    const char* body;    // the body kept, or null when Get must raise
    std::int32_t error;  // the socket error raised (0: EIdConnClosedGracefully)
  };
  const Case cases[] = {
      {"length, closed", length + "abc", 0, "abc", 0},
      {"length, reset", length + half, IdErr::ConnectionReset, nullptr, IdErr::ConnectionReset},
      {"chunked, closed", chunked + "5\r\nabcde\r\n8\r\nfg", 0, "abcdefg", 0},
      {"chunked, reset in a chunk", chunked + "8\r\nfg", IdErr::ConnectionReset, nullptr,
       IdErr::ConnectionReset},
      {"chunked, reset at a size", chunked + "2\r\nab\r\n", IdErr::ConnectionAborted, nullptr,
       IdErr::ConnectionAborted},
      {"until close, closed", close + "whole", 0, "whole", 0},
      {"until close, reset", close + "part", IdErr::ConnectionReset, nullptr,
       IdErr::ConnectionReset},
      {"multipart, closed", multi + "data", 0, "--b\r\ndata", 0},
      {"multipart, reset", multi + "data", IdErr::ConnectionReset, nullptr, IdErr::ConnectionReset},
      {"headers, closed in a line", "HTTP/1.1 200 OK\r\nContent-Le", 0, nullptr, 0},
      {"headers, closed after a line", "HTTP/1.1 200 OK\r\nServer: x\r\n", 0, nullptr, 0},
      {"headers, reset", "HTTP/1.1 200 OK\r\nServer: x\r\n", IdErr::ConnectionReset, nullptr,
       IdErr::ConnectionReset},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Exchange x(c.bytes, 7, c.end);
    if (c.body != nullptr) {
      x.Get();
      EXPECT_EQ(x.Content(), c.body);
    } else if (c.error != 0) {
      EXPECT_THAT([&] { x.Get(); }, ThrowsSocketError(c.error));
    } else {
      EXPECT_THROW(x.Get(), EIdConnClosedGracefully);
    }
  }
}

TEST(ExchangeBounds, ChunkSizesBeyondAMemoryStream) {
  // A chunk announced at 2^60 bytes costs only what arrives before the close.
  {
    Exchange x(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
        "FFFFFFFFFFFFFFF\r\n0123456789");
    x.Get();
    EXPECT_EQ(x.Content(), "0123456789");
  }
  // Sixteen hex digits are no chunk size: the body ends there and the
  // connection is dropped.
  {
    Exchange x(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
        "3\r\nabc\r\n10000000000000000\r\nxyz");
    x.Get();
    EXPECT_EQ(x.Content(), "abc");
    EXPECT_FALSE(x.http.Connected());
  }
  // Chunks that would carry the stream past its limit raise the stream's error
  // and leave it as it was before the chunk that did not fit.
  {
    Exchange x(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
        "4\r\nabcd\r\n100\r\n" +
        std::string(256, 'z') + "\r\n0\r\n\r\n");
    x.body.SetSize(kStreamLimit - 16);
    x.body.SetPosition(kStreamLimit - 16);
    ASSERT_THAT([&] { x.Get(); },
                ThrowsMessage<EStreamError>(StrEq("Out of memory while expanding memory stream")));
    EXPECT_EQ(x.body.Size(), kStreamLimit - 12);
    EXPECT_EQ(std::string(x.body.Memory() + kStreamLimit - 16, 4), "abcd");
  }
}

TEST(ExchangeBounds, ContentLengthBeyondAMemoryStream) {
  // More than the stream holds: refused before a byte of the body is taken.
  {
    Exchange x("HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\nfirst bytes");
    x.body.WriteBuffer("kept", 4);
    EXPECT_THROW(x.Get(), EStreamError);
    EXPECT_EQ(x.Content(), "kept");
  }
  // A length beyond 64 bits is no length: the body runs to the close.
  {
    Exchange x("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nall of it");
    x.Get();
    EXPECT_EQ(x.Content(), "all of it");
  }
  // A length announced but not sent leaves the body as it came, no padding.
  {
    Exchange x("HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\nshort");
    x.Get();
    EXPECT_EQ(x.Content(), "short");
  }
}

TEST(ExchangeBounds, MultipartWithoutItsEndMarkerRunsToTheClose) {
  std::string parts = "--B\r\n\r\n";
  for (int i = 0; i < 20000; ++i) parts += "line " + std::to_string(i) + " --B-\r\n";
  Exchange x("HTTP/1.1 200 OK\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n" + parts, 333);
  std::int32_t most_buffered = 0;
  x.io.OnWork = [&](TWorkMode, std::int64_t) {
    most_buffered = std::max(most_buffered, x.io.InputBuffer().Size());
  };
  x.Get();
  EXPECT_EQ(x.Content(), parts);
  // Nothing piles up while the marker is looked for.
  EXPECT_LT(most_buffered, 2 * 333);
}

TEST(ExchangeBounds, CookiesOfOneResponseAreBounded) {
  std::string response =
      "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 0\r\nConnection: close\r\n";
  for (int i = 0; i < 250; ++i)
    response += "Set-Cookie: c" + std::to_string(i) + "=" + std::string(100, 'v') + "; Path=/\r\n";
  response += "Set-Cookie: big=" + std::string(5000, 'b') + "\r\n\r\n";
  Exchange x(response);
  x.io.connections.push_back({{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}});
  x.Get();
  EXPECT_EQ(x.Content(), "ok");
  EXPECT_EQ(x.http.CookieManager()->CookieCollection().Count(), TIdCookies::MaxCookiesPerDomain);
  // The redirected request carries the last fifty, not the oversized one.
  const std::size_t second = x.io.sent.find("GET /next ");
  ASSERT_NE(second, std::string::npos);
  const std::string request = x.io.sent.substr(second);
  EXPECT_EQ(request.find("c199="), std::string::npos);
  EXPECT_NE(request.find("Cookie: c200="), std::string::npos);
  EXPECT_NE(request.find("; c249="), std::string::npos);
  EXPECT_EQ(request.find("big="), std::string::npos);
}

TEST(ExchangeBounds, EveryRedirectToANewHostIsANewConnectionUpToTheMaximum) {
  Exchange x("");
  x.io.connections.clear();
  for (int i = 0; i < 20; ++i)
    x.io.connections.push_back({{"HTTP/1.1 302 Found\r\nLocation: http://h" + std::to_string(i) +
                                 ".example/\r\nContent-Length: 0\r\n\r\n"}});
  x.Get();
  EXPECT_EQ(x.io.opens, 15);
  EXPECT_EQ(x.http.ResponseCode(), 302);
  EXPECT_EQ(x.body.Size(), 0);
}

}  // namespace
}  // namespace vto
