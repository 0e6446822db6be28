#include "net/IdTCPConnection.h"

#include <algorithm>

#include "net/IdExceptions.h"

namespace vto {

// ---------------------------------------------------------------- connection

TIdTCPConnection::TIdTCPConnection() = default;

TIdTCPConnection::~TIdTCPConnection() {
  if (FIOHandler != nullptr) {
    try {
      FIOHandler->Close();
    } catch (...) {
    }
  }
  Detach();
  FManagedIOHandler.reset();
}

void TIdTCPConnection::Attach(TIdIOHandler* AHandler) {
  FIOHandler = AHandler;
  FSocket = dynamic_cast<TIdIOHandlerSocket*>(AHandler);
  if (AHandler != nullptr) AHandler->FUsers.push_back(this);
}

void TIdTCPConnection::Detach() {
  if (FIOHandler != nullptr) {
    auto& users = FIOHandler->FUsers;
    users.erase(std::remove(users.begin(), users.end(), this), users.end());
  }
  FIOHandler = nullptr;
  FSocket = nullptr;
}

void TIdTCPConnection::IOHandlerDestroyed(TIdIOHandler* AHandler) {
  if (FIOHandler != AHandler) return;
  FIOHandler = nullptr;  // the handler is already leaving: no Detach
  FSocket = nullptr;
  if (FManagedIOHandler.get() == AHandler) (void)FManagedIOHandler.release();
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* AHandler) {
  if (AHandler == FIOHandler) return;
  Detach();
  if (FManagedIOHandler && FManagedIOHandler.get() != AHandler) FManagedIOHandler.reset();
  Attach(AHandler);
}

void TIdTCPConnection::SetManagedIOHandler(std::unique_ptr<TIdIOHandler> AHandler) {
  TIdIOHandler* raw = AHandler.get();
  SetIOHandler(raw);
  FManagedIOHandler = std::move(AHandler);
}

void TIdTCPConnection::ReleaseManagedIOHandler() {
  if (!FManagedIOHandler) return;
  if (FIOHandler == FManagedIOHandler.get()) Detach();
  FManagedIOHandler.reset();
}

bool TIdTCPConnection::Connected() {
  return FIOHandler != nullptr && FIOHandler->Connected();
}

void TIdTCPConnection::Disconnect(bool ANotifyPeer) {
  if (ANotifyPeer && Connected()) {
    try {
      DisconnectNotifyPeer();
    } catch (...) {
      // the goodbye is a courtesy; its failure changes nothing
    }
  }
  if (FIOHandler != nullptr && FIOHandler->Opened()) {
    FIOHandler->Close();
    if (OnDisconnected) OnDisconnected();
  }
}

void TIdTCPConnection::CheckForGracefulDisconnect(bool ARaiseExceptionIfDisconnected) {
  if (FIOHandler != nullptr) {
    FIOHandler->CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
  } else if (ARaiseExceptionIfDisconnected) {
    throw EIdException("Not Connected");
  }
}

// ---------------------------------------------------------------- client

TIdTCPClientCustom::TIdTCPClientCustom() = default;
TIdTCPClientCustom::~TIdTCPClientCustom() = default;

void TIdTCPClientCustom::CopySettingsTo(TIdIOHandler* AHandler) {
  if (AHandler == nullptr) return;
  if (!FDestination.empty()) AHandler->SetDestination(FDestination);
  AHandler->SetPort(FPort);
  AHandler->SetHost(FHost);
  AHandler->SetConnectTimeout(FConnectTimeout);
  AHandler->SetReadTimeout(FReadTimeout);
  if (auto* socket = dynamic_cast<TIdIOHandlerSocket*>(AHandler)) {
    socket->SetBoundIP(FBoundIP);
    socket->SetBoundPort(FBoundPort);
    socket->SetBoundPortMin(FBoundPortMin);
    socket->SetBoundPortMax(FBoundPortMax);
    socket->SetIPVersion(FIPVersion);
    socket->SetReuseSocket(FReuseSocket);
    socket->SetUseNagle(FUseNagle);
    socket->OnBeforeBind = OnBeforeBind;
    socket->OnAfterBind = OnAfterBind;
    socket->OnSocketAllocated = OnSocketAllocated;
  }
}

void TIdTCPClientCustom::SetIOHandler(TIdIOHandler* AHandler) {
  TIdTCPConnection::SetIOHandler(AHandler);
  CopySettingsTo(AHandler);
}

void TIdTCPClientCustom::Connect(const std::string& AHost) {
  SetHost(AHost);
  Connect();
}

void TIdTCPClientCustom::Connect(const std::string& AHost, std::uint16_t APort) {
  SetHost(AHost);
  SetPort(APort);
  Connect();
}

void TIdTCPClientCustom::Connect() {
  if (Connected()) throw EIdAlreadyConnected();
  if (FHost.empty()) throw EIdHostRequired();
  if (FPort == 0) throw EIdPortRequired();
  bool madeHere = false;
  if (IOHandler() == nullptr) {
    SetManagedIOHandler(std::make_unique<TIdIOHandlerStack>());
    madeHere = true;
  }
  TIdIOHandler* handler = IOHandler();
  try {
    CopySettingsTo(handler);
    handler->Open();
    if (OnConnected) OnConnected();
  } catch (...) {
    try {
      handler->Close();
    } catch (...) {
    }
    if (madeHere) ReleaseManagedIOHandler();
    throw;
  }
}

void TIdTCPClientCustom::SetBoundIP(const std::string& Value) {
  FBoundIP = Value;
  if (Socket() != nullptr) Socket()->SetBoundIP(Value);
}
void TIdTCPClientCustom::SetBoundPort(std::uint16_t Value) {
  FBoundPort = Value;
  if (Socket() != nullptr) Socket()->SetBoundPort(Value);
}
void TIdTCPClientCustom::SetBoundPortMax(std::uint16_t Value) {
  FBoundPortMax = Value;
  if (Socket() != nullptr) Socket()->SetBoundPortMax(Value);
}
void TIdTCPClientCustom::SetBoundPortMin(std::uint16_t Value) {
  FBoundPortMin = Value;
  if (Socket() != nullptr) Socket()->SetBoundPortMin(Value);
}
void TIdTCPClientCustom::SetConnectTimeout(std::int32_t Value) {
  FConnectTimeout = Value;
  if (IOHandler() != nullptr) IOHandler()->SetConnectTimeout(Value);
}
void TIdTCPClientCustom::SetHost(const std::string& Value) {
  FHost = Value;
  if (IOHandler() != nullptr) IOHandler()->SetHost(Value);
}
void TIdTCPClientCustom::SetIPVersion(TIdIPVersion Value) {
  FIPVersion = Value;
  if (Socket() != nullptr) Socket()->SetIPVersion(Value);
}
void TIdTCPClientCustom::SetPort(std::uint16_t Value) {
  FPort = Value;
  if (IOHandler() != nullptr) IOHandler()->SetPort(Value);
}
std::int32_t TIdTCPClientCustom::ReadTimeout() const {
  return IOHandler() != nullptr ? IOHandler()->ReadTimeout() : FReadTimeout;
}
void TIdTCPClientCustom::SetReadTimeout(std::int32_t Value) {
  FReadTimeout = Value;
  if (IOHandler() != nullptr) IOHandler()->SetReadTimeout(Value);
}
TIdReuseSocket TIdTCPClientCustom::ReuseSocket() const {
  return Socket() != nullptr ? Socket()->ReuseSocket() : FReuseSocket;
}
void TIdTCPClientCustom::SetReuseSocket(TIdReuseSocket Value) {
  FReuseSocket = Value;
  if (Socket() != nullptr) Socket()->SetReuseSocket(Value);
}
bool TIdTCPClientCustom::UseNagle() const {
  return Socket() != nullptr ? Socket()->UseNagle() : FUseNagle;
}
void TIdTCPClientCustom::SetUseNagle(bool Value) {
  FUseNagle = Value;
  if (Socket() != nullptr) Socket()->SetUseNagle(Value);
}

}  // namespace vto
