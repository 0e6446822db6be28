#include "net/IdURI.h"

#include <algorithm>

#include "desktop/AsciiNumbers.h"
#include "desktop/TextCodec.h"

namespace vto {

namespace {

constexpr auto npos = std::string::npos;

// Cuts T at the first D: returns the text before it and leaves T with what follows;
// without D the whole of T is returned and T becomes empty.
std::string Fetch(std::string& T, std::string_view D) {
  const std::size_t p = T.find(D);
  std::string piece;
  if (p == npos) {
    piece.swap(T);
  } else {
    piece = T.substr(0, p);
    T.erase(0, p + D.size());
  }
  return piece;
}

// Query and fragment of a text that is being split: both come off the end of W.
void SplitQueryAndFragment(std::string& W, std::string& params, std::string& bookmark) {
  const std::size_t q = W.find('?');
  if (q != npos) {
    params = W.substr(q + 1);
    W.erase(q);
    const std::size_t h = params.find('#');
    if (h != npos) {
      bookmark = params.substr(h + 1);
      params.erase(h);
    }
  } else {
    const std::size_t h = W.find('#');
    if (h != npos) {
      bookmark = W.substr(h + 1);
      W.erase(h);
    }
  }
}

[[noreturn]] void RaiseBadSequence(std::string_view s, std::size_t i) {
  // An invalid UTF-8 sequence stands where a UTF-16 text would hold an unpaired
  // surrogate: a stray continuation byte, or the encoded form of a low surrogate,
  // is a low surrogate without its high half; anything else is a high surrogate
  // without its low half.
  const auto b0 = static_cast<unsigned char>(s[i]);
  bool low = (b0 & 0xC0) == 0x80;
  if (b0 == 0xED && i + 1 < s.size()) {
    const auto b1 = static_cast<unsigned char>(s[i + 1]);
    low = b1 >= 0xB0 && b1 <= 0xBF;
  }
  const std::string index = std::to_string(i);
  if (low)
    throw EArgumentOutOfRangeException(
        "Low surrogate char without a preceding high surrogate char at index: " + index +
        ". Check that the string is encoded properly");
  throw EArgumentOutOfRangeException(
      "High surrogate char without a following low surrogate char at index: " + index +
      ". Check that the string is encoded properly");
}

void AppendPercent(std::string& out, unsigned char b) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.push_back('%');
  out.push_back(kHex[b >> 4]);
  out.push_back(kHex[b & 15]);
}

std::string Encode(std::string_view ASrc, std::string_view unsafe, const IIdTextEncoding* enc) {
  std::string out;
  out.reserve(ASrc.size());
  std::size_t i = 0;
  while (i < ASrc.size()) {
    const auto c = static_cast<unsigned char>(ASrc[i]);
    if (c >= 0x21 && c <= 0x7F && unsafe.find(static_cast<char>(c)) == npos) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    const std::size_t start = i;
    char32_t cp;
    if (!DecodeUtf8(ASrc, i, cp)) RaiseBadSequence(ASrc, i);
    const std::string_view ch = ASrc.substr(start, i - start);
    if (enc == nullptr) {
      for (char b : ch) AppendPercent(out, static_cast<unsigned char>(b));
    } else {
      for (char b : enc->GetBytes(ch)) AppendPercent(out, static_cast<unsigned char>(b));
    }
  }
  return out;
}

constexpr std::string_view kPathUnsafe = "*<>#%\"{}|\\^[]`+";
constexpr std::string_view kParamsUnsafe = "*<>#%\"{}|\\^[]`";

// Reads up to n hexadecimal digits of s from i (fewer where s ends); false when a
// character is not one.
bool ReadHex(std::string_view s, std::size_t i, std::size_t n, std::uint32_t& value) {
  if (i >= s.size()) return false;
  std::uint64_t v = 0;
  if (ParseUnsigned(s.substr(i, n), {.Base = 16, .MaxDigits = n}, v) != NumberParse::kNumber)
    return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace

TIdURI::TIdURI(std::string_view AURI) {
  if (!AURI.empty()) SetURI(AURI);
}

void TIdURI::NormalizePath(std::string& APath) {
  std::size_t i = 0;
  const std::size_t colon = APath.find(':');
  if (colon != npos) {
    i = colon + 1;
    auto sep = [](char c) { return c == '/' || c == '\\'; };
    if (i + 1 < APath.size() && sep(APath[i]) && sep(APath[i + 1])) i += 2;
  }
  for (; i < APath.size(); ++i) {
    const char c = APath[i];
    if (c == '?' || c == '#') break;
    if (c == '\\') APath[i] = '/';
  }
}

void TIdURI::SetURI(std::string_view AValue) {
  FURI = AValue;
  NormalizePath(FURI);
  std::string W = FURI;
  FHost.clear();
  FProtocol.clear();
  Fpath.clear();
  FDocument.clear();
  FPort.clear();
  FBookmark.clear();
  FUserName.clear();
  FPassword.clear();
  FParams.clear();
  FIPVersion = Id_IPv4;

  const std::size_t d = W.find("://");
  if (d == npos) {
    SplitQueryAndFragment(W, FParams, FBookmark);
    const std::size_t slash = W.rfind('/');
    if (slash != npos) {
      Fpath = W.substr(0, slash + 1);
      W.erase(0, slash + 1);
    }
    FDocument = std::move(W);
    return;
  }

  FProtocol = W.substr(0, d);
  W.erase(0, d + 3);
  SplitQueryAndFragment(W, FParams, FBookmark);
  std::string A = Fetch(W, "/");
  const std::size_t at = A.rfind('@');
  if (at != npos) {
    std::string userInfo = A.substr(0, at);
    A.erase(0, at + 1);
    FUserName = Fetch(userInfo, ":");
    FPassword = std::move(userInfo);
    if (FUserName.empty()) FPassword.clear();
  }
  const std::size_t open = A.find('[');
  const std::size_t close = A.find(']');
  if (open != npos && close != npos && close > open) {
    std::string host = Fetch(A, "]");
    Fetch(host, "[");
    FHost = std::move(host);
    Fetch(A, ":");
    FIPVersion = Id_IPv6;
  } else {
    FHost = Fetch(A, ":");
  }
  FPort = std::move(A);
  const std::size_t slash = W.rfind('/');
  if (slash != npos) {
    Fpath = "/" + W.substr(0, slash + 1);
    W.erase(0, slash + 1);
  } else {
    Fpath = "/";
  }
  FDocument = std::move(W);
}

std::string TIdURI::URI() {
  FURI = GetFullURI({});
  return FURI;
}

std::string TIdURI::GetFullURI(TIdURIOptionalFieldsSet AOptionalFields) const {
  if (FProtocol.empty()) throw EIdURIException("Protocol field is empty");
  if (FHost.empty()) throw EIdURIException("Host field is empty");
  std::string out = FProtocol + "://";
  if (!FUserName.empty() && AOptionalFields.Contains(ofAuthInfo)) {
    out += FUserName;
    if (!FPassword.empty()) out += ":" + FPassword;
    out += "@";
  }
  if (FIPVersion == Id_IPv6)
    out += "[" + FHost + "]";
  else
    out += FHost;
  if (!FPort.empty()) {
    bool omit = false;
    if (SameTextAscii(FProtocol, "HTTP"))
      omit = FPort == "80";
    else if (SameTextAscii(FProtocol, "HTTPS"))
      omit = FPort == "443";
    else if (SameTextAscii(FProtocol, "FTP"))
      omit = FPort == "21";
    if (!omit) out += ":" + FPort;
  }
  out += GetPathAndParams();
  if (!FBookmark.empty() && AOptionalFields.Contains(ofBookmark)) out += "#" + FBookmark;
  return out;
}

std::string TIdURI::GetPathAndParams() const {
  std::string out = Fpath + FDocument;
  if (!FParams.empty()) out += "?" + FParams;
  return out;
}

std::string TIdURI::PathEncode(std::string_view ASrc, const IIdTextEncoding* AByteEncoding) {
  return Encode(ASrc, kPathUnsafe, AByteEncoding);
}

std::string TIdURI::ParamsEncode(std::string_view ASrc, const IIdTextEncoding* AByteEncoding) {
  return Encode(ASrc, kParamsUnsafe, AByteEncoding);
}

std::string TIdURI::URLEncode(std::string_view ASrc, const IIdTextEncoding* AByteEncoding) {
  TIdURI uri(ASrc);
  uri.Fpath = PathEncode(uri.Fpath, AByteEncoding);
  uri.FDocument = PathEncode(uri.FDocument, AByteEncoding);
  uri.FParams = ParamsEncode(uri.FParams, AByteEncoding);
  return uri.URI();
}

std::string TIdURI::URLDecode(std::string_view ASrc, const IIdTextEncoding* AByteEncoding) {
  const IIdTextEncoding* enc = AByteEncoding;
  std::string bytes;
  bytes.reserve(ASrc.size());
  std::size_t i = 0;
  const std::size_t n = ASrc.size();
  while (i < n) {
    if (ASrc[i] != '%') {
      if (enc == nullptr || static_cast<unsigned char>(ASrc[i]) < 0x80) {
        // A character of the text keeps its own bytes (UTF-8 with the default).
        bytes.push_back(ASrc[i]);
        ++i;
        continue;
      }
      const std::size_t start = i;
      char32_t cp;
      if (!DecodeUtf8(ASrc, i, cp)) ++i;
      bytes += enc->GetBytes(ASrc.substr(start, i - start));
      continue;
    }
    ++i;
    if (i < n && (ASrc[i] == 'u' || ASrc[i] == 'U')) {
      std::uint32_t unit;
      const bool ok = ReadHex(ASrc, i + 1, 4, unit) && i + 5 <= n;
      i = std::min(n, i + 5);
      if (!ok) continue;
      char32_t cp = unit;
      if (IsHighSurrogate(unit) && i + 6 <= n && ASrc[i] == '%' &&
          (ASrc[i + 1] == 'u' || ASrc[i + 1] == 'U')) {
        // A high surrogate followed by an escaped low surrogate is one character.
        std::uint32_t low;
        if (ReadHex(ASrc, i + 2, 4, low) && IsLowSurrogate(low)) {
          cp = JoinSurrogates(unit, low);
          i += 6;
        }
      }
      if (enc == nullptr) {
        AppendUtf8(bytes, cp);  // a lone surrogate becomes U+FFFD
      } else {
        std::string ch;
        AppendUtf8(ch, cp);
        bytes += enc->GetBytes(ch);
      }
      continue;
    }
    std::uint32_t value;
    const bool ok = ReadHex(ASrc, i, 2, value);
    i = std::min(n, i + 2);
    if (ok) bytes.push_back(static_cast<char>(value));
  }
  if (enc != nullptr) return enc->GetString(bytes);
  // The collected bytes are read as UTF-8.
  return Utf8ToText(bytes);
}

std::string ResolvePath(std::string_view ABasePath, std::string_view APath,
                        std::string_view ADelimiter) {
  const std::string_view delim = ADelimiter;
  if (delim.empty()) return std::string(ABasePath) + std::string(APath);
  if (APath.substr(0, delim.size()) == delim) return std::string(APath);
  const bool keepTrailing = APath.empty() || (APath.size() >= delim.size() &&
                                              APath.substr(APath.size() - delim.size()) == delim);
  std::string W(ABasePath);
  if (!W.empty() && !W.ends_with(delim)) W.append(delim);
  W.append(APath);

  std::string R;
  R.reserve(W.size());
  std::size_t i = 0;
  while (i < W.size()) {
    if (std::string_view(W).substr(i, delim.size()) == delim) {
      if (i == 0)
        R.assign(delim);
      else if (!R.ends_with(delim))
        R.append(delim);
      i += delim.size();
      continue;
    }
    if (W[i] == '.' && R.ends_with(delim) && i + 1 < W.size() && W[i + 1] == '.') {
      R.pop_back();
      while (!R.empty() && !R.ends_with(delim)) R.pop_back();
      i += 2;
      continue;
    }
    R.push_back(W[i]);
    ++i;
  }
  if (R != delim && R.ends_with(delim) && !keepTrailing) R.erase(R.size() - delim.size());
  return R;
}

}  // namespace vto
