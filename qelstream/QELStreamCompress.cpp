// The document stream's Compress and Uncompress, over the zlib stream adapters.
#include <algorithm>
#include <limits>
#include <vector>

#include "qelstream/QELStream.h"
#include "streams/ZStreams.h"

namespace vto {

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
