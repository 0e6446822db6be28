#include "http/IdHTTP.h"

#include <algorithm>

#include "desktop/AsciiNumbers.h"
#include "desktop/TextCodec.h"
#include "http/IdText.h"
#include "net/IdExceptions.h"
#include "net/IdSSLOpenSSL.h"
#include "streams/Streams.h"

namespace vto {

using namespace http_text;

namespace {

bool ContainsNoCase(std::string_view s, std::string_view part) {
  return AsciiLowerCase(s).find(AsciiLowerCase(part)) != std::string::npos;
}

// The media type of a Content-Type value, lower case, without parameters.
std::string MediaType(std::string_view AContentType) {
  std::string_view s = AContentType;
  return AsciiLowerCase(TrimView(FetchView(s, ";")));
}

bool IsHtmlMediaType(std::string_view m) {
  return m == "text/html" || m == "text/html-sandboxed" || m == "application/xhtml+xml";
}

bool IsXmlMediaType(std::string_view m) {
  if (m == "application/xml" || m == "application/xml-external-parsed-entity" ||
      m == "application/xml-dtd")
    return true;
  if (m.starts_with("text/")) return false;
  const std::size_t slash = m.find('/');
  return slash != std::string_view::npos && m.substr(slash + 1).ends_with("+xml");
}

bool IsMultipartMediaType(std::string_view m) {
  return m.starts_with("multipart/");
}

// The request line carries the target as one word: a line break or NUL in it
// (from a URL or a server's Location) would end the line early on the wire, so
// those bytes go out percent-encoded.
std::string RequestLinePart(std::string_view AText) {
  std::string out;
  out.reserve(AText.size());
  for (char c : AText) {
    if (c == '\r')
      out += "%0D";
    else if (c == '\n')
      out += "%0A";
    else if (c == '\0')
      out += "%00";
    else
      out.push_back(c);
  }
  return out;
}

// Bytes of a body as text in the named character set.
std::string BodyText(std::string_view ABytes, std::string_view ACharSet) {
  const std::string_view cs = TrimView(ACharSet);
  if (SameTextAscii(cs, "utf-8") || SameTextAscii(cs, "utf8"))
    return IdTextEncodingUTF8()->GetString(ABytes);
  if (SameTextAscii(cs, "us-ascii") || SameTextAscii(cs, "ascii")) return AsciiToText(ABytes);
  return AnsiToText(ABytes);
}

// The encoding an XML declaration at the start of the text names, or empty.
std::string XmlDeclarationEncoding(std::string_view AHead) {
  std::string_view s = AHead;
  if (s.starts_with("\xEF\xBB\xBF")) s.remove_prefix(3);
  s = TrimLeftView(s);
  if (!s.starts_with("<?xml")) return {};
  const std::size_t end = s.find("?>");
  if (end == std::string_view::npos) return {};
  s = s.substr(5, end - 5);
  const std::size_t at = s.find("encoding");
  if (at == std::string_view::npos) return {};
  s = TrimLeftView(s.substr(at + 8));
  if (s.empty() || s.front() != '=') return {};
  s = TrimLeftView(s.substr(1));
  if (s.empty() || (s.front() != '"' && s.front() != '\'')) return {};
  const char q = s.front();
  s.remove_prefix(1);
  const std::size_t close = s.find(q);
  if (close == std::string_view::npos) return {};
  return std::string(s.substr(0, close));
}

// A chunk size: hexadecimal digits only; false when the text is no such number
// or beyond 60 bits.
bool ParseChunkSize(std::string_view s, std::int64_t& size) {
  std::uint64_t v = 0;
  if (ParseUnsigned(s, {.Base = 16, .MaxValue = (std::uint64_t{1} << 60) - 1}, v) !=
      NumberParse::kNumber)
    return false;
  size = static_cast<std::int64_t>(v);
  return true;
}

// Sets the response's content stream for a scope and puts the one it had back
// when the scope ends, by an exception too.
class ScopedContentStream {
 public:
  ScopedContentStream(TIdHTTPResponse& AResponse, TStream* AStream)
      : FResponse(AResponse), FSaved(AResponse.ContentStream()) {
    AResponse.SetContentStream(AStream);
  }
  ~ScopedContentStream() { FResponse.SetContentStream(FSaved); }
  ScopedContentStream(const ScopedContentStream&) = delete;
  ScopedContentStream& operator=(const ScopedContentStream&) = delete;

 private:
  TIdHTTPResponse& FResponse;
  TStream* const FSaved;
};

bool IsHead(const TIdHTTPRequest& ARequest) {
  return SameTextAscii(ARequest.Method(), "HEAD") ||
         SameTextAscii(ARequest.MethodOverride(), "HEAD");
}

}  // namespace

// ---- the protocol object -------------------------------------------------------

TIdHTTPProtocol::TIdHTTPProtocol(TIdCustomHTTP& AConnection)
    : FHTTP(AConnection),
      FRequest(std::make_unique<TIdHTTPRequest>(&AConnection)),
      FResponse(std::make_unique<TIdHTTPResponse>(&AConnection)) {}

TIdHTTPProtocol::~TIdHTTPProtocol() = default;

void TIdHTTPProtocol::BuildAndSendRequest(TIdURI* AURI) {
  TIdHTTPRequest& req = *FRequest;
  if (TIdAuthentication* auth = req.Authentication()) auth->SetRequest(req.Method(), req.URL());
  req.SetHeaders();
  if (AURI != nullptr) FHTTP.AddRequestCookies(*AURI, req);

  TIdIOHandler* io = FHTTP.IOHandler();
  if (io == nullptr) throw EIdNotConnected();
  const bool opened = !io->WriteBufferingActive();
  if (opened) io->WriteBufferOpen();
  try {
    io->WriteLn(RequestLinePart(req.Method()) + " " + RequestLinePart(req.URL()) + " HTTP/" +
                (FHTTP.ProtocolVersion() == pv1_0 ? "1.0" : "1.1"));
    for (const auto& line : req.RawHeaders().Lines())
      if (!line.empty()) io->WriteLn(line);
    io->WriteLn();
    if (opened) io->WriteBufferClose();
  } catch (...) {
    io->WriteBufferCancel();
    throw;
  }
}

void TIdHTTPProtocol::RetrieveHeaders(std::int32_t AMaxHeaderCount) {
  TIdHTTPResponse& resp = *FResponse;
  resp.Clear();
  try {
    std::int32_t count = 0;
    for (;;) {
      std::string line = FHTTP.ReadProtocolLine();
      if (line.empty()) break;
      if (count >= AMaxHeaderCount) throw EIdHTTPMaxHeaderLinesExceeded();
      resp.RawHeaders().Add(line);
      ++count;
    }
  } catch (const EIdConnClosedGracefully&) {
    // The peer closed before the empty line: a header block that never ended
    // is no response (what was cut off would be taken for the body).
    FHTTP.Disconnect();
    throw;
  }
  resp.ParseHeaders();
}

TIdHTTPWhatsNext TIdHTTPProtocol::ProcessResponse(const std::vector<std::int16_t>& AIgnoreReplies) {
  TIdHTTPResponse& resp = *FResponse;
  if (FHTTP.OnHeadersAvailable && !FHTTP.OnHeadersAvailable(resp.RawHeaders())) return wnJustExit;
  const std::int32_t code = resp.ResponseCode();
  if (code >= 300 && code <= 399 && code != 304) return HandleRedirect(code, AIgnoreReplies);
  if (code >= 200 && code <= 299) {
    if (IsHead(*FRequest) || code == 204)
      FHTTP.DiscardBody(resp);
    else
      FHTTP.ReadBody(resp, resp.ContentStream());
    return wnJustExit;
  }
  if (code == 401 || code == 407) return HandleAuthentication(code, AIgnoreReplies);
  return FailWithStatus(AIgnoreReplies);
}

TIdHTTPWhatsNext TIdHTTPProtocol::FailWithStatus(const std::vector<std::int16_t>& AIgnoreReplies) {
  TIdHTTPResponse& resp = *FResponse;
  const std::int32_t code = resp.ResponseCode();
  const bool ignored =
      std::find(AIgnoreReplies.begin(), AIgnoreReplies.end(), code) != AIgnoreReplies.end();
  if (FHTTP.HTTPOptions().Contains(hoNoProtocolErrorException) || ignored) {
    if (FHTTP.HTTPOptions().Contains(hoWantProtocolErrorContent))
      FHTTP.ReadBody(resp, resp.ContentStream());
    else
      FHTTP.DiscardBody(resp);
    return wnJustExit;
  }
  // The error page goes to a stream of its own; the caller's receives nothing.
  TMemoryStream page;
  {
    const ScopedContentStream swap(resp, &page);
    try {
      FHTTP.ReadBody(resp, &page);
    } catch (const EIdConnClosedGracefully&) {
    } catch (const EIdSocketError&) {
      // The page cut short, by a close or by a reset: the status is the error.
    }
  }
  const std::string_view bytes(page.Memory(), static_cast<std::size_t>(page.Size()));
  throw EIdHTTPProtocolException::CreateError(code, resp.ResponseText(),
                                              BodyText(bytes, resp.CharSet()));
}

TIdHTTPWhatsNext TIdHTTPProtocol::HandleRedirect(std::int32_t ACode,
                                                 const std::vector<std::int16_t>& AIgnoreReplies) {
  TIdHTTPRequest& req = *FRequest;
  TIdHTTPResponse& resp = *FResponse;
  if (resp.Location().empty()) return FailWithStatus(AIgnoreReplies);
  ++FHTTP.FRedirectCount;
  std::string location = resp.Location();
  std::string method = req.Method();
  if (!FHTTP.ConfirmRedirect(location, method, FHTTP.FRedirectCount))
    return FailWithStatus(AIgnoreReplies);
  TIdHTTPWhatsNext result;
  if (FHTTP.HandleRedirects() && FHTTP.FRedirectCount < FHTTP.RedirectMaximum()) {
    req.SetURL(location);
    if (ACode == 303 || (ACode == 302 && FHTTP.HTTPOptions().Contains(hoTreat302Like303))) {
      req.SetSource(nullptr);
      req.SetMethod("GET");
    } else {
      req.SetMethod(method);
    }
    req.SetMethodOverride("");
    result = wnGoToURL;
  } else {
    resp.SetLocation(location);
    result = wnJustExit;
  }
  if (FHTTP.Connected()) FHTTP.DiscardBody(resp);
  return result;
}

TIdHTTPWhatsNext TIdHTTPProtocol::HandleAuthentication(
    std::int32_t ACode, const std::vector<std::int16_t>& AIgnoreReplies) {
  TIdHTTPRequest& req = *FRequest;
  TIdHTTPResponse& resp = *FResponse;
  const bool proxy = ACode == 407;
  const std::int32_t retries = proxy ? FHTTP.FAuthProxyRetries : FHTTP.FAuthRetries;
  const bool prepared =
      retries < FHTTP.MaxAuthRetries() &&
      (proxy ? FHTTP.PrepareProxyAuthorization(req, resp) : FHTTP.PrepareAuthorization(req, resp));
  if (!prepared) {
    TIdAuthentication* auth = proxy ? FHTTP.ProxyParams().Authentication() : req.Authentication();
    if (auth != nullptr) auth->Reset();
    return FailWithStatus(AIgnoreReplies);
  }
  if (FHTTP.HTTPOptions().Contains(hoInProcessAuth)) {
    FHTTP.DiscardBody(resp);
    return wnAuthRequest;
  }
  FHTTP.ReadBody(resp, resp.ContentStream());
  return wnJustExit;
}

// ---- the client ------------------------------------------------------------------

TIdCustomHTTP::TIdCustomHTTP() : FProxyParameters(std::make_unique<TIdProxyConnectionInfo>()) {
  FHTTPProto = CreateProtocol();
}

TIdCustomHTTP::~TIdCustomHTTP() {
  try {
    Disconnect();
  } catch (...) {
  }
}

std::unique_ptr<TIdHTTPProtocol> TIdCustomHTTP::CreateProtocol() {
  return std::make_unique<TIdHTTPProtocol>(*this);
}

void TIdCustomHTTP::SetCookieManager(TIdCookieManager* AValue) {
  if (AValue == FCookieManager) return;
  FCookieManager = AValue;
  if (FImplicitCookieManager) {
    FOwnedCookieManager.reset();
    FImplicitCookieManager = false;
  }
}

bool TIdCustomHTTP::OwnerConnected() {
  if (IOHandler() == nullptr) return false;
  try {
    CheckForGracefulDisconnect(false);
  } catch (const EIdException&) {
  }
  return Connected();
}

void TIdCustomHTTP::Get(std::string_view AURL, TStream& AResponseContent) {
  RunRequest("GET", AURL, nullptr, &AResponseContent, {});
}

void TIdCustomHTTP::Get(std::string_view AURL) {
  RunRequest("GET", AURL, nullptr, nullptr, {});
}

void TIdCustomHTTP::RunRequest(std::string_view AMethod, std::string_view AURL, TStream* ASource,
                               TStream* AResponseContent,
                               const std::vector<std::int16_t>& AIgnoreReplies) {
  FRedirectCount = 0;
  FAuthRetries = 0;
  FAuthProxyRetries = 0;
  FFramingLost = false;
  const std::int64_t start = AResponseContent != nullptr ? AResponseContent->Position() : 0;
  TIdHTTPRequest& req = Request();
  TIdHTTPResponse& resp = Response();
  req.SetURL(AURL);
  req.SetMethod(AMethod);
  req.SetSource(ASource);
  resp.SetContentStream(AResponseContent);

  auto finish = [&] {
    if (FFramingLost || !resp.KeepAlive()) DropConnection();
  };
  try {
    for (;;) {
      PrepareRequestTarget(req);
      if (auto* tls = dynamic_cast<TIdSSLIOHandlerSocketBase*>(IOHandler()))
        tls->SetURIToCheck(FURI.URI());
      SendRequest(req);
      do {
        resp.SetResponseText(ReadProtocolLine());
        FHTTPProto->RetrieveHeaders(HeaderLineBound());
        StoreResponseCookies(req, resp);
      } while (resp.ResponseCode() == 100);
      const TIdHTTPWhatsNext next = FHTTPProto->ProcessResponse(AIgnoreReplies);
      if (next == wnGoToURL) {
        if (AResponseContent != nullptr) {
          AResponseContent->SetPosition(start);
          AResponseContent->SetSize(start);
        }
        FAuthRetries = 0;
        FAuthProxyRetries = 0;
      } else if (next == wnAuthRequest) {
        req.SetURL(AURL);
      } else {
        break;
      }
    }
  } catch (const EIdHTTPProtocolException&) {
    // The status was read with its whole body: the connection is in step.
    try {
      finish();
    } catch (...) {
    }
    throw;
  } catch (...) {
    // Anything else may leave part of a response unread: it must not be taken
    // for the next one.
    try {
      DropConnection();
    } catch (...) {
    }
    throw;
  }
  finish();
}

void TIdCustomHTTP::PrepareRequestTarget(TIdHTTPRequest& ARequest) {
  TIdURI u(ARequest.URL());
  if (!u.Username().empty()) {
    ARequest.SetUsername(u.Username());
    ARequest.SetPassword(u.Password());
  }
  FURI.SetUsername(ARequest.Username());
  FURI.SetPassword(ARequest.Password());
  FURI.SetPath(ResolvePath(FURI.Path(), u.Path(), "/"));
  FURI.SetDocument(u.Document());
  FURI.SetParams(u.Params());
  if (!u.Host().empty()) FURI.SetHost(u.Host());
  if (!u.Protocol().empty())
    FURI.SetProtocol(u.Protocol());
  else
    FURI.SetProtocol(SameTextAscii(FURI.Protocol(), "https") ? "https" : "http");
  if (!u.Port().empty()) {
    FURI.SetPort(u.Port());
  } else if (SameTextAscii(u.Protocol(), "http")) {
    FURI.SetPort("80");
  } else if (SameTextAscii(u.Protocol(), "https")) {
    FURI.SetPort("443");
  } else if (FURI.Port().empty()) {
    throw EIdUnknownProtocol();
  }
  ARequest.SetURL(FURI.GetPathAndParams());
  // A relative URL names no host and so no IP version: the current one stays.
  if (!u.Host().empty()) {
    ARequest.SetIPVersion(u.IPVersion());
    FURI.SetIPVersion(u.IPVersion());
  } else {
    ARequest.SetIPVersion(FURI.IPVersion());
  }
  ARequest.SetContentLength(-1);

  std::string host = FURI.Host();
  if (FURI.IPVersion() == Id_IPv6 && IsValidIPv6(host)) host = "[" + host + "]";
  const bool defaultPort = (SameTextAscii(FURI.Protocol(), "http") && FURI.Port() == "80") ||
                           (SameTextAscii(FURI.Protocol(), "https") && FURI.Port() == "443");
  ARequest.SetHost(defaultPort ? host : host + ":" + FURI.Port());
}

TIdHTTPConnectionType TIdCustomHTTP::SelectConnectionTarget() {
  if (Connected() && Socket() != nullptr && Socket()->IPVersion() != FURI.IPVersion()) Disconnect();
  // Digits (leading zeros allowed) up to 65535; a port text that is no number
  // connects to port 80.
  std::uint16_t port = 80;
  std::uint64_t value = 0;
  switch (ParseUnsigned(FURI.Port(), {.Base = 10, .MaxValue = 65535}, value)) {
    case NumberParse::kNumber:
      port = static_cast<std::uint16_t>(value);
      break;
    case NumberParse::kOutOfRange:
      throw EIdInvalidPortRange();
    case NumberParse::kNotANumber:
      break;
  }
  if (Connected() && (!SameText(Host(), FURI.Host()) || Port() != port)) Disconnect();
  SetHost(FURI.Host());
  SetPort(port);
  return SameTextAscii(FURI.Protocol(), "HTTPS") ? ctSSL : ctNormal;
}

void TIdCustomHTTP::SendRequest(TIdHTTPRequest& ARequest) {
  const std::string dest = FURI.Host() + ":" + FURI.Port();
  const TIdHTTPConnectionType type = SelectConnectionTarget();
  if (type != ARequest.UseProxy() && Connected()) Disconnect();
  ARequest.SetUseProxy(type);
  ARequest.SetDestination(dest);
  if (type == ctNormal) {
    if (FProtocolVersion == pv1_0 && ARequest.Connection().empty())
      ARequest.SetConnection("keep-alive");
  } else {
    ARequest.SetConnection("");
  }
  if (!ARequest.AcceptEncoding().empty() && !ContainsNoCase(ARequest.AcceptEncoding(), "identity"))
    ARequest.SetAcceptEncoding(ARequest.AcceptEncoding() + ", identity");
  EnsureConnected(type);
  FHTTPProto->BuildAndSendRequest(&FURI);
}

void TIdCustomHTTP::EnsureConnected(TIdHTTPConnectionType AType) {
  if (!Response().KeepAlive()) Disconnect();
  TIdIOHandler* io = IOHandler();
  if (io != nullptr) {
    try {
      CheckForGracefulDisconnect(false);
    } catch (const EIdException&) {
    }
    // Bytes beyond the last response put the connection out of step with its
    // requests: they would be read as the next answer. Start afresh instead.
    (void)Connected();  // takes in what has arrived meanwhile
    if (!io->InputBufferIsEmpty()) Disconnect();
    io->InputBuffer().Clear();
  }
  if (Connected()) return;
  SetIPVersion(FURI.IPVersion());
  auto* tls = dynamic_cast<TIdSSLIOHandlerSocketBase*>(io);
  if (AType == ctSSL) {
    if (tls == nullptr) throw EIdIOHandlerPropInvalid();
    tls->SetURIToCheck(FURI.URI());
    tls->SetPassThrough(false);
  } else if (tls != nullptr) {
    tls->SetPassThrough(true);
    tls->SetURIToCheck(FURI.URI());
  }
  try {
    Connect();
  } catch (...) {
    try {
      Disconnect();
    } catch (...) {
    }
    throw;
  }
}

void TIdCustomHTTP::DropConnection() {
  Disconnect();
  if (IOHandler() != nullptr) IOHandler()->InputBuffer().Clear();
}

std::string TIdCustomHTTP::ReadProtocolLine() {
  TIdIOHandler* io = IOHandler();
  if (io == nullptr) throw EIdNotConnected();
  std::string line = io->ReadLn();
  if (io->ReadLnTimedout()) throw EIdReadTimeout();
  return line;
}

// ---- redirects, authentication, cookies ------------------------------------------

bool TIdCustomHTTP::ConfirmRedirect(std::string& ALocation, std::string& AMethod,
                                    std::int32_t ACount) {
  if (OnRedirect) return OnRedirect(ALocation, AMethod, ACount);
  return FHandleRedirects;
}

namespace {

// The class of the first challenge whose scheme is registered.
TIdAuthenticationClass SchemeOfChallenges(const TIdHeaderList& AChallenges) {
  for (const auto& value : AChallenges.Lines()) {
    std::string_view v = TrimView(value);
    const std::string_view scheme = FetchView(v, " ");
    if (TIdAuthenticationClass cls = FindAuthClass(scheme)) return cls;
  }
  return nullptr;
}

}  // namespace

namespace {

// The way of both authentications, the server's and the proxy's: the holder's
// authentication object, made for the first challenge whose scheme is known
// (the program may choose another class), then its step decision on the
// challenges; asking the program needs a handler that answers.
template <class Holder>
bool PrepareFor(Holder& AHolder, const TIdHeaderList& AChallenges, const std::string& AUsername,
                const std::string& APassword,
                const std::function<void(TIdAuthenticationClass&, const TIdHeaderList&)>& AOnSelect,
                const std::function<bool(TIdAuthentication&)>& AOnAuthorization) {
  if (AHolder.Authentication() == nullptr) {
    TIdAuthenticationClass cls = SchemeOfChallenges(AChallenges);
    if (AOnSelect) AOnSelect(cls, AChallenges);
    if (cls == nullptr) return false;
    std::unique_ptr<TIdAuthentication> auth = cls();
    if (!auth) return false;
    auth->SetUsername(AUsername);
    auth->SetPassword(APassword);
    AHolder.SetAuthentication(std::move(auth));
  }
  TIdAuthentication& auth = *AHolder.Authentication();
  if (!AOnAuthorization && TrimView(auth.Password()).empty()) return false;
  auth.AuthParams().Assign(AChallenges);
  switch (auth.Next()) {
    case wnDoRequest:
      return true;
    case wnAskTheProgram:
      return AOnAuthorization && AOnAuthorization(auth);
    case wnFail:
    default:
      return false;
  }
}

}  // namespace

bool TIdCustomHTTP::PrepareAuthorization(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse) {
  ++FAuthRetries;
  return PrepareFor(ARequest, AResponse.WWWAuthenticate(), ARequest.Username(), ARequest.Password(),
                    OnSelectAuthorization, OnAuthorization);
}

bool TIdCustomHTTP::PrepareProxyAuthorization(TIdHTTPRequest&, TIdHTTPResponse& AResponse) {
  ++FAuthProxyRetries;
  TIdProxyConnectionInfo& proxy = *FProxyParameters;
  return PrepareFor(proxy, AResponse.ProxyAuthenticate(), proxy.ProxyUsername(),
                    proxy.ProxyPassword(), OnSelectProxyAuthorization, OnProxyAuthorization);
}

void TIdCustomHTTP::StoreResponseCookies(TIdHTTPRequest&, TIdHTTPResponse& AResponse) {
  if (FCookieManager == nullptr && FAllowCookies) {
    FOwnedCookieManager = std::make_unique<TIdCookieManager>();
    FCookieManager = FOwnedCookieManager.get();
    FImplicitCookieManager = true;
  }
  if (FCookieManager == nullptr || !FAllowCookies) return;
  std::vector<std::string> cookies;
  AResponse.RawHeaders().Extract("Set-Cookie", &cookies);
  AResponse.MetaHTTPEquiv().RawHeaders().Extract("Set-Cookie", &cookies);
  FCookieManager->AddServerCookies(cookies, FURI);
}

void TIdCustomHTTP::AddRequestCookies(TIdURI& AURI, TIdHTTPRequest& ARequest) {
  if (FCookieManager != nullptr && FAllowCookies)
    FCookieManager->GenerateClientCookies(AURI, SameTextAscii(AURI.Protocol(), "HTTPS"),
                                          ARequest.RawHeaders());
}

// ---- bodies ------------------------------------------------------------------------

bool TIdCustomHTTP::BodyExpected(TIdHTTPResponse& AResponse) {
  if (ContainsNoCase(AResponse.TransferEncoding(), "chunked")) {
    if (FOptions.Contains(hoNoReadChunked)) return false;
  } else if (AResponse.HasContentLength()) {
    if (AResponse.ContentLength() <= 0) return false;
  } else if (IsMultipartMediaType(MediaType(AResponse.ContentType())) &&
             FOptions.Contains(hoNoReadMultipartMIME)) {
    return false;
  }
  TIdIOHandler* io = IOHandler();
  if (io == nullptr) return false;
  const std::int32_t code = AResponse.ResponseCode();
  const bool noBodyStatus = (code >= 100 && code <= 199) || code == 204 || code == 304;
  if (!IsHead(Request()) && !noBodyStatus) {
    if (code >= 300 && code <= 399)
      return !io->InputBufferIsEmpty() || io->CheckForDataOnSource(5000);
    return true;
  }
  return FOptions.Contains(hoWaitForUnexpectedData) &&
         (!io->InputBufferIsEmpty() || io->CheckForDataOnSource(100));
}

void TIdCustomHTTP::ReadBytesInto(TStream* AStream, std::int64_t ACount) {
  TIdIOHandler* io = IOHandler();
  if (AStream == nullptr) {
    io->ReadStream(nullptr, ACount, false);
    return;
  }
  // Appended through the input buffer: the stream grows by its own steps, where
  // sizing it for every chunk would move the whole block each time.
  TIdBuffer& buffer = io->InputBuffer();
  while (ACount > 0) {
    if (buffer.Size() == 0 && !io->CheckForDataOnSource(IdTimeoutDefault)) {
      if (io->ClosedGracefully() || !io->Opened()) io->RaiseConnectionEnded();
      throw EIdReadTimeout();
    }
    const std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>(ACount, buffer.Size()));
    buffer.ExtractToStream(AStream, n);
    ACount -= n;
  }
}

void TIdCustomHTTP::ReadBody(TIdHTTPResponse& AResponse, TStream* AStream) {
  if (!BodyExpected(AResponse)) return;
  TIdIOHandler* io = IOHandler();
  enum { kPlain, kHtml, kXml } mark = kPlain;
  const std::string media = MediaType(AResponse.ContentType());
  if (AStream != nullptr) {
    if (IsHtmlMediaType(media)) {
      if (!FOptions.Contains(hoNoParseMetaHTTPEquiv)) mark = kHtml;
    } else if (IsXmlMediaType(media) && !FOptions.Contains(hoNoParseXmlCharset)) {
      mark = kXml;
    }
  }
  TStream* target = AStream;
  std::unique_ptr<TMemoryStream> held;
  if (mark != kPlain && dynamic_cast<TCustomMemoryStream*>(AStream) == nullptr) {
    held = std::make_unique<TMemoryStream>();
    target = held.get();
  }
  const std::int64_t bodyStart = target != nullptr ? target->Position() : 0;

  try {
    if (ContainsNoCase(AResponse.TransferEncoding(), "chunked")) {
      ReadChunkedBody(AResponse, target);
    } else if (AResponse.HasContentLength()) {
      // Sized once for the announced length (untouched memory until bytes come).
      if (AResponse.ContentLength() > 0) io->ReadStream(target, AResponse.ContentLength(), false);
    } else if (IsMultipartMediaType(media)) {
      ReadMultipartBody(AResponse, target);
    } else {
      io->ReadStream(target, -1, true);
    }
  } catch (const EIdConnClosedGracefully&) {
    // The peer closed: the body is what arrived.
  }
  // A body read until the close, cut by a reset instead, may lack its end.
  if (io->LostByError() != 0) TIdStack::RaiseSocketError(io->LostByError());

  if (held) AStream->CopyFrom(*held, 0);
  if (mark == kHtml) {
    const ScopedContentStream swap(AResponse, target);
    AResponse.ProcessMetaHTTPEquiv();
  } else if (mark == kXml) {
    const std::int64_t end = target->Position();
    const std::int64_t n = std::min<std::int64_t>(target->Size() - bodyStart, 4096);
    if (n > 0) {
      std::string head(static_cast<std::size_t>(n), '\0');
      target->SetPosition(bodyStart);
      target->ReadBuffer(head.data(), static_cast<std::int32_t>(n));
      target->SetPosition(end);
      const std::string encoding = XmlDeclarationEncoding(head);
      if (!encoding.empty()) AResponse.SetCharSet(encoding);
    }
  }
}

void TIdCustomHTTP::DiscardBody(TIdHTTPResponse& AResponse) {
  const ScopedContentStream swap(AResponse, nullptr);
  try {
    ReadBody(AResponse, nullptr);
  } catch (const EIdConnClosedGracefully&) {
    Disconnect();
  } catch (const EIdSocketError& e) {
    // Nobody wanted these bytes: a connection that ended by error while they
    // were dropped is just ended.
    if (e.LastError() != IdErr::ConnectionReset && e.LastError() != IdErr::ConnectionAborted &&
        e.LastError() != IdErr::Shutdown)
      throw;
    Disconnect();
  }
}

void TIdCustomHTTP::ReadChunkedBody(TIdHTTPResponse& AResponse, TStream* AStream) {
  for (;;) {
    std::string line = ReadProtocolLine();
    std::string_view text = line;
    text = TrimView(FetchView(text, ";"));
    std::int64_t size = 0;
    if (!ParseChunkSize(text, size)) {
      // No number: the body ends here, and the connection cannot be trusted for
      // another response.
      FFramingLost = true;
      return;
    }
    if (size == 0) break;
    if (OnChunkReceived) {
      TMemoryStream chunk;
      ReadBytesInto(&chunk, size);
      std::string bytes(chunk.Memory(), static_cast<std::size_t>(chunk.Size()));
      OnChunkReceived(bytes);
      if (AStream != nullptr && !bytes.empty())
        AStream->WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    } else {
      ReadBytesInto(AStream, size);
    }
    ReadProtocolLine();
  }
  // Trailer lines, bounded like the header block.
  std::int32_t count = 0;
  for (;;) {
    std::string line = ReadProtocolLine();
    if (line.empty()) break;
    if (count >= HeaderLineBound()) throw EIdHTTPMaxHeaderLinesExceeded();
    AResponse.RawHeaders().Add(line);
    ++count;
  }
}

void TIdCustomHTTP::ReadMultipartBody(TIdHTTPResponse& AResponse, TStream* AStream) {
  std::string boundary;
  for (const auto& p : SplitHeaderParams(AResponse.ContentType(), QuoteHTTP))
    if (SameTextAscii(p.Name, "boundary")) {
      boundary = p.Value;
      break;
    }
  const std::string marker = "--" + boundary + "--";
  const auto markerLen = static_cast<std::int32_t>(marker.size());
  TIdIOHandler* io = IOHandler();
  TIdBuffer& buffer = io->InputBuffer();
  for (;;) {
    const std::int32_t at = buffer.Size() >= markerLen ? buffer.IndexOf(marker) : -1;
    if (at >= 0) {
      buffer.ExtractToStream(AStream, at + markerLen);
      io->ReadLn();  // the rest of the marker's line
      return;
    }
    if (buffer.Size() > markerLen - 1)
      buffer.ExtractToStream(AStream, buffer.Size() - (markerLen - 1));
    if (!io->CheckForDataOnSource(IdTimeoutDefault)) {
      if (io->ClosedGracefully() || !io->Opened()) {
        buffer.ExtractToStream(AStream, -1);
        if (io->LostByError() != 0) io->RaiseConnectionEnded();
        return;
      }
      throw EIdReadTimeout();
    }
  }
}

}  // namespace vto
