// The TLS I/O handler over OpenSSL: a socket handler that, unless passed
// through, runs every byte through a TLS session made fresh for each TCP
// connection.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "desktop/IdSet.h"
#include "net/IdIOHandlerSocket.h"
#include "net/IdSSLOpenSSLBinding.h"

namespace vto {

enum TIdSSLVersion {
  sslvSSLv2 = 0,
  sslvSSLv23 = 1,
  sslvSSLv3 = 2,
  sslvTLSv1 = 3,
  sslvTLSv1_1 = 4,
  sslvTLSv1_2 = 5
};
using TIdSSLVersions = TIdSet<TIdSSLVersion>;
enum TIdSSLMode { sslmUnassigned, sslmClient, sslmServer, sslmBoth };
enum TIdSSLVerifyMode { sslvrfPeer, sslvrfFailIfNoPeerCert, sslvrfClientOnce };
using TIdSSLVerifyModeSet = TIdSet<TIdSSLVerifyMode>;
enum TIdSSLCtxMode { sslCtxClient, sslCtxServer };

// Every version of the set the library may provide.
inline constexpr TIdSSLVersions kAllSSLVersions{sslvSSLv2, sslvSSLv3, sslvTLSv1, sslvTLSv1_1,
                                                sslvTLSv1_2};

#define VTO_OSSL_EXCEPTION(Name, Base, DefaultMessage) \
  class Name : public Base {                           \
   public:                                             \
    Name() : Base(DefaultMessage) {}                   \
    using Base::Base;                                  \
  }
VTO_OSSL_EXCEPTION(EIdOSSLCouldNotLoadSSLLibrary, EIdOpenSSLError, "Could not load SSL library.");
VTO_OSSL_EXCEPTION(EIdOSSLModeNotSet, EIdOpenSSLError, "Mode has not been set.");
VTO_OSSL_EXCEPTION(EIdOSSLGetMethodError, EIdOpenSSLError, "Error getting SSL method.");
VTO_OSSL_EXCEPTION(EIdOSSLCreatingSessionError, EIdOpenSSLError, "Error creating SSL session.");
VTO_OSSL_EXCEPTION(EIdOSSLSettingCipherError, EIdOpenSSLError, "SetCipher failed.");
VTO_OSSL_EXCEPTION(EIdOSSLCreatingContextError, EIdOpenSSLAPICryptoError,
                   "Error creating SSL context.");
VTO_OSSL_EXCEPTION(EIdOSSLLoadingRootCertError, EIdOpenSSLAPICryptoError,
                   "Could not load root certificate.");
VTO_OSSL_EXCEPTION(EIdOSSLLoadingCertError, EIdOpenSSLAPICryptoError,
                   "Could not load certificate.");
VTO_OSSL_EXCEPTION(EIdOSSLLoadingKeyError, EIdOpenSSLAPICryptoError,
                   "Could not load key, check password.");
VTO_OSSL_EXCEPTION(EIdOSSLLoadingDHParamsError, EIdOpenSSLAPICryptoError,
                   "Could not load DH Parameters.");
VTO_OSSL_EXCEPTION(EIdOSSLDataBindingError, EIdOpenSSLAPISSLError,
                   "Error binding data to SSL socket.");
VTO_OSSL_EXCEPTION(EIdOSSLFDSetError, EIdOpenSSLAPISSLError,
                   "Error setting File Descriptor for SSL");
VTO_OSSL_EXCEPTION(EIdOSSLAcceptError, EIdOpenSSLAPISSLError,
                   "Error accepting connection with SSL.");
VTO_OSSL_EXCEPTION(EIdOSSLConnectError, EIdOpenSSLAPISSLError, "Error connecting with SSL.");
#undef VTO_OSSL_EXCEPTION

// The TLS settings of a handler. Writing Method or SSLVersions overrides the other.
class TIdSSLOptions {
 public:
  const std::string& RootCertFile() const { return FRootCertFile; }
  void SetRootCertFile(const std::string& Value) { FRootCertFile = Value; }
  const std::string& CertFile() const { return FCertFile; }
  void SetCertFile(const std::string& Value) { FCertFile = Value; }
  const std::string& KeyFile() const { return FKeyFile; }
  void SetKeyFile(const std::string& Value) { FKeyFile = Value; }
  const std::string& DHParamsFile() const { return FDHParamsFile; }
  void SetDHParamsFile(const std::string& Value) { FDHParamsFile = Value; }
  TIdSSLVersion Method() const { return FMethod; }
  void SetMethod(TIdSSLVersion Value);
  TIdSSLVersions SSLVersions() const { return FSSLVersions; }
  void SetSSLVersions(TIdSSLVersions Value);
  TIdSSLMode Mode() const { return FMode; }
  void SetMode(TIdSSLMode Value) { FMode = Value; }
  TIdSSLVerifyModeSet VerifyMode() const { return FVerifyMode; }
  void SetVerifyMode(TIdSSLVerifyModeSet Value) { FVerifyMode = Value; }
  std::int32_t VerifyDepth() const { return FVerifyDepth; }
  void SetVerifyDepth(std::int32_t Value) { FVerifyDepth = Value; }
  const std::string& VerifyDirs() const { return FVerifyDirs; }
  void SetVerifyDirs(const std::string& Value) { FVerifyDirs = Value; }
  const std::string& CipherList() const { return FCipherList; }
  void SetCipherList(const std::string& Value) { FCipherList = Value; }

 private:
  std::string FRootCertFile, FCertFile, FKeyFile, FDHParamsFile;
  TIdSSLVersion FMethod = sslvTLSv1;
  TIdSSLVersions FSSLVersions{sslvTLSv1};
  TIdSSLMode FMode = sslmUnassigned;
  TIdSSLVerifyModeSet FVerifyMode;
  std::int32_t FVerifyDepth = 0;
  std::string FVerifyDirs;
  std::string FCipherList;
};

class TIdSSLIOHandlerSocketOpenSSL;
class TIdSSLSocket;

// A peer certificate as the verification callback sees it (not owned).
class TIdX509 {
 public:
  explicit TIdX509(X509* ACertificate) : FCertificate(ACertificate) {}
  X509* Certificate() const { return FCertificate; }
  std::string Subject() const;
  std::string Issuer() const;

 private:
  X509* FCertificate;
};

// One OpenSSL context, built from a copy of the options.
class TIdSSLContext {
 public:
  // Starts OpenSSL; EIdOSSLCouldNotLoadSSLLibrary when that fails.
  TIdSSLContext();
  ~TIdSSLContext();
  TIdSSLContext(const TIdSSLContext&) = delete;
  TIdSSLContext& operator=(const TIdSSLContext&) = delete;

  // Protocol options, mode, default verify paths, the cipher list and, only
  // with a verify mode, verification. Raises the exceptions of each step.
  void BuildContext(TIdSSLCtxMode ACtxMode);
  SSL_CTX* Context() const { return FContext; }

  TIdSSLVersion Method = sslvTLSv1;
  TIdSSLVersions SSLVersions{sslvTLSv1};
  TIdSSLMode Mode = sslmUnassigned;
  std::string RootCertFile, CertFile, KeyFile, DHParamsFile;
  std::int32_t VerifyDepth = 0;
  TIdSSLVerifyModeSet VerifyMode;
  std::string VerifyDirs;
  std::string CipherList;
  bool StatusInfoOn = false;
  bool VerifyOn = false;
  std::int32_t SessionId = 1;
  TIdSSLCtxMode CtxMode = sslCtxClient;
  TIdSSLIOHandlerSocketOpenSSL* Parent = nullptr;

 private:
  friend class TIdSSLSocket;
  struct MethodChoice {
    const SSL_METHOD* method = nullptr;
    int version = 0;  // 0: any version; else the one fixed version
  };
  MethodChoice SelectMethod() const;

  SSL_CTX* FContext = nullptr;
};

// The current cipher of a TLS connection.
class TIdSSLCipher {
 public:
  explicit TIdSSLCipher(TIdSSLSocket* AOwner) : FOwner(AOwner) {}
  std::string Name() const;
  std::string Description() const;
  std::int32_t Bits() const;
  std::string Version() const;

 private:
  TIdSSLSocket* FOwner;
};

// One TLS connection over a connected socket.
class TIdSSLSocket {
 public:
  explicit TIdSSLSocket(TIdSSLIOHandlerSocketOpenSSL* AParent);
  // Sends the close notification once (unless the socket is already gone) and
  // frees the connection.
  ~TIdSSLSocket();
  TIdSSLSocket(const TIdSSLSocket&) = delete;
  TIdSSLSocket& operator=(const TIdSSLSocket&) = delete;

  void Connect(std::intptr_t AHandle);
  void Accept(std::intptr_t AHandle);
  // Decrypted bytes into the buffer: the count, 0 when the peer ended the
  // connection, or the failing SSL_read result.
  std::int32_t Recv(TIdBytes& VBuffer);
  std::int32_t Recv(std::uint8_t* ABuffer, std::int32_t ALength);
  // True once application data, the peer's close or an error is there to be
  // read, waiting at most AMSec (below 0: no limit) on the socket. Records that
  // carry no data (session tickets) are taken in and do not count.
  bool WaitForData(TIdSocketHandle& ASocket, std::int32_t AMSec);
  // Every byte written: the length, 0 when the peer closed, or a failing result.
  std::int32_t Send(const TIdBytes& ABuffer, std::int32_t AOffset, std::int32_t ALength);

  SSL* SSLHandle() const { return FSSL; }
  TIdSSLCipher& Cipher();
  const std::string& HostName() const { return FHostName; }
  void SetHostName(const std::string& Value) { FHostName = Value; }
  TIdSSLContext* SSLContext() const { return FSSLContext; }
  void SetSSLContext(TIdSSLContext* Value) { FSSLContext = Value; }

 private:
  void MakeConnection(std::intptr_t AHandle);
  // A look at what has arrived, without waiting: true for data or an end
  // (which the next Recv then returns), false when there is nothing to read.
  bool LookForData();

  // An end or error met by a look without waiting, for the next Recv.
  struct SeenEnd {
    bool seen = false;
    int result = 0;
    int sslError = 0;
    std::int32_t socketError = 0;
  } FSeenEnd;
  TIdSSLIOHandlerSocketOpenSSL* FParent;
  SSL* FSSL = nullptr;
  std::unique_ptr<TIdSSLCipher> FCipher;
  TIdSSLContext* FSSLContext = nullptr;
  std::string FHostName;
};

// The TLS handler's base: PassThrough, IsPeer and URIToCheck, and the read and
// write primitives that go round the TLS session while passing through.
class TIdSSLIOHandlerSocketBase : public TIdIOHandlerStack {
 public:
  bool PassThrough() const { return FPassThrough; }
  virtual void SetPassThrough(bool Value) { FPassThrough = Value; }
  bool IsPeer() const { return FIsPeer; }
  void SetIsPeer(bool Value) { FIsPeer = Value; }
  const std::string& URIToCheck() const { return FURIToCheck; }
  virtual void SetURIToCheck(const std::string& Value) { FURIToCheck = Value; }
  virtual std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() = 0;
  virtual void StartSSL() = 0;

 protected:
  virtual std::int32_t ReceiveDecrypted(std::uint8_t* ABuffer, std::int32_t ALength) = 0;
  virtual std::int32_t SendEncrypted(const TIdBytes& ABuffer, std::int32_t AOffset,
                                     std::int32_t ALength) = 0;
  std::int32_t ReadFromTransport(std::uint8_t* ABuffer, std::int32_t ALength) override;
  // Through the session every read waits for readability first.
  bool TryReadFromTransport(std::uint8_t* ABuffer, std::int32_t ALength, std::int32_t ATimeout,
                            std::int32_t& ACount) override;
  std::int32_t WriteToTransport(const TIdBytes& ABuffer, std::int32_t AOffset,
                                std::int32_t ALength) override;

  bool FPassThrough = false;
  bool FIsPeer = false;
  std::string FURIToCheck;
};

class TIdSSLIOHandlerSocketOpenSSL : public TIdSSLIOHandlerSocketBase {
 public:
  TIdSSLIOHandlerSocketOpenSSL();
  ~TIdSSLIOHandlerSocketOpenSSL() override;

  TIdSSLOptions& SSLOptions() { return *FSSLOptions; }
  TIdSSLContext* SSLContext() const { return FSSLContext.get(); }
  TIdSSLSocket* SSLSocket() const { return FSSLSocket.get(); }

  void SetPassThrough(bool Value) override;
  void Close() override;
  // True once application data (or the peer's close) is there, waiting at most
  // the time given and never longer than SocketTimeout().
  bool Readable(std::int32_t AMSec = IdTimeoutDefault) override;

  // The bound on every wait on the socket: its receive and send time-outs, the
  // wait for data and the connect (unless ConnectTimeout sets its own).
  // ReadTimeout when set, else the process-wide default of 30,000 ms, which
  // tests may shorten.
  std::int32_t SocketTimeout() const;
  static std::int32_t DefaultSocketTimeout();
  static void SetDefaultSocketTimeout(std::int32_t AMSec);
  std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() override;
  void StartSSL() override;

  std::function<void(const std::string&)> OnStatusInfo;
  std::function<void(const SSL*, int, int, const std::string&, const std::string&)> OnStatusInfoEx;
  std::function<void(std::string&)> OnGetPassword;
  std::function<void(std::string&, bool)> OnGetPasswordEx;
  std::function<bool(const TIdX509&, bool, int, int)> OnVerifyPeer;
  std::function<void(TIdSSLIOHandlerSocketOpenSSL&)> OnBeforeConnect;

  // What OpenSSL's callbacks reach (under their locks).
  virtual void NotifyStatus(const std::string& AMsg);
  virtual void AskPassword(std::string& VPassword);
  virtual void AskPasswordEx(std::string& VPassword, bool AIsWrite);
  virtual bool AskVerifyPeer(const TIdX509& ACertificate, bool AOk, int ADepth, int AError);
  void StatusInfo(const SSL* ASSL, int AWhere, int ARet, const std::string& AType,
                  const std::string& AMsg);
  void GetPassword(std::string& VPassword, bool AIsWrite);

 protected:
  void ConnectTransport() override;
  std::int32_t ConnectTimeLimit() const override;
  std::int32_t CheckTransportResult(std::int32_t AResult) override;
  [[noreturn]] void RaiseTransportError(std::int32_t AErrorCode) override;
  std::int32_t ReceiveDecrypted(std::uint8_t* ABuffer, std::int32_t ALength) override;
  std::int32_t SendEncrypted(const TIdBytes& ABuffer, std::int32_t AOffset,
                             std::int32_t ALength) override;
  virtual void NotifyBeforeConnect();
  virtual void NegotiateTLS();
  void PrepareContext();

 private:
  std::unique_ptr<TIdSSLOptions> FSSLOptions;
  std::unique_ptr<TIdSSLContext> FSSLContext;
  std::unique_ptr<TIdSSLSocket> FSSLSocket;
};

}  // namespace vto
