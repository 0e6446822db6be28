// URIs: splitting, composing, the percent-encodings and path resolution.
#include <string>

#include "fuzz/FuzzCommon.h"
#include "net/IdURI.h"

using namespace vto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = fuzz::SplitAtNul(fuzz::AsText(data, size), 2);

  TIdURI uri(parts[0]);
  (void)uri.GetPathAndParams();
  try {
    (void)uri.GetFullURI();
    (void)uri.GetFullURI({});
  } catch (const EIdURIException&) {
    VTO_FUZZ_CHECK(uri.Protocol().empty() || uri.Host().empty());
  }
  try {
    const std::string composed = uri.URI();
    TIdURI again(composed);
    (void)again.URI();
  } catch (const EIdURIException&) {
  }

  std::string path(parts[0]);
  TIdURI::NormalizePath(path);
  try {
    (void)TIdURI::PathEncode(parts[0]);
  } catch (const EArgumentException&) {
  }
  try {
    (void)TIdURI::ParamsEncode(parts[0]);
  } catch (const EArgumentException&) {
  }
  try {
    const std::string encoded = TIdURI::URLEncode(parts[0]);
    (void)TIdURI::URLDecode(encoded);
  } catch (const EArgumentException&) {
  } catch (const EIdURIException&) {
    // A whole URI needs its protocol and host.
  }
  (void)TIdURI::URLDecode(parts[0]);

  (void)ResolvePath(parts[0], parts[1]);
  (void)ResolvePath(parts[1], parts[0], "\\");
  return 0;
}
