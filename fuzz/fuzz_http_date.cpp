// Dates of HTTP headers in any of their forms.
#include <cmath>

#include "fuzz/FuzzCommon.h"
#include "http/IdGlobalProtocols.h"

using namespace vto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::AsText(data, size);
  const TDateTime date = ParseHttpDate(text);
  VTO_FUZZ_CHECK(std::isfinite(static_cast<double>(date)));
  if (date != 0) (void)FormatHttpDate(date);
  (void)ZoneOffsetMinutes(text);
  (void)MonthNumber(text);
  return 0;
}
