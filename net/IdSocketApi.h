// The platform's sockets as the socket stack and the TLS layer's socket BIO use
// them: a handful of calls, each retrying where the platform interrupts it,
// each recording a failure as the socket error number of the stack's table
// (TIdStack::WSGetLastError) before anything else can disturb it. One source
// file per platform implements them (IdSocketPosix.cpp, IdSocketWin.cpp).
#pragma once

#if defined(_WIN32)
#include "desktop/WinApi.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <string>

namespace vto::sockets {

// A platform socket; kInvalid when there is none.
using Handle = std::intptr_t;
constexpr Handle kInvalid = -1;

// Starts the platform's socket library for the stack: empty on success, else
// the failing step's message. StopLibrary undoes one successful start.
std::string StartLibrary();
void StopLibrary();

#if defined(_WIN32)
// The library's start-up call (WSAStartup asking for the version given, the
// version checked): 0, or the error number it gave. Another can be put in its
// place (null: the real one again); the previous one comes back.
using StartupCall = int (*)(std::uint16_t AVersion);
StartupCall SetStartupCall(StartupCall ACall);

// The host name as the resolver is asked for it: ASCII as it is, an
// international name by IdnToAscii. Empty with AError set when the name
// cannot be converted.
std::string AsciiHostName(const std::string& AHost, std::int32_t& AError);
#endif

// The platform's own error number (errno here) as the table's number; a number
// without a row comes back as it is.
std::int32_t MapError(int APlatformError);
// A resolver result as the table's number (0: success).
std::int32_t MapResolverError(int AResult);

// A stream socket of the family (AF_INET or AF_INET6), not inherited by
// programs started later; kInvalid on failure.
Handle Create(int AFamily);
// Shuts down the sending direction and closes.
void Close(Handle ASocket);

// Integer socket options; 0 on success, -1 on failure (recorded).
int GetIntOption(Handle ASocket, int ALevel, int AName, int& AValue);
int SetIntOption(Handle ASocket, int ALevel, int AName, int AValue);
// The receive and send time-outs, in milliseconds (0: none).
void SetIOTimeouts(Handle ASocket, std::int32_t AMSec);

// 0 on success, -1 on failure (bind: not recorded, the caller has its own text).
int Bind(Handle ASocket, const sockaddr* AAddress, socklen_t ALength);
int LocalAddress(Handle ASocket, sockaddr_storage& AAddress);
int PeerAddress(Handle ASocket, sockaddr_storage& AAddress);

// A blocking connect: 0, or -1 with the error recorded.
int Connect(Handle ASocket, const sockaddr* AAddress, socklen_t ALength);
// A connect that does not wait: 0 connected at once, 1 under way, -1 failed
// (recorded). The socket stays non-blocking until ConnectFinish.
int ConnectStart(Handle ASocket, const sockaddr* AAddress, socklen_t ALength);
// Waits up to AMSec for a started connect: 1 ended (then ConnectFinish tells
// how), 0 still under way, -1 the wait failed (recorded).
int ConnectWait(Handle ASocket, std::int32_t AMSec);
// Makes the socket blocking again and gives the connect's outcome: 0, or -1
// with its error recorded.
int ConnectFinish(Handle ASocket, bool AEnded);

// One receive or send: the count, or -1. With ANoWait the call does not wait:
// nothing to take (or no room) gives -1 with AWouldBlock set and no error
// recorded. A send never raises a signal when the peer has gone.
std::int32_t Receive(Handle ASocket, void* ABuffer, std::int32_t ALength, bool ANoWait,
                     bool& AWouldBlock);
std::int32_t Send(Handle ASocket, const void* ABuffer, std::int32_t ALength, bool ANoWait,
                  bool& AWouldBlock);
// Waits until a receive would not block: 1 readable, 0 the time (below 0: no
// limit) ran out, -1 the wait failed (recorded).
int WaitReadable(Handle ASocket, std::int32_t AMSec);

// The first stream-socket address of the family for the host name (an
// international name by its ASCII form): 0, or the table's error number.
std::int32_t Resolve(const std::string& AHost, int AFamily, sockaddr_storage& AAddress);

}  // namespace vto::sockets
