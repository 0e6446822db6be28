// A response's status line and header block, parsed into the header record, and
// the HTML body's meta http-equiv declarations taken over.
#include <string>

#include "fuzz/FuzzCommon.h"
#include "http/IdHTTPHeaderInfo.h"
#include "streams/Streams.h"

using namespace vto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Status line, header block, body.
  const auto parts = fuzz::SplitAtNul(fuzz::AsText(data, size), 3);

  TIdHTTPResponse response;
  response.SetResponseText(parts[0]);
  (void)response.ResponseCode();
  (void)ParseResponseCode(parts[0]);
  response.RawHeaders().SetText(parts[1]);
  response.ParseHeaders();
  (void)response.KeepAlive();
  (void)response.ContentType();
  (void)response.CharSet();

  TMemoryStream body;
  if (!parts[2].empty())
    body.WriteBuffer(parts[2].data(), static_cast<std::int32_t>(parts[2].size()));
  body.SetPosition(static_cast<std::int64_t>(parts[2].size() / 2));
  response.SetContentStream(&body);
  response.ProcessMetaHTTPEquiv();
  VTO_FUZZ_CHECK(body.Position() == static_cast<std::int64_t>(parts[2].size() / 2));
  (void)response.ContentType();
  (void)ScanHtmlMetaHeaders(parts[2]);

  TIdHTTPResponse copy;
  copy.Assign(response);
  response.Clear();
  return 0;
}
