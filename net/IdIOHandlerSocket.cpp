#include "net/IdIOHandlerSocket.h"

#include "net/IdExceptions.h"

namespace vto {

TIdIOHandlerSocket::TIdIOHandlerSocket() = default;

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
  if (FBinding) FBinding->CloseSocket();
}

void TIdIOHandlerSocket::SetDestination(const std::string& Value) {
  // A port text that is no number gives the default port; one too large for a
  // port leaves the port as it was.
  if (AssignDestination(Value) == NumberParse::kNotANumber) SetPort(FDefaultPort);
}

void TIdIOHandlerSocket::Open() {
  TIdIOHandler::Open();
  if (!FBinding) {
    FBinding = std::make_unique<TIdSocketHandle>();
  } else {
    FBinding->CloseSocket();
    FBinding->Reset();
  }
  FBinding->SetClientPortMin(FBoundPortMin);
  FBinding->SetClientPortMax(FBoundPortMax);
  if (!Host().empty() && Port() > 0) ConnectTransport();
}

void TIdIOHandlerSocket::Close() {
  if (FBinding) FBinding->CloseSocket();
  TIdIOHandler::Close();
}

void TIdIOHandlerSocket::ConnectTransport() {
  if (OnBeforeBind) OnBeforeBind();
  FBinding->SetIPVersion(FIPVersion);
  FBinding->AllocateSocket();
  if (OnSocketAllocated) OnSocketAllocated();
  if (!FBoundIP.empty()) FBinding->SetIP(FBoundIP);
  FBinding->SetPort(FBoundPort);
  FBinding->SetClientPortMin(FBoundPortMin);
  FBinding->SetClientPortMax(FBoundPortMax);
  FBinding->SetReuseSocket(FReuseSocket);
  FBinding->Bind();
  FBinding->SetUseNagle(FUseNagle);
  FBinding->ApplyNagle();
  if (OnAfterBind) OnAfterBind();
}

void TIdIOHandlerStack::ConnectTransport() {
  TIdIOHandlerSocket::ConnectTransport();
  std::string address;
  if (IPVersion() == Id_IPv6) {
    address = MakeCanonicalIPv6Address(Host());
    if (address.empty()) address = TIdStack::ResolveHost(Host(), Id_IPv6);
  } else {
    address = TIdStack::IsIP(Host()) ? Host() : TIdStack::ResolveHost(Host(), Id_IPv4);
  }
  FBinding->SetPeer(address, static_cast<std::uint16_t>(Port()), IPVersion());
  const std::int32_t limit = ConnectTimeLimit();
  if (limit == 0) {
    FBinding->Connect();
  } else {
    FBinding->ConnectWithTimeout(limit);
  }
}

bool TIdIOHandlerSocket::Connected() {
  try {
    ReadFromSource(false, 0, false);
  } catch (const EIdException&) {
    // A failing read only tells that the connection is gone.
  }
  CheckForDisconnect(false);
  return !InputBufferIsEmpty() || (BindingAllocated() && FOpened && !FClosedGracefully);
}

void TIdIOHandlerSocket::CheckForDisconnect(bool ARaiseExceptionIfDisconnected,
                                            bool AIgnoreBuffer) {
  bool disconnected;
  if (FClosedGracefully) {
    if (BindingAllocated()) FBinding->CloseSocket();
    disconnected = true;
  } else {
    disconnected = !BindingAllocated();
  }
  if (disconnected && (InputBufferIsEmpty() || AIgnoreBuffer) && ARaiseExceptionIfDisconnected) {
    RaiseConnectionEnded();
  }
}

bool TIdIOHandlerSocket::Readable(std::int32_t AMSec) {
  if (AMSec == IdTimeoutDefault) AMSec = IdTimeoutInfinite;
  if (!BindingAllocated()) throw EIdConnClosedGracefully();
  return FBinding->Readable(AMSec);
}

std::int32_t TIdIOHandlerSocket::ReadFromTransport(std::uint8_t* ABuffer, std::int32_t ALength) {
  return FBinding->Receive(ABuffer, ALength);
}

bool TIdIOHandlerSocket::TryReadFromTransport(std::uint8_t* ABuffer, std::int32_t ALength,
                                              std::int32_t ATimeout, std::int32_t& ACount) {
  if (ATimeout == IdTimeoutInfinite) {
    ACount = FBinding->Receive(ABuffer, ALength);
    return true;
  }
  return FBinding->TryReceive(ABuffer, ALength, ACount);
}

std::int32_t TIdIOHandlerSocket::WriteToTransport(const TIdBytes& ABuffer, std::int32_t AOffset,
                                                  std::int32_t ALength) {
  return FBinding->Send(ABuffer.data() + AOffset, ALength);
}

std::int32_t TIdIOHandlerSocket::CheckTransportResult(std::int32_t AResult) {
  return TIdStack::CheckForSocketError(AResult, {IdErr::Shutdown, IdErr::ConnectionAborted,
                                                 IdErr::ConnectionReset, IdErr::TimedOut});
}

void TIdIOHandlerSocket::RaiseTransportError(std::int32_t AErrorCode) {
  TIdStack::RaiseSocketError(AErrorCode);
}

}  // namespace vto
