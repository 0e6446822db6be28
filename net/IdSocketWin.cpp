// The socket calls on Windows Sockets 2. Winsock's error numbers are the
// stack's own, so a failure is recorded as WSAGetLastError gives it.
#include <atomic>
#include <cstring>
#include <string>

#include "desktop/WinApi.h"
#include "net/IdGlobal.h"
#include "net/IdSocketApi.h"
#include "net/IdStack.h"
#include "streams/WideNames.h"

namespace vto::sockets {

namespace {

SOCKET Sock(Handle ASocket) {
  return static_cast<SOCKET>(ASocket);
}

// Records the last Winsock error; -1 for the caller to return.
int Failed() {
  TIdStack::WSSetLastError(MapError(::WSAGetLastError()));
  return -1;
}

int StartWinsock(std::uint16_t AVersion) {
  WSADATA data{};
  const int rc = ::WSAStartup(AVersion, &data);
  if (rc != 0) return rc;
  if (data.wVersion != AVersion) {
    // An older library than the one asked for: not usable, and let go again.
    ::WSACleanup();
    return WSAVERNOTSUPPORTED;
  }
  return 0;
}

// Replaced by tests while other threads may be starting the stack.
std::atomic<StartupCall> gStartup{StartWinsock};

// Switches the socket between blocking and non-blocking; true on success.
bool SetNonBlocking(Handle ASocket, bool ANonBlocking) {
  u_long mode = ANonBlocking ? 1 : 0;
  return ::ioctlsocket(Sock(ASocket), FIONBIO, &mode) == 0;
}

// A select on the one socket for reading, or for writing with the error set
// (where a failed connect shows): 1 ready, 0 timed out, -1 failed (recorded).
// Below 0 no limit.
int SelectFor(Handle ASocket, bool AWrite, std::int32_t AMSec) {
  fd_set main;
  fd_set errors;
  FD_ZERO(&main);
  FD_ZERO(&errors);
  FD_SET(Sock(ASocket), &main);
  FD_SET(Sock(ASocket), &errors);
  timeval tv{};
  if (AMSec >= 0) {
    tv.tv_sec = AMSec / 1000;
    tv.tv_usec = (AMSec % 1000) * 1000;
  }
  const int rc = ::select(0, AWrite ? nullptr : &main, AWrite ? &main : nullptr,
                          AWrite ? &errors : nullptr, AMSec < 0 ? nullptr : &tv);
  if (rc == SOCKET_ERROR) return Failed();
  return rc > 0 ? 1 : 0;
}

// One receive or send, made without waiting when ANoWait: the socket is
// non-blocking for that call only.
template <class Call>
std::int32_t Transfer(Handle ASocket, bool ANoWait, bool& AWouldBlock, Call ACall) {
  AWouldBlock = false;
  if (ANoWait && !SetNonBlocking(ASocket, true)) return Failed();
  const int n = ACall();
  const int err = n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
  if (ANoWait) SetNonBlocking(ASocket, false);
  if (n != SOCKET_ERROR) return n;
  if (ANoWait && err == WSAEWOULDBLOCK) {
    AWouldBlock = true;
    return -1;
  }
  TIdStack::WSSetLastError(MapError(err));
  return -1;
}

// A name as the W functions take it; empty when it is not valid UTF-8.
std::wstring Wide(const std::string& AText) {
  std::wstring out;
  return WideName(AText, out) ? out : std::wstring();
}

}  // namespace

StartupCall SetStartupCall(StartupCall ACall) {
  return gStartup.exchange(ACall != nullptr ? ACall : StartWinsock);
}

std::string StartLibrary() {
  const int rc = gStartup.load()(MAKEWORD(2, 2));
  if (rc == 0) return std::string();
  std::string message = "Error on call to Winsock2 library function WSAStartup";
  const std::string text = SystemMessageText(static_cast<unsigned long>(rc));
  if (!text.empty()) message += ": " + text;
  return message;
}

void StopLibrary() {
  ::WSACleanup();
}

std::int32_t MapError(int APlatformError) {
  // One status the system hands on as it is reads as "no route to host".
  if (static_cast<unsigned int>(APlatformError) == 0xC000023Du) return IdErr::HostUnreachable;
  return APlatformError;
}

std::int32_t MapResolverError(int AResult) {
  // GetAddrInfoW answers with Winsock numbers (WSAHOST_NOT_FOUND, WSATRY_AGAIN,
  // WSA_NOT_ENOUGH_MEMORY, ...), which are the table's.
  return AResult;
}

Handle Create(int AFamily) {
  // Overlapped, so that the receive and send time-outs take effect; never
  // inherited by a program started later.
  SOCKET s = ::WSASocketW(AFamily, SOCK_STREAM, 0, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET && ::WSAGetLastError() == WSAEINVAL) {
    // A system without the flag: clear the inheritance afterwards.
    s = ::WSASocketW(AFamily, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s != INVALID_SOCKET &&
        !::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0)) {
      const DWORD err = ::GetLastError();
      ::closesocket(s);
      TIdStack::WSSetLastError(static_cast<std::int32_t>(err));
      return kInvalid;
    }
  }
  if (s == INVALID_SOCKET) {
    Failed();
    return kInvalid;
  }
  return static_cast<Handle>(s);
}

void Close(Handle ASocket) {
  ::shutdown(Sock(ASocket), SD_SEND);
  ::closesocket(Sock(ASocket));
}

int GetIntOption(Handle ASocket, int ALevel, int AName, int& AValue) {
  // Some options write fewer bytes than an int (TCP_NODELAY one): start at 0.
  AValue = 0;
  int len = sizeof AValue;
  return ::getsockopt(Sock(ASocket), ALevel, AName, reinterpret_cast<char*>(&AValue), &len) == 0
             ? 0
             : Failed();
}

int SetIntOption(Handle ASocket, int ALevel, int AName, int AValue) {
  return ::setsockopt(Sock(ASocket), ALevel, AName, reinterpret_cast<const char*>(&AValue),
                      sizeof AValue) == 0
             ? 0
             : Failed();
}

void SetIOTimeouts(Handle ASocket, std::int32_t AMSec) {
  const DWORD ms = AMSec > 0 ? static_cast<DWORD>(AMSec) : 0;
  ::setsockopt(Sock(ASocket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms),
               sizeof ms);
  ::setsockopt(Sock(ASocket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms),
               sizeof ms);
}

int Bind(Handle ASocket, const sockaddr* AAddress, socklen_t ALength) {
  return ::bind(Sock(ASocket), AAddress, ALength) == 0 ? 0 : -1;
}

int LocalAddress(Handle ASocket, sockaddr_storage& AAddress) {
  int len = sizeof AAddress;
  return ::getsockname(Sock(ASocket), reinterpret_cast<sockaddr*>(&AAddress), &len) == 0 ? 0 : -1;
}

int PeerAddress(Handle ASocket, sockaddr_storage& AAddress) {
  int len = sizeof AAddress;
  return ::getpeername(Sock(ASocket), reinterpret_cast<sockaddr*>(&AAddress), &len) == 0 ? 0 : -1;
}

int Connect(Handle ASocket, const sockaddr* AAddress, socklen_t ALength) {
  return ::connect(Sock(ASocket), AAddress, ALength) == 0 ? 0 : Failed();
}

int ConnectStart(Handle ASocket, const sockaddr* AAddress, socklen_t ALength) {
  if (!SetNonBlocking(ASocket, true)) return Failed();
  if (::connect(Sock(ASocket), AAddress, ALength) == 0) return 0;
  if (::WSAGetLastError() == WSAEWOULDBLOCK) return 1;
  return Failed();
}

int ConnectWait(Handle ASocket, std::int32_t AMSec) {
  return SelectFor(ASocket, true, AMSec);
}

int ConnectFinish(Handle ASocket, bool AEnded) {
  int err = 0;
  if (AEnded) {
    int len = sizeof err;
    if (::getsockopt(Sock(ASocket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) !=
        0) {
      err = ::WSAGetLastError();
    }
  }
  SetNonBlocking(ASocket, false);
  if (err == 0) return 0;
  TIdStack::WSSetLastError(MapError(err));
  return -1;
}

std::int32_t Receive(Handle ASocket, void* ABuffer, std::int32_t ALength, bool ANoWait,
                     bool& AWouldBlock) {
  return Transfer(ASocket, ANoWait, AWouldBlock,
                  [&] { return ::recv(Sock(ASocket), static_cast<char*>(ABuffer), ALength, 0); });
}

std::int32_t Send(Handle ASocket, const void* ABuffer, std::int32_t ALength, bool ANoWait,
                  bool& AWouldBlock) {
  // Windows raises no signal for a peer that has gone.
  return Transfer(ASocket, ANoWait, AWouldBlock, [&] {
    return ::send(Sock(ASocket), static_cast<const char*>(ABuffer), ALength, 0);
  });
}

int WaitReadable(Handle ASocket, std::int32_t AMSec) {
  return SelectFor(ASocket, false, AMSec);
}

std::string AsciiHostName(const std::string& AHost, std::int32_t& AError) {
  AError = 0;
  bool ascii = true;
  for (unsigned char c : AHost) ascii = ascii && c < 0x80;
  if (ascii) return AHost;
  const std::wstring wide = Wide(AHost);
  if (wide.empty()) {
    AError = IdErr::HostNotFound;  // not UTF-8: no such name can exist
    return std::string();
  }
  const int n = ::IdnToAscii(0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0);
  if (n <= 0) {
    AError = static_cast<std::int32_t>(::GetLastError());
    return std::string();
  }
  std::wstring converted(static_cast<std::size_t>(n), L'\0');
  if (::IdnToAscii(0, wide.c_str(), static_cast<int>(wide.size()), converted.data(), n) != n) {
    AError = static_cast<std::int32_t>(::GetLastError());
    return std::string();
  }
  std::string out;
  for (wchar_t c : converted) {
    if (c == 0 || c >= 0x80) {
      AError = IdErr::HostNotFound;
      return std::string();
    }
    out += static_cast<char>(c);
  }
  return out;
}

std::int32_t Resolve(const std::string& AHost, int AFamily, sockaddr_storage& AAddress) {
  // The international name is converted here on every system version, so the
  // resolver is always asked for the same ASCII name.
  std::int32_t idnError = 0;
  const std::string ascii = AsciiHostName(AHost, idnError);
  if (idnError != 0) return IdErr::HostNotFound;  // a name that cannot exist
  const std::wstring host = Wide(ascii);
  if (host.empty()) return IdErr::HostNotFound;
  ADDRINFOW hints{};
  hints.ai_family = AFamily;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* result = nullptr;
  const int rc = ::GetAddrInfoW(host.c_str(), nullptr, &hints, &result);
  if (rc != 0) return MapResolverError(rc);
  std::int32_t outcome = IdErr::NoData;
  if (result != nullptr && result->ai_addr != nullptr &&
      result->ai_addrlen <= sizeof(sockaddr_storage) &&
      (result->ai_family == AF_INET || result->ai_family == AF_INET6)) {
    AAddress = sockaddr_storage{};
    std::memcpy(&AAddress, result->ai_addr, result->ai_addrlen);
    outcome = 0;
  }
  if (result != nullptr) ::FreeAddrInfoW(result);
  return outcome;
}

}  // namespace vto::sockets
