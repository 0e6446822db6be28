// Whole HTTP responses played through an in-memory transport into Get: status
// lines, header blocks, every body framing, redirects (to other hosts too, each
// a new connection), authentication challenges and cookies.
//
// Input: one byte of switches, one byte for the size of each read, then the
// bytes of up to four connections, separated by NUL (the last may hold NULs).
#include <string>

#include "fuzz/FuzzCommon.h"
#include "http/IdHTTP.h"
#include "qelstream/QELStream.h"
#include "tests/support/MemoryIOHandler.h"

using namespace vto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t switches = data[0];
  const std::size_t step = data[1] == 0 ? 1 << 16 : data[1];
  const auto parts = fuzz::SplitAtNul(fuzz::AsText(data + 2, size - 2), 4);

  testing::MemoryHandler io;
  io.refuse_unscripted_open = true;
  for (const auto& part : parts) {
    testing::MemoryHandler::Script script;
    for (std::size_t at = 0; at < part.size(); at += step)
      script.push_back({std::string(part.substr(at, step))});
    io.connections.push_back(std::move(script));
  }

  TIdHTTP http;
  http.SetIOHandler(&io);
  // The launcher's download settings, and the other switches by the first byte.
  http.SetHandleRedirects((switches & 1) == 0);
  http.Request().SetBasicAuthentication(true);
  TIdHTTPOptions options{hoKeepOrigProtocol};
  if (switches & 2) options.Include(hoTreat302Like303);
  if (switches & 4) options.Include(hoNoReadChunked);
  if (switches & 8) options.Include(hoNoReadMultipartMIME);
  if (switches & 16) options.Include(hoWantProtocolErrorContent);
  if (switches & 32) options.Include(hoInProcessAuth);
  if (switches & 64) options.Include(hoNoProtocolErrorException);
  if (switches & 128) http.Request().SetPassword("secret");
  http.SetHTTPOptions(options);

  TQELMemoryStream body;
  try {
    http.Get("http://www.fuzz.example/app/launch.jnlp", body);
  } catch (const Exception&) {
    // Every failure a server can cause is one of the designed errors.
  }
  // A body is never more than what the server sent.
  VTO_FUZZ_CHECK(body.Size() >= 0 && static_cast<std::size_t>(body.Size()) <= size);
  VTO_FUZZ_CHECK(body.Position() <= body.Size());
  // No line of a request carries a line break or a NUL from what the server sent
  // (a location, a cookie).
  for (std::size_t at = 0; at < io.sent.size();) {
    std::size_t end = io.sent.find("\r\n", at);
    if (end == std::string::npos) end = io.sent.size();
    VTO_FUZZ_CHECK(io.sent.substr(at, end - at).find_first_of(std::string("\n\r\0", 3)) ==
                   std::string::npos);
    at = end + 2;
  }
  return 0;
}
