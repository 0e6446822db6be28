// Line deletion over text in any of its encodings, and the bad-character report.
#include <algorithm>
#include <string>

#include "fuzz/FuzzCommon.h"
#include "qelstream/QELStream.h"

using namespace vto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::int64_t position = data[0] & 0x3F;
  // The text to search for, then the content.
  const auto parts = fuzz::SplitAtNul(fuzz::AsText(data + 1, size - 1), 2);

  TQELMemoryStream stream;
  stream.AppendStr(parts[1]);
  stream.SetPosition(std::min<std::int64_t>(position, stream.Size()));
  stream.DeleteLineContaining(parts[0]);
  VTO_FUZZ_CHECK(stream.Position() == 0);

  TQELMemoryStream report;
  report.AppendStr(parts[1]);
  report.SetPosition(0);
  (void)report.DoFindBadChar();
  report.ChangeCharsLessThanSpace(parts[0]);
  return 0;
}
