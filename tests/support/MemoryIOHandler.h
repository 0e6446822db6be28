// An I/O handler over a scripted in-memory transport: each read takes the next
// step of the script (bytes, or an error number), an empty script is a peer
// that closed, and every byte written is kept. Shared by the transport tests,
// the HTTP client's bound tests and the fuzz target of whole responses.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

#include "net/IdExceptions.h"
#include "net/IdIOHandler.h"
#include "net/IdStack.h"

namespace vto::testing {

// One step of what the transport gives a read: bytes, or a negative result that
// stands for the error number.
struct ReadStep {
  std::string bytes;
  std::int32_t error = 0;
};

class MemoryHandler : public TIdIOHandler {
 public:
  using Script = std::deque<ReadStep>;

  Script reads;                         // what the open connection still gives
  std::deque<Script> connections;       // scripts for the next opens, in order
  bool refuse_unscripted_open = false;  // an open without a script is refused
  std::int32_t opens = 0;
  std::string sent;
  std::int32_t write_chunk = 1 << 30;     // most bytes a single send takes
  std::deque<std::int32_t> write_errors;  // errors (or 0 = closed) for the next sends
  std::int32_t last_error = 0;

  void Open() override {
    if (!connections.empty()) {
      reads = std::move(connections.front());
      connections.pop_front();
    } else if (refuse_unscripted_open) {
      throw EIdSocketError(IdErr::ConnectionRefused, "Socket Error # 10061");
    }
    ++opens;
    transport_closed_ = false;
    TIdIOHandler::Open();
  }
  void CheckForDisconnect(bool ARaiseExceptionIfDisconnected, bool AIgnoreBuffer) override {
    // Like a socket: once the peer has closed, the transport is gone.
    if (FClosedGracefully) transport_closed_ = true;
    const bool gone = FClosedGracefully || !FOpened;
    if (gone && (InputBufferIsEmpty() || AIgnoreBuffer) && ARaiseExceptionIfDisconnected) {
      RaiseConnectionEnded();
    }
  }
  bool Readable(std::int32_t) override { return true; }

 protected:
  std::int32_t ReadFromTransport(std::uint8_t* ABuffer, std::int32_t ALength) override {
    if (reads.empty()) return 0;
    ReadStep& step = reads.front();
    if (step.error != 0) {
      last_error = step.error;
      reads.pop_front();
      return -1;
    }
    const std::size_t n = std::min(step.bytes.size(), static_cast<std::size_t>(ALength));
    std::copy(step.bytes.begin(), step.bytes.begin() + static_cast<std::ptrdiff_t>(n), ABuffer);
    step.bytes.erase(0, n);
    if (step.bytes.empty()) reads.pop_front();
    return static_cast<std::int32_t>(n);
  }
  std::int32_t WriteToTransport(const TIdBytes& ABuffer, std::int32_t AOffset,
                                std::int32_t ALength) override {
    if (!write_errors.empty()) {
      const std::int32_t e = write_errors.front();
      write_errors.pop_front();
      if (e == 0) return 0;
      last_error = e;
      return -1;
    }
    const std::int32_t n = std::min(ALength, write_chunk);
    sent.append(reinterpret_cast<const char*>(ABuffer.data()) + AOffset,
                static_cast<std::size_t>(n));
    return n;
  }
  bool HasTransport() override { return FOpened && !transport_closed_; }
  std::int32_t CheckTransportResult(std::int32_t) override { return last_error; }
  [[noreturn]] void RaiseTransportError(std::int32_t AErrorCode) override {
    throw EIdSocketError(AErrorCode, "Socket Error # " + std::to_string(AErrorCode));
  }

 private:
  bool transport_closed_ = false;
};

}  // namespace vto::testing
