// The HTTP/1.1 client: one GET into a stream, with redirects, Basic
// authentication and cookies, over a plain or a TLS connection.
//
//   TIdSSLIOHandlerSocketOpenSSL tls;
//   TIdHTTP http;
//   http.SetIOHandler(&tls);           // not owned
//   http.SetHandleRedirects(true);
//   TQELMemoryStream body;
//   http.Get("https://host/app.jnlp", body);
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/IdSet.h"
#include "http/IdAuthentication.h"
#include "http/IdCookie.h"
#include "http/IdHTTPHeaderInfo.h"
#include "net/IdException.h"
#include "net/IdTCPConnection.h"
#include "net/IdURI.h"

namespace vto {

class TStream;

enum TIdHTTPOption : std::uint8_t {
  hoInProcessAuth = 0,
  hoKeepOrigProtocol = 1,
  hoForceEncodeParams = 2,
  hoNonSSLProxyUseConnectVerb = 3,
  hoNoParseMetaHTTPEquiv = 4,
  hoWaitForUnexpectedData = 5,
  hoTreat302Like303 = 6,
  hoNoProtocolErrorException = 7,
  hoNoReadMultipartMIME = 8,
  hoNoParseXmlCharset = 9,
  hoWantProtocolErrorContent = 10,
  hoNoReadChunked = 11
};
using TIdHTTPOptions = TIdSet<TIdHTTPOption>;

enum TIdHTTPWhatsNext : std::uint8_t {
  wnGoToURL = 0,
  wnJustExit = 1,
  wnDontKnow = 2,
  wnReadAndGo = 3,
  wnAuthRequest = 4
};

// A reply whose status is an error.
class EIdReplyRFCError : public EIdException {
 public:
  EIdReplyRFCError(std::int32_t AErrorCode, std::string AMessage)
      : EIdException(std::move(AMessage)), FErrorCode(AErrorCode) {}
  std::int32_t ErrorCode() const { return FErrorCode; }

 private:
  std::int32_t FErrorCode;
};

// An HTTP status that ends the request: the message is the status line, the
// error body (read as text in the response's character set) is ErrorMessage.
class EIdHTTPProtocolException : public EIdReplyRFCError {
 public:
  EIdHTTPProtocolException(std::int32_t AErrorCode, std::string AStatusLine,
                           std::string AErrorMessage)
      : EIdReplyRFCError(AErrorCode, std::move(AStatusLine)),
        FErrorMessage(std::move(AErrorMessage)) {}
  static EIdHTTPProtocolException CreateError(std::int32_t AErrorCode, std::string AStatusLine,
                                              std::string AErrorMessage) {
    return EIdHTTPProtocolException(AErrorCode, std::move(AStatusLine), std::move(AErrorMessage));
  }
  const std::string& ErrorMessage() const { return FErrorMessage; }

 private:
  std::string FErrorMessage;
};

class EIdUnknownProtocol : public EIdException {
 public:
  EIdUnknownProtocol() : EIdException("Unknown Protocol") {}
  using EIdException::EIdException;
};

class EIdIOHandlerPropInvalid : public EIdException {
 public:
  EIdIOHandlerPropInvalid() : EIdException("IOHandler value is not valid") {}
  using EIdException::EIdException;
};

// A response with more header (or trailer) lines than MaxHeaderLines.
class EIdHTTPMaxHeaderLinesExceeded : public EIdException {
 public:
  EIdHTTPMaxHeaderLinesExceeded() : EIdException("Max header lines exceeded.") {}
  using EIdException::EIdException;
};

// Proxy settings: the client never goes through a proxy, but a 407 answer keeps
// the authentication object it makes here.
class TIdProxyConnectionInfo {
 public:
  const std::string& ProxyServer() const { return FServer; }
  void SetProxyServer(std::string_view v) { FServer = v; }
  std::uint16_t ProxyPort() const { return FPort; }
  void SetProxyPort(std::uint16_t v) { FPort = v; }
  const std::string& ProxyUsername() const { return FUsername; }
  void SetProxyUsername(std::string_view v) { FUsername = v; }
  const std::string& ProxyPassword() const { return FPassword; }
  void SetProxyPassword(std::string_view v) { FPassword = v; }
  bool BasicAuthentication() const { return FBasicByDefault; }
  void SetBasicAuthentication(bool v) { FBasicByDefault = v; }
  TIdAuthentication* Authentication() const { return FAuthentication.get(); }
  void SetAuthentication(std::unique_ptr<TIdAuthentication> v) { FAuthentication = std::move(v); }

 private:
  std::string FServer;
  std::uint16_t FPort = 0;
  std::string FUsername;
  std::string FPassword;
  bool FBasicByDefault = false;
  std::unique_ptr<TIdAuthentication> FAuthentication;
};

class TIdCustomHTTP;

// The request and response records of the client and the three steps of one
// exchange on them.
class TIdHTTPProtocol {
 public:
  explicit TIdHTTPProtocol(TIdCustomHTTP& AConnection);
  virtual ~TIdHTTPProtocol();
  TIdHTTPProtocol(const TIdHTTPProtocol&) = delete;
  TIdHTTPProtocol& operator=(const TIdHTTPProtocol&) = delete;

  // Writes the request line, the header lines and the empty line.
  void BuildAndSendRequest(TIdURI* AURI);
  // Reads the header block of a response (its status line is read already).
  void RetrieveHeaders(std::int32_t AMaxHeaderCount);
  // Decides from the status what comes next, reading or dropping the body.
  TIdHTTPWhatsNext ProcessResponse(const std::vector<std::int16_t>& AIgnoreReplies);

  TIdHTTPRequest& Request() { return *FRequest; }
  TIdHTTPResponse& Response() { return *FResponse; }

 private:
  TIdHTTPWhatsNext FailWithStatus(const std::vector<std::int16_t>& AIgnoreReplies);
  TIdHTTPWhatsNext HandleRedirect(std::int32_t ACode,
                                  const std::vector<std::int16_t>& AIgnoreReplies);
  TIdHTTPWhatsNext HandleAuthentication(std::int32_t ACode,
                                        const std::vector<std::int16_t>& AIgnoreReplies);

  TIdCustomHTTP& FHTTP;
  std::unique_ptr<TIdHTTPRequest> FRequest;
  std::unique_ptr<TIdHTTPResponse> FResponse;
};

class TIdCustomHTTP : public TIdTCPClientCustom, public IIdHTTPOwner {
 public:
  TIdCustomHTTP();
  ~TIdCustomHTTP() override;

  // ---- the exchange
  // GET of AURL into AResponseContent, from the stream's current position.
  void Get(std::string_view AURL, TStream& AResponseContent);
  // The same without a stream: the body is read and dropped.
  void Get(std::string_view AURL);

  TIdHTTPRequest& Request() { return FHTTPProto->Request(); }
  TIdHTTPResponse& Response() { return FHTTPProto->Response(); }
  std::int32_t ResponseCode() { return Response().ResponseCode(); }
  const std::string& ResponseText() { return Response().ResponseText(); }
  // The URL of the last request, put together again.
  std::string URL() { return FURI.URI(); }

  // ---- properties
  std::int32_t AuthRetries() const { return FAuthRetries; }
  std::int32_t AuthProxyRetries() const { return FAuthProxyRetries; }
  // Not owned; setting one frees a store the client made for itself.
  TIdCookieManager* CookieManager() const { return FCookieManager; }
  void SetCookieManager(TIdCookieManager* AValue);
  std::int32_t MaxAuthRetries() const { return FMaxAuthRetries; }
  void SetMaxAuthRetries(std::int32_t v) { FMaxAuthRetries = v; }
  // More header lines than this (trailers counted apart) end the request with
  // EIdHTTPMaxHeaderLinesExceeded; below 1 stands for the default 255.
  std::int32_t MaxHeaderLines() const { return FMaxHeaderLines; }
  void SetMaxHeaderLines(std::int32_t v) { FMaxHeaderLines = v; }
  bool AllowCookies() const { return FAllowCookies; }
  void SetAllowCookies(bool v) { FAllowCookies = v; }
  TIdHTTPProtocolVersion ProtocolVersion() const { return FProtocolVersion; }
  void SetProtocolVersion(TIdHTTPProtocolVersion v) { FProtocolVersion = v; }
  std::int32_t RedirectMaximum() const { return FRedirectMax; }
  void SetRedirectMaximum(std::int32_t v) { FRedirectMax = v; }
  bool HandleRedirects() const { return FHandleRedirects; }
  void SetHandleRedirects(bool v) { FHandleRedirects = v; }
  TIdHTTPOptions HTTPOptions() const { return FOptions; }
  void SetHTTPOptions(TIdHTTPOptions v) { FOptions = v; }
  TIdProxyConnectionInfo& ProxyParams() { return *FProxyParameters; }

  // ---- hooks (none is needed for a plain download)
  // Whether to go on once the header block is in; no: the body is not read.
  std::function<bool(TIdHeaderList& AHeaders)> OnHeadersAvailable;
  // Whether to follow a redirect; may change the location and the method.
  std::function<bool(std::string& ALocation, std::string& AMethod, std::int32_t ACount)> OnRedirect;
  // May change the authentication class chosen from the challenges.
  std::function<void(TIdAuthenticationClass& AClass, const TIdHeaderList& AChallenges)>
      OnSelectAuthorization;
  std::function<void(TIdAuthenticationClass& AClass, const TIdHeaderList& AChallenges)>
      OnSelectProxyAuthorization;
  // Asked for credentials; true to go on.
  std::function<bool(TIdAuthentication& AAuthentication)> OnAuthorization;
  std::function<bool(TIdAuthentication& AAuthentication)> OnProxyAuthorization;
  // Each chunk of a chunked body before it goes to the stream.
  std::function<void(std::string& AChunk)> OnChunkReceived;

  // ---- IIdHTTPOwner
  bool OwnerConnected() override;
  TIdHTTPProtocolVersion OwnerProtocolVersion() const override { return FProtocolVersion; }

 protected:
  // The factory of the protocol object, called once at construction.
  virtual std::unique_ptr<TIdHTTPProtocol> CreateProtocol();

 private:
  friend class TIdHTTPProtocol;

  void RunRequest(std::string_view AMethod, std::string_view AURL, TStream* ASource,
                  TStream* AResponseContent, const std::vector<std::int16_t>& AIgnoreReplies);
  void PrepareRequestTarget(TIdHTTPRequest& ARequest);
  TIdHTTPConnectionType SelectConnectionTarget();
  void SendRequest(TIdHTTPRequest& ARequest);
  void EnsureConnected(TIdHTTPConnectionType AType);
  std::string ReadProtocolLine();
  // Closes the connection and forgets what it had buffered.
  void DropConnection();
  void StoreResponseCookies(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  void AddRequestCookies(TIdURI& AURI, TIdHTTPRequest& ARequest);
  bool ConfirmRedirect(std::string& ALocation, std::string& AMethod, std::int32_t ACount);
  bool PrepareAuthorization(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  bool PrepareProxyAuthorization(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  std::int32_t HeaderLineBound() const { return FMaxHeaderLines > 0 ? FMaxHeaderLines : 255; }

  // ---- body reading
  void ReadBody(TIdHTTPResponse& AResponse, TStream* AStream);
  void DiscardBody(TIdHTTPResponse& AResponse);
  bool BodyExpected(TIdHTTPResponse& AResponse);
  void ReadChunkedBody(TIdHTTPResponse& AResponse, TStream* AStream);
  void ReadMultipartBody(TIdHTTPResponse& AResponse, TStream* AStream);
  // ACount bytes of a chunk into AStream (dropped without one).
  void ReadBytesInto(TStream* AStream, std::int64_t ACount);

  std::int32_t FAuthRetries = 0;
  std::int32_t FAuthProxyRetries = 0;
  TIdCookieManager* FCookieManager = nullptr;
  bool FImplicitCookieManager = false;
  std::int32_t FMaxAuthRetries = 3;
  std::int32_t FMaxHeaderLines = 255;
  bool FAllowCookies = true;
  TIdHTTPProtocolVersion FProtocolVersion = pv1_1;
  std::int32_t FRedirectCount = 0;
  std::int32_t FRedirectMax = 15;
  bool FHandleRedirects = false;
  TIdHTTPOptions FOptions{hoForceEncodeParams};
  TIdURI FURI;
  std::unique_ptr<TIdHTTPProtocol> FHTTPProto;
  std::unique_ptr<TIdProxyConnectionInfo> FProxyParameters;
  std::unique_ptr<TIdCookieManager> FOwnedCookieManager;
  // The framing of the last body was lost (a chunk size that is no number):
  // the connection must not carry another response.
  bool FFramingLost = false;
};

class TIdHTTP : public TIdCustomHTTP {
 public:
  TIdHTTP() = default;
};

}  // namespace vto
