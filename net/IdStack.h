// The process-wide socket stack (usage count, name resolution, the socket error
// numbers and their texts) and the socket handle that wraps one platform socket.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>

#include "net/IdGlobal.h"

namespace vto {

enum TIdReuseSocket { rsOSDependent, rsTrue, rsFalse };

// The socket error numbers of the stack's table, used on every platform (the
// numbers Windows Sockets gives; other platforms' errors are mapped to them).
namespace IdErr {
constexpr std::int32_t OutOfMemory = 8;
constexpr std::int32_t Interrupted = 10004;
constexpr std::int32_t BadFile = 10009;
constexpr std::int32_t AccessDenied = 10013;
constexpr std::int32_t Fault = 10014;
constexpr std::int32_t InvalidArgument = 10022;
constexpr std::int32_t TooManyFiles = 10024;
constexpr std::int32_t WouldBlock = 10035;
constexpr std::int32_t InProgress = 10036;
constexpr std::int32_t Already = 10037;
constexpr std::int32_t NotASocket = 10038;
constexpr std::int32_t DestinationRequired = 10039;
constexpr std::int32_t MessageSize = 10040;
constexpr std::int32_t ProtocolType = 10041;
constexpr std::int32_t NoProtocolOption = 10042;
constexpr std::int32_t ProtocolNotSupported = 10043;
constexpr std::int32_t SocketTypeNotSupported = 10044;
constexpr std::int32_t OperationNotSupported = 10045;
constexpr std::int32_t ProtocolFamilyNotSupported = 10046;
constexpr std::int32_t AddressFamilyNotSupported = 10047;
constexpr std::int32_t AddressInUse = 10048;
constexpr std::int32_t AddressNotAvailable = 10049;
constexpr std::int32_t NetworkDown = 10050;
constexpr std::int32_t NetworkUnreachable = 10051;
constexpr std::int32_t NetworkReset = 10052;
constexpr std::int32_t ConnectionAborted = 10053;
constexpr std::int32_t ConnectionReset = 10054;
constexpr std::int32_t NoBufferSpace = 10055;
constexpr std::int32_t IsConnected = 10056;
constexpr std::int32_t NotConnected = 10057;
constexpr std::int32_t Shutdown = 10058;
constexpr std::int32_t TooManyReferences = 10059;
constexpr std::int32_t TimedOut = 10060;
constexpr std::int32_t ConnectionRefused = 10061;
constexpr std::int32_t Loop = 10062;
constexpr std::int32_t NameTooLong = 10063;
constexpr std::int32_t HostDown = 10064;
constexpr std::int32_t HostUnreachable = 10065;
constexpr std::int32_t NotEmpty = 10066;
constexpr std::int32_t TypeNotFound = 10109;
constexpr std::int32_t HostNotFound = 11001;
constexpr std::int32_t TryAgain = 11002;
constexpr std::int32_t NoRecovery = 11003;
constexpr std::int32_t NoData = 11004;
}  // namespace IdErr

class TIdStack {
 public:
  // Every network object counts itself in while it exists; the first makes the
  // stack, the last releases it. Both run under one process-wide lock.
  static void IncUsage();
  static void DecUsage();
  static std::int32_t UsageCount();

  // Host to address text. Version 4: "LOCALHOST" (any case) is "127.0.0.1", a
  // dotted IPv4 text stays as it is. Version 6: "LOCALHOST" is "::1", an IPv6
  // literal becomes its canonical form. Anything else goes to the resolver,
  // for the one family asked; names under "invalid." never exist.
  static std::string ResolveHost(const std::string& AHost, TIdIPVersion AIPVersion);
  // Dotted IPv4: four decimal pieces 0..255, blanks around a piece allowed.
  static bool IsIP(std::string_view AIP);

  // The last socket error number of this thread (the platform's error mapped
  // to the numbers above), kept apart from errno so later calls cannot
  // disturb it.
  static std::int32_t WSGetLastError();
  static void WSSetLastError(std::int32_t AErr);

  // "Socket Error # %d\r\n%s"; 10038 raises EIdNotASocket.
  [[noreturn]] static void RaiseSocketError(std::int32_t AErr);
  static std::string WSTranslateSocketErrorMsg(std::int32_t AErr);
  // -1 raises the socket error of the last error; other results come back.
  static std::int32_t CheckForSocketError(std::int32_t AResult);
  // As above, but the numbers listed come back as the result instead of raising.
  static std::int32_t CheckForSocketError(std::int32_t AResult,
                                          std::initializer_list<std::int32_t> AIgnore);
};

// Holds one count on the stack for as long as it lives.
class TIdStackUser {
 public:
  TIdStackUser() { TIdStack::IncUsage(); }
  TIdStackUser(const TIdStackUser&) { TIdStack::IncUsage(); }
  TIdStackUser& operator=(const TIdStackUser&) = default;
  ~TIdStackUser() { TIdStack::DecUsage(); }
};

// Canonical form of an IPv6 literal (eight upper-case groups without leading
// zeros, an IPv4 tail as two four-digit groups), or empty when the text is not
// one.
std::string MakeCanonicalIPv6Address(std::string_view AAddr);
bool IsValidIPv6(std::string_view AAddr);

// One platform socket with its local and peer addresses.
class TIdSocketHandle {
 public:
  TIdSocketHandle() = default;
  ~TIdSocketHandle();
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  // Closes any previous socket, resets, and makes a stream socket of the IP
  // version. Raises the socket error on failure.
  void AllocateSocket();
  // Shuts down sending, closes, marks the handle invalid. Twice does nothing.
  void CloseSocket();
  bool HandleAllocated() const { return FHandleAllocated; }
  std::intptr_t Handle() const { return FHandle; }
  // Clears the addresses and the version (the handle must not be allocated).
  void Reset();

  // SO_REUSEADDR, then the port range or the one bind; reads back the address.
  void Bind();
  // TCP_NODELAY written only when UseNagle differs from the socket's state.
  void ApplyNagle();
  // Blocking connect to PeerIP:PeerPort; raises the socket error on failure.
  void Connect();
  // Connect in slices of at most 125 ms; EIdConnectTimeout when the time (-2:
  // none) runs out, after closing the socket.
  void ConnectWithTimeout(std::int32_t ATimeout);

  // One receive / one send; -1 on failure with the last socket error recorded.
  std::int32_t Receive(void* ABuffer, std::int32_t ALength);
  std::int32_t Send(const void* ABuffer, std::int32_t ALength);
  // A receive that does not wait: false when nothing has arrived yet;
  // otherwise true with the count (-1 on failure, the error recorded).
  bool TryReceive(void* ABuffer, std::int32_t ALength, std::int32_t& ACount);
  // True when a read would not block within the time (-1 and -2: no limit).
  bool Readable(std::int32_t AMSec);
  // Socket-level receive and send time-outs (0: none).
  void SetIOTimeouts(std::int32_t AMSec);

  const std::string& IP() const { return FIP; }
  std::uint16_t Port() const { return FPort; }
  void SetIP(const std::string& Value) { FIP = Value; }
  void SetPort(std::uint16_t Value) { FPort = Value; }
  const std::string& PeerIP() const { return FPeerIP; }
  std::uint16_t PeerPort() const { return FPeerPort; }
  void SetPeer(const std::string& AIP, std::uint16_t APort, TIdIPVersion AIPVersion);
  std::uint16_t ClientPortMin() const { return FClientPortMin; }
  std::uint16_t ClientPortMax() const { return FClientPortMax; }
  void SetClientPortMin(std::uint16_t Value) { FClientPortMin = Value; }
  void SetClientPortMax(std::uint16_t Value) { FClientPortMax = Value; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  // Raises EIdCannotSetIPVersionWhenConnected while allocated with another version.
  void SetIPVersion(TIdIPVersion Value);
  bool UseNagle() const { return FUseNagle; }
  void SetUseNagle(bool Value) { FUseNagle = Value; }
  TIdReuseSocket ReuseSocket() const { return FReuseSocket; }
  void SetReuseSocket(TIdReuseSocket Value) { FReuseSocket = Value; }
  std::int32_t SocketType() const { return FSocketType; }

 private:
  void UpdateLocal();
  void UpdatePeer();
  bool TryBind(const std::string& AIP, std::uint16_t APort);

  std::uint16_t FClientPortMin = 0;
  std::uint16_t FClientPortMax = 0;
  std::intptr_t FHandle = -1;
  bool FHandleAllocated = false;
  std::string FIP;
  std::uint16_t FPort = 0;
  std::string FPeerIP;
  std::uint16_t FPeerPort = 0;
  std::int32_t FSocketType = 0;
  TIdIPVersion FIPVersion = Id_IPv4;
  std::mutex FConnectionHandle;
  bool FUseNagle = true;
  TIdReuseSocket FReuseSocket = rsOSDependent;
};

}  // namespace vto
