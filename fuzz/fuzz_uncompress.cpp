// zlib streams of any origin inflated in place; compressed content comes back whole.
#include <string>

#include "fuzz/FuzzCommon.h"
#include "qelstream/QELStream.h"
#include "streams/ZStreams.h"

using namespace vto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::AsText(data, size);
  TQELMemoryStream stream;
  stream.AppendStr(input);
  try {
    stream.Uncompress();
  } catch (const EZDecompressionError&) {
    VTO_FUZZ_CHECK(stream.GetAsString() == input);
  }

  TQELMemoryStream round;
  round.AppendStr(input);
  round.Compress();
  round.Uncompress();
  VTO_FUZZ_CHECK(round.GetAsString() == input);
  return 0;
}
