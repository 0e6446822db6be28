#include "net/IdGlobal.h"

#include <chrono>

#include "desktop/TextCodec.h"

namespace vto {

namespace {

class T7BitEncoding : public IIdTextEncoding {
 public:
  std::string GetBytes(std::string_view text) const override { return TextToAscii(text); }
  std::string GetString(std::string_view bytes) const override { return AsciiToText(bytes); }
};

class TUTF8Encoding : public IIdTextEncoding {
 public:
  std::string GetBytes(std::string_view text) const override { return TextToUtf8(text); }
  std::string GetString(std::string_view bytes) const override { return Utf8ToText(bytes); }
};

}  // namespace

TIdTextEncodingRef IdTextEncoding7Bit() {
  static const TIdTextEncodingRef encoding = std::make_shared<T7BitEncoding>();
  return encoding;
}

TIdTextEncodingRef IdTextEncodingUTF8() {
  static const TIdTextEncodingRef encoding = std::make_shared<TUTF8Encoding>();
  return encoding;
}

std::int64_t IdTicks() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace vto
