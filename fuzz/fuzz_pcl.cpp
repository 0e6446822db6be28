// PCL printer data: the page orientation, and a macro cut out.
#include <cstring>
#include <string>

#include "fuzz/FuzzCommon.h"
#include "qelstream/QELStream.h"

using namespace vto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::int32_t macro_id;
  std::memcpy(&macro_id, data, sizeof macro_id);
  if (data[0] & 0x80) macro_id = data[1] % 16;  // small identifiers most of the time
  const std::string_view input = fuzz::AsText(data + 4, size - 4);

  TQELMemoryStream stream;
  stream.AppendStr(input);
  const TOrientation orientation = stream.GetOrientation();
  VTO_FUZZ_CHECK(orientation == NoOrientation || orientation == pgPortrait ||
                 orientation == pgLandscape);
  const std::string removed = stream.RemovePCLMacro(macro_id);
  const std::string rest = stream.GetAsString();
  VTO_FUZZ_CHECK(removed.size() + rest.size() == input.size());
  if (!removed.empty()) {
    // The rest is the content with the removed bytes cut out at one place.
    const std::size_t at = input.find(removed);
    VTO_FUZZ_CHECK(at != std::string_view::npos);
  } else {
    VTO_FUZZ_CHECK(rest == input);
  }
  return 0;
}
