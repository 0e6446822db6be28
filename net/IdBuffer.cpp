#include "net/IdBuffer.h"

#include <cstring>
#include <limits>

#include "net/IdExceptions.h"
#include "streams/Streams.h"

namespace vto {

namespace {
constexpr std::int32_t kMaxBytes = std::numeric_limits<std::int32_t>::max();
}

TIdBuffer::TIdBuffer(TIdTextEncodingRef ByteEncoding) : FByteEncoding(std::move(ByteEncoding)) {}

TIdBuffer::~TIdBuffer() = default;

std::int32_t TIdBuffer::ToCount(std::size_t n) {
  if (n > static_cast<std::size_t>(kMaxBytes)) throw EIdTooMuchDataInBuffer();
  return static_cast<std::int32_t>(n);
}

void TIdBuffer::MoveToFront() {
  if (FHeadIndex == 0) return;
  if (FSize > 0) std::memmove(FBytes.get(), FBytes.get() + FHeadIndex, FSize);
  FHeadIndex = 0;
}

void TIdBuffer::Write(const void* Bytes, std::int32_t Count) {
  if (Count <= 0) return;
  if (Count > kMaxBytes - FSize) throw EIdTooMuchDataInBuffer();
  if (FSize == 0) {
    // An empty buffer takes a copy of exactly these bytes.
    FBytes = std::make_unique_for_overwrite<std::uint8_t[]>(Count);
    std::memcpy(FBytes.get(), Bytes, Count);
    FCapacity = Count;
    FHeadIndex = 0;
    FSize = Count;
    return;
  }
  MoveToFront();
  if (FCapacity - FSize < Count) {
    std::int64_t wanted = static_cast<std::int64_t>(FSize) + Count + FGrowthFactor;
    std::int32_t capacity = wanted > kMaxBytes ? kMaxBytes : static_cast<std::int32_t>(wanted);
    auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    std::memcpy(grown.get(), FBytes.get(), FSize);
    FBytes = std::move(grown);
    FCapacity = capacity;
  }
  std::memcpy(FBytes.get() + FSize, Bytes, Count);
  FSize += Count;
}

void TIdBuffer::WriteText(std::string_view Text, const IIdTextEncoding* Encoding) {
  if (Encoding == nullptr) Encoding = FByteEncoding ? FByteEncoding.get() : nullptr;
  if (Encoding == nullptr) Encoding = IdTextEncoding7Bit().get();
  Write(Encoding->GetBytes(Text));
}

void TIdBuffer::Remove(std::int32_t Count) {
  if (Count <= 0) return;
  if (Count >= FSize) {
    Clear();
  } else {
    FHeadIndex += Count;
    FSize -= Count;
    if (FHeadIndex > FGrowthFactor) {
      MoveToFront();
      if (FCapacity - FSize > FGrowthFactor) {
        std::int32_t capacity = FSize + FGrowthFactor;
        auto shrunk = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
        std::memcpy(shrunk.get(), FBytes.get(), FSize);
        FBytes = std::move(shrunk);
        FCapacity = capacity;
      }
    }
  }
  if (OnBytesRemoved) OnBytesRemoved(Count);
}

void TIdBuffer::Clear() {
  FBytes.reset();
  FCapacity = 0;
  FHeadIndex = 0;
  FSize = 0;
}

std::int32_t TIdBuffer::IndexOf(const TIdBytes& Bytes, std::int32_t AStart) const {
  return IndexOf(std::string_view(reinterpret_cast<const char*>(Bytes.data()), Bytes.size()),
                 AStart);
}

std::int32_t TIdBuffer::IndexOf(std::string_view Bytes, std::int32_t AStart) const {
  if (Bytes.empty()) throw EIdException("Buffer terminator must be specified.");
  if (FSize == 0) return -1;
  if (AStart < 0 || AStart >= FSize) throw EIdException("Buffer start position is invalid.");
  const char* base = reinterpret_cast<const char*>(Data());
  std::string_view haystack(base, FSize);
  std::size_t at = haystack.find(Bytes, AStart);
  return at == std::string_view::npos ? -1 : static_cast<std::int32_t>(at);
}

void TIdBuffer::CheckByteCount(std::int32_t Count) const {
  if (Count > FSize) {
    throw EIdNotEnoughDataInBuffer("Not enough data in buffer. (" + std::to_string(Count) + "/" +
                                   std::to_string(FSize) + ")");
  }
}

void TIdBuffer::ExtractToBytes(TIdBytes& VBytes, std::int32_t Count, bool AAppend,
                               std::int32_t AIndex) {
  if (Count < 0) Count = AIndex >= 0 ? (AIndex < FSize ? FSize - AIndex : 0) : FSize;
  if (Count == 0) return;
  std::int32_t from = 0;
  if (AIndex >= 0) {
    if (AIndex >= FSize || Count > FSize - AIndex) {
      throw EIdNotEnoughDataInBuffer("Not enough data in buffer. (" + std::to_string(Count) + "/" +
                                     std::to_string(FSize) + ")");
    }
    from = AIndex;
  } else {
    CheckByteCount(Count);
  }
  std::size_t at = 0;
  if (AAppend) {
    at = VBytes.size();
    VBytes.resize(at + Count);
  } else if (VBytes.size() < static_cast<std::size_t>(Count)) {
    VBytes.resize(Count);  // grown, never shrunk
  }
  std::memcpy(VBytes.data() + at, Data() + from, Count);
  if (AIndex < 0) Remove(Count);
}

std::string TIdBuffer::ExtractToString(std::int32_t Count, const IIdTextEncoding* Encoding) {
  if (Count < 0) Count = FSize;
  if (Count < 1) return std::string();
  CheckByteCount(Count);
  if (Encoding == nullptr) Encoding = FByteEncoding ? FByteEncoding.get() : nullptr;
  if (Encoding == nullptr) Encoding = IdTextEncoding7Bit().get();
  std::string text =
      Encoding->GetString(std::string_view(reinterpret_cast<const char*>(Data()), Count));
  Remove(Count);
  return text;
}

void TIdBuffer::ExtractToStream(TStream* Stream, std::int32_t Count) {
  if (Count < 0) Count = FSize;
  if (Count == 0) return;
  CheckByteCount(Count);
  // The unread bytes are contiguous from the head, so they go out as they lie.
  if (Stream != nullptr) Stream->WriteBuffer(Data(), Count);
  Remove(Count);
}

}  // namespace vto
