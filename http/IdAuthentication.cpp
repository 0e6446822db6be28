#include "http/IdAuthentication.h"

#include <mutex>
#include <utility>
#include <vector>

#include "desktop/TextCodec.h"
#include "http/IdText.h"
#include "qelstream/QELStream.h"

namespace vto {

using namespace http_text;

std::string TextToCharsetBytes(std::string_view AText, std::string_view ACharset) {
  const std::string_view cs = TrimView(ACharset);
  if (SameTextAscii(cs, "utf-8") || SameTextAscii(cs, "utf8")) {
    // Text is UTF-8 already; an invalid byte stands for itself.
    return std::string(AText);
  }
  if (SameTextAscii(cs, "us-ascii") || SameTextAscii(cs, "ascii")) return TextToAscii(AText);
  if (SameTextAscii(cs, "iso-8859-1") || SameTextAscii(cs, "latin1") ||
      SameTextAscii(cs, "iso8859-1"))
    return TextToAnsi(AText);
  std::string out;
  out.reserve(AText.size());
  std::size_t i = 0;
  while (i < AText.size()) {
    char32_t cp;
    if (!DecodeUtf8(AText, i, cp)) cp = static_cast<unsigned char>(AText[i++]);
    out.push_back(static_cast<char>(cp & 0xFF));
  }
  return out;
}

TIdAuthentication::TIdAuthentication() {
  // The list never wraps (HTTP quoting), so folding would only cut the trailing
  // blanks of a value: a password keeps them.
  FParams.SetFoldLines(false);
}

std::string TIdAuthentication::ParamText(std::string_view AName) const {
  const std::int32_t i = FParams.IndexOfName(AName);
  if (i < 0) return {};
  const std::string_view line = FParams.Strings(i);
  const std::string_view rest = line.substr(AName.size());
  const std::string& sep = FParams.NameValueSeparator();
  if (rest.substr(0, sep.size()) == sep) return std::string(rest.substr(sep.size()));
  return FParams.ValueFromIndex(i);
}
TIdAuthentication::~TIdAuthentication() = default;

void TIdAuthentication::SetUsername(std::string_view AValue) {
  FParams.SetValues("Username", AValue);
}

void TIdAuthentication::SetPassword(std::string_view AValue) {
  FParams.SetValues("Password", AValue);
}

TIdAuthWhatsNext TIdAuthentication::Next() {
  const TIdAuthWhatsNext result = DoNext();
  if (result == wnDoRequest) ++FCurrentStep;
  return result;
}

void TIdAuthentication::SetRequest(std::string_view, std::string_view) {}

TIdBasicAuthentication::TIdBasicAuthentication() = default;

std::string TIdBasicAuthentication::Authentication() {
  return "Basic " + EncodeBase64(TextToCharsetBytes(Username() + ":" + Password(), FCharset));
}

TIdAuthWhatsNext TIdBasicAuthentication::DoNext() {
  // The first Basic challenge: its parameters, realm and character set.
  for (std::int32_t i = 0; i < FAuthParams.Count(); ++i) {
    std::string_view line = FAuthParams.Strings(i);
    if (!StartsWithAsciiNoCase(line, "Basic")) continue;
    FetchView(line, " ");
    std::string realm, charset[4];
    static constexpr const char* kCharsetNames[4] = {"charset", "accept-charset", "encoding",
                                                     "enc"};
    while (!line.empty()) {
      std::string_view item = FetchView(line, ", ");
      std::string_view name = FetchView(item, "=");
      std::string value(TrimView(item));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
      name = TrimView(name);
      FParams.AddValue(name, value);
      if (SameTextAscii(name, "realm")) realm = value;
      for (int k = 0; k < 4; ++k)
        if (SameTextAscii(name, kCharsetNames[k]) && charset[k].empty()) charset[k] = value;
    }
    FRealm = realm;
    FCharset = "ISO-8859-1";
    for (const auto& c : charset)
      if (!c.empty()) {
        FCharset = c;
        break;
      }
    break;
  }
  if (FCurrentStep == 0) return Username().empty() ? wnAskTheProgram : wnDoRequest;
  return wnFail;
}

namespace {

struct AuthRegistry {
  std::mutex lock;
  std::vector<std::pair<std::string, TIdAuthenticationClass>> schemes{
      {"Basic", []() -> std::unique_ptr<TIdAuthentication> {
         return std::make_unique<TIdBasicAuthentication>();
       }}};
};

AuthRegistry& Registry() {
  static AuthRegistry registry;
  return registry;
}

}  // namespace

void RegisterAuthenticationMethod(std::string_view AMethodName, TIdAuthenticationClass AClass) {
  if (AMethodName.empty() || AClass == nullptr) return;
  AuthRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.lock);
  for (auto& entry : r.schemes)
    if (SameTextAscii(entry.first, AMethodName)) {
      entry.second = AClass;
      return;
    }
  r.schemes.emplace_back(std::string(AMethodName), AClass);
}

void UnregisterAuthenticationMethod(std::string_view AMethodName) {
  AuthRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.lock);
  std::erase_if(r.schemes,
                [&](const auto& entry) { return SameTextAscii(entry.first, AMethodName); });
}

TIdAuthenticationClass FindAuthClass(std::string_view AAuthName) {
  AuthRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.lock);
  for (const auto& entry : r.schemes)
    if (SameTextAscii(entry.first, AAuthName)) return entry.second;
  return nullptr;
}

}  // namespace vto
