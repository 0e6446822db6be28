// Set-Cookie values and cookie dates: each value parsed against a request URI,
// stored, and the Cookie line for a second URI generated from the store.
//
// Input: up to eight Set-Cookie values and, last, a URL for the Cookie line,
// separated by NUL; the first value is also read as a cookie date.
#include <string>

#include "fuzz/FuzzCommon.h"
#include "http/IdCookie.h"
#include "net/IdURI.h"

using namespace vto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = fuzz::SplitAtNul(fuzz::AsText(data, size), 9);

  const TDateTime date = ParseCookieDate(parts[0]);
  VTO_FUZZ_CHECK(date == date);  // never a NaN

  TIdURI origin("http://a.b.fuzz.example/dir/sub/page.html");
  TIdCookieManager manager;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    TIdCookie cookie;
    if (cookie.ParseServerCookie(parts[i], origin)) {
      // What is accepted can go out again on a Cookie line unbroken.
      VTO_FUZZ_CHECK(!cookie.CookieName().empty());
      VTO_FUZZ_CHECK(cookie.CookieText().find_first_of(std::string("\r\n\0", 3)) ==
                     std::string::npos);
      VTO_FUZZ_CHECK(cookie.Path().empty() || cookie.Path().front() == '/');
    }
    manager.AddServerCookie(parts[i], origin);
  }
  VTO_FUZZ_CHECK(manager.CookieCollection().Count() <= 8);

  TIdURI target;
  try {
    target.SetURI(parts[8].empty() ? std::string_view("https://b.fuzz.example/dir/") : parts[8]);
  } catch (const Exception&) {
    return 0;
  }
  TIdHeaderList headers(QuoteHTTP);
  manager.GenerateClientCookies(target, true, headers);
  manager.GenerateClientCookies(origin, false, headers);
  VTO_FUZZ_CHECK(headers.Count() <= 2);
  for (std::int32_t i = 0; i < headers.Count(); ++i)
    VTO_FUZZ_CHECK(headers.Strings(i).find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
  return 0;
}
