// The socket calls on a POSIX system.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/IdGlobal.h"
#include "net/IdSocketApi.h"
#include "net/IdStack.h"

namespace vto::sockets {

namespace {

int Fd(Handle ASocket) {
  return static_cast<int>(ASocket);
}

// Records errno as the last socket error; -1 for the caller to return.
int Failed() {
  TIdStack::WSSetLastError(MapError(errno));
  return -1;
}

bool WouldBlock(int AErr) {
  return AErr == EAGAIN || AErr == EWOULDBLOCK;
}

// The result of a receive or send: the count; -1 with AWouldBlock set where a
// call that was not to wait would have; else -1 with the error recorded.
std::int32_t Transferred(ssize_t n, bool ANoWait, bool& AWouldBlock) {
  if (n >= 0) return static_cast<std::int32_t>(n);
  if (ANoWait && WouldBlock(errno)) {
    AWouldBlock = true;
    return -1;
  }
  return Failed();
}

// A call made again for as long as a signal interrupts it.
template <class Call>
auto Uninterrupted(Call ACall) {
  decltype(ACall()) rc;
  do {
    rc = ACall();
  } while (rc < 0 && errno == EINTR);
  return rc;
}

// A poll for the events, the time (below 0: none) kept across interruptions:
// 1 ready, 0 timed out, -1 failed (recorded).
int PollFor(Handle ASocket, short AEvents, std::int32_t AMSec) {
  const std::int64_t deadline = IdTicks() + (AMSec > 0 ? AMSec : 0);
  while (true) {
    pollfd p{Fd(ASocket), AEvents, 0};
    const int rc = ::poll(&p, 1, AMSec < 0 ? -1 : AMSec);
    if (rc >= 0) return rc > 0 ? 1 : 0;
    if (errno != EINTR) return Failed();
    if (AMSec > 0) {
      const std::int64_t left = deadline - IdTicks();
      AMSec = left > 0 ? static_cast<std::int32_t>(left) : 0;
    }
  }
}

}  // namespace

// The sockets of a POSIX system need no library start-up.
std::string StartLibrary() {
  return std::string();
}
void StopLibrary() {}

std::int32_t MapError(int APlatformError) {
  switch (APlatformError) {
    case 0:
      return 0;
    case EINTR:
      return IdErr::Interrupted;
    case EBADF:
      return IdErr::BadFile;
    case EACCES:
    case EPERM:
      return IdErr::AccessDenied;
    case EFAULT:
      return IdErr::Fault;
    case EINVAL:
      return IdErr::InvalidArgument;
    case EMFILE:
    case ENFILE:
      return IdErr::TooManyFiles;
    // Sockets here are blocking: a would-block result only comes from the
    // socket's own receive or send time-out.
    case EAGAIN:
      return IdErr::TimedOut;
    case EINPROGRESS:
      return IdErr::InProgress;
    case EALREADY:
      return IdErr::Already;
    case ENOTSOCK:
      return IdErr::NotASocket;
    case EDESTADDRREQ:
      return IdErr::DestinationRequired;
    case EMSGSIZE:
      return IdErr::MessageSize;
    case EPROTOTYPE:
      return IdErr::ProtocolType;
    case ENOPROTOOPT:
      return IdErr::NoProtocolOption;
    case EPROTONOSUPPORT:
      return IdErr::ProtocolNotSupported;
    case ESOCKTNOSUPPORT:
      return IdErr::SocketTypeNotSupported;
    case EOPNOTSUPP:
      return IdErr::OperationNotSupported;
    case EPFNOSUPPORT:
      return IdErr::ProtocolFamilyNotSupported;
    case EAFNOSUPPORT:
      return IdErr::AddressFamilyNotSupported;
    case EADDRINUSE:
      return IdErr::AddressInUse;
    case EADDRNOTAVAIL:
      return IdErr::AddressNotAvailable;
    case ENETDOWN:
      return IdErr::NetworkDown;
    case ENETUNREACH:
      return IdErr::NetworkUnreachable;
    case ENETRESET:
      return IdErr::NetworkReset;
    case ECONNABORTED:
      return IdErr::ConnectionAborted;
    case ECONNRESET:
      return IdErr::ConnectionReset;
    case ENOBUFS:
    case ENOMEM:
      return IdErr::NoBufferSpace;
    case EISCONN:
      return IdErr::IsConnected;
    case ENOTCONN:
      return IdErr::NotConnected;
    case ESHUTDOWN:
    case EPIPE:
      return IdErr::Shutdown;
    case ETOOMANYREFS:
      return IdErr::TooManyReferences;
    case ETIMEDOUT:
      return IdErr::TimedOut;
    case ECONNREFUSED:
      return IdErr::ConnectionRefused;
    case ELOOP:
      return IdErr::Loop;
    case ENAMETOOLONG:
      return IdErr::NameTooLong;
    case EHOSTDOWN:
      return IdErr::HostDown;
    case EHOSTUNREACH:
      return IdErr::HostUnreachable;
    case ENOTEMPTY:
      return IdErr::NotEmpty;
    default:
      return APlatformError;
  }
}

std::int32_t MapResolverError(int AResult) {
  switch (AResult) {
    case 0:
      return 0;
    case EAI_NONAME:
      return IdErr::HostNotFound;
#ifdef EAI_IDN_ENCODE
    case EAI_IDN_ENCODE:
      return IdErr::HostNotFound;  // a name that cannot exist
#endif
    case EAI_AGAIN:
      return IdErr::TryAgain;
    case EAI_FAIL:
      return IdErr::NoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return IdErr::NoData;
#endif
    case EAI_BADFLAGS:
      return IdErr::InvalidArgument;
    case EAI_FAMILY:
      return IdErr::AddressFamilyNotSupported;
    case EAI_SOCKTYPE:
      return IdErr::SocketTypeNotSupported;
    case EAI_SERVICE:
      return IdErr::TypeNotFound;
    case EAI_MEMORY:
      return IdErr::OutOfMemory;
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return 0;  // the address-family mismatch has no number of its own
#endif
    default:
      return IdErr::NoRecovery;
  }
}

Handle Create(int AFamily) {
  const int fd = ::socket(AFamily, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Failed();
    return kInvalid;
  }
  return fd;
}

void Close(Handle ASocket) {
  ::shutdown(Fd(ASocket), SHUT_WR);
  ::close(Fd(ASocket));
}

int GetIntOption(Handle ASocket, int ALevel, int AName, int& AValue) {
  AValue = 0;
  socklen_t len = sizeof AValue;
  return ::getsockopt(Fd(ASocket), ALevel, AName, &AValue, &len) == 0 ? 0 : Failed();
}

int SetIntOption(Handle ASocket, int ALevel, int AName, int AValue) {
  return ::setsockopt(Fd(ASocket), ALevel, AName, &AValue, sizeof AValue) == 0 ? 0 : Failed();
}

void SetIOTimeouts(Handle ASocket, std::int32_t AMSec) {
  timeval tv{};
  if (AMSec > 0) {
    tv.tv_sec = AMSec / 1000;
    tv.tv_usec = (AMSec % 1000) * 1000;
  }
  ::setsockopt(Fd(ASocket), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(Fd(ASocket), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int Bind(Handle ASocket, const sockaddr* AAddress, socklen_t ALength) {
  return ::bind(Fd(ASocket), AAddress, ALength) == 0 ? 0 : -1;
}

int LocalAddress(Handle ASocket, sockaddr_storage& AAddress) {
  socklen_t len = sizeof AAddress;
  return ::getsockname(Fd(ASocket), reinterpret_cast<sockaddr*>(&AAddress), &len) == 0 ? 0 : -1;
}

int PeerAddress(Handle ASocket, sockaddr_storage& AAddress) {
  socklen_t len = sizeof AAddress;
  return ::getpeername(Fd(ASocket), reinterpret_cast<sockaddr*>(&AAddress), &len) == 0 ? 0 : -1;
}

int Connect(Handle ASocket, const sockaddr* AAddress, socklen_t ALength) {
  const int rc = Uninterrupted([&] { return ::connect(Fd(ASocket), AAddress, ALength); });
  return rc == 0 ? 0 : Failed();
}

int ConnectStart(Handle ASocket, const sockaddr* AAddress, socklen_t ALength) {
  const int flags = ::fcntl(Fd(ASocket), F_GETFL);
  ::fcntl(Fd(ASocket), F_SETFL, flags | O_NONBLOCK);
  if (::connect(Fd(ASocket), AAddress, ALength) == 0) return 0;
  // Interrupted, the connect goes on by itself.
  if (errno == EINPROGRESS || errno == EINTR) return 1;
  return Failed();
}

int ConnectWait(Handle ASocket, std::int32_t AMSec) {
  return PollFor(ASocket, POLLOUT, AMSec);
}

int ConnectFinish(Handle ASocket, bool AEnded) {
  int err = 0;
  if (AEnded) {
    socklen_t len = sizeof err;
    if (::getsockopt(Fd(ASocket), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  }
  const int flags = ::fcntl(Fd(ASocket), F_GETFL);
  ::fcntl(Fd(ASocket), F_SETFL, flags & ~O_NONBLOCK);
  if (err == 0) return 0;
  TIdStack::WSSetLastError(MapError(err));
  return -1;
}

std::int32_t Receive(Handle ASocket, void* ABuffer, std::int32_t ALength, bool ANoWait,
                     bool& AWouldBlock) {
  AWouldBlock = false;
  const ssize_t n = Uninterrupted([&] {
    return ::recv(Fd(ASocket), ABuffer, static_cast<std::size_t>(ALength),
                  ANoWait ? MSG_DONTWAIT : 0);
  });
  return Transferred(n, ANoWait, AWouldBlock);
}

std::int32_t Send(Handle ASocket, const void* ABuffer, std::int32_t ALength, bool ANoWait,
                  bool& AWouldBlock) {
  AWouldBlock = false;
  const int flags = MSG_NOSIGNAL | (ANoWait ? MSG_DONTWAIT : 0);
  const ssize_t n = Uninterrupted(
      [&] { return ::send(Fd(ASocket), ABuffer, static_cast<std::size_t>(ALength), flags); });
  return Transferred(n, ANoWait, AWouldBlock);
}

int WaitReadable(Handle ASocket, std::int32_t AMSec) {
  return PollFor(ASocket, POLLIN, AMSec);
}

std::int32_t Resolve(const std::string& AHost, int AFamily, sockaddr_storage& AAddress) {
  addrinfo hints{};
  hints.ai_family = AFamily;
  hints.ai_socktype = SOCK_STREAM;
#ifdef AI_IDN
  // International names go to the resolver by their ASCII form.
  for (unsigned char c : AHost) {
    if (c >= 0x80) {
      hints.ai_flags |= AI_IDN;
      break;
    }
  }
#endif
  addrinfo* result = nullptr;
  const int rc = ::getaddrinfo(AHost.c_str(), nullptr, &hints, &result);
  if (rc != 0) return rc == EAI_SYSTEM ? MapError(errno) : MapResolverError(rc);
  std::int32_t outcome = IdErr::NoData;
  if (result != nullptr && result->ai_addr != nullptr &&
      result->ai_addrlen <= sizeof(sockaddr_storage) &&
      (result->ai_family == AF_INET || result->ai_family == AF_INET6)) {
    AAddress = sockaddr_storage{};
    std::memcpy(&AAddress, result->ai_addr, result->ai_addrlen);
    outcome = 0;
  }
  ::freeaddrinfo(result);
  return outcome;
}

}  // namespace vto::sockets
