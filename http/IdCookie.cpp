#include "http/IdCookie.h"

#include <algorithm>
#include <mutex>

#include "desktop/AsciiNumbers.h"
#include "desktop/TextCodec.h"
#include "http/IdText.h"
#include "net/IdStack.h"

namespace vto {

using namespace http_text;

namespace {

bool IsHttpProtocol(std::string_view AProtocol) {
  return SameTextAscii(AProtocol, "http") || SameTextAscii(AProtocol, "https");
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && SameText(s.substr(s.size() - suffix.size()), suffix);
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

// A value that starts with a double quote: the text after it up to the next one.
std::string_view Unquote(std::string_view v) {
  if (v.empty() || v.front() != '"') return v;
  v.remove_prefix(1);
  const std::size_t q = v.find('"');
  return q == std::string_view::npos ? v : v.substr(0, q);
}

// A whole number of 64 bits: optional sign and decimal digits only.
bool ParseWholeNumber(std::string_view s, std::int64_t& value) {
  const bool negative = TakeSign(s);
  return ParseInt64Digits(s, 10, negative, value) == NumberParse::kNumber;
}

// The expiry a number of seconds from now gives: the year 1 when negative.
TDateTime ExpiryFromSeconds(std::int64_t seconds) {
  if (seconds < 0) return EncodeDate(1, 1, 1);
  return Now() + static_cast<double>(seconds) / kSecsPerDay;
}

TDateTime NeverExpires() {
  return EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59, 999);
}

bool IsDelimiter(unsigned char c) {
  return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) ||
         (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}

// Leading digits of s from i: their count and value (the value of at most 9).
std::size_t ReadDigits(std::string_view s, std::size_t i, int& value) {
  std::size_t n = 0;
  value = 0;
  while (i + n < s.size() && IsAsciiDigit(s[i + n])) {
    if (n < 9) value = value * 10 + (s[i + n] - '0');
    ++n;
  }
  return n;
}

}  // namespace

// ---- matching -------------------------------------------------------------

bool DomainMatches(std::string_view AHost, std::string_view ADomain) {
  if (AHost.empty() || ADomain.empty()) return false;
  if (SameText(AHost, ADomain)) return true;
  if (!EndsWithNoCase(AHost, ADomain) || AHost.size() == ADomain.size()) return false;
  if (AHost[AHost.size() - ADomain.size() - 1] != '.') return false;
  if (AHost.front() == '.') return false;
  return !TIdStack::IsIP(AHost) && !IsValidIPv6(AHost);
}

bool PathMatches(std::string_view APath, std::string_view ACookiePath) {
  if (SameText(APath, ACookiePath)) return true;
  if (!StartsWithNoCase(APath, ACookiePath)) return false;
  if (!ACookiePath.empty() && ACookiePath.back() == '/') return true;
  return APath.size() > ACookiePath.size() && APath[ACookiePath.size()] == '/';
}

std::string DefaultCookiePath(const TIdURI& AURI) {
  const std::string& path = AURI.Path();
  if (!path.empty() && path.front() == '/') {
    const std::size_t last = path.rfind('/');
    if (last != 0) return path.substr(0, last);
  }
  return "/";
}

TDateTime ParseCookieDate(std::string_view AText) {
  bool haveTime = false, haveDay = false, haveMonth = false, haveYear = false;
  int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
  std::size_t i = 0;
  while (i < AText.size()) {
    while (i < AText.size() && IsDelimiter(static_cast<unsigned char>(AText[i]))) ++i;
    const std::size_t start = i;
    while (i < AText.size() && !IsDelimiter(static_cast<unsigned char>(AText[i]))) ++i;
    const std::string_view token = AText.substr(start, i - start);
    if (token.empty()) continue;

    if (!haveTime && IsAsciiDigit(token[0]) && token.find(':') != std::string_view::npos) {
      // hms-time: three runs of one or two digits joined by ":".
      int parts[3] = {0, 0, 0};
      std::size_t p = 0;
      bool shape = true;
      for (int k = 0; k < 3 && shape; ++k) {
        const std::size_t n = ReadDigits(token, p, parts[k]);
        if (n == 0) shape = false;
        if (n > 2) return 0;
        p += n;
        if (k < 2) {
          if (p < token.size() && token[p] == ':')
            ++p;
          else
            shape = false;
        }
      }
      if (shape) {
        if (parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return 0;
        hour = parts[0];
        minute = parts[1];
        second = parts[2];
        haveTime = true;
        continue;
      }
    }
    if (!haveDay && IsAsciiDigit(token[0])) {
      int v = 0;
      if (ReadDigits(token, 0, v) > 2 || v < 1 || v > 31) return 0;
      day = v;
      haveDay = true;
      continue;
    }
    if (!haveMonth) {
      if (IsAsciiDigit(token[0])) {
        int v = 0;
        if (ReadDigits(token, 0, v) > 2 || v < 1 || v > 12) return 0;
        month = v;
        haveMonth = true;
        continue;
      }
      if (token.size() >= 3) {
        static constexpr const char* kMonths[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                    "jul", "aug", "sep", "oct", "nov", "dec"};
        for (int m = 0; m < 12; ++m)
          if (SameTextAscii(token.substr(0, 3), kMonths[m])) {
            month = m + 1;
            haveMonth = true;
            break;
          }
        if (haveMonth) continue;
      }
    }
    if (!haveYear && IsAsciiDigit(token[0])) {
      int v = 0;
      const std::size_t n = ReadDigits(token, 0, v);
      if (n >= 2 && n <= 4 && n == token.size()) {
        if (v >= 70 && v <= 99)
          v += 1900;
        else if (v <= 69)
          v += 2000;
        year = v;
        haveYear = true;
        continue;
      }
    }
  }
  if (!haveTime || !haveDay || !haveMonth || !haveYear || year < 1601) return 0;
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time))
    return 0;
  const TDateTime utc = date + time;
  return utc + LocalOffsetSecondsAtUtc(NowUtc()) / kSecsPerDay;
}

// ---- one cookie -------------------------------------------------------------

TIdCookie::TIdCookie() = default;

bool TIdCookie::IsExpired() const {
  return FExpires != 0 && Now() > FExpires;
}

bool TIdCookie::ParseServerCookie(std::string_view ACookieText, const TIdURI& AURI) {
  // A control character (other than a tab) could end the "Cookie" line this value
  // is later sent in: such a text is refused whole.
  for (char c : ACookieText) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && u != 0x09) || u == 0x7F) return false;
  }
  std::string_view rest = ACookieText;
  std::string_view nameValue = FetchView(rest, ";");
  const std::size_t eq = nameValue.find('=');
  if (eq == std::string_view::npos) return false;
  const std::string_view name = TrimView(nameValue.substr(0, eq));
  if (name.empty()) return false;
  const std::string_view value = Unquote(TrimView(nameValue.substr(eq + 1)));
  if (name.size() + value.size() > TIdCookies::MaxCookieSize) return false;

  bool haveMaxAge = false, haveExpires = false;
  TDateTime maxAgeExpiry = 0, expiresExpiry = 0;
  bool haveDomain = false;
  std::string domain;
  bool havePath = false;
  std::string path;
  bool secure = false, httpOnly = false;
  while (!rest.empty()) {
    std::string_view attr = FetchView(rest, ";");
    std::string_view attrName, attrValue;
    const std::size_t aeq = attr.find('=');
    if (aeq == std::string_view::npos) {
      attrName = TrimView(attr);
    } else {
      attrName = TrimView(attr.substr(0, aeq));
      attrValue = Unquote(TrimView(attr.substr(aeq + 1)));
    }
    if (SameTextAscii(attrName, "Expires")) {
      std::int64_t seconds;
      if (ParseWholeNumber(attrValue, seconds)) {
        expiresExpiry = ExpiryFromSeconds(seconds);
        haveExpires = true;
      } else if (const TDateTime d = ParseCookieDate(attrValue); d != 0) {
        expiresExpiry = d;
        haveExpires = true;
      }
    } else if (SameTextAscii(attrName, "Max-Age")) {
      std::int64_t seconds;
      if (ParseWholeNumber(attrValue, seconds)) {
        maxAgeExpiry = ExpiryFromSeconds(seconds);
        haveMaxAge = true;
      }
    } else if (SameTextAscii(attrName, "Domain")) {
      // The last one counts; an empty one is passed over.
      if (attrValue.empty()) continue;
      std::string_view d = attrValue;
      if (d.front() == '.') d.remove_prefix(1);
      d = d.substr(0, d.find(':'));
      domain = LowerCase(d);
      haveDomain = true;
    } else if (SameTextAscii(attrName, "Path")) {
      path = (attrValue.empty() || attrValue.front() != '/') ? DefaultCookiePath(AURI)
                                                             : std::string(attrValue);
      havePath = true;
    } else if (SameTextAscii(attrName, "Secure")) {
      secure = true;
    } else if (SameTextAscii(attrName, "HttpOnly")) {
      httpOnly = true;
    }
  }

  FName = name;
  FValue = value;
  FCreatedAt = Now();
  SetLastAccessed(FCreatedAt);
  if (haveMaxAge || haveExpires) {
    FPersistent = true;
    FExpires = haveMaxAge ? maxAgeExpiry : expiresExpiry;
  } else {
    FPersistent = false;
    FExpires = NeverExpires();
  }
  if (!haveDomain || domain.empty()) {
    FHostOnly = true;
    FDomain = AURI.Host();
  } else {
    if (!DomainMatches(AURI.Host(), domain)) return false;
    FHostOnly = false;
    FDomain = domain;
  }
  FPath = havePath ? path : DefaultCookiePath(AURI);
  FSecure = secure;
  FHttpOnly = httpOnly;
  return !(FHttpOnly && !IsHttpProtocol(AURI.Protocol()));
}

bool TIdCookie::IsAllowed(const TIdURI& AURI, bool SecureOnly) const {
  const bool hostMatches =
      FHostOnly ? SameText(AURI.Host(), FDomain) : DomainMatches(AURI.Host(), FDomain);
  return hostMatches && PathMatches(AURI.Path(), FPath) && (!FSecure || SecureOnly) &&
         (!FHttpOnly || IsHttpProtocol(AURI.Protocol()));
}

// ---- the store --------------------------------------------------------------

TIdCookieList& TIdCookies::LockCookieList(TIdCookieAccess AAccessType) {
  if (AAccessType == caRead)
    FRWLock.lock_shared();
  else
    FRWLock.lock();
  return FCookieList;
}

void TIdCookies::UnlockCookieList(TIdCookieAccess AAccessType) {
  if (AAccessType == caRead)
    FRWLock.unlock_shared();
  else
    FRWLock.unlock();
}

bool TIdCookies::AddCookie(std::unique_ptr<TIdCookie> ACookie, const TIdURI* AURI,
                           bool AReplaceOld) {
  if (!ACookie) return false;
  std::unique_lock<TIdReadWriteLock> lock(FRWLock);
  if (AReplaceOld) {
    for (auto it = FCookieList.begin(); it != FCookieList.end(); ++it) {
      TIdCookie& old = **it;
      if (!SameText(old.CookieName(), ACookie->CookieName()) ||
          !SameText(old.Domain(), ACookie->Domain()) || !SameText(old.Path(), ACookie->Path()))
        continue;
      if (AURI != nullptr && !IsHttpProtocol(AURI->Protocol()) && old.HttpOnly()) return false;
      ACookie->SetCreatedAt(old.CreatedAt());
      FCookieList.erase(it);
      break;
    }
  }
  if (ACookie->IsExpired()) return false;
  const std::string domain = ACookie->Domain();
  const TIdCookie* const added = ACookie.get();
  FCookieList.push_back(std::move(ACookie));
  // The store stays bounded whatever servers send: past the limits the oldest
  // cookie of the domain, then the oldest of all, makes room.
  bool kept = true;
  const auto dropOldest = [this, &kept, added](auto&& applies) {
    auto found = FCookieList.end();
    for (auto it = FCookieList.begin(); it != FCookieList.end(); ++it)
      if (applies(**it) &&
          (found == FCookieList.end() || (*it)->CreatedAt() < (*found)->CreatedAt()))
        found = it;
    if (found->get() == added) kept = false;
    FCookieList.erase(found);
  };
  const auto sameDomain = [&domain](const TIdCookie& c) { return SameText(c.Domain(), domain); };
  if (std::count_if(FCookieList.begin(), FCookieList.end(),
                    [&](const auto& c) { return sameDomain(*c); }) > MaxCookiesPerDomain)
    dropOldest(sameDomain);
  if (FCookieList.size() > static_cast<std::size_t>(MaxCookies))
    dropOldest([](const TIdCookie&) { return true; });
  return kept;
}

void TIdCookies::RemoveExpiredCookies() {
  std::unique_lock<TIdReadWriteLock> lock(FRWLock);
  std::erase_if(FCookieList, [](const std::unique_ptr<TIdCookie>& c) { return c->IsExpired(); });
}

std::int32_t TIdCookies::Count() {
  std::shared_lock<TIdReadWriteLock> lock(FRWLock);
  return static_cast<std::int32_t>(FCookieList.size());
}

void TIdCookies::Clear() {
  std::unique_lock<TIdReadWriteLock> lock(FRWLock);
  FCookieList.clear();
}

// ---- the manager ------------------------------------------------------------

TIdCookieManager::TIdCookieManager() : FCookieCollection(std::make_unique<TIdCookies>()) {}

TIdCookieManager::~TIdCookieManager() {
  if (OnDestroy) OnDestroy();
}

void TIdCookieManager::AddServerCookies(const std::vector<std::string>& ACookies,
                                        const TIdURI& AURI) {
  for (const auto& c : ACookies) AddServerCookie(c, AURI);
}

void TIdCookieManager::AddServerCookie(std::string_view ACookie, const TIdURI& AURI) {
  auto cookie = std::make_unique<TIdCookie>();
  if (!cookie->ParseServerCookie(ACookie, AURI)) return;
  if (OnNewCookie && !OnNewCookie(*cookie)) return;
  FCookieCollection->AddCookie(std::move(cookie), &AURI, true);
}

void TIdCookieManager::RemoveExpiredCookies() {
  FCookieCollection->RemoveExpiredCookies();
}

void TIdCookieManager::GenerateClientCookies(const TIdURI& AURI, bool SecureOnly,
                                             TIdHeaderList& AHeaders) {
  RemoveExpiredCookies();
  TIdCookieList& list = FCookieCollection->LockCookieList(caRead);
  std::string line;
  try {
    std::vector<TIdCookie*> chosen;
    for (const auto& c : list)
      if (c->IsAllowed(AURI, SecureOnly)) chosen.push_back(c.get());
    if (chosen.size() > 1)
      std::stable_sort(chosen.begin(), chosen.end(), [](const TIdCookie* a, const TIdCookie* b) {
        if (a->Path().size() != b->Path().size()) return a->Path().size() > b->Path().size();
        return a->CreatedAt() < b->CreatedAt();
      });
    const TDateTime now = Now();
    for (TIdCookie* c : chosen) {
      c->SetLastAccessed(now);
      if (!line.empty()) line += "; ";
      line += c->CookieText();
    }
  } catch (...) {
    FCookieCollection->UnlockCookieList(caRead);
    throw;
  }
  FCookieCollection->UnlockCookieList(caRead);
  if (!line.empty()) AHeaders.AddValue("Cookie", line);
}

}  // namespace vto
