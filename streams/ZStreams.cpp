// The zlib stream adapters: a compressor that writes into a stream and a
// decompressor that reads from one.
#include <algorithm>
#include <limits>
#include <vector>

#include "streams/ZStreams.h"

namespace vto {

namespace {

const char kInvalidOperation[] = "Invalid ZStream operation!";

int LevelValue(TZCompressionLevel level) {
  switch (level) {
    case zcNone:
      return Z_NO_COMPRESSION;
    case zcFastest:
      return Z_BEST_SPEED;
    case zcMax:
      return Z_BEST_COMPRESSION;
    default:
      return Z_DEFAULT_COMPRESSION;
  }
}

}  // namespace

TCustomZStream::TCustomZStream(TStream& Stream)
    : FStream(&Stream),
      FStreamStartPos(Stream.Position()),
      FStreamPos(FStreamStartPos),
      FBuffer(kBufferSize) {}

// ---------------------------------------------------------------- compressor

TZCompressionStream::TZCompressionStream(TStream& Dest, TZCompressionLevel Level)
    : TCustomZStream(Dest) {
  FZStream.next_out = FBuffer.data();
  FZStream.avail_out = kBufferSize;
  int r = deflateInit2(&FZStream, LevelValue(Level), Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
  if (r != Z_OK) throw EZCompressionError(r, zError(r));
}

TZCompressionStream::~TZCompressionStream() {
  try {
    Finish();
  } catch (...) {
    // An error while finishing cannot leave a destructor; Finish ended zlib.
  }
}

void TZCompressionStream::Check(int code) {
  if (code < 0 && code != Z_BUF_ERROR) throw EZCompressionError(code, zError(code));
}

// The compressor writes whole buffers, and one partial buffer at the end.
void TZCompressionStream::WriteFullBuffer() {
  FStream->WriteBuffer(FBuffer.data(), kBufferSize);
  FZStream.next_out = FBuffer.data();
  FZStream.avail_out = kBufferSize;
  FStreamPos = FStream->Position();
  Progress();
}

std::int32_t TZCompressionStream::Write(const void* Buffer, std::int32_t Count) {
  if (FFinished) throw EZCompressionError(Z_STREAM_ERROR, kInvalidOperation);
  if (Count <= 0) return 0;
  FZStream.next_in = static_cast<Bytef*>(const_cast<void*>(Buffer));
  FZStream.avail_in = static_cast<uInt>(Count);
  if (FStream->Position() != FStreamPos) FStream->SetPosition(FStreamPos);
  while (FZStream.avail_in > 0) {
    Check(deflate(&FZStream, Z_NO_FLUSH));
    if (FZStream.avail_out == 0) WriteFullBuffer();
  }
  FZStream.next_in = nullptr;
  return Count;
}

void TZCompressionStream::Finish() {
  if (FFinished) return;
  FFinished = true;
  try {
    FZStream.next_in = nullptr;
    FZStream.avail_in = 0;
    if (FStream->Position() != FStreamPos) FStream->SetPosition(FStreamPos);
    for (;;) {
      int r = deflate(&FZStream, Z_FINISH);
      Check(r);
      if (FZStream.avail_out == 0) WriteFullBuffer();
      if (r == Z_STREAM_END) break;
    }
    const auto rest = static_cast<std::int32_t>(kBufferSize - FZStream.avail_out);
    if (rest > 0) {
      FStream->WriteBuffer(FBuffer.data(), rest);
      FStreamPos = FStream->Position();
      Progress();
    }
  } catch (...) {
    deflateEnd(&FZStream);
    throw;
  }
  deflateEnd(&FZStream);
}

std::int32_t TZCompressionStream::Read(void*, std::int32_t) {
  throw EZCompressionError(Z_STREAM_ERROR, kInvalidOperation);
}

std::int64_t TZCompressionStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  if (Offset == 0 && Origin == soCurrent) return static_cast<std::int64_t>(FZStream.total_in);
  throw EZCompressionError(Z_STREAM_ERROR, kInvalidOperation);
}

// ---------------------------------------------------------------- decompressor

TZDecompressionStream::TZDecompressionStream(TStream& Source) : TCustomZStream(Source) {
  FZStream.next_in = FBuffer.data();
  FZStream.avail_in = 0;
  int r = inflateInit2(&FZStream, 15);
  if (r != Z_OK) throw EZDecompressionError(r, zError(r));
}

TZDecompressionStream::~TZDecompressionStream() {
  inflateEnd(&FZStream);
  (void)FOwnsStream;  // the source is never owned here
}

void TZDecompressionStream::Check(int code) {
  // A stream that needs a preset dictionary cannot go on without one: that
  // ends the read instead of asking again and again.
  if (code == Z_NEED_DICT) throw EZDecompressionError(code, zError(code));
  if (code < 0 && code != Z_BUF_ERROR) throw EZDecompressionError(code, zError(code));
}

std::int32_t TZDecompressionStream::Read(void* Buffer, std::int32_t Count) {
  if (Count <= 0 || FEnded) return 0;
  FZStream.next_out = static_cast<Bytef*>(Buffer);
  FZStream.avail_out = static_cast<uInt>(Count);
  if (FStream->Position() != FStreamPos) FStream->SetPosition(FStreamPos);
  int r = Z_OK;
  while (FZStream.avail_out > 0 && r != Z_STREAM_END) {
    if (FZStream.avail_in == 0) {
      std::int32_t n = FStream->Read(FBuffer.data(), kBufferSize);
      if (n <= 0) return Count - static_cast<std::int32_t>(FZStream.avail_out);
      FZStream.next_in = FBuffer.data();
      FZStream.avail_in = static_cast<uInt>(n);
      FStreamPos = FStream->Position();
      Progress();
    }
    const uInt inBefore = FZStream.avail_in, outBefore = FZStream.avail_out;
    r = inflate(&FZStream, Z_NO_FLUSH);
    Check(r);
    // With input and output space at hand zlib always moves; guard anyway.
    if (r == Z_BUF_ERROR && FZStream.avail_in == inBefore && FZStream.avail_out == outBefore) break;
  }
  if (r == Z_STREAM_END) {
    FEnded = true;
    if (FZStream.avail_in > 0) {
      FStream->Seek(-static_cast<std::int64_t>(FZStream.avail_in), soCurrent);
      FStreamPos = FStream->Position();
      FZStream.avail_in = 0;
    }
  }
  return Count - static_cast<std::int32_t>(FZStream.avail_out);
}

std::int32_t TZDecompressionStream::Write(const void*, std::int32_t) {
  throw EZDecompressionError(Z_STREAM_ERROR, kInvalidOperation);
}

std::int64_t TZDecompressionStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  if (Offset == 0 && Origin == soCurrent) return static_cast<std::int64_t>(FZStream.total_out);
  throw EZDecompressionError(Z_STREAM_ERROR, kInvalidOperation);
}

}  // namespace vto
