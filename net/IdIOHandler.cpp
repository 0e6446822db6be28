#include "net/IdIOHandler.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "net/IdExceptions.h"
#include "net/IdTCPConnection.h"
#include "streams/Streams.h"

namespace vto {

namespace {

bool IsEndOfConnection(const EIdSocketError& e) {
  return e.LastError() == IdErr::ConnectionAborted || e.LastError() == IdErr::ConnectionReset ||
         e.LastError() == IdErr::Shutdown;
}

}  // namespace

TIdIOHandler::TIdIOHandler()
    : FInputBuffer(std::make_unique<TIdBuffer>()), FDefStringEncoding(IdTextEncoding7Bit()) {
  FInputBuffer->OnBytesRemoved = [this](std::int32_t count) { DoWork(wmRead, count); };
}

TIdIOHandler::~TIdIOHandler() {
  // A connection must not keep a handler that is gone.
  std::vector<TIdTCPConnection*> users;
  users.swap(FUsers);
  for (TIdTCPConnection* user : users) user->IOHandlerDestroyed(this);
}

void TIdIOHandler::SetDefStringEncoding(TIdTextEncodingRef Value) {
  FDefStringEncoding = Value ? std::move(Value) : IdTextEncoding7Bit();
}

void TIdIOHandler::SetDestination(const std::string& Value) {
  AssignDestination(Value);
}

std::optional<NumberParse> TIdIOHandler::AssignDestination(const std::string& Value) {
  FDestination = Value;
  const std::size_t colon = Value.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  FHost = Value.substr(0, colon);
  const std::string_view portText =
      TrimWhere(std::string_view(Value).substr(colon + 1, 255), IsSpaceOrTab);
  std::uint64_t port = 0;
  const NumberParse read = ParseUnsigned(
      portText, {.Base = 10, .MaxDigits = 10, .MaxValue = std::numeric_limits<std::int32_t>::max()},
      port);
  if (read == NumberParse::kNumber) SetPort(static_cast<std::int32_t>(port));
  return read;
}

void TIdIOHandler::DoWork(TWorkMode AMode, std::int64_t ACount) {
  if (OnWork) OnWork(AMode, ACount);
}

// ---------------------------------------------------------------- state

void TIdIOHandler::Open() {
  FOpened = false;
  FClosedGracefully = false;
  FLostByError = 0;
  if (FWriteBuffer) FWriteBuffer->Clear();
  FInputBuffer->Clear();
  FOpened = true;
}

void TIdIOHandler::Close() {
  FOpened = false;
  if (FWriteBuffer) FWriteBuffer->Clear();  // dropped, never sent
}

void TIdIOHandler::RaiseConnectionEnded() const {
  // A connection lost by error is no end of the data: the caller must not take
  // what arrived for all there was.
  if (FLostByError != 0) TIdStack::RaiseSocketError(FLostByError);
  throw EIdConnClosedGracefully();
}

bool TIdIOHandler::Connected() {
  return FOpened;
}

bool TIdIOHandler::Readable(std::int32_t) {
  return false;
}

bool TIdIOHandler::CheckForDataOnSource(std::int32_t ATimeout) {
  std::int32_t before = FInputBuffer->Size();
  if (!Connected()) return false;
  if (FInputBuffer->Size() > before) return true;
  try {
    return ReadFromSource(false, ATimeout, false) > 0;
  } catch (const EIdException&) {
    return false;  // a failing read only tells that nothing can come
  }
}

std::int32_t TIdIOHandler::EffectiveTimeout(std::int32_t ATimeout) const {
  if (ATimeout == IdTimeoutDefault) {
    return (FReadTimeOut == IdTimeoutDefault || FReadTimeOut == 0) ? IdTimeoutInfinite
                                                                   : FReadTimeOut;
  }
  return ATimeout;
}

// ---------------------------------------------------------------- reading

std::int32_t TIdIOHandler::ReadFromSource(bool ARaiseExceptionIfDisconnected, std::int32_t ATimeout,
                                          bool ARaiseExceptionOnTimeout) {
  ATimeout = EffectiveTimeout(ATimeout);
  CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
  if (!HasTransport()) {
    if (ARaiseExceptionIfDisconnected) throw EIdNotConnected();
    return 0;
  }
  while (true) {
    if (FRecvBlock.size() != static_cast<std::size_t>(FRecvBufferSize)) {
      FRecvBlock.assign(static_cast<std::size_t>(FRecvBufferSize), 0);
    }
    // A direct read into a memory stream receives into the stream's block.
    std::uint8_t* target = FRecvBlock.data();
    auto length = static_cast<std::int32_t>(FRecvBlock.size());
    if (FDirect.active && FDirect.room != nullptr) {
      target = FDirect.room;
      length = FDirect.limit;
    }
    std::int32_t count = 0;
    bool readDone =
        FOpened && HasTransport() && TryReadFromTransport(target, length, ATimeout, count);
    if (!readDone && !Readable(ATimeout)) {
      if (ARaiseExceptionOnTimeout) throw EIdReadTimeout();
      return -1;
    }
    if (readDone) {
      if (count > 0) TakeReceived(count);
    } else if (FOpened && HasTransport()) {
      count = ReadFromTransport(target, length);
      if (count > 0) TakeReceived(count);
    } else if (FOpened) {
      if (ARaiseExceptionIfDisconnected) throw EIdClosedSocket();
    } else if (ARaiseExceptionIfDisconnected) {
      throw EIdNotConnected();
    }
    if (count < 0) {
      std::int32_t err = CheckTransportResult(count);
      if (err == IdErr::TimedOut) {
        if (ARaiseExceptionOnTimeout) throw EIdReadTimeout();
        return -1;
      }
      FClosedGracefully = true;
      if (err != 0) FLostByError = err;
      Close();
      if (FInputBuffer->Size() == 0 && ARaiseExceptionIfDisconnected) RaiseTransportError(err);
      count = 0;
    } else if (count == 0) {
      FClosedGracefully = true;
    }
    CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
    if (count != 0) return count;
    if (!HasTransport()) return 0;
  }
}

void TIdIOHandler::TakeReceived(std::int32_t ACount) {
  const std::uint8_t* bytes = FRecvBlock.data();
  if (FDirect.active) {
    FDirect.active = false;
    std::int32_t n = std::min(ACount, FDirect.limit);
    if (FDirect.room != nullptr)
      FDirect.stream->CommitWrite(n);  // received in place
    else if (FDirect.stream != nullptr)
      FDirect.stream->WriteBuffer(bytes, n);
    FDirect.delivered = n;
    DoWork(wmRead, n);
    bytes += n;
    ACount -= n;
  }
  if (ACount > 0) FInputBuffer->Write(bytes, ACount);
}

std::int32_t TIdIOHandler::ReadDirect(TStream* AStream, std::int32_t ALimit) {
  // A stream that gives room receives without a copy.
  std::uint8_t* room =
      AStream != nullptr ? reinterpret_cast<std::uint8_t*>(AStream->WriteRoom(ALimit)) : nullptr;
  FDirect = DirectRead{true, AStream, ALimit, 0, room};
  struct Off {
    DirectRead& d;
    ~Off() { d.active = false; }
  } off{FDirect};
  ReadFromSource(false, IdTimeoutDefault, true);
  return FDirect.delivered;
}

std::string TIdIOHandler::ReadLn(std::string_view ATerminator, std::int32_t ATimeout,
                                 std::int32_t AMaxLineLength, const IIdTextEncoding* AEncoding) {
  if (AEncoding == nullptr) AEncoding = FDefStringEncoding.get();
  if (AMaxLineLength < 0) AMaxLineLength = FMaxLineLength;
  if (ATerminator.empty()) ATerminator = "\n";
  const bool lineFeed = ATerminator == "\n";
  const std::string terminator = AEncoding->GetBytes(ATerminator);
  const std::int32_t termLen = static_cast<std::int32_t>(terminator.size());
  FReadLnSplit = false;
  FReadLnTimedOut = false;
  const std::int32_t timeout = EffectiveTimeout(ATimeout);
  const std::int64_t start = IdTicks();
  std::int32_t searchPos = 0;
  while (true) {
    std::int32_t found = -1;
    const std::int32_t size = FInputBuffer->Size();
    if (size > 0) {
      if (searchPos < size) found = FInputBuffer->IndexOf(terminator, searchPos);
      searchPos = std::max(0, size - termLen + 1);
    }
    if (AMaxLineLength > 0 &&
        (found > AMaxLineLength || (found < 0 && searchPos > AMaxLineLength))) {
      if (FMaxLineAction == maException) throw EIdReadLnMaxLineLengthExceeded();
      FReadLnSplit = true;
      return FInputBuffer->ExtractToString(AMaxLineLength, AEncoding);
    }
    if (found < 0) {
      // A closed peer raises even when unterminated bytes remain.
      CheckForDisconnect(true, true);
      std::int32_t got = ReadFromSource(true, timeout, false);
      if (got == -1 || (timeout >= 0 && IdTicks() - start >= timeout)) {
        FReadLnTimedOut = true;
        return std::string();
      }
      continue;
    }
    std::int32_t lineLen = found;
    if (lineFeed && found > 0 && FInputBuffer->Data()[found - 1] == '\r') --lineLen;
    std::string line = FInputBuffer->ExtractToString(lineLen, AEncoding);
    FInputBuffer->Remove(found - lineLen + termLen);
    return line;
  }
}

void TIdIOHandler::ReadBytes(TIdBytes& VBuffer, std::int32_t AByteCount, bool AAppend) {
  if (AByteCount > 0) {
    while (FInputBuffer->Size() < AByteCount) {
      ReadFromSource(false, IdTimeoutDefault, true);
      if (FInputBuffer->Size() < AByteCount) CheckForDisconnect(true, true);
    }
    FInputBuffer->ExtractToBytes(VBuffer, AByteCount, AAppend);
  } else if (AByteCount < 0) {
    if (FInputBuffer->Size() == 0) {
      ReadFromSource(false, FReadTimeOut, false);
      CheckForDisconnect(true, true);
    }
    FInputBuffer->ExtractToBytes(VBuffer, -1, AAppend);
  }
}

std::int32_t TIdIOHandler::ReadInt32() {
  TIdBytes bytes;
  ReadBytes(bytes, 4, false);
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = v << 8 | bytes[i];
  return static_cast<std::int32_t>(v);
}

std::int64_t TIdIOHandler::ReadInt64() {
  TIdBytes bytes;
  ReadBytes(bytes, 8, false);
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | bytes[i];
  return static_cast<std::int64_t>(v);
}

void TIdIOHandler::ReadStream(TStream* AStream, std::int64_t AByteCount,
                              bool AReadUntilDisconnect) {
  if (AByteCount == -1 && !AReadUntilDisconnect) {
    AByteCount = FLargeStream ? ReadInt64() : ReadInt32();
  }
  if (AStream != nullptr && AByteCount >= 0) {
    std::int64_t pos = AStream->Position();
    if (pos < 0 || AByteCount > std::numeric_limits<std::int64_t>::max() - pos) {
      throw EIdIOHandlerStreamDataTooLarge();
    }
    AStream->SetSize(pos + AByteCount);
    AStream->SetPosition(pos);
  }
  if (AByteCount < 0) AReadUntilDisconnect = true;

  // Whatever happens, a presized stream keeps no stale tail.
  struct TailCut {
    TStream* stream;
    ~TailCut() noexcept(false) {
      if (stream == nullptr) return;
      std::int64_t pos = stream->Position();
      if (stream->Size() > pos) {
        if (std::uncaught_exceptions() > 0) {
          try {
            stream->SetSize(pos);
          } catch (...) {
          }
        } else {
          stream->SetSize(pos);
        }
      }
    }
  } cut{AStream};

  std::int64_t remaining = AByteCount;
  {
    std::int32_t buffered = FInputBuffer->Size();
    std::int32_t take = buffered;
    if (!AReadUntilDisconnect && remaining < take) take = static_cast<std::int32_t>(remaining);
    if (take > 0) {
      FInputBuffer->ExtractToStream(AStream, take);
      if (!AReadUntilDisconnect) remaining -= take;
    }
  }
  const std::int32_t block = FRecvBufferSize;
  while (true) {
    std::int32_t want = block;
    if (!AReadUntilDisconnect) {
      if (remaining < want) want = static_cast<std::int32_t>(remaining);
      if (want <= 0) break;
    }
    try {
      if (FInputBuffer->Size() == 0) {
        // Nothing buffered: what the next read brings goes straight into the
        // stream (at most what this round wants; any more stays buffered).
        std::int32_t delivered = ReadDirect(AStream, want);
        if (delivered > 0) {
          if (!AReadUntilDisconnect) remaining -= delivered;
          continue;
        }
        if (FInputBuffer->Size() < want) CheckForDisconnect(true, true);
        continue;
      }
      // The bytes go from the input buffer into the stream.
      while (FInputBuffer->Size() < want) {
        ReadFromSource(false, IdTimeoutDefault, true);
        if (FInputBuffer->Size() < want) CheckForDisconnect(true, true);
      }
    } catch (const EIdConnClosedGracefully&) {
      FInputBuffer->ExtractToStream(AStream, std::min(FInputBuffer->Size(), want));
      if (AReadUntilDisconnect) break;
      throw;
    } catch (const EIdSocketError& e) {
      FInputBuffer->ExtractToStream(AStream, std::min(FInputBuffer->Size(), want));
      if (AReadUntilDisconnect && IsEndOfConnection(e)) break;
      throw;
    } catch (...) {
      FInputBuffer->ExtractToStream(AStream, std::min(FInputBuffer->Size(), want));
      throw;
    }
    FInputBuffer->ExtractToStream(AStream, want);
    if (!AReadUntilDisconnect) remaining -= want;
  }
}

void TIdIOHandler::Discard(std::int64_t AByteCount) {
  if (AByteCount > 0) ReadStream(nullptr, AByteCount, false);
}

void TIdIOHandler::DiscardAll() {
  ReadStream(nullptr, -1, true);
}

// ---------------------------------------------------------------- writing

void TIdIOHandler::Write(std::string_view AOut, const IIdTextEncoding* AEncoding) {
  if (AOut.empty()) return;
  if (AEncoding == nullptr) AEncoding = FDefStringEncoding.get();
  std::string bytes = AEncoding->GetBytes(AOut);
  WriteRaw(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

void TIdIOHandler::WriteLn(std::string_view AOut, const IIdTextEncoding* AEncoding) {
  if (AEncoding == nullptr) AEncoding = FDefStringEncoding.get();
  std::string bytes = AEncoding->GetBytes(AOut);
  bytes += "\r\n";
  WriteRaw(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

void TIdIOHandler::WriteRaw(const void* ABuffer, std::int32_t ALength) {
  if (ALength <= 0) return;
  const auto* p = static_cast<const std::uint8_t*>(ABuffer);
  Write(TIdBytes(p, p + ALength));
}

void TIdIOHandler::Write(const TIdBytes& ABuffer) {
  if (ABuffer.empty()) return;
  if (FWriteBuffer) {
    FWriteBuffer->Write(ABuffer);
    if (FWriteBufferThreshold > 0) {
      while (FWriteBuffer && FWriteBuffer->Size() >= FWriteBufferThreshold) {
        WriteBufferFlush(FWriteBufferThreshold);
      }
    }
  } else {
    WriteDirect(ABuffer);
  }
}

void TIdIOHandler::WriteDirect(const TIdBytes& ABuffer, std::int32_t ALength,
                               std::int32_t AOffset) {
  if (ALength < 0) ALength = static_cast<std::int32_t>(ABuffer.size()) - AOffset;
  if (AOffset < 0 || ALength <= 0 ||
      static_cast<std::size_t>(AOffset) + static_cast<std::size_t>(ALength) > ABuffer.size()) {
    return;
  }
  CheckForDisconnect(true, true);
  while (ALength > 0) {
    // A transport that went away under a partial write cannot take the rest.
    if (!HasTransport()) throw EIdClosedSocket();
    std::int32_t sent = WriteToTransport(ABuffer, AOffset, ALength);
    if (sent < 0) {
      std::int32_t err = CheckTransportResult(sent);
      if (err != IdErr::TimedOut) {
        FClosedGracefully = true;
        Close();
      }
      RaiseTransportError(err);
    }
    if (sent == 0) {
      FClosedGracefully = true;
    } else {
      if (sent > ALength) sent = ALength;
      AOffset += sent;
      ALength -= sent;
    }
    CheckForDisconnect(true, false);
    DoWork(wmWrite, sent);
  }
}

void TIdIOHandler::WriteInt32(std::int32_t AValue) {
  std::uint8_t b[4];
  auto v = static_cast<std::uint32_t>(AValue);
  for (int i = 3; i >= 0; --i, v >>= 8) b[i] = static_cast<std::uint8_t>(v & 0xFF);
  WriteRaw(b, 4);
}

void TIdIOHandler::WriteInt64(std::int64_t AValue) {
  std::uint8_t b[8];
  auto v = static_cast<std::uint64_t>(AValue);
  for (int i = 7; i >= 0; --i, v >>= 8) b[i] = static_cast<std::uint8_t>(v & 0xFF);
  WriteRaw(b, 8);
}

void TIdIOHandler::Write(TStream* AStream, std::int64_t ASize, bool AWriteByteCount) {
  if (AStream == nullptr) return;
  if (ASize < 0) {
    ASize = AStream->Size() - AStream->Position();
  } else if (ASize == 0) {
    AStream->SetPosition(0);
    ASize = AStream->Size();
  }
  if (ASize < 0) ASize = 0;
  if (AWriteByteCount) {
    if (FLargeStream) {
      WriteInt64(ASize);
    } else {
      if (ASize > std::numeric_limits<std::int32_t>::max()) {
        throw EIdIOHandlerRequiresLargeStream();
      }
      WriteInt32(static_cast<std::int32_t>(ASize));
    }
  }
  TIdBytes block;
  while (ASize > 0) {
    std::int32_t want = static_cast<std::int32_t>(std::min<std::int64_t>(FSendBufferSize, ASize));
    block.resize(static_cast<std::size_t>(want));
    std::int32_t got = AStream->Read(block.data(), want);
    if (got <= 0) throw EIdNoDataToRead();
    if (got < want) block.resize(static_cast<std::size_t>(got));
    Write(block);
    ASize -= got;
  }
}

void TIdIOHandler::WriteBufferOpen(std::int32_t AThreshold) {
  if (FWriteBuffer) {
    FWriteBuffer->Clear();
  } else {
    FWriteBuffer = std::make_unique<TIdBuffer>();
  }
  FWriteBufferThreshold = AThreshold;
}

void TIdIOHandler::WriteBufferFlush(std::int32_t AByteCount) {
  if (!FWriteBuffer || FWriteBuffer->Size() == 0) return;
  TIdBytes bytes;
  if (AByteCount < 0 || AByteCount > FWriteBuffer->Size()) AByteCount = FWriteBuffer->Size();
  FWriteBuffer->ExtractToBytes(bytes, AByteCount);
  WriteDirect(bytes);
}

void TIdIOHandler::WriteBufferClose() {
  try {
    WriteBufferFlush();
  } catch (...) {
    FWriteBuffer.reset();
    throw;
  }
  FWriteBuffer.reset();
}

void TIdIOHandler::WriteBufferCancel() {
  WriteBufferClear();
  FWriteBuffer.reset();
}

void TIdIOHandler::WriteBufferClear() {
  if (FWriteBuffer) FWriteBuffer->Clear();
}

}  // namespace vto
