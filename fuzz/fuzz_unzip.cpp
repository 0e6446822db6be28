// A one-entry archive in a memory stream unpacked in place.
#include <string>

#include "FuzzCommon.h"
#include "QELStream.h"

using namespace vto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::AsText(data, size);
  TQELMemoryStream stream;
  stream.AppendStr(input);
  std::string name, comment;
  TDateTime date = 0;
  try {
    stream.Unzip(name, comment, date);
  } catch (const Exception&) {
  }
  TQELMemoryStream plain;
  plain.AppendStr(input);
  try {
    plain.Unzip();
  } catch (const Exception&) {
  }

  // Whatever is zipped unzips to the same bytes, name and comment.
  TQELMemoryStream round;
  round.AppendStr(input.substr(0, 512));
  round.Zip("entry.bin", "note", 45000.0);
  std::string n, c;
  TDateTime d = 0;
  round.Unzip(n, c, d);
  VTO_FUZZ_CHECK(round.GetAsString() == input.substr(0, 512));
  VTO_FUZZ_CHECK(n == "entry.bin");
  return 0;
}
