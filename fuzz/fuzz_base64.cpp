// The three Base64 decoders; whatever a stream encodes comes back unchanged.
#include <string>

#include "fuzz/FuzzCommon.h"
#include "qelstream/QELStream.h"

using namespace vto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::AsText(data, size);
  try {
    (void)DecodeBase64(input);
  } catch (const Exception&) {
    VTO_FUZZ_CHECK(input.size() % 4 != 0);
  }
  (void)DecodeBase64Lines(input);

  TQELMemoryStream stream;
  stream.AppendStr(input);
  try {
    stream.Base64DecodeData();
  } catch (const Exception&) {
  }

  const std::string encoded = EncodeBase64(input);
  VTO_FUZZ_CHECK(DecodeBase64(encoded) == input);
  VTO_FUZZ_CHECK(DecodeBase64Lines(encoded) == input);
  TQELMemoryStream round;
  round.AppendStr(input);
  round.Base64EncodeData();
  round.Base64DecodeData();
  VTO_FUZZ_CHECK(round.GetAsString() == input);
  return 0;
}
