// zlib adapters and the document stream's Compress and Uncompress.
#include <algorithm>
#include <limits>
#include <vector>

#include "QELStream.h"
#include "ZStreams.h"

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

std::int32_t TZCompressionStream::Write(const void* Buffer, std::int32_t Count) {
  if (FFinished) throw EZCompressionError(Z_STREAM_ERROR, kInvalidOperation);
  if (Count <= 0) return 0;
  FZStream.next_in = static_cast<Bytef*>(const_cast<void*>(Buffer));
  FZStream.avail_in = static_cast<uInt>(Count);
  if (FStream->Position() != FStreamPos) FStream->SetPosition(FStreamPos);
  while (FZStream.avail_in > 0) {
    Check(deflate(&FZStream, Z_NO_FLUSH));
    if (FZStream.avail_out == 0) {
      FStream->WriteBuffer(FBuffer.data(), kBufferSize);
      FZStream.next_out = FBuffer.data();
      FZStream.avail_out = kBufferSize;
      FStreamPos = FStream->Position();
      Progress();
    }
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
      if (FZStream.avail_out == 0) {
        FStream->WriteBuffer(FBuffer.data(), kBufferSize);
        FZStream.next_out = FBuffer.data();
        FZStream.avail_out = kBufferSize;
        FStreamPos = FStream->Position();
        Progress();
      }
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

// ---------------------------------------------------------------- the document stream

void TQELMemoryStream::Compress() {
  TQELMemoryStream d;
  SetPosition(0);
  {
    TZCompressionStream z(d);
    const std::int64_t size = Size();
    try {
      if (size > 0) z.CopyFrom(*this, size);
    } catch (...) {
      // Whatever was compressed by then becomes the content; the error goes on.
      try {
        z.Finish();
      } catch (...) {
      }
      TakeContentOf(d);
      SetPosition(0);
      throw;
    }
    z.Finish();
  }
  TakeContentOf(d);
  SetPosition(0);
}

void TQELMemoryStream::Uncompress() {
  // The first read asks for 16,384 bytes: damage found there means the content
  // is not a zlib stream and stays; damage found later is raised.
  constexpr std::int32_t kFirstPiece = 16384;
  constexpr std::int32_t kPiece = 1 << 20;
  SetPosition(0);
  // A zlib stream begins with a two-byte header: fewer bytes cannot be one, and
  // reading them would give an empty result in place of the content.
  if (FSize < 2) return;
  TQELMemoryStream out;
  {
    // The decompressor reads this stream's own block: nothing changes it
    // before the output is complete. The output is inflated straight into the
    // new block.
    TZDecompressionStream z(*this);
    auto readPiece = [&](std::int32_t want) {
      const std::int64_t room = std::numeric_limits<std::int32_t>::max() - out.FSize;
      if (room <= 0) throw EStreamError("Out of memory while expanding memory stream");
      want = static_cast<std::int32_t>(std::min<std::int64_t>(want, room));
      out.Reserve(static_cast<std::int64_t>(out.FSize) + want);
      std::int32_t n = z.Read(out.FMemory + out.FSize, want);
      if (n > 0) out.FSize += n;
      return n;
    };
    std::int32_t n;
    try {
      n = readPiece(kFirstPiece);
    } catch (...) {
      SetPosition(0);  // not a zlib stream: the content stays
      return;
    }
    try {
      while (n > 0) n = readPiece(kPiece);
    } catch (...) {
      Seek(0, soEnd);
      throw;
    }
  }
  out.FPosition = 0;
  TakeContentOf(out);
  SetPosition(0);
}

}  // namespace vto
