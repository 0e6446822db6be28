// Header lists: a received block of lines, looked up and edited by name and parameter.
#include <string>
#include <vector>

#include "fuzz/FuzzCommon.h"
#include "http/IdHeaderList.h"

using namespace vto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const auto quote = static_cast<TIdHeaderQuotingType>(data[0] % 4);
  const std::int32_t fold = data[1] < 4 ? TIdHeaderList::kNoFolding : data[1] % 100;
  // Block, name, parameter, value.
  const auto parts = fuzz::SplitAtNul(fuzz::AsText(data + 2, size - 2), 4);

  TIdHeaderList list(quote);
  list.SetFoldLength(fold);
  list.SetText(parts[0]);
  const std::int32_t count = list.Count();
  // Every index near both ends (a lookup by index walks the continuation lines
  // behind it, so all indexes of a long list would cost the square of its length).
  for (std::int32_t i = -1; i <= count; i = (i == 64 && count > 192) ? count - 64 : i + 1) {
    (void)list.Names(i);
    (void)list.ValueFromIndex(i);
    (void)list.Strings(i);
  }
  const std::string_view name = parts[1];
  const std::int32_t index = list.IndexOfName(name);
  VTO_FUZZ_CHECK(index >= -1 && index < count);
  const std::string value = list.Values(name);
  std::vector<std::string> extracted;
  list.Extract(name, &extracted);
  (void)list.Params(name, parts[2]);
  (void)list.AllParams(name);
  std::vector<std::string> std_values;
  list.ConvertToStdValues(std_values);
  (void)list.Text();

  (void)SplitHeaderParams(value, quote);
  (void)SplitHeaderParams(parts[0], quote);
  (void)ReplaceHeaderParam(parts[0], parts[2], parts[3], quote);
  (void)QuoteHeaderParam(parts[3], data[1] & 1, quote);
  (void)FoldHeaderLine(parts[0], fold);

  list.SetParams(name, parts[2], parts[3]);
  list.SetAllParams(name, parts[3]);
  list.SetValues(name, parts[3]);
  list.AddValue(name, parts[3]);
  (void)list.Text();
  list.SetValues(name, "");
  VTO_FUZZ_CHECK(list.Count() >= 0);

  TIdHeaderList other(quote);
  other.AddStdValues(std_values);
  other.AddStrings(list);
  (void)other.Text();
  return 0;
}
