#include "net/IdStack.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "desktop/AsciiNumbers.h"
#include "desktop/TextCodec.h"
#include "net/IdExceptions.h"
#include "net/IdSocketApi.h"

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

// The numbers of address texts: a dotted part has at most 10 decimal characters
// (leading zeros count) and stands for at most 255; an IPv6 group at most 8
// hexadecimal ones, for at most FFFF.
constexpr DigitSyntax kDottedPart{.Base = 10, .MaxDigits = 10, .MaxValue = 255};
constexpr DigitSyntax kIPv6Group{.Base = 16, .MaxDigits = 8, .MaxValue = 0xFFFF};

bool ParseAddressNumber(std::string_view s, const DigitSyntax& syntax, std::uint32_t& value) {
  std::uint64_t v = 0;
  if (ParseUnsigned(s, syntax, v) != NumberParse::kNumber) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

// Four dotted parts separated by three dots; with blanks, spaces and tabs may
// stand around each part.
bool ParseDottedQuad(std::string_view s, bool blanks, std::array<std::uint32_t, 4>& parts) {
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t dot = s.find('.');
    if (i < 3 && dot == std::string_view::npos) return false;
    std::string_view part = i < 3 ? s.substr(0, dot) : s;
    if (blanks) part = TrimWhere(part, IsSpaceOrTab);
    if (!ParseAddressNumber(part, kDottedPart, parts[i])) return false;
    if (i < 3) s.remove_prefix(dot + 1);
  }
  return true;
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
      std::array<std::uint32_t, 4> parts;
      if (!ParseDottedQuad(ip, true, parts)) return false;
      a->sin_addr.s_addr = htonl(parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3]);
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
    // The first user makes the stack, which starts the platform's socket
    // library; the stack exists from the first user to the last. A failed
    // start counts no user.
    std::string failure = sockets::StartLibrary();
    if (!failure.empty()) throw EIdStackInitializationFailed(std::move(failure));
    gStackCreated = true;
  }
  ++gUsageCount;
}

void TIdStack::DecUsage() {
  std::lock_guard<std::mutex> guard(StackLock());
  if (gUsageCount > 0 && --gUsageCount == 0 && gStackCreated) {
    gStackCreated = false;
    sockets::StopLibrary();
  }
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

std::string TIdStack::WSTranslateSocketErrorMsg(std::int32_t AErr) {
  for (const ErrorText& e : kErrorTexts) {
    if (e.number == AErr) return e.text;
  }
  return std::string();
}

void TIdStack::RaiseSocketError(std::int32_t AErr) {
  std::string message =
      "Socket Error # " + std::to_string(AErr) + "\r\n" + WSTranslateSocketErrorMsg(AErr);
  if (AErr == IdErr::NotASocket) throw EIdNotASocket(AErr, message);
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
  std::array<std::uint32_t, 4> parts;
  return ParseDottedQuad(AIP, true, parts);
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
  if (IsInvalidDomain(AHost)) RaiseSocketError(IdErr::HostNotFound);

  sockaddr_storage resolved{};
  if (const std::int32_t err = sockets::Resolve(AHost, family, resolved); err != 0) {
    RaiseSocketError(err);
  }
  std::string address;
  std::uint16_t port = 0;
  AddressFromSockAddr(resolved, address, port);
  if (address.empty()) RaiseSocketError(IdErr::NoData);
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
    if (i > lastColon && ipv4Tail) {
      if (!(IsAsciiDigit(c) || c == '.')) return std::string();
    } else if (!IsAsciiHexDigit(c) && c != ':') {
      return std::string();
    }
  }
  std::size_t colons = 0;
  for (char c : text) colons += c == ':';
  if (colons < 2 || colons > (ipv4Tail ? 6u : 7u)) return std::string();

  std::vector<std::uint32_t> tailGroups;
  std::string_view head = std::string_view(text).substr(0, ipv4Tail ? lastColon : text.size());
  if (ipv4Tail) {
    std::array<std::uint32_t, 4> parts;
    if (!ParseDottedQuad(tail, false, parts)) return std::string();
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
    if (!ParseAddressNumber(pieces[i], kIPv6Group, value)) return std::string();
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
  const sockets::Handle socket = sockets::Create(FIPVersion == Id_IPv4 ? AF_INET : AF_INET6);
  if (socket == sockets::kInvalid) TIdStack::RaiseSocketError(TIdStack::WSGetLastError());
  {
    std::lock_guard<std::mutex> guard(FConnectionHandle);
    FHandle = socket;
    FHandleAllocated = true;
  }
  int type = 0;
  if (sockets::GetIntOption(socket, SOL_SOCKET, SO_TYPE, type) == 0) FSocketType = type;
  if (FSocketType == SOCK_STREAM) {
    int nodelay = 0;
    if (sockets::GetIntOption(socket, IPPROTO_TCP, TCP_NODELAY, nodelay) == 0)
      FUseNagle = nodelay == 0;
  }
}

void TIdSocketHandle::CloseSocket() {
  std::lock_guard<std::mutex> guard(FConnectionHandle);
  if (!FHandleAllocated) return;
  FHandleAllocated = false;
  sockets::Close(FHandle);
  FHandle = sockets::kInvalid;
}

bool TIdSocketHandle::TryBind(const std::string& AIP, std::uint16_t APort) {
  sockaddr_storage storage;
  socklen_t length = 0;
  if (!SockAddrFor(AIP, APort, FIPVersion, storage, length)) return false;
  return sockets::Bind(FHandle, reinterpret_cast<sockaddr*>(&storage), length) == 0;
}

void TIdSocketHandle::Bind() {
  if (sockets::SetIntOption(FHandle, SOL_SOCKET, SO_REUSEADDR, FReuseSocket == rsTrue ? 1 : 0) !=
      0) {
    TIdStack::RaiseSocketError(TIdStack::WSGetLastError());
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
  if (sockets::GetIntOption(FHandle, IPPROTO_TCP, TCP_NODELAY, nodelay) != 0) return;
  const bool socketUsesNagle = nodelay == 0;
  if (socketUsesNagle != FUseNagle &&
      sockets::SetIntOption(FHandle, IPPROTO_TCP, TCP_NODELAY, FUseNagle ? 0 : 1) != 0) {
    TIdStack::RaiseSocketError(TIdStack::WSGetLastError());
  }
}

void TIdSocketHandle::UpdateLocal() {
  std::lock_guard<std::mutex> guard(FConnectionHandle);
  if (!FHandleAllocated) return;
  sockaddr_storage storage{};
  if (sockets::LocalAddress(FHandle, storage) == 0) AddressFromSockAddr(storage, FIP, FPort);
}

void TIdSocketHandle::UpdatePeer() {
  std::lock_guard<std::mutex> guard(FConnectionHandle);
  if (!FHandleAllocated) return;
  sockaddr_storage storage{};
  if (sockets::PeerAddress(FHandle, storage) == 0) AddressFromSockAddr(storage, FPeerIP, FPeerPort);
}

void TIdSocketHandle::Connect() {
  sockaddr_storage storage;
  socklen_t length = 0;
  if (!SockAddrFor(FPeerIP, FPeerPort, FIPVersion, storage, length)) {
    TIdStack::RaiseSocketError(IdErr::AddressNotAvailable);
  }
  if (sockets::Connect(FHandle, reinterpret_cast<sockaddr*>(&storage), length) != 0)
    TIdStack::RaiseSocketError(TIdStack::WSGetLastError());
  UpdateLocal();
  UpdatePeer();
}

void TIdSocketHandle::ConnectWithTimeout(std::int32_t ATimeout) {
  if (ATimeout == IdTimeoutDefault) ATimeout = IdTimeoutInfinite;
  sockaddr_storage storage;
  socklen_t length = 0;
  if (!SockAddrFor(FPeerIP, FPeerPort, FIPVersion, storage, length)) {
    TIdStack::RaiseSocketError(IdErr::AddressNotAvailable);
  }
  const int started = sockets::ConnectStart(FHandle, reinterpret_cast<sockaddr*>(&storage), length);
  bool ended = started == 0;
  if (started < 0) {
    const std::int32_t err = TIdStack::WSGetLastError();
    sockets::ConnectFinish(FHandle, false);
    TIdStack::RaiseSocketError(err);
  }
  if (started == 1) {
    // Wait in slices of at most 125 ms, checking after each whether the
    // connect has finished.
    const std::int64_t deadline = IdTicks() + (ATimeout > 0 ? ATimeout : 0);
    while (true) {
      std::int32_t slice = 125;
      if (ATimeout >= 0) {
        const std::int64_t left = deadline - IdTicks();
        if (left <= 0) {
          CloseSocket();
          throw EIdConnectTimeout();
        }
        if (left < slice) slice = static_cast<std::int32_t>(left);
      }
      const int ready = sockets::ConnectWait(FHandle, slice);
      if (ready < 0) {
        const std::int32_t err = TIdStack::WSGetLastError();
        sockets::ConnectFinish(FHandle, false);
        TIdStack::RaiseSocketError(err);
      }
      if (ready > 0) {
        ended = true;
        break;
      }
    }
  }
  if (sockets::ConnectFinish(FHandle, ended) != 0)
    TIdStack::RaiseSocketError(TIdStack::WSGetLastError());
  UpdateLocal();
  UpdatePeer();
}

std::int32_t TIdSocketHandle::Receive(void* ABuffer, std::int32_t ALength) {
  bool wouldBlock = false;
  return sockets::Receive(FHandle, ABuffer, ALength, false, wouldBlock);
}

bool TIdSocketHandle::TryReceive(void* ABuffer, std::int32_t ALength, std::int32_t& ACount) {
  bool wouldBlock = false;
  const std::int32_t n = sockets::Receive(FHandle, ABuffer, ALength, true, wouldBlock);
  if (wouldBlock) return false;
  ACount = n;
  return true;
}

std::int32_t TIdSocketHandle::Send(const void* ABuffer, std::int32_t ALength) {
  bool wouldBlock = false;
  return sockets::Send(FHandle, ABuffer, ALength, false, wouldBlock);
}

bool TIdSocketHandle::Readable(std::int32_t AMSec) {
  const int rc = sockets::WaitReadable(FHandle, AMSec < 0 ? -1 : AMSec);
  if (rc < 0) TIdStack::RaiseSocketError(TIdStack::WSGetLastError());
  return rc > 0;
}

void TIdSocketHandle::SetIOTimeouts(std::int32_t AMSec) {
  if (!FHandleAllocated) return;
  sockets::SetIOTimeouts(FHandle, AMSec);
}

}  // namespace vto
