#include "IdStack.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "IdExceptions.h"
#include "TextCodec.h"

namespace vto {

namespace {

std::mutex& StackLock() {
  static std::mutex lock;
  return lock;
}
std::int32_t gUsageCount = 0;
bool gStackCreated = false;
thread_local std::int32_t tLastSocketError = 0;

struct ErrorText {
  std::int32_t number;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Buffer fault."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

bool ParseDecimal(std::string_view s, std::uint32_t max, std::uint32_t& value) {
  if (s.empty() || s.size() > 10) return false;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (v > max) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

bool ParseHexGroup(std::string_view s, std::uint32_t& value) {
  if (s.empty() || s.size() > 8) return false;
  std::uint64_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * 16 + static_cast<std::uint32_t>(d);
  }
  if (v > 0xFFFF) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string Hex(std::uint32_t v, bool fourDigits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, fourDigits ? "%04X" : "%X", v);
  return buf;
}

std::string IPv6ToText(const in6_addr& addr) {
  std::string out;
  for (int i = 0; i < 8; ++i) {
    if (i > 0) out += ':';
    out +=
        Hex(static_cast<std::uint32_t>(addr.s6_addr[2 * i] << 8 | addr.s6_addr[2 * i + 1]), false);
  }
  return out;
}

// Names under the special-use domain "invalid" never exist (RFC 6761, 6.4):
// they are answered at once, without asking any server.
bool IsInvalidDomain(std::string_view host) {
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  constexpr std::string_view kInvalid = "invalid";
  if (host.size() < kInvalid.size()) return false;
  std::string_view last = host.substr(host.size() - kInvalid.size());
  if (!SameTextAscii(last, kInvalid)) return false;
  return host.size() == kInvalid.size() || host[host.size() - kInvalid.size() - 1] == '.';
}

bool SockAddrFor(const std::string& ip, std::uint16_t port, TIdIPVersion version,
                 sockaddr_storage& storage, socklen_t& length) {
  std::memset(&storage, 0, sizeof storage);
  if (version == Id_IPv4) {
    auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    if (ip.empty()) {
      a->sin_addr.s_addr = htonl(INADDR_ANY);
    } else if (inet_pton(AF_INET, ip.c_str(), &a->sin_addr) != 1) {
      // A dotted text that passed the address test may carry blanks or
      // leading zeros: its four numbers are the address.
      if (!TIdStack::IsIP(ip)) return false;
      std::uint32_t value = 0;
      std::string_view rest = ip;
      for (int i = 0; i < 4; ++i) {
        std::size_t dot = rest.find('.');
        std::uint32_t part = 0;
        ParseDecimal(TrimBlanks(i < 3 ? rest.substr(0, dot) : rest), 255, part);
        value = value << 8 | part;
        if (i < 3) rest.remove_prefix(dot + 1);
      }
      a->sin_addr.s_addr = htonl(value);
    }
    length = sizeof(sockaddr_in);
  } else {
    auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(port);
    if (ip.empty()) {
      a->sin6_addr = in6addr_any;
    } else if (inet_pton(AF_INET6, ip.c_str(), &a->sin6_addr) != 1) {
      return false;
    }
    length = sizeof(sockaddr_in6);
  }
  return true;
}

void AddressFromSockAddr(const sockaddr_storage& storage, std::string& ip, std::uint16_t& port) {
  if (storage.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&storage);
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a->sin_addr, buf, sizeof buf);
    ip = buf;
    port = ntohs(a->sin_port);
  } else if (storage.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&storage);
    ip = IPv6ToText(a->sin6_addr);
    port = ntohs(a->sin6_port);
  }
}

}  // namespace

// ---------------------------------------------------------------- the stack

void TIdStack::IncUsage() {
  std::lock_guard<std::mutex> guard(StackLock());
  if (gUsageCount == 0) {
    // The platform's sockets need no library start-up here; the stack exists
    // from the first user to the last.
    gStackCreated = true;
  }
  ++gUsageCount;
}

void TIdStack::DecUsage() {
  std::lock_guard<std::mutex> guard(StackLock());
  if (gUsageCount > 0 && --gUsageCount == 0) gStackCreated = false;
}

std::int32_t TIdStack::UsageCount() {
  std::lock_guard<std::mutex> guard(StackLock());
  return gUsageCount;
}

std::int32_t TIdStack::WSGetLastError() {
  return tLastSocketError;
}
void TIdStack::WSSetLastError(std::int32_t AErr) {
  tLastSocketError = AErr;
}

std::int32_t TIdStack::RecordErrno(int AErrno) {
  tLastSocketError = ErrnoToSocketError(AErrno);
  return tLastSocketError;
}

std::int32_t TIdStack::ErrnoToSocketError(int AErrno) {
  switch (AErrno) {
    case 0:
      return 0;
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
    case EPERM:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
    case ENFILE:
      return 10024;
    // Sockets here are blocking: a would-block result only comes from the
    // socket's own receive or send time-out.
    case EAGAIN:
      return 10060;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return 10053;
    case ECONNRESET:
      return 10054;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
    case EPIPE:
      return 10058;
    case ETOOMANYREFS:
      return 10059;
    case ETIMEDOUT:
      return 10060;
    case ECONNREFUSED:
      return 10061;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    case ENOTEMPTY:
      return 10066;
    default:
      return AErrno;
  }
}

std::int32_t TIdStack::AddrInfoErrorToSocketError(int AResult) {
  switch (AResult) {
    case 0:
      return 0;
    case EAI_NONAME:
      return IdErr::WSAHOST_NOT_FOUND;
#ifdef EAI_IDN_ENCODE
    case EAI_IDN_ENCODE:
      return IdErr::WSAHOST_NOT_FOUND;  // a name that cannot exist
#endif
    case EAI_AGAIN:
      return IdErr::WSATRY_AGAIN;
    case EAI_FAIL:
      return IdErr::WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return IdErr::WSANO_DATA;
#endif
    case EAI_BADFLAGS:
      return 10022;
    case EAI_FAMILY:
      return 10047;
    case EAI_SOCKTYPE:
      return 10044;
    case EAI_SERVICE:
      return 10109;
    case EAI_MEMORY:
      return 8;
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return 0;
#endif
    default:
      return IdErr::WSANO_RECOVERY;
  }
}

std::string TIdStack::WSTranslateSocketErrorMsg(std::int32_t AErr) {
  for (const ErrorText& e : kErrorTexts) {
    if (e.number == AErr) return e.text;
  }
  return std::string();
}

void TIdStack::RaiseSocketError(std::int32_t AErr) {
  std::string message =
      "Socket Error # " + std::to_string(AErr) + "\r\n" + WSTranslateSocketErrorMsg(AErr);
  if (AErr == IdErr::WSAENOTSOCK) throw EIdNotASocket(AErr, message);
  throw EIdSocketError(AErr, message);
}

std::int32_t TIdStack::CheckForSocketError(std::int32_t AResult) {
  if (AResult == -1) RaiseSocketError(WSGetLastError());
  return AResult;
}

std::int32_t TIdStack::CheckForSocketError(std::int32_t AResult,
                                           std::initializer_list<std::int32_t> AIgnore) {
  if (AResult != -1) return AResult;
  std::int32_t err = WSGetLastError();
  for (std::int32_t ignored : AIgnore) {
    if (ignored == err) return err;
  }
  RaiseSocketError(err);
}

bool TIdStack::IsIP(std::string_view AIP) {
  for (int piece = 0; piece < 4; ++piece) {
    std::size_t dot = AIP.find('.');
    std::string_view part = piece < 3 ? AIP.substr(0, dot) : AIP;
    if (piece < 3 && dot == std::string_view::npos) return false;
    std::uint32_t value;
    if (!ParseDecimal(TrimBlanks(part), 255, value)) return false;
    if (piece < 3) AIP.remove_prefix(dot + 1);
  }
  return true;
}

std::string TIdStack::ResolveHost(const std::string& AHost, TIdIPVersion AIPVersion) {
  int family;
  if (AIPVersion == Id_IPv4) {
    if (SameTextAscii(AHost, "LOCALHOST")) return "127.0.0.1";
    if (IsIP(AHost)) return AHost;
    family = AF_INET;
  } else if (AIPVersion == Id_IPv6) {
    if (SameTextAscii(AHost, "LOCALHOST")) return "::1";
    std::string canonical = MakeCanonicalIPv6Address(AHost);
    if (!canonical.empty()) return canonical;
    family = AF_INET6;
  } else {
    throw EIdIPVersionUnsupported();
  }
  if (IsInvalidDomain(AHost)) RaiseSocketError(IdErr::WSAHOST_NOT_FOUND);

  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  bool international = false;
  for (unsigned char c : AHost) international = international || c >= 0x80;
#ifdef AI_IDN
  // International names go to the resolver by their ASCII form.
  if (international) hints.ai_flags |= AI_IDN;
#endif
  addrinfo* result = nullptr;
  int rc = getaddrinfo(AHost.c_str(), nullptr, &hints, &result);
  if (rc != 0) {
    if (rc == EAI_SYSTEM) RaiseSocketError(RecordErrno(errno));
    RaiseSocketError(AddrInfoErrorToSocketError(rc));
  }
  std::string address;
  if (result != nullptr && result->ai_addr != nullptr) {
    if (result->ai_family == AF_INET) {
      char buf[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr, buf,
                sizeof buf);
      address = buf;
    } else if (result->ai_family == AF_INET6) {
      address = IPv6ToText(reinterpret_cast<sockaddr_in6*>(result->ai_addr)->sin6_addr);
    }
  }
  freeaddrinfo(result);
  if (address.empty()) RaiseSocketError(IdErr::WSANO_DATA);
  return address;
}

// ---------------------------------------------------------------- IPv6 text

std::string MakeCanonicalIPv6Address(std::string_view AAddr) {
  std::string text(AAddr);
  if (text.empty()) return std::string();
  if (text.front() == ':') text.insert(text.begin(), '0');
  if (text.back() == ':') text.push_back('0');

  std::size_t lastColon = text.rfind(':');
  if (lastColon == std::string::npos) return std::string();
  std::string_view tail = std::string_view(text).substr(lastColon + 1);
  bool ipv4Tail = tail.find('.') != std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (i > lastColon && ipv4Tail) {
      if (!((c >= '0' && c <= '9') || c == '.')) return std::string();
    } else if (!hex && c != ':') {
      return std::string();
    }
  }
  std::size_t colons = 0;
  for (char c : text) colons += c == ':';
  if (colons < 2 || colons > (ipv4Tail ? 6u : 7u)) return std::string();

  std::vector<std::uint32_t> tailGroups;
  std::string_view head = std::string_view(text).substr(0, ipv4Tail ? lastColon : text.size());
  if (ipv4Tail) {
    std::size_t dots = 0;
    for (char c : tail) dots += c == '.';
    if (dots != 3) return std::string();
    std::uint32_t parts[4];
    std::string_view rest = tail;
    for (int i = 0; i < 4; ++i) {
      std::size_t dot = rest.find('.');
      std::string_view piece = i < 3 ? rest.substr(0, dot) : rest;
      if (!ParseDecimal(piece, 255, parts[i])) return std::string();
      if (i < 3) rest.remove_prefix(dot + 1);
    }
    tailGroups.push_back(parts[0] << 8 | parts[1]);
    tailGroups.push_back(parts[2] << 8 | parts[3]);
  }

  // Groups of the hexadecimal part; with an IPv4 tail the last colon ends it.
  std::vector<std::string_view> pieces;
  std::string_view rest = head;
  while (true) {
    std::size_t colon = rest.find(':');
    pieces.push_back(rest.substr(0, colon));
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  if (ipv4Tail) {
    // "a:b:1.2.3.4": head is "a:b", so every piece is a group (a trailing ":"
    // before the tail would have been cut as the last colon).
  }
  int emptyAt = -1;
  std::vector<std::uint32_t> groups;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].empty()) {
      if (emptyAt >= 0) return std::string();
      emptyAt = static_cast<int>(groups.size());
      continue;
    }
    std::uint32_t value;
    if (!ParseHexGroup(pieces[i], value)) return std::string();
    groups.push_back(value);
  }
  groups.insert(groups.end(), tailGroups.begin(), tailGroups.end());
  if (emptyAt >= 0) {
    if (groups.size() > 7) return std::string();
    groups.insert(groups.begin() + emptyAt, 8 - groups.size(), 0);
  }
  if (groups.size() != 8) return std::string();

  std::string out;
  for (std::size_t i = 0; i < 8; ++i) {
    if (i > 0) out += ':';
    bool inTail = ipv4Tail && i >= 6;
    out += Hex(groups[i], inTail);
  }
  return out;
}

bool IsValidIPv6(std::string_view AAddr) {
  return !MakeCanonicalIPv6Address(AAddr).empty();
}

// ---------------------------------------------------------------- the socket handle

TIdSocketHandle::~TIdSocketHandle() {
  CloseSocket();
}

void TIdSocketHandle::Reset() {
  std::lock_guard<std::mutex> guard(FConnectionHandle);
  FIP.clear();
  FPort = 0;
  FPeerIP.clear();
  FPeerPort = 0;
  FIPVersion = Id_IPv4;
}

void TIdSocketHandle::SetIPVersion(TIdIPVersion Value) {
  if (Value == FIPVersion) return;
  if (FHandleAllocated) throw EIdCannotSetIPVersionWhenConnected();
  FIPVersion = Value;
}

void TIdSocketHandle::SetPeer(const std::string& AIP, std::uint16_t APort,
                              TIdIPVersion AIPVersion) {
  FPeerIP = AIP;
  FPeerPort = APort;
  SetIPVersion(AIPVersion);
}

void TIdSocketHandle::AllocateSocket() {
  CloseSocket();
  {
    std::lock_guard<std::mutex> guard(FConnectionHandle);
    FIP.clear();
    FPort = 0;
    FPeerIP.clear();
    FPeerPort = 0;
  }
  int fd = ::socket(FIPVersion == Id_IPv4 ? AF_INET : AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) TIdStack::RaiseSocketError(TIdStack::RecordErrno(errno));
  {
    std::lock_guard<std::mutex> guard(FConnectionHandle);
    FHandle = fd;
    FHandleAllocated = true;
  }
  int type = 0;
  socklen_t len = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0) FSocketType = type;
  if (FSocketType == SOCK_STREAM) {
    int nodelay = 0;
    len = sizeof nodelay;
    if (getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nodelay, &len) == 0) FUseNagle = nodelay == 0;
  }
}

void TIdSocketHandle::CloseSocket() {
  std::lock_guard<std::mutex> guard(FConnectionHandle);
  if (!FHandleAllocated) return;
  FHandleAllocated = false;
  ::shutdown(FHandle, SHUT_WR);
  ::close(FHandle);
  FHandle = -1;
}

bool TIdSocketHandle::TryBind(const std::string& AIP, std::uint16_t APort) {
  sockaddr_storage storage;
  socklen_t length = 0;
  if (!SockAddrFor(AIP, APort, FIPVersion, storage, length)) return false;
  return ::bind(FHandle, reinterpret_cast<sockaddr*>(&storage), length) == 0;
}

void TIdSocketHandle::Bind() {
  int reuse = FReuseSocket == rsTrue ? 1 : 0;
  if (setsockopt(FHandle, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0) {
    TIdStack::RaiseSocketError(TIdStack::RecordErrno(errno));
  }
  if (FPort == 0 && FClientPortMin != 0 && FClientPortMax != 0) {
    if (FClientPortMax < FClientPortMin) {
      throw EIdInvalidPortRange("Invalid Port Range (" + std::to_string(FClientPortMin) + " - " +
                                std::to_string(FClientPortMax) + ")");
    }
    bool bound = false;
    for (std::uint32_t port = FClientPortMax; port >= FClientPortMin; --port) {
      if (TryBind(FIP, static_cast<std::uint16_t>(port))) {
        bound = true;
        break;
      }
    }
    if (!bound) {
      throw EIdCanNotBindPortInRange("Can not bind in port range (" +
                                     std::to_string(FClientPortMin) + " - " +
                                     std::to_string(FClientPortMax) + ")");
    }
  } else if (!TryBind(FIP, FPort)) {
    throw EIdCouldNotBindSocket();
  }
  UpdateLocal();
}

void TIdSocketHandle::ApplyNagle() {
  if (FSocketType != SOCK_STREAM || !FHandleAllocated) return;
  int nodelay = 0;
  socklen_t len = sizeof nodelay;
  if (getsockopt(FHandle, IPPROTO_TCP, TCP_NODELAY, &nodelay, &len) != 0) return;
  bool socketUsesNagle = nodelay == 0;
  if (socketUsesNagle != FUseNagle) {
    nodelay = FUseNagle ? 0 : 1;
    if (setsockopt(FHandle, IPPROTO_TCP, TCP_NODELAY, &nodelay, sizeof nodelay) != 0) {
      TIdStack::RaiseSocketError(TIdStack::RecordErrno(errno));
    }
  }
}

void TIdSocketHandle::UpdateLocal() {
  std::lock_guard<std::mutex> guard(FConnectionHandle);
  if (!FHandleAllocated) return;
  sockaddr_storage storage{};
  socklen_t len = sizeof storage;
  if (getsockname(FHandle, reinterpret_cast<sockaddr*>(&storage), &len) == 0) {
    AddressFromSockAddr(storage, FIP, FPort);
  }
}

void TIdSocketHandle::UpdatePeer() {
  std::lock_guard<std::mutex> guard(FConnectionHandle);
  if (!FHandleAllocated) return;
  sockaddr_storage storage{};
  socklen_t len = sizeof storage;
  if (getpeername(FHandle, reinterpret_cast<sockaddr*>(&storage), &len) == 0) {
    AddressFromSockAddr(storage, FPeerIP, FPeerPort);
  }
}

void TIdSocketHandle::Connect() {
  sockaddr_storage storage;
  socklen_t length = 0;
  if (!SockAddrFor(FPeerIP, FPeerPort, FIPVersion, storage, length)) {
    TIdStack::RaiseSocketError(10049);
  }
  int rc;
  do {
    rc = ::connect(FHandle, reinterpret_cast<sockaddr*>(&storage), length);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) TIdStack::RaiseSocketError(TIdStack::RecordErrno(errno));
  UpdateLocal();
  UpdatePeer();
}

void TIdSocketHandle::ConnectWithTimeout(std::int32_t ATimeout) {
  if (ATimeout == IdTimeoutDefault) ATimeout = IdTimeoutInfinite;
  sockaddr_storage storage;
  socklen_t length = 0;
  if (!SockAddrFor(FPeerIP, FPeerPort, FIPVersion, storage, length)) {
    TIdStack::RaiseSocketError(10049);
  }
  int flags = fcntl(FHandle, F_GETFL);
  fcntl(FHandle, F_SETFL, flags | O_NONBLOCK);
  int rc = ::connect(FHandle, reinterpret_cast<sockaddr*>(&storage), length);
  int err = rc == 0 ? 0 : errno;
  if (err == EINPROGRESS || err == EINTR) {
    // Wait in slices of at most 125 ms, checking after each whether the
    // connect has finished.
    std::int64_t deadline = IdTicks() + (ATimeout > 0 ? ATimeout : 0);
    while (true) {
      std::int32_t slice = 125;
      if (ATimeout >= 0) {
        std::int64_t left = deadline - IdTicks();
        if (left <= 0) {
          CloseSocket();
          throw EIdConnectTimeout();
        }
        if (left < slice) slice = static_cast<std::int32_t>(left);
      }
      pollfd p{FHandle, POLLOUT, 0};
      int ready = ::poll(&p, 1, slice);
      if (ready < 0 && errno != EINTR) {
        err = errno;
        break;
      }
      if (ready > 0) {
        socklen_t len = sizeof err;
        if (getsockopt(FHandle, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        break;
      }
    }
  }
  fcntl(FHandle, F_SETFL, flags);
  if (err != 0) TIdStack::RaiseSocketError(TIdStack::RecordErrno(err));
  UpdateLocal();
  UpdatePeer();
}

std::int32_t TIdSocketHandle::Receive(void* ABuffer, std::int32_t ALength) {
  ssize_t n;
  do {
    n = ::recv(FHandle, ABuffer, static_cast<std::size_t>(ALength), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    TIdStack::RecordErrno(errno);
    return -1;
  }
  return static_cast<std::int32_t>(n);
}

bool TIdSocketHandle::TryReceive(void* ABuffer, std::int32_t ALength, std::int32_t& ACount) {
  ssize_t n;
  do {
    n = ::recv(FHandle, ABuffer, static_cast<std::size_t>(ALength), MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
    TIdStack::RecordErrno(errno);
    ACount = -1;
    return true;
  }
  ACount = static_cast<std::int32_t>(n);
  return true;
}

std::int32_t TIdSocketHandle::Send(const void* ABuffer, std::int32_t ALength) {
  ssize_t n;
  do {
    n = ::send(FHandle, ABuffer, static_cast<std::size_t>(ALength), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    TIdStack::RecordErrno(errno);
    return -1;
  }
  return static_cast<std::int32_t>(n);
}

bool TIdSocketHandle::Readable(std::int32_t AMSec) {
  if (AMSec < 0) AMSec = -1;  // no limit
  std::int64_t deadline = IdTicks() + (AMSec > 0 ? AMSec : 0);
  while (true) {
    pollfd p{FHandle, POLLIN, 0};
    int rc = ::poll(&p, 1, AMSec);
    if (rc >= 0) return rc > 0;
    if (errno != EINTR) TIdStack::RaiseSocketError(TIdStack::RecordErrno(errno));
    if (AMSec > 0) {
      std::int64_t left = deadline - IdTicks();
      AMSec = left > 0 ? static_cast<std::int32_t>(left) : 0;
    }
  }
}

void TIdSocketHandle::SetIOTimeouts(std::int32_t AMSec) {
  if (!FHandleAllocated) return;
  timeval tv{};
  if (AMSec > 0) {
    tv.tv_sec = AMSec / 1000;
    tv.tv_usec = (AMSec % 1000) * 1000;
  }
  setsockopt(FHandle, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(FHandle, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace vto
