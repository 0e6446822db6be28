// The exceptions of the connection I/O handler and of the TCP transport.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "net/IdException.h"

namespace vto {

#define VTO_ID_EXCEPTION(Name, Base, DefaultMessage)                 \
  class Name : public Base {                                         \
   public:                                                           \
    Name() : Base(DefaultMessage) {}                                 \
    explicit Name(std::string message) : Base(std::move(message)) {} \
  }

// Buffered connection I/O.
VTO_ID_EXCEPTION(EIdConnClosedGracefully, EIdException, "Connection Closed Gracefully.");
VTO_ID_EXCEPTION(EIdReadTimeout, EIdException, "Read timed out.");
VTO_ID_EXCEPTION(EIdNotConnected, EIdException, "Not Connected");
VTO_ID_EXCEPTION(EIdClosedSocket, EIdException, "Disconnected.");
VTO_ID_EXCEPTION(EIdReadLnMaxLineLengthExceeded, EIdException, "Max line length exceeded.");
VTO_ID_EXCEPTION(EIdIOHandlerStreamDataTooLarge, EIdException, "Data is too large for stream");
VTO_ID_EXCEPTION(EIdIOHandlerRequiresLargeStream, EIdException,
                 "Set LargeStream to True to send streams greater than 2GB");
VTO_ID_EXCEPTION(EIdNoDataToRead, EIdException, "No data to read.");
VTO_ID_EXCEPTION(EIdTooMuchDataInBuffer, EIdException, "Too much data in buffer.");
VTO_ID_EXCEPTION(EIdNotEnoughDataInBuffer, EIdException, "Not enough data in buffer.");

// TCP connect, bind and name resolution.
VTO_ID_EXCEPTION(EIdAlreadyConnected, EIdException, "Already connected.");
VTO_ID_EXCEPTION(EIdHostRequired, EIdException, "A Host is required");
VTO_ID_EXCEPTION(EIdPortRequired, EIdException, "A Port is required");
VTO_ID_EXCEPTION(EIdConnectTimeout, EIdException, "Connect timed out.");
VTO_ID_EXCEPTION(EIdConnectException, EIdException, "Connect failed.");
VTO_ID_EXCEPTION(EIdCouldNotBindSocket, EIdException,
                 "Could not bind socket. Address and port are already in use.");
VTO_ID_EXCEPTION(EIdInvalidPortRange, EIdException, "Invalid Port Range");
VTO_ID_EXCEPTION(EIdCanNotBindPortInRange, EIdException, "Can not bind in port range");
VTO_ID_EXCEPTION(EIdCannotSetIPVersionWhenConnected, EIdException,
                 "Cannot change IPVersion when connected");
VTO_ID_EXCEPTION(EIdIPVersionUnsupported, EIdException,
                 "The requested IPVersion / Address family is not supported.");
VTO_ID_EXCEPTION(EIdStackInitializationFailed, EIdException, "Stack initialization failed.");

#undef VTO_ID_EXCEPTION

// A failing socket call: "Socket Error # %d\r\n%s" with the error number.
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(std::int32_t lastError, std::string message)
      : EIdException(std::move(message)), FLastError(lastError) {}
  std::int32_t LastError() const { return FLastError; }

 private:
  std::int32_t FLastError;
};

// Socket error 10038: the handle is not a socket.
class EIdNotASocket : public EIdSocketError {
 public:
  using EIdSocketError::EIdSocketError;
};

}  // namespace vto
