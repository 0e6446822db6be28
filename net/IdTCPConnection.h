// The TCP connection (its I/O handler, connected test, disconnect) and the TCP
// client with its connect sequence.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/IdIOHandlerSocket.h"

namespace vto {

class TIdTCPConnection {
 public:
  TIdTCPConnection();
  virtual ~TIdTCPConnection();
  TIdTCPConnection(const TIdTCPConnection&) = delete;
  TIdTCPConnection& operator=(const TIdTCPConnection&) = delete;

  TIdIOHandler* IOHandler() const { return FIOHandler; }
  // The handler stays its creator's; one the connection made for itself is freed.
  virtual void SetIOHandler(TIdIOHandler* AHandler);
  // The same handler when it is a socket handler, else null.
  TIdIOHandlerSocket* Socket() const { return FSocket; }

  virtual bool Connected();
  virtual void Disconnect(bool ANotifyPeer = true);
  void CheckForGracefulDisconnect(bool ARaiseExceptionIfDisconnected = true);

  std::function<void()> OnDisconnected;

  // Called by a handler that is being destroyed while this connection uses it.
  void IOHandlerDestroyed(TIdIOHandler* AHandler);

 protected:
  // The protocol's goodbye to the peer; nothing for a plain connection.
  virtual void DisconnectNotifyPeer() {}
  void SetManagedIOHandler(std::unique_ptr<TIdIOHandler> AHandler);
  bool ManagedIOHandler() const { return FManagedIOHandler != nullptr; }
  void ReleaseManagedIOHandler();
  void Attach(TIdIOHandler* AHandler);
  void Detach();

 private:
  TIdStackUser FStackUser;
  TIdIOHandler* FIOHandler = nullptr;
  std::unique_ptr<TIdIOHandler> FManagedIOHandler;
  TIdIOHandlerSocket* FSocket = nullptr;
};

class TIdTCPClientCustom : public TIdTCPConnection {
 public:
  TIdTCPClientCustom();
  ~TIdTCPClientCustom() override;

  // Opens the connection: host and port checks, the handler's open (bind,
  // resolution, connect), OnConnected. Any failure leaves the client
  // disconnected with its socket closed.
  virtual void Connect();
  void Connect(const std::string& AHost);
  void Connect(const std::string& AHost, std::uint16_t APort);

  void SetIOHandler(TIdIOHandler* AHandler) override;

  const std::string& BoundIP() const { return FBoundIP; }
  void SetBoundIP(const std::string& Value);
  std::uint16_t BoundPort() const { return FBoundPort; }
  void SetBoundPort(std::uint16_t Value);
  std::uint16_t BoundPortMax() const { return FBoundPortMax; }
  void SetBoundPortMax(std::uint16_t Value);
  std::uint16_t BoundPortMin() const { return FBoundPortMin; }
  void SetBoundPortMin(std::uint16_t Value);
  std::int32_t ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(std::int32_t Value);
  const std::string& Destination() const { return FDestination; }
  void SetDestination(const std::string& Value) { FDestination = Value; }
  const std::string& Host() const { return FHost; }
  void SetHost(const std::string& Value);
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion Value);
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& Value) { FPassword = Value; }
  std::uint16_t Port() const { return FPort; }
  void SetPort(std::uint16_t Value);
  std::int32_t ReadTimeout() const;
  void SetReadTimeout(std::int32_t Value);
  const std::string& Username() const { return FUsername; }
  void SetUsername(const std::string& Value) { FUsername = Value; }
  TIdReuseSocket ReuseSocket() const;
  void SetReuseSocket(TIdReuseSocket Value);
  bool UseNagle() const;
  void SetUseNagle(bool Value);

  std::function<void()> OnConnected;
  std::function<void()> OnBeforeBind;
  std::function<void()> OnAfterBind;
  std::function<void()> OnSocketAllocated;

 private:
  void CopySettingsTo(TIdIOHandler* AHandler);

  std::string FBoundIP;
  std::uint16_t FBoundPort = 0;
  std::uint16_t FBoundPortMax = 0;
  std::uint16_t FBoundPortMin = 0;
  std::int32_t FConnectTimeout = 0;
  std::string FDestination;
  std::string FHost;
  TIdIPVersion FIPVersion = Id_IPv4;
  std::string FPassword;
  std::uint16_t FPort = 0;
  std::int32_t FReadTimeout = IdTimeoutDefault;
  std::string FUsername;
  TIdReuseSocket FReuseSocket = rsOSDependent;
  bool FUseNagle = true;
};

using TIdTCPClient = TIdTCPClientCustom;

}  // namespace vto
