// The connection I/O handler: buffered line, byte and stream reading over a
// transport that descendants supply, write buffering, and the notice of a
// peer that has closed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/AsciiNumbers.h"
#include "net/IdBuffer.h"
#include "net/IdGlobal.h"
#include "net/IdStack.h"

namespace vto {

class TStream;
class TIdTCPConnection;

enum TIdMaxLineAction { maException = 0, maSplit = 1 };
enum TWorkMode { wmRead, wmWrite };

class TIdIOHandler {
 public:
  static constexpr std::int32_t IdMaxLineLengthDefault = 16384;
  static constexpr std::int32_t IdDefaultBufferSize = 32768;

  TIdIOHandler();
  virtual ~TIdIOHandler();
  TIdIOHandler(const TIdIOHandler&) = delete;
  TIdIOHandler& operator=(const TIdIOHandler&) = delete;

  // ---- properties
  bool LargeStream() const { return FLargeStream; }
  void SetLargeStream(bool Value) { FLargeStream = Value; }
  bool ClosedGracefully() const { return FClosedGracefully; }
  // The socket error number that ended the connection (a reset, an abort), or 0
  // while it is open or after an orderly close. Cleared by Open.
  std::int32_t LostByError() const { return FLostByError; }
  // What a read on a connection that has ended raises: the socket error that
  // ended it, else EIdConnClosedGracefully.
  [[noreturn]] void RaiseConnectionEnded() const;
  std::int32_t ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(std::int32_t Value) { FConnectTimeout = Value; }
  virtual std::string Destination() const { return FDestination; }
  virtual void SetDestination(const std::string& Value);
  const std::string& Host() const { return FHost; }
  virtual void SetHost(const std::string& Value) { FHost = Value; }
  TIdBuffer& InputBuffer() { return *FInputBuffer; }
  std::int32_t MaxCapturedLines() const { return FMaxCapturedLines; }
  void SetMaxCapturedLines(std::int32_t Value) { FMaxCapturedLines = Value; }
  TIdMaxLineAction MaxLineAction() const { return FMaxLineAction; }
  void SetMaxLineAction(TIdMaxLineAction Value) { FMaxLineAction = Value; }
  std::int32_t MaxLineLength() const { return FMaxLineLength; }
  void SetMaxLineLength(std::int32_t Value) { FMaxLineLength = Value; }
  bool Opened() const { return FOpened; }
  std::int32_t Port() const { return FPort; }
  virtual void SetPort(std::int32_t Value) { FPort = Value; }
  // True when the last ReadLn gave only the first MaxLineLength bytes (maSplit).
  bool ReadLnSplit() const { return FReadLnSplit; }
  bool ReadLnTimedout() const { return FReadLnTimedOut; }
  std::int32_t ReadTimeout() const { return FReadTimeOut; }
  void SetReadTimeout(std::int32_t Value) { FReadTimeOut = Value; }
  std::int32_t RecvBufferSize() const { return FRecvBufferSize; }
  void SetRecvBufferSize(std::int32_t Value) { FRecvBufferSize = Value > 0 ? Value : 1; }
  std::int32_t SendBufferSize() const { return FSendBufferSize; }
  void SetSendBufferSize(std::int32_t Value) { FSendBufferSize = Value > 0 ? Value : 1; }
  std::int32_t WriteBufferThreshold() const { return FWriteBufferThreshold; }
  const TIdTextEncodingRef& DefStringEncoding() const { return FDefStringEncoding; }
  void SetDefStringEncoding(TIdTextEncodingRef Value);

  // Progress: each removal from the input buffer is read work, each send write work.
  std::function<void(TWorkMode, std::int64_t)> OnWork;

  // ---- connection state
  virtual void Open();
  virtual void Close();
  virtual bool Connected();
  // Notices a closed peer; raises EIdConnClosedGracefully when asked and nothing
  // buffered remains (or the buffer is to be ignored).
  virtual void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = true,
                                  bool AIgnoreBuffer = false) = 0;
  virtual bool CheckForDataOnSource(std::int32_t ATimeout = 0);
  bool InputBufferIsEmpty() const { return FInputBuffer->Size() == 0; }
  // True when a read would not block within the time; the base answers false.
  virtual bool Readable(std::int32_t AMSec = IdTimeoutDefault);

  // ---- reading
  // One line without its terminator (default line feed; a carriage return
  // before a line feed is dropped too). On a time-out ReadLnTimedout() is set
  // and the result is empty, the partial line staying buffered.
  virtual std::string ReadLn(std::string_view ATerminator = "\n",
                             std::int32_t ATimeout = IdTimeoutDefault,
                             std::int32_t AMaxLineLength = -1,
                             const IIdTextEncoding* AEncoding = nullptr);
  std::string ReadLn(const IIdTextEncoding* AEncoding) {
    return ReadLn("\n", IdTimeoutDefault, -1, AEncoding);
  }
  // Exactly AByteCount bytes (all buffered bytes, after at most one read, when
  // negative), appended to VBuffer or put at its start.
  virtual void ReadBytes(TIdBytes& VBuffer, std::int32_t AByteCount, bool AAppend = true);
  // Into AStream (null: dropped), AByteCount bytes or (-1 with the flag) until
  // the peer closes. A stream longer than its final position is cut there.
  virtual void ReadStream(TStream* AStream, std::int64_t AByteCount = -1,
                          bool AReadUntilDisconnect = false);
  void Discard(std::int64_t AByteCount);
  void DiscardAll();
  std::int32_t ReadInt32();
  std::int64_t ReadInt64();

  // ---- writing
  void Write(std::string_view AOut, const IIdTextEncoding* AEncoding = nullptr);
  virtual void Write(const TIdBytes& ABuffer);
  // ASize 0: the whole stream from its start; -1: from the position to the end;
  // otherwise that many bytes from the position.
  void Write(TStream* AStream, std::int64_t ASize = 0, bool AWriteByteCount = false);
  void WriteLn(std::string_view AOut = {}, const IIdTextEncoding* AEncoding = nullptr);
  void WriteInt32(std::int32_t AValue);  // network byte order
  void WriteInt64(std::int64_t AValue);  // network byte order

  void WriteBufferOpen(std::int32_t AThreshold = -1);
  void WriteBufferClose();
  void WriteBufferCancel();
  void WriteBufferClear();
  void WriteBufferFlush(std::int32_t AByteCount = -1);
  bool WriteBufferingActive() const { return FWriteBuffer != nullptr; }

 protected:
  // Destination's assignment: Host is the text before the last ":", and the text
  // after it (at most 255 characters, spaces and tabs around it allowed) becomes
  // Port when it is up to 10 digits standing for at most 2^31-1. Answers how that
  // text read, so that a descendant can supply its own port where it is no
  // number; nothing when the text has no ":" (then only Destination is set).
  std::optional<NumberParse> AssignDestination(const std::string& Value);

  // Transport primitives supplied by descendants.
  // Fill at most ALength bytes of ABuffer: above 0 data, 0 peer closed, below 0
  // an error for CheckTransportResult.
  virtual std::int32_t ReadFromTransport(std::uint8_t* ABuffer, std::int32_t ALength) = 0;
  // Send at most ALength bytes from AOffset; the count taken, 0 closed, below 0 error.
  virtual std::int32_t WriteToTransport(const TIdBytes& ABuffer, std::int32_t AOffset,
                                        std::int32_t ALength) = 0;
  // A read that takes the readability wait upon itself, where the transport
  // can do that exactly: true with the result in ACount when it read (bytes,
  // its end or a failure), false when the caller must first wait with
  // Readable(ATimeout) and then read. The base never reads this way.
  virtual bool TryReadFromTransport(std::uint8_t* ABuffer, std::int32_t ALength,
                                    std::int32_t ATimeout, std::int32_t& ACount) {
    (void)ABuffer;
    (void)ALength;
    (void)ATimeout;
    (void)ACount;
    return false;
  }
  virtual bool HasTransport() = 0;
  // A failed result to an error number (returned) or an exception (raised).
  virtual std::int32_t CheckTransportResult(std::int32_t AResult) = 0;
  [[noreturn]] virtual void RaiseTransportError(std::int32_t AErrorCode) = 0;

  // Reads once (or until data, a close or the time-out) into the input buffer:
  // the bytes added, 0, or -1 for a time-out that does not raise.
  std::int32_t ReadFromSource(bool ARaiseExceptionIfDisconnected = true,
                              std::int32_t ATimeout = IdTimeoutDefault,
                              bool ARaiseExceptionOnTimeout = true);
  // Sends every byte now, bypassing the write buffer.
  void WriteDirect(const TIdBytes& ABuffer, std::int32_t ALength = -1, std::int32_t AOffset = 0);
  std::int32_t EffectiveTimeout(std::int32_t ATimeout) const;
  void WriteRaw(const void* ABuffer, std::int32_t ALength);
  void DoWork(TWorkMode AMode, std::int64_t ACount);

  bool FClosedGracefully = false;
  std::int32_t FLostByError = 0;
  bool FOpened = false;

 private:
  friend class TIdTCPConnection;
  TIdStackUser FStackUser;
  // Connections that use this handler; each forgets it when it is destroyed.
  std::vector<TIdTCPConnection*> FUsers;
  bool FLargeStream = false;
  std::int32_t FConnectTimeout = 0;
  std::string FDestination;
  std::string FHost;
  std::unique_ptr<TIdBuffer> FInputBuffer;
  std::int32_t FMaxCapturedLines = -1;
  TIdMaxLineAction FMaxLineAction = maException;
  std::int32_t FMaxLineLength = IdMaxLineLengthDefault;
  std::int32_t FPort = 0;
  bool FReadLnSplit = false;
  bool FReadLnTimedOut = false;
  std::int32_t FReadTimeOut = IdTimeoutDefault;
  std::int32_t FRecvBufferSize = IdDefaultBufferSize;
  std::int32_t FSendBufferSize = IdDefaultBufferSize;
  std::unique_ptr<TIdBuffer> FWriteBuffer;
  std::int32_t FWriteBufferThreshold = 0;
  TIdTextEncodingRef FDefStringEncoding;
  TIdBytes FRecvBlock;  // the receive array, kept between reads
  // A read whose bytes go straight into a stream (ReadStream with nothing buffered);
  // into a memory stream's own block (room) when it has one.
  struct DirectRead {
    bool active = false;
    TStream* stream = nullptr;
    std::int32_t limit = 0;
    std::int32_t delivered = 0;
    std::uint8_t* room = nullptr;
  } FDirect;
  // The bytes of a receive: to the direct reader first, the rest to the buffer.
  void TakeReceived(std::int32_t ACount);
  // One read from the source; returns the bytes that went into the stream.
  std::int32_t ReadDirect(TStream* AStream, std::int32_t ALimit);
};

}  // namespace vto
