// Stream adapters over zlib (RFC 1950 streams, 32 KiB window): a compressor
// that deflates what is written to it into a destination stream, and a
// decompressor that inflates what it reads from a source stream.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "streams/Streams.h"

namespace vto {

enum TZCompressionLevel { zcNone, zcFastest, zcDefault, zcMax };

// zlib's own text for the code is the message; the code travels in Code().
class EZLibError : public EStreamError {
 public:
  EZLibError(int code, const std::string& message) : EStreamError(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};
class EZCompressionError : public EZLibError {
 public:
  using EZLibError::EZLibError;
};
class EZDecompressionError : public EZLibError {
 public:
  using EZLibError::EZLibError;
};

class TCustomZStream : public TStream {
 public:
  static constexpr std::int32_t kBufferSize = 65536;
  // Called after each buffer exchanged with the other stream.
  void SetOnProgress(std::function<void()> handler) { FOnProgress = std::move(handler); }

 protected:
  explicit TCustomZStream(TStream& Stream);
  void Progress() {
    if (FOnProgress) FOnProgress();
  }

  TStream* FStream;  // not owned
  std::int64_t FStreamStartPos;
  std::int64_t FStreamPos;
  std::function<void()> FOnProgress;
  z_stream FZStream{};
  std::vector<Bytef> FBuffer;
};

class TZCompressionStream : public TCustomZStream {
 public:
  explicit TZCompressionStream(TStream& Dest, TZCompressionLevel Level = zcDefault);
  // Finishes the zlib stream when Finish was not called; errors are dropped here.
  ~TZCompressionStream() override;

  // Deflates Count bytes; the destination receives whole 65,536-byte buffers.
  std::int32_t Write(const void* Buffer, std::int32_t Count) override;
  // Raise EZCompressionError "Invalid ZStream operation!" (Seek only answers
  // the current position: the bytes taken in so far; so the size cannot be had).
  std::int32_t Read(void* Buffer, std::int32_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;

  // Completes the zlib stream into the destination and ends the compressor;
  // errors reach the caller. Later calls do nothing.
  void Finish();

 private:
  void Check(int code);
  void WriteFullBuffer();
  bool FFinished = false;
};

class TZDecompressionStream : public TCustomZStream {
 public:
  explicit TZDecompressionStream(TStream& Source);
  ~TZDecompressionStream() override;

  // Inflates up to Count bytes; end of input is not an error (the bytes
  // inflated so far are returned). After the end of the zlib stream the source
  // stands right behind it and every read gives 0. A stream that asks for a
  // preset dictionary raises EZDecompressionError "need dictionary".
  std::int32_t Read(void* Buffer, std::int32_t Count) override;
  // Raises EZDecompressionError "Invalid ZStream operation!".
  std::int32_t Write(const void* Buffer, std::int32_t Count) override;
  // Only the current position (bytes given out so far) can be asked for.
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;

 private:
  void Check(int code);
  bool FOwnsStream = false;
  bool FEnded = false;
};

}  // namespace vto
