// Cookies of the HTTP client: one cookie as a server set it, the store that
// keeps them under a many-readers, one-writer lock, and the manager that takes
// them from responses and writes them into requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/DateTime.h"
#include "http/IdHeaderList.h"
#include "net/IdURI.h"

#if defined(_WIN32)
#include "desktop/WinApi.h"
#endif

namespace vto {

#if defined(_WIN32)
// The store's lock on Windows: a slim reader/writer lock of the system. The
// C++ library's shared_mutex of this tool chain sits on winpthreads' rwlock,
// which can leave a writer and its readers waiting on each other for ever.
class TIdReadWriteLock {
 public:
  TIdReadWriteLock() = default;
  TIdReadWriteLock(const TIdReadWriteLock&) = delete;
  TIdReadWriteLock& operator=(const TIdReadWriteLock&) = delete;
  void lock() { ::AcquireSRWLockExclusive(&FLock); }
  bool try_lock() { return ::TryAcquireSRWLockExclusive(&FLock) != 0; }
  void unlock() { ::ReleaseSRWLockExclusive(&FLock); }
  void lock_shared() { ::AcquireSRWLockShared(&FLock); }
  bool try_lock_shared() { return ::TryAcquireSRWLockShared(&FLock) != 0; }
  void unlock_shared() { ::ReleaseSRWLockShared(&FLock); }

 private:
  SRWLOCK FLock = SRWLOCK_INIT;
};
#else
using TIdReadWriteLock = std::shared_mutex;
#endif

class TIdCookie {
 public:
  TIdCookie();
  TIdCookie(const TIdCookie&) = delete;
  TIdCookie& operator=(const TIdCookie&) = delete;

  // Reads a "Set-Cookie" value received from AURI; false when the cookie is
  // refused (no name, a domain the host does not match, HttpOnly over another
  // protocol, a control character in the text, name and value together longer
  // than TIdCookies::MaxCookieSize).
  bool ParseServerCookie(std::string_view ACookieText, const TIdURI& AURI);
  // Whether the cookie goes with a request to AURI.
  bool IsAllowed(const TIdURI& AURI, bool SecureOnly) const;
  bool IsExpired() const;
  // Name "=" value, as sent in a "Cookie" line.
  std::string CookieText() const { return FName + "=" + FValue; }

  const std::string& Domain() const { return FDomain; }
  void SetDomain(std::string_view v) { FDomain = v; }
  TDateTime Expires() const { return FExpires; }
  void SetExpires(TDateTime v) { FExpires = v; }
  bool HttpOnly() const { return FHttpOnly; }
  void SetHttpOnly(bool v) { FHttpOnly = v; }
  const std::string& CookieName() const { return FName; }
  void SetCookieName(std::string_view v) { FName = v; }
  const std::string& Path() const { return FPath; }
  void SetPath(std::string_view v) { FPath = v; }
  bool Secure() const { return FSecure; }
  void SetSecure(bool v) { FSecure = v; }
  const std::string& Value() const { return FValue; }
  void SetValue(std::string_view v) { FValue = v; }
  TDateTime CreatedAt() const { return FCreatedAt; }
  void SetCreatedAt(TDateTime v) { FCreatedAt = v; }
  bool HostOnly() const { return FHostOnly; }
  void SetHostOnly(bool v) { FHostOnly = v; }
  // Written while readers share the store, so kept atomic.
  TDateTime LastAccessed() const { return FLastAccessed.load(); }
  void SetLastAccessed(TDateTime v) { FLastAccessed.store(v); }
  bool Persistent() const { return FPersistent; }
  void SetPersistent(bool v) { FPersistent = v; }

 private:
  std::string FDomain;
  TDateTime FExpires = 0;
  bool FHttpOnly = false;
  std::string FName;
  std::string FPath;
  bool FSecure = false;
  std::string FValue;
  TDateTime FCreatedAt = 0;
  bool FHostOnly = false;
  std::atomic<TDateTime> FLastAccessed{0};
  bool FPersistent = false;
};

using TIdCookieList = std::vector<std::unique_ptr<TIdCookie>>;

enum TIdCookieAccess : std::uint8_t { caRead = 0, caReadWrite = 1 };

class TIdCookies {
 public:
  // Bounds against a server that sends cookies without end (the smallest limits
  // every user agent should support): the longest name and value together, and
  // the most cookies kept per domain and in all.
  static constexpr std::size_t MaxCookieSize = 4096;
  static constexpr std::int32_t MaxCookiesPerDomain = 50;
  static constexpr std::int32_t MaxCookies = 3000;

  TIdCookies() = default;
  TIdCookies(const TIdCookies&) = delete;
  TIdCookies& operator=(const TIdCookies&) = delete;

  // Takes the lock (shared for caRead, exclusive for caReadWrite) and gives the
  // list; every call is paired with UnlockCookieList of the same access.
  TIdCookieList& LockCookieList(TIdCookieAccess AAccessType);
  void UnlockCookieList(TIdCookieAccess AAccessType);

  // Stores ACookie: a namesake is replaced, an expired cookie only deletes its
  // namesake; past MaxCookiesPerDomain or MaxCookies the oldest cookie of the
  // domain, then of the store, is dropped. AURI may be null. True when the
  // cookie is stored and kept.
  bool AddCookie(std::unique_ptr<TIdCookie> ACookie, const TIdURI* AURI, bool AReplaceOld = true);
  // Removes and frees every expired cookie.
  void RemoveExpiredCookies();
  std::int32_t Count();
  void Clear();

 private:
  TIdCookieList FCookieList;
  TIdReadWriteLock FRWLock;
};

class TIdCookieManager {
 public:
  TIdCookieManager();
  ~TIdCookieManager();
  TIdCookieManager(const TIdCookieManager&) = delete;
  TIdCookieManager& operator=(const TIdCookieManager&) = delete;

  TIdCookies& CookieCollection() { return *FCookieCollection; }

  void AddServerCookies(const std::vector<std::string>& ACookies, const TIdURI& AURI);
  void AddServerCookie(std::string_view ACookie, const TIdURI& AURI);
  // Appends one "Cookie" line to AHeaders when stored cookies apply to AURI.
  void GenerateClientCookies(const TIdURI& AURI, bool SecureOnly, TIdHeaderList& AHeaders);
  void RemoveExpiredCookies();

  // Hooks: a new parsed cookie is stored only when OnNewCookie (if set) agrees.
  std::function<bool(TIdCookie&)> OnNewCookie;
  std::function<void()> OnCreate;
  std::function<void()> OnDestroy;

 private:
  std::unique_ptr<TIdCookies> FCookieCollection;
};

// Cookie matching rules.
bool DomainMatches(std::string_view AHost, std::string_view ADomain);
bool PathMatches(std::string_view APath, std::string_view ACookiePath);
std::string DefaultCookiePath(const TIdURI& AURI);
// The cookie date of RFC 6265 (5.1.1, with numeric months) in local time; 0 when
// the text is not such a date.
TDateTime ParseCookieDate(std::string_view AText);

}  // namespace vto
