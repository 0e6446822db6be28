// Types shared by the network classes: byte arrays, text encodings on the
// wire, IP versions, time-out values and a millisecond tick.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vto {

// A byte array as it moves through the connection (NUL allowed).
using TIdBytes = std::vector<std::uint8_t>;

enum TIdIPVersion { Id_IPv4 = 0, Id_IPv6 = 1 };

// Time-outs in milliseconds: -1 takes the default, -2 waits without limit.
constexpr std::int32_t IdTimeoutDefault = -1;
constexpr std::int32_t IdTimeoutInfinite = -2;

// Conversion between text (UTF-8) and the bytes of a connection.
class IIdTextEncoding {
 public:
  virtual ~IIdTextEncoding() = default;
  virtual std::string GetBytes(std::string_view text) const = 0;
  virtual std::string GetString(std::string_view bytes) const = 0;
};
using TIdTextEncodingRef = std::shared_ptr<const IIdTextEncoding>;

// 7-bit ASCII: characters from U+0080 up go out as "?", bytes from 0x80 up come
// in as U+FFFD. The encoding of every line on a connection.
TIdTextEncodingRef IdTextEncoding7Bit();
// UTF-8 in both directions (invalid input bytes become U+FFFD).
TIdTextEncodingRef IdTextEncodingUTF8();

// Monotonic milliseconds.
std::int64_t IdTicks();

}  // namespace vto
