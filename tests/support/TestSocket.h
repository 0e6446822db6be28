// The few socket calls the test servers make, on POSIX sockets or on Winsock,
// kept apart from the code under test (which has its own).
#pragma once

#if defined(_WIN32)
#include "desktop/WinApi.h"
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace vto::testing::sock {

using Fd = std::intptr_t;
constexpr Fd kNone = -1;

#if defined(_WIN32)

// Winsock started once for the test servers; never stopped before the
// process ends, whatever the stack under test does with its own count.
inline void Startup() {
  static const int rc = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (rc != 0) throw std::runtime_error("WSAStartup failed");
}

inline Fd Open(int family) {
  Startup();
  const SOCKET s = ::WSASocketW(family, SOCK_STREAM, 0, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  return s == INVALID_SOCKET ? kNone : static_cast<Fd>(s);
}
inline void CloseFd(Fd fd) {
  if (fd != kNone) ::closesocket(static_cast<SOCKET>(fd));
}
inline int LastError() {
  return ::WSAGetLastError();
}
inline bool IsReset(int err) {
  return err == WSAECONNRESET || err == WSAECONNABORTED;
}
inline int SendSome(Fd fd, const char* data, std::size_t size) {
  return ::send(static_cast<SOCKET>(fd), data, static_cast<int>(size), 0);
}
inline int ReceiveSome(Fd fd, char* data, std::size_t size) {
  return ::recv(static_cast<SOCKET>(fd), data, static_cast<int>(size), 0);
}
// 1 readable, 0 not within the time, -1 failed.
inline int WaitReadable(Fd fd, int ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(static_cast<SOCKET>(fd), &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  const int rc = ::select(0, &set, nullptr, nullptr, &tv);
  return rc < 0 ? -1 : (rc > 0 ? 1 : 0);
}
inline void SetTimeouts(Fd fd, int ms) {
  const DWORD v = static_cast<DWORD>(ms);
  ::setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&v),
               sizeof v);
  ::setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&v),
               sizeof v);
}
inline void ShutdownSend(Fd fd) {
  ::shutdown(static_cast<SOCKET>(fd), SD_SEND);
}
inline void SetNonBlocking(Fd fd) {
  u_long one = 1;
  ::ioctlsocket(static_cast<SOCKET>(fd), FIONBIO, &one);
}
inline Fd Accept(Fd listener) {
  const SOCKET s = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  return s == INVALID_SOCKET ? kNone : static_cast<Fd>(s);
}
// The close that the peer sees as a reset.
inline void AbortiveClose(Fd fd) {
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  ::setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l),
               sizeof l);
  ::closesocket(static_cast<SOCKET>(fd));
}
inline void Pause(int ms) {
  ::Sleep(static_cast<DWORD>(ms));
}
inline void SetReuse(Fd fd) {
  const int one = 1;
  ::setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_REUSEADDR,
               reinterpret_cast<const char*>(&one), sizeof one);
}

#else

inline void Startup() {}
inline Fd Open(int family) {
  return ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
}
inline void CloseFd(Fd fd) {
  if (fd != kNone) ::close(static_cast<int>(fd));
}
inline int LastError() {
  return errno;
}
inline bool IsReset(int err) {
  return err == ECONNRESET;
}
inline int SendSome(Fd fd, const char* data, std::size_t size) {
  return static_cast<int>(::send(static_cast<int>(fd), data, size, MSG_NOSIGNAL));
}
inline int ReceiveSome(Fd fd, char* data, std::size_t size) {
  ssize_t n;
  do {
    n = ::recv(static_cast<int>(fd), data, size, 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<int>(n);
}
inline int WaitReadable(Fd fd, int ms) {
  pollfd p{static_cast<int>(fd), POLLIN, 0};
  const int rc = ::poll(&p, 1, ms);
  return rc < 0 ? -1 : (rc > 0 ? 1 : 0);
}
inline void SetTimeouts(Fd fd, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}
inline void ShutdownSend(Fd fd) {
  ::shutdown(static_cast<int>(fd), SHUT_WR);
}
inline void SetNonBlocking(Fd fd) {
  const int flags = ::fcntl(static_cast<int>(fd), F_GETFL);
  ::fcntl(static_cast<int>(fd), F_SETFL, flags | O_NONBLOCK);
}
inline Fd Accept(Fd listener) {
  return ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
}
inline void AbortiveClose(Fd fd) {
  linger l{1, 0};
  setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(static_cast<int>(fd));
}
inline void Pause(int ms) {
  ::usleep(static_cast<useconds_t>(ms) * 1000);
}
inline void SetReuse(Fd fd) {
  int one = 1;
  setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

#endif

// A loopback address of the family with the port.
inline socklen_t LoopbackAddress(bool ipv6, std::uint16_t port, sockaddr_storage& storage) {
  storage = sockaddr_storage{};
  if (ipv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_loopback;
    a->sin6_port = htons(port);
    return sizeof(sockaddr_in6);
  }
  auto* a = reinterpret_cast<sockaddr_in*>(&storage);
  a->sin_family = AF_INET;
  a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a->sin_port = htons(port);
  return sizeof(sockaddr_in);
}

// The port a socket is bound to (0 when it cannot be read).
inline std::uint16_t BoundPort(Fd fd) {
  sockaddr_storage storage{};
  socklen_t len = sizeof storage;
  if (::getsockname(static_cast<decltype(::socket(0, 0, 0))>(fd),
                    reinterpret_cast<sockaddr*>(&storage), &len) != 0) {
    return 0;
  }
  if (storage.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

}  // namespace vto::testing::sock
