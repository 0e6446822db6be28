#include "http/IdHTTPHeaderInfo.h"

#include "desktop/TextCodec.h"
#include "http/IdGlobalProtocols.h"
#include "http/IdText.h"

namespace vto {

using namespace http_text;

namespace {

void SetIfNotEmpty(TIdHeaderList& AList, std::string_view AName, std::string_view AValue) {
  if (AValue.empty()) return;
  if (AValue.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos)
    AList.SetValues(AName, AValue);
  else
    AList.SetValues(AName, OneLine(AValue));
}

void SetDateIfSet(TIdHeaderList& AList, std::string_view AName, TDateTime AValue) {
  if (AValue > 0) AList.SetValues(AName, FormatHttpDate(AValue));
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && SameTextAscii(s.substr(s.size() - suffix.size()), suffix);
}

}  // namespace

// ---- Ranges ----------------------------------------------------------------

std::string TIdEntityRange::Text() const {
  if (FStartPos >= 0) {
    std::string s = std::to_string(FStartPos) + "-";
    if (FEndPos >= 0) s += std::to_string(FEndPos);
    return s;
  }
  if (FSuffixLength >= 0) return "-" + std::to_string(FSuffixLength);
  return {};
}

void TIdEntityRange::SetText(std::string_view AValue) {
  FStartPos = FEndPos = FSuffixLength = -1;
  std::string_view s = TrimView(AValue);
  const std::string_view before = TrimView(FetchView(s, "-"));
  std::string_view after = TrimLeftView(s);
  after = FetchView(after, " ");
  if (!before.empty()) {
    FStartPos = StrToInt64Def(before, -1);
    FEndPos = StrToInt64Def(after, -1);
  } else {
    FSuffixLength = StrToInt64Def(after, -1);
  }
}

std::string TIdEntityRanges::Text() const {
  std::string joined;
  for (const auto& r : FRanges) {
    const std::string t = r.Text();
    if (t.empty()) continue;
    if (!joined.empty()) joined += ",";
    joined += t;
  }
  return joined.empty() ? std::string() : FUnits + "=" + joined;
}

void TIdEntityRanges::SetText(std::string_view AValue) {
  FRanges.clear();
  std::string_view s = AValue;
  const std::size_t eq = s.find('=');
  if (eq != std::string_view::npos) {
    SetUnits(TrimView(s.substr(0, eq)));
    s.remove_prefix(eq + 1);
  }
  while (!s.empty()) {
    const std::string_view piece = TrimView(FetchView(s, ","));
    if (!piece.empty()) Add().SetText(piece);
  }
}

// ---- Entity headers --------------------------------------------------------

TIdEntityHeaderInfo::TIdEntityHeaderInfo() {
  TIdEntityHeaderInfo::Clear();
}

TIdEntityHeaderInfo::~TIdEntityHeaderInfo() = default;

void TIdEntityHeaderInfo::Assign(const TIdEntityHeaderInfo& ASource) {
  if (&ASource == this) return;
  FCacheControl = ASource.FCacheControl;
  FRawHeaders.Assign(ASource.FRawHeaders);
  FCharSet = ASource.FCharSet;
  FConnection = ASource.FConnection;
  FContentDisposition = ASource.FContentDisposition;
  FContentEncoding = ASource.FContentEncoding;
  FContentLanguage = ASource.FContentLanguage;
  FContentLength = ASource.FContentLength;
  FContentRangeEnd = ASource.FContentRangeEnd;
  FContentRangeStart = ASource.FContentRangeStart;
  FContentRangeInstanceLength = ASource.FContentRangeInstanceLength;
  FContentRangeUnits = ASource.FContentRangeUnits;
  FContentType = ASource.FContentType;
  FContentVersion = ASource.FContentVersion;
  FCustomHeaders.Assign(ASource.FCustomHeaders);
  FDate = ASource.FDate;
  FExpires = ASource.FExpires;
  FETag = ASource.FETag;
  FLastModified = ASource.FLastModified;
  FPragma = ASource.FPragma;
  FHasContentLength = ASource.FHasContentLength;
  FTransferEncoding = ASource.FTransferEncoding;
}

void TIdEntityHeaderInfo::Clear() {
  FCacheControl.clear();
  FRawHeaders.Clear();
  FCharSet.clear();
  FConnection.clear();
  FContentDisposition.clear();
  FContentEncoding.clear();
  FContentLanguage.clear();
  FContentLength = -1;  // HasContentLength stays until the next parse sets it
  FContentRangeEnd = -1;
  FContentRangeStart = -1;
  FContentRangeInstanceLength = -1;
  FContentRangeUnits.clear();
  FContentType.clear();
  FContentVersion.clear();
  FDate = 0;
  FExpires = 0;
  FETag.clear();
  FLastModified = 0;
}

void TIdEntityHeaderInfo::SetContentType(std::string_view AValue) {
  if (AValue.empty()) {
    FContentType.clear();
    FCharSet.clear();
    return;
  }
  std::string charset;
  for (auto& p : SplitHeaderParams(AValue, QuoteHTTP))
    if (SameTextAscii(p.Name, "charset")) {
      charset = std::move(p.Value);
      break;
    }
  if (auto rest = ReplaceHeaderParam(AValue, "charset", "", QuoteHTTP))
    FContentType = std::move(*rest);
  else
    FContentType = AValue;
  if (charset.empty()) {
    std::string_view media = AValue;
    media = TrimView(FetchView(media, ";"));
    if (StartsWithAsciiNoCase(media, "text/")) {
      const std::string_view subtype = media.substr(5);
      if (SameTextAscii(subtype, "xml") || SameTextAscii(subtype, "xml-external-parsed-entity") ||
          EndsWithNoCase(subtype, "+xml"))
        charset = "us-ascii";
      else
        charset = "ISO-8859-1";
    }
  }
  if (!charset.empty()) FCharSet = std::move(charset);
}

void TIdEntityHeaderInfo::ParseHeaders() {
  const TIdHeaderList& h = FRawHeaders;
  FCacheControl = h.Values("Cache-control");
  FConnection = h.Values("Connection");
  FContentVersion = h.Values("Content-Version");
  FContentDisposition = h.Values("Content-Disposition");
  FContentEncoding = h.Values("Content-Encoding");
  FContentLanguage = h.Values("Content-Language");
  SetContentType(h.Values("Content-Type"));
  SetContentLength(StrToInt64Def(Trim(h.Values("Content-Length")), -1));

  FContentRangeStart = FContentRangeEnd = FContentRangeInstanceLength = -1;
  FContentRangeUnits.clear();
  if (h.IndexOfName("Content-Range") >= 0) {
    const std::string value = h.Values("Content-Range");
    std::string_view s = value;
    FContentRangeUnits = FetchView(s, " ");
    std::string_view range = FetchView(s, "/");
    std::string_view instance = FetchView(s, " ");
    FContentRangeInstanceLength = StrToInt64Def(TrimView(instance), -1);
    const std::string_view start = FetchView(range, "-");
    FContentRangeStart = StrToInt64Def(TrimView(start), -1);
    FContentRangeEnd = StrToInt64Def(TrimView(range), -1);
  }

  FDate = h.IndexOfName("Date") >= 0 ? ParseHttpDate(h.Values("Date")) : Now();
  FLastModified = ParseHttpDate(h.Values("Last-Modified"));
  const std::string expires = h.Values("Expires");
  std::int64_t seconds;
  if (TryStrToInt64(Trim(expires), seconds))
    FExpires = seconds < 0 ? 0 : Now() + static_cast<double>(seconds) / kSecsPerDay;
  else
    FExpires = ParseHttpDate(expires);
  FETag = h.Values("ETag");
  FPragma = h.Values("Pragma");
  FTransferEncoding = h.Values("Transfer-Encoding");
}

void TIdEntityHeaderInfo::SetHeaders() {
  TIdHeaderList& h = FRawHeaders;
  h.Clear();
  SetIfNotEmpty(h, "Connection", FConnection);
  SetIfNotEmpty(h, "Content-Version", FContentVersion);
  SetIfNotEmpty(h, "Content-Disposition", FContentDisposition);
  SetIfNotEmpty(h, "Content-Encoding", FContentEncoding);
  SetIfNotEmpty(h, "Content-Language", FContentLanguage);
  if (!FContentType.empty()) {
    SetIfNotEmpty(h, "Content-Type", FContentType);
    h.SetParams("Content-Type", "charset", OneLine(FCharSet));
  }
  if (FContentLength >= 0) h.SetValues("Content-Length", std::to_string(FContentLength));
  SetIfNotEmpty(h, "Cache-control", FCacheControl);
  SetDateIfSet(h, "Date", FDate);
  SetIfNotEmpty(h, "ETag", FETag);
  SetDateIfSet(h, "Expires", FExpires);
  SetIfNotEmpty(h, "Pragma", FPragma);
  SetIfNotEmpty(h, "Transfer-Encoding", FTransferEncoding);
  for (const auto& line : FCustomHeaders.Lines()) h.Add(OneLine(line));
}

// ---- Request headers -------------------------------------------------------

const std::string& TIdRequestHeaderInfo::DefaultUserAgent() {
  static const std::string kUserAgent = "Mozilla/3.0 (compatible; Tavo Library)";
  return kUserAgent;
}

TIdRequestHeaderInfo::TIdRequestHeaderInfo() : FRanges(std::make_unique<TIdEntityRanges>()) {
  TIdRequestHeaderInfo::Clear();
}

TIdRequestHeaderInfo::~TIdRequestHeaderInfo() = default;

void TIdRequestHeaderInfo::Assign(const TIdRequestHeaderInfo& ASource) {
  if (&ASource == this) return;
  TIdEntityHeaderInfo::Assign(ASource);
  FAccept = ASource.FAccept;
  FAcceptCharSet = ASource.FAcceptCharSet;
  FAcceptEncoding = ASource.FAcceptEncoding;
  FAcceptLanguage = ASource.FAcceptLanguage;
  FExpect = ASource.FExpect;
  FFrom = ASource.FFrom;
  FPassword = ASource.FPassword;
  FReferer = ASource.FReferer;
  FUserAgent = ASource.FUserAgent;
  FUserName = ASource.FUserName;
  FHost = ASource.FHost;
  FProxyConnection = ASource.FProxyConnection;
  *FRanges = *ASource.FRanges;
  FBasicByDefault = ASource.FBasicByDefault;
  FMethodOverride = ASource.FMethodOverride;
}

void TIdRequestHeaderInfo::Clear() {
  TIdEntityHeaderInfo::Clear();
  FAccept = kDefaultAccept;
  FAcceptCharSet.clear();
  FUserAgent = DefaultUserAgent();
  FRanges->Clear();
  FBasicByDefault = false;
  FMethodOverride.clear();
}

void TIdRequestHeaderInfo::ParseHeaders() {
  TIdEntityHeaderInfo::ParseHeaders();
  const TIdHeaderList& h = FRawHeaders;
  FAccept = h.Values("Accept");
  FAcceptCharSet = h.Values("Accept-Charset");
  FAcceptEncoding = h.Values("Accept-Encoding");
  FAcceptLanguage = h.Values("Accept-Language");
  FHost = h.Values("Host");
  FFrom = h.Values("From");
  FReferer = h.Values("Referer");
  FUserAgent = h.Values("User-Agent");
  FRanges->SetText(h.Values("Range"));
  FMethodOverride = h.Values("X-HTTP-Method-Override");
}

void TIdRequestHeaderInfo::SetHeaders() {
  TIdEntityHeaderInfo::SetHeaders();
  TIdHeaderList& h = FRawHeaders;
  SetIfNotEmpty(h, "Proxy-Connection", FProxyConnection);
  SetIfNotEmpty(h, "Host", FHost);
  SetIfNotEmpty(h, "Accept", FAccept);
  SetIfNotEmpty(h, "Accept-Charset", FAcceptCharSet);
  SetIfNotEmpty(h, "Accept-Encoding", FAcceptEncoding);
  SetIfNotEmpty(h, "Accept-Language", FAcceptLanguage);
  SetIfNotEmpty(h, "From", FFrom);
  SetIfNotEmpty(h, "Referer", FReferer);
  SetIfNotEmpty(h, "User-Agent", FUserAgent);
  SetIfNotEmpty(h, "Range", FRanges->Text());
  SetDateIfSet(h, "If-Modified-Since", FLastModified);
  std::string authorization;
  if (FAuthentication) {
    authorization = FAuthentication->Authentication();
  } else if (FBasicByDefault) {
    auto basic = std::make_unique<TIdBasicAuthentication>();
    basic->Params().SetValues("Username", FUserName);
    basic->Params().SetValues("Password", FPassword);
    FAuthentication = std::move(basic);
    authorization = FAuthentication->Authentication();
  }
  SetIfNotEmpty(h, "Authorization", authorization);
  SetIfNotEmpty(h, "X-HTTP-Method-Override", FMethodOverride);
}

// ---- Response headers ------------------------------------------------------

TIdResponseHeaderInfo::TIdResponseHeaderInfo()
    : FProxyAuthenticate(std::make_unique<TIdHeaderList>(QuoteHTTP)),
      FWWWAuthenticate(std::make_unique<TIdHeaderList>(QuoteHTTP)) {
  TIdResponseHeaderInfo::Clear();
}

TIdResponseHeaderInfo::~TIdResponseHeaderInfo() = default;

void TIdResponseHeaderInfo::Assign(const TIdResponseHeaderInfo& ASource) {
  if (&ASource == this) return;
  TIdEntityHeaderInfo::Assign(ASource);
  FAcceptPatch = ASource.FAcceptPatch;
  FAcceptRanges = ASource.FAcceptRanges;
  FLocation = ASource.FLocation;
  FServer = ASource.FServer;
  FProxyConnection = ASource.FProxyConnection;
  FProxyAuthenticate->Assign(*ASource.FProxyAuthenticate);
  FWWWAuthenticate->Assign(*ASource.FWWWAuthenticate);
}

void TIdResponseHeaderInfo::Clear() {
  TIdEntityHeaderInfo::Clear();
  FContentType.clear();
  FCharSet.clear();
  FLocation.clear();
  FServer.clear();
  FAcceptPatch.clear();
  FAcceptRanges.clear();
  FProxyAuthenticate->Clear();
  FWWWAuthenticate->Clear();
}

void TIdResponseHeaderInfo::ParseHeaders() {
  TIdEntityHeaderInfo::ParseHeaders();
  const TIdHeaderList& h = FRawHeaders;
  FLocation = h.Values("Location");
  FServer = h.Values("Server");
  FProxyConnection = h.Values("Proxy-Connection");
  std::vector<std::string> values;
  h.Extract("WWW-Authenticate", &values);
  FWWWAuthenticate->Clear();
  for (const auto& v : values) FWWWAuthenticate->Add(v);
  values.clear();
  h.Extract("Proxy-Authenticate", &values);
  FProxyAuthenticate->Clear();
  for (const auto& v : values) FProxyAuthenticate->Add(v);
  FAcceptPatch = h.Values("Accept-Patch");
  FAcceptRanges = h.Values("Accept-Ranges");
}

void TIdResponseHeaderInfo::SetHeaders() {
  TIdEntityHeaderInfo::SetHeaders();
  TIdHeaderList& h = FRawHeaders;
  if (HasContentRange() || HasContentRangeInstance()) {
    std::string value = FContentRangeUnits.empty() ? std::string("bytes") : FContentRangeUnits;
    value += " ";
    value += HasContentRange()
                 ? std::to_string(FContentRangeStart) + "-" + std::to_string(FContentRangeEnd)
                 : std::string("*");
    value += "/";
    value += HasContentRangeInstance() ? std::to_string(FContentRangeInstanceLength) : "*";
    SetIfNotEmpty(h, "Content-Range", value);
  }
  SetIfNotEmpty(h, "Accept-Patch", FAcceptPatch);
  SetIfNotEmpty(h, "Accept-Ranges", FAcceptRanges);
  SetDateIfSet(h, "Last-Modified", FLastModified);
}

// ---- The client's records ----------------------------------------------------

TIdHTTPRequest::TIdHTTPRequest(IIdHTTPOwner* AHTTP) : FHTTP(AHTTP) {}

TIdHTTPResponse::TIdHTTPResponse(IIdHTTPOwner* AHTTP)
    : FHTTP(AHTTP), FMetaHTTPEquiv(std::make_unique<TIdMetaHTTPEquiv>()) {
  TIdHTTPResponse::Clear();
}

TIdHTTPResponse::~TIdHTTPResponse() = default;

void TIdHTTPResponse::Clear() {
  TIdResponseHeaderInfo::Clear();
  FMetaHTTPEquiv->Clear();
}

std::int32_t ParseResponseCode(std::string_view AStatusLine) {
  std::string_view s = AStatusLine;
  const std::size_t space = s.find(' ');
  if (space == std::string_view::npos) return -1;
  s = TrimView(s.substr(space + 1));
  s = FetchView(s, " ");
  s = FetchView(s, ".");
  return StrToIntDef(TrimView(s), -1);
}

void TIdHTTPResponse::SetResponseText(std::string_view AValue) {
  FResponseText = AValue;
  FResponseCode = -1;
  FResponseVersion = pv1_0;
  if (AValue.size() >= 8) {
    const std::string_view version = AValue.substr(5, 3);
    if (version == "1.0")
      FResponseVersion = pv1_0;
    else if (version == "1.1")
      FResponseVersion = pv1_1;
  }
}

std::int32_t TIdHTTPResponse::ResponseCode() {
  if (FResponseCode == -1) FResponseCode = ParseResponseCode(FResponseText);
  return FResponseCode;
}

bool TIdHTTPResponse::KeepAlive() {
  if (FHTTP == nullptr || !FHTTP->OwnerConnected()) {
    FKeepAlive = false;
    return FKeepAlive;
  }
  const std::string_view connection = TrimView(FConnection);
  const std::string_view proxy = TrimView(FProxyConnection);
  if (FHTTP->OwnerProtocolVersion() == pv1_0)
    FKeepAlive = SameTextAscii(connection, "KEEP-ALIVE") || SameTextAscii(proxy, "KEEP-ALIVE");
  else
    FKeepAlive = !(SameTextAscii(connection, "CLOSE") || SameTextAscii(proxy, "CLOSE"));
  return FKeepAlive;
}

}  // namespace vto
