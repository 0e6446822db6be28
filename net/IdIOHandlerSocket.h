// The I/O handlers bound to a socket: allocation, bind, resolution, connect,
// and the socket transport primitives.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/IdIOHandler.h"
#include "net/IdStack.h"

namespace vto {

class TIdIOHandlerSocket : public TIdIOHandler {
 public:
  TIdIOHandlerSocket();
  ~TIdIOHandlerSocket() override;

  // The socket handle, made on the first Open (null before).
  TIdSocketHandle* Binding() { return FBinding.get(); }
  bool BindingAllocated() const { return FBinding && FBinding->HandleAllocated(); }

  const std::string& BoundIP() const { return FBoundIP; }
  void SetBoundIP(const std::string& Value) { FBoundIP = Value; }
  std::uint16_t BoundPort() const { return FBoundPort; }
  void SetBoundPort(std::uint16_t Value) { FBoundPort = Value; }
  std::uint16_t BoundPortMax() const { return FBoundPortMax; }
  void SetBoundPortMax(std::uint16_t Value) { FBoundPortMax = Value; }
  std::uint16_t BoundPortMin() const { return FBoundPortMin; }
  void SetBoundPortMin(std::uint16_t Value) { FBoundPortMin = Value; }
  std::uint16_t DefaultPort() const { return FDefaultPort; }
  void SetDefaultPort(std::uint16_t Value) { FDefaultPort = Value; }
  bool UseNagle() const { return FUseNagle; }
  void SetUseNagle(bool Value) { FUseNagle = Value; }
  TIdReuseSocket ReuseSocket() const { return FReuseSocket; }
  void SetReuseSocket(TIdReuseSocket Value) { FReuseSocket = Value; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion Value) { FIPVersion = Value; }
  void SetDestination(const std::string& Value) override;

  std::function<void()> OnBeforeBind;
  std::function<void()> OnAfterBind;
  std::function<void()> OnSocketAllocated;

  // Prepares the socket handle and connects when a host and a port are set.
  void Open() override;
  // Closes the socket, then the handler itself.
  void Close() override;
  bool Connected() override;
  void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = true,
                          bool AIgnoreBuffer = false) override;
  bool Readable(std::int32_t AMSec = IdTimeoutDefault) override;

 protected:
  // Allocates and binds the socket; the stack handler adds resolve and connect.
  virtual void ConnectTransport();

  std::int32_t ReadFromTransport(std::uint8_t* ABuffer, std::int32_t ALength) override;
  // Without a time limit a blocking receive is the wait itself; otherwise what
  // has arrived is taken without waiting.
  bool TryReadFromTransport(std::uint8_t* ABuffer, std::int32_t ALength, std::int32_t ATimeout,
                            std::int32_t& ACount) override;
  std::int32_t WriteToTransport(const TIdBytes& ABuffer, std::int32_t AOffset,
                                std::int32_t ALength) override;
  bool HasTransport() override { return BindingAllocated(); }
  std::int32_t CheckTransportResult(std::int32_t AResult) override;
  [[noreturn]] void RaiseTransportError(std::int32_t AErrorCode) override;

  std::unique_ptr<TIdSocketHandle> FBinding;

 private:
  std::string FBoundIP;
  std::uint16_t FBoundPort = 0;
  std::uint16_t FBoundPortMax = 0;
  std::uint16_t FBoundPortMin = 0;
  std::uint16_t FDefaultPort = 0;
  bool FUseNagle = true;
  TIdReuseSocket FReuseSocket = rsOSDependent;
  TIdIPVersion FIPVersion = Id_IPv4;
};

class TIdIOHandlerStack : public TIdIOHandlerSocket {
 protected:
  // After the bind: resolve the host for the IP version and connect (blocking,
  // or in 125 ms slices when there is a time limit).
  void ConnectTransport() override;
  // The connect's time limit: ConnectTimeout (0: a plain blocking connect).
  virtual std::int32_t ConnectTimeLimit() const { return ConnectTimeout(); }
};

}  // namespace vto
