// The byte buffer under a connection: unread bytes start at a head index, so
// consuming from the front is cheap; the data moves to the front only when
// more than the growth factor has been consumed or room is needed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/IdGlobal.h"
#include "net/IdStack.h"

namespace vto {

class TStream;

class TIdBuffer {
 public:
  static constexpr std::int32_t DefaultGrowthFactor = 2048;

  explicit TIdBuffer(TIdTextEncodingRef ByteEncoding = nullptr);
  ~TIdBuffer();
  TIdBuffer(const TIdBuffer&) = delete;
  TIdBuffer& operator=(const TIdBuffer&) = delete;

  // Number of unread bytes.
  std::int32_t Size() const { return FSize; }
  std::int32_t Capacity() const { return FCapacity; }
  // Offset of the first unread byte in the array.
  std::int32_t HeadIndex() const { return FHeadIndex; }
  std::int32_t GrowthFactor() const { return FGrowthFactor; }
  void SetGrowthFactor(std::int32_t Value) { FGrowthFactor = Value < 0 ? 0 : Value; }
  const TIdTextEncodingRef& ByteEncoding() const { return FByteEncoding; }
  void SetByteEncoding(TIdTextEncodingRef Value) { FByteEncoding = std::move(Value); }
  // The unread bytes (Size() of them).
  const std::uint8_t* Data() const { return FBytes.get() + FHeadIndex; }

  // Appends bytes; more than 2147483647 - Size() raises EIdTooMuchDataInBuffer.
  void Write(const void* Bytes, std::int32_t Count);
  void Write(const TIdBytes& Bytes) { Write(Bytes.data(), ToCount(Bytes.size())); }
  void Write(std::string_view Bytes) { Write(Bytes.data(), ToCount(Bytes.size())); }
  // Appends text turned into bytes (the encoding given, else the buffer's own).
  void WriteText(std::string_view Text, const IIdTextEncoding* Encoding = nullptr);

  // Drops Count bytes from the front (all of them when Count >= Size()).
  void Remove(std::int32_t Count);
  void Clear();

  // Offset from the head of the first occurrence of Bytes at or after AStart,
  // or -1. An empty sequence and a start outside 0..Size()-1 raise.
  std::int32_t IndexOf(std::string_view Bytes, std::int32_t AStart = 0) const;
  std::int32_t IndexOf(const TIdBytes& Bytes, std::int32_t AStart = 0) const;

  // Moves Count bytes (-1: all) into VBytes, appended or at its start; with
  // AIndex >= 0 the bytes are copied from that offset and stay in the buffer.
  void ExtractToBytes(TIdBytes& VBytes, std::int32_t Count = -1, bool AAppend = true,
                      std::int32_t AIndex = -1);
  // Moves Count bytes (all when negative) out, decoded (the encoding given, else
  // the buffer's own, else 7-bit ASCII).
  std::string ExtractToString(std::int32_t Count = -1, const IIdTextEncoding* Encoding = nullptr);
  // Moves Count bytes (-1: all) into the stream at its position.
  void ExtractToStream(TStream* Stream, std::int32_t Count = -1);

  // Called with the number of bytes each removal took away.
  std::function<void(std::int32_t)> OnBytesRemoved;

 private:
  static std::int32_t ToCount(std::size_t n);
  void CheckByteCount(std::int32_t Count) const;
  void MoveToFront();

  TIdStackUser FStackUser;
  std::unique_ptr<std::uint8_t[]> FBytes;
  std::int32_t FCapacity = 0;
  TIdTextEncodingRef FByteEncoding;
  std::int32_t FGrowthFactor = DefaultGrowthFactor;
  std::int32_t FHeadIndex = 0;
  std::int32_t FSize = 0;
};

}  // namespace vto
