// A loopback test server that plays a script on each connection it accepts:
// exact byte sequences out, byte counts or markers in, pauses, stalls until
// released, and an orderly close, a close without TLS close notification, or
// a reset. Plain TCP or TLS (certificate and key files given). Listens on
// 127.0.0.1 or [::1] only.
//
//   ScriptedServer server;
//   server.Send("HTTP/1.1 200 OK\r\n").Close();
//   server.Start();
//   ... connect to 127.0.0.1:server.Port() ...
//   server.Join();
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vto::testing {

class ScriptedServer {
 public:
  struct Options {
    bool ipv6 = false;      // listen on [::1] instead of 127.0.0.1
    bool tls = false;       // run TLS on every connection
    std::string certFile;   // PEM, for TLS
    std::string keyFile;    // PEM, for TLS
    int tlsMinVersion = 0;  // e.g. TLS1_2_VERSION; 0: library default
    int tlsMaxVersion = 0;
    int ioTimeoutMs = 10000;  // a script step that waits longer fails
  };

  ScriptedServer();
  explicit ScriptedServer(Options options);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::uint16_t Port() const { return port_; }

  // ---- script steps, for the current connection
  ScriptedServer& Send(std::string bytes);
  // Bytes straight onto the socket, past any TLS session (e.g. a torn record).
  ScriptedServer& SendRaw(std::string bytes);
  // Runs the TLS handshake now, on a connection that began plain
  // (NoHandshake()); the steps after it go through TLS.
  ScriptedServer& StartTls();
  // Reads exactly count bytes.
  ScriptedServer& Expect(std::size_t count);
  // Reads until the bytes received on this connection end with marker.
  ScriptedServer& ExpectUntil(std::string marker);
  // Reads until the client closes its side (or resets).
  ScriptedServer& ExpectEnd();
  ScriptedServer& Pause(int milliseconds);
  // Waits until Release() is called (or the server is destroyed).
  ScriptedServer& Stall();
  // TLS: close notification, then the TCP close. Plain: the TCP close.
  ScriptedServer& Close();
  // TLS: the TCP close without a close notification.
  ScriptedServer& CloseWithoutNotify();
  // Aborts the connection: the client sees a reset.
  ScriptedServer& Reset();
  // This connection stays plain TCP even on a TLS server (the client's
  // handshake bytes arrive as they are), e.g. to close in mid-handshake.
  ScriptedServer& NoHandshake();
  // The steps that follow belong to the next accepted connection.
  ScriptedServer& NextConnection();

  // Accepts the connections in a thread and plays their scripts.
  void Start();
  // Lets the oldest waiting Stall() go on.
  void Release();
  // Waits until every script has ended.
  void Join();

  // After Join(): all bytes received (all connections), the server name the
  // TLS client sent, the TLS version text, and a script failure (empty if none).
  std::string Received();
  std::string ServerName();
  std::string Protocol();
  std::string Error();

 private:
  struct Step {
    enum Kind {
      kSend,
      kSendRaw,
      kStartTls,
      kExpect,
      kExpectUntil,
      kExpectEnd,
      kPause,
      kStall,
      kClose,
      kCloseNoNotify,
      kReset
    } kind;
    std::string bytes;
    std::size_t count = 0;
  };
  struct Script {
    bool handshake = true;
    std::vector<Step> steps;
  };

  ScriptedServer& Add(Step step);
  void Run();
  void PlayConnection(std::intptr_t fd, const Script& script);
  void Fail(const std::string& message);

  Options options_;
  std::intptr_t listener_ = -1;
  std::uint16_t port_ = 0;
  std::vector<Script> scripts_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable released_;
  int releases_ = 0;
  bool stopping_ = false;
  std::string received_;
  std::string serverName_;
  std::string protocol_;
  std::string error_;
  void* context_ = nullptr;  // SSL_CTX*
};

}  // namespace vto::testing
