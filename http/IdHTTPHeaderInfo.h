// The HTTP header records: typed fields for the header lines of a request or a
// response, with the composing (SetHeaders) and reading (ParseHeaders) of their
// RawHeaders, the status line and the keep-alive rule.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/DateTime.h"
#include "http/IdAuthentication.h"
#include "http/IdHeaderList.h"
#include "net/IdURI.h"

namespace vto {

class TStream;

enum TIdHTTPProtocolVersion : std::uint8_t { pv1_0 = 0, pv1_1 = 1 };
enum TIdHTTPConnectionType : std::uint8_t { ctNormal = 0, ctSSL = 1, ctProxy = 2, ctSSLProxy = 3 };

// What the records ask of the HTTP client that owns them.
class IIdHTTPOwner {
 public:
  virtual ~IIdHTTPOwner() = default;
  // Whether the connection stands; while it does, a peer that has closed is
  // noticed first (without raising).
  virtual bool OwnerConnected() = 0;
  // The version the client speaks on its request lines.
  virtual TIdHTTPProtocolVersion OwnerProtocolVersion() const = 0;
};

class TIdEntityRange {
 public:
  std::int64_t StartPos() const { return FStartPos; }
  void SetStartPos(std::int64_t v) { FStartPos = v; }
  std::int64_t EndPos() const { return FEndPos; }
  void SetEndPos(std::int64_t v) { FEndPos = v; }
  std::int64_t SuffixLength() const { return FSuffixLength; }
  void SetSuffixLength(std::int64_t v) { FSuffixLength = v; }
  // "start-end", "start-", "-suffix", or empty.
  std::string Text() const;
  void SetText(std::string_view AValue);

 private:
  std::int64_t FStartPos = -1;
  std::int64_t FEndPos = -1;
  std::int64_t FSuffixLength = -1;
};

class TIdEntityRanges {
 public:
  std::int32_t Count() const { return static_cast<std::int32_t>(FRanges.size()); }
  TIdEntityRange& Items(std::int32_t AIndex) {
    return FRanges.at(static_cast<std::size_t>(AIndex));
  }
  const TIdEntityRange& Items(std::int32_t AIndex) const {
    return FRanges.at(static_cast<std::size_t>(AIndex));
  }
  TIdEntityRange& Add() { return FRanges.emplace_back(); }
  void Clear() { FRanges.clear(); }
  const std::string& Units() const { return FUnits; }
  void SetUnits(std::string_view v) { FUnits = v.empty() ? std::string("bytes") : std::string(v); }
  // Units "=" and the ranges joined by ","; empty when no range has text.
  std::string Text() const;
  void SetText(std::string_view AValue);

 private:
  std::vector<TIdEntityRange> FRanges;
  std::string FUnits = "bytes";
};

class TIdEntityHeaderInfo {
 public:
  TIdEntityHeaderInfo();
  virtual ~TIdEntityHeaderInfo();
  TIdEntityHeaderInfo(const TIdEntityHeaderInfo&) = delete;
  TIdEntityHeaderInfo& operator=(const TIdEntityHeaderInfo&) = delete;

  // Copies every field and both lists.
  void Assign(const TIdEntityHeaderInfo& ASource);
  virtual void ParseHeaders();
  virtual void SetHeaders();
  virtual void Clear();

  const std::string& CacheControl() const { return FCacheControl; }
  void SetCacheControl(std::string_view v) { FCacheControl = v; }
  TIdHeaderList& RawHeaders() { return FRawHeaders; }
  const TIdHeaderList& RawHeaders() const { return FRawHeaders; }
  const std::string& CharSet() const { return FCharSet; }
  void SetCharSet(std::string_view v) { FCharSet = v; }
  const std::string& Connection() const { return FConnection; }
  void SetConnection(std::string_view v) { FConnection = v; }
  const std::string& ContentDisposition() const { return FContentDisposition; }
  void SetContentDisposition(std::string_view v) { FContentDisposition = v; }
  const std::string& ContentEncoding() const { return FContentEncoding; }
  void SetContentEncoding(std::string_view v) { FContentEncoding = v; }
  const std::string& ContentLanguage() const { return FContentLanguage; }
  void SetContentLanguage(std::string_view v) { FContentLanguage = v; }
  std::int64_t ContentLength() const { return FContentLength; }
  void SetContentLength(std::int64_t v) {
    FContentLength = v;
    FHasContentLength = v >= 0;
  }
  std::int64_t ContentRangeEnd() const { return FContentRangeEnd; }
  void SetContentRangeEnd(std::int64_t v) { FContentRangeEnd = v; }
  std::int64_t ContentRangeStart() const { return FContentRangeStart; }
  void SetContentRangeStart(std::int64_t v) { FContentRangeStart = v; }
  std::int64_t ContentRangeInstanceLength() const { return FContentRangeInstanceLength; }
  void SetContentRangeInstanceLength(std::int64_t v) { FContentRangeInstanceLength = v; }
  const std::string& ContentRangeUnits() const { return FContentRangeUnits; }
  void SetContentRangeUnits(std::string_view v) { FContentRangeUnits = v; }
  // The media type without its charset parameter, which goes to CharSet.
  const std::string& ContentType() const { return FContentType; }
  void SetContentType(std::string_view AValue);
  const std::string& ContentVersion() const { return FContentVersion; }
  void SetContentVersion(std::string_view v) { FContentVersion = v; }
  TIdHeaderList& CustomHeaders() { return FCustomHeaders; }
  const TIdHeaderList& CustomHeaders() const { return FCustomHeaders; }
  void SetCustomHeaders(const TIdHeaderList& v) { FCustomHeaders.Assign(v); }
  TDateTime Date() const { return FDate; }
  void SetDate(TDateTime v) { FDate = v; }
  TDateTime Expires() const { return FExpires; }
  void SetExpires(TDateTime v) { FExpires = v; }
  const std::string& ETag() const { return FETag; }
  void SetETag(std::string_view v) { FETag = v; }
  TDateTime LastModified() const { return FLastModified; }
  void SetLastModified(TDateTime v) { FLastModified = v; }
  const std::string& Pragma() const { return FPragma; }
  void SetPragma(std::string_view v) { FPragma = v; }
  bool HasContentLength() const { return FHasContentLength; }
  const std::string& TransferEncoding() const { return FTransferEncoding; }
  void SetTransferEncoding(std::string_view v) { FTransferEncoding = v; }
  bool HasContentRange() const { return FContentRangeEnd >= 0; }
  bool HasContentRangeInstance() const { return FContentRangeInstanceLength >= 0; }

 protected:
  std::string FCacheControl;
  TIdHeaderList FRawHeaders{QuoteHTTP};
  std::string FCharSet;
  std::string FConnection;
  std::string FContentDisposition;
  std::string FContentEncoding;
  std::string FContentLanguage;
  std::int64_t FContentLength = -1;
  std::int64_t FContentRangeEnd = -1;
  std::int64_t FContentRangeStart = -1;
  std::int64_t FContentRangeInstanceLength = -1;
  std::string FContentRangeUnits;
  std::string FContentType;
  std::string FContentVersion;
  TIdHeaderList FCustomHeaders{QuoteHTTP};
  TDateTime FDate = 0;
  TDateTime FExpires = 0;
  std::string FETag;
  TDateTime FLastModified = 0;
  std::string FPragma;
  bool FHasContentLength = false;
  std::string FTransferEncoding;
};

// Header lines found in the HTML of a response body.
class TIdMetaHTTPEquiv : public TIdEntityHeaderInfo {
 public:
  TIdMetaHTTPEquiv() = default;
};

class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
 public:
  // The user agent every new request record announces.
  static const std::string& DefaultUserAgent();
  static constexpr std::string_view kDefaultAccept =
      "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

  TIdRequestHeaderInfo();
  ~TIdRequestHeaderInfo() override;

  // Copies every field, both lists and the ranges; the authentication object
  // stays with its owner.
  void Assign(const TIdRequestHeaderInfo& ASource);
  void ParseHeaders() override;
  void SetHeaders() override;
  void Clear() override;

  const std::string& Accept() const { return FAccept; }
  void SetAccept(std::string_view v) { FAccept = v; }
  const std::string& AcceptCharSet() const { return FAcceptCharSet; }
  void SetAcceptCharSet(std::string_view v) { FAcceptCharSet = v; }
  const std::string& AcceptEncoding() const { return FAcceptEncoding; }
  void SetAcceptEncoding(std::string_view v) { FAcceptEncoding = v; }
  const std::string& AcceptLanguage() const { return FAcceptLanguage; }
  void SetAcceptLanguage(std::string_view v) { FAcceptLanguage = v; }
  const std::string& Expect() const { return FExpect; }
  void SetExpect(std::string_view v) { FExpect = v; }
  const std::string& From() const { return FFrom; }
  void SetFrom(std::string_view v) { FFrom = v; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(std::string_view v) { FPassword = v; }
  const std::string& Referer() const { return FReferer; }
  void SetReferer(std::string_view v) { FReferer = v; }
  const std::string& UserAgent() const { return FUserAgent; }
  void SetUserAgent(std::string_view v) { FUserAgent = v; }
  const std::string& Username() const { return FUserName; }
  void SetUsername(std::string_view v) { FUserName = v; }
  const std::string& Host() const { return FHost; }
  void SetHost(std::string_view v) { FHost = v; }
  const std::string& ProxyConnection() const { return FProxyConnection; }
  void SetProxyConnection(std::string_view v) { FProxyConnection = v; }
  TIdEntityRanges& Ranges() { return *FRanges; }
  const TIdEntityRanges& Ranges() const { return *FRanges; }
  std::string Range() const { return FRanges->Text(); }
  void SetRange(std::string_view v) { FRanges->SetText(v); }
  bool BasicAuthentication() const { return FBasicByDefault; }
  void SetBasicAuthentication(bool v) { FBasicByDefault = v; }
  // Owned; may be absent.
  TIdAuthentication* Authentication() const { return FAuthentication.get(); }
  void SetAuthentication(std::unique_ptr<TIdAuthentication> v) { FAuthentication = std::move(v); }
  const std::string& MethodOverride() const { return FMethodOverride; }
  void SetMethodOverride(std::string_view v) { FMethodOverride = v; }

 protected:
  std::string FAccept;
  std::string FAcceptCharSet;
  std::string FAcceptEncoding;
  std::string FAcceptLanguage;
  std::string FExpect;
  std::string FFrom;
  std::string FPassword;
  std::string FReferer;
  std::string FUserAgent;
  std::string FUserName;
  std::string FHost;
  std::string FProxyConnection;
  std::unique_ptr<TIdEntityRanges> FRanges;
  bool FBasicByDefault = false;
  std::unique_ptr<TIdAuthentication> FAuthentication;
  std::string FMethodOverride;
};

class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
 public:
  TIdResponseHeaderInfo();
  ~TIdResponseHeaderInfo() override;

  void Assign(const TIdResponseHeaderInfo& ASource);
  void ParseHeaders() override;
  void SetHeaders() override;
  void Clear() override;

  const std::string& AcceptPatch() const { return FAcceptPatch; }
  void SetAcceptPatch(std::string_view v) { FAcceptPatch = v; }
  const std::string& AcceptRanges() const { return FAcceptRanges; }
  void SetAcceptRanges(std::string_view v) { FAcceptRanges = v; }
  const std::string& Location() const { return FLocation; }
  void SetLocation(std::string_view v) { FLocation = v; }
  const std::string& Server() const { return FServer; }
  void SetServer(std::string_view v) { FServer = v; }
  const std::string& ProxyConnection() const { return FProxyConnection; }
  void SetProxyConnection(std::string_view v) { FProxyConnection = v; }
  TIdHeaderList& ProxyAuthenticate() { return *FProxyAuthenticate; }
  const TIdHeaderList& ProxyAuthenticate() const { return *FProxyAuthenticate; }
  TIdHeaderList& WWWAuthenticate() { return *FWWWAuthenticate; }
  const TIdHeaderList& WWWAuthenticate() const { return *FWWWAuthenticate; }

 protected:
  std::string FAcceptPatch;
  std::string FAcceptRanges;
  std::string FLocation;
  std::string FServer;
  std::string FProxyConnection;
  std::unique_ptr<TIdHeaderList> FProxyAuthenticate;
  std::unique_ptr<TIdHeaderList> FWWWAuthenticate;
};

class TIdHTTPRequest : public TIdRequestHeaderInfo {
 public:
  explicit TIdHTTPRequest(IIdHTTPOwner* AHTTP = nullptr);

  IIdHTTPOwner* HTTP() const { return FHTTP; }
  const std::string& URL() const { return FURL; }
  void SetURL(std::string_view v) { FURL = v; }
  const std::string& Method() const { return FMethod; }
  void SetMethod(std::string_view v) { FMethod = v; }
  // The body to send; not owned, may be absent.
  TStream* Source() const { return FSourceStream; }
  void SetSource(TStream* v) { FSourceStream = v; }
  TIdHTTPConnectionType UseProxy() const { return FUseProxy; }
  void SetUseProxy(TIdHTTPConnectionType v) { FUseProxy = v; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion v) { FIPVersion = v; }
  const std::string& Destination() const { return FDestination; }
  void SetDestination(std::string_view v) { FDestination = v; }

 protected:
  IIdHTTPOwner* FHTTP;
  std::string FURL;
  std::string FMethod;
  TStream* FSourceStream = nullptr;
  TIdHTTPConnectionType FUseProxy = ctNormal;
  TIdIPVersion FIPVersion = Id_IPv4;
  std::string FDestination;
};

class TIdHTTPResponse : public TIdResponseHeaderInfo {
 public:
  explicit TIdHTTPResponse(IIdHTTPOwner* AHTTP = nullptr);
  ~TIdHTTPResponse() override;

  void Clear() override;

  IIdHTTPOwner* HTTP() const { return FHTTP; }
  // The status line. Writing it resets the code and reads the version.
  const std::string& ResponseText() const { return FResponseText; }
  void SetResponseText(std::string_view AValue);
  // Parsed from the status line on first reading; -1 when it holds no number.
  std::int32_t ResponseCode();
  void SetResponseCode(std::int32_t v) { FResponseCode = v; }
  // The keep-alive rule (asks the owning client; false without one).
  bool KeepAlive();
  void SetKeepAlive(bool v) { FKeepAlive = v; }
  // Where the body goes; not owned, may be absent.
  TStream* ContentStream() const { return FContentStream; }
  void SetContentStream(TStream* v) { FContentStream = v; }
  TIdHTTPProtocolVersion ResponseVersion() const { return FResponseVersion; }
  void SetResponseVersion(TIdHTTPProtocolVersion v) { FResponseVersion = v; }
  TIdMetaHTTPEquiv& MetaHTTPEquiv() { return *FMetaHTTPEquiv; }
  const TIdMetaHTTPEquiv& MetaHTTPEquiv() const { return *FMetaHTTPEquiv; }
  // Takes the header lines and character set that the HTML in ContentStream
  // declares in its head.
  void ProcessMetaHTTPEquiv();

 protected:
  IIdHTTPOwner* FHTTP;
  std::int32_t FResponseCode = -1;
  std::string FResponseText;
  bool FKeepAlive = false;
  TStream* FContentStream = nullptr;
  TIdHTTPProtocolVersion FResponseVersion = pv1_0;
  std::unique_ptr<TIdMetaHTTPEquiv> FMetaHTTPEquiv;
};

// The scanner behind ProcessMetaHTTPEquiv, on 8-bit text (one byte one
// character): the header lines found (as text) and the character set named.
struct TIdHtmlMetaScan {
  std::vector<std::string> Lines;
  std::string CharSet;
};
TIdHtmlMetaScan ScanHtmlMetaHeaders(std::string_view AHtml);

// The status code of a status line ("HTTP/1.1 404 Not Found" gives 404), -1 when
// it holds none.
std::int32_t ParseResponseCode(std::string_view AStatusLine);

}  // namespace vto
