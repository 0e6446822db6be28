#include "net/IdSSLOpenSSL.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "desktop/TextCodec.h"
#include "net/IdExceptions.h"
#include "net/IdIDN.h"
#include "net/IdSocketApi.h"
#include "net/IdURI.h"

namespace vto {

namespace {

constexpr const char* kDefaultCipherList = "AES:ALL:!aNULL:!eNULL:+RC4:@STRENGTH";
std::atomic<std::int32_t> gDefaultSocketTimeout{30000};

// ---- the socket BIO
// OpenSSL talks to the socket through this BIO rather than its own socket BIO,
// so that a write to a peer that has gone never raises SIGPIPE (MSG_NOSIGNAL),
// a receive or send that runs into the socket's own time-out is a failure
// (10060) instead of a retry, and the failing call's error number is recorded
// for the socket layer before anything else can disturb errno.

struct SocketBioData {
  sockets::Handle fd = sockets::kInvalid;
  bool eof = false;
  bool nonblocking = false;  // for a look at what has arrived, without waiting
};

int SocketBioWrite(BIO* bio, const char* data, int length) {
  auto* d = static_cast<SocketBioData*>(ossl::BIO_get_data(bio));
  ossl::BIO_clear_retry_flags(bio);
  if (d == nullptr || length < 0) return -1;
  bool wouldBlock = false;
  const std::int32_t n = sockets::Send(d->fd, data, length, d->nonblocking, wouldBlock);
  if (wouldBlock) ossl::BIO_set_retry_write(bio);
  return n;
}

int SocketBioRead(BIO* bio, char* data, int length) {
  auto* d = static_cast<SocketBioData*>(ossl::BIO_get_data(bio));
  ossl::BIO_clear_retry_flags(bio);
  if (d == nullptr || length < 0) return -1;
  bool wouldBlock = false;
  const std::int32_t n = sockets::Receive(d->fd, data, length, d->nonblocking, wouldBlock);
  if (wouldBlock) ossl::BIO_set_retry_read(bio);
  if (n == 0) d->eof = true;
  return n;
}

long SocketBioCtrl(BIO* bio, int cmd, long num, void* ptr) {
  auto* d = static_cast<SocketBioData*>(ossl::BIO_get_data(bio));
  switch (cmd) {
    case BIO_C_GET_FD:
      if (d == nullptr) return -1;
      if (ptr != nullptr) *static_cast<int*>(ptr) = static_cast<int>(d->fd);
      return static_cast<long>(d->fd);
    case BIO_CTRL_EOF:
      return d != nullptr && d->eof ? 1 : 0;
    case BIO_CTRL_GET_CLOSE:
      return ossl::BIO_get_shutdown(bio);
    case BIO_CTRL_SET_CLOSE:
      ossl::BIO_set_shutdown(bio, static_cast<int>(num));
      return 1;
    case BIO_CTRL_FLUSH:
    case BIO_CTRL_DUP:
      return 1;
    default:
      return 0;
  }
}

int SocketBioCreate(BIO* bio) {
  ossl::BIO_set_data(bio, nullptr);
  ossl::BIO_set_init(bio, 0);
  return 1;
}

int SocketBioDestroy(BIO* bio) {
  if (bio == nullptr) return 0;
  // The socket belongs to the socket handle, which closes it.
  delete static_cast<SocketBioData*>(ossl::BIO_get_data(bio));
  ossl::BIO_set_data(bio, nullptr);
  ossl::BIO_set_init(bio, 0);
  return 1;
}

BIO_METHOD* SocketBioMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m =
        ossl::BIO_meth_new(ossl::BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                           "connection socket");
    if (m != nullptr) {
      ossl::BIO_meth_set_write(m, SocketBioWrite);
      ossl::BIO_meth_set_read(m, SocketBioRead);
      ossl::BIO_meth_set_ctrl(m, SocketBioCtrl);
      ossl::BIO_meth_set_create(m, SocketBioCreate);
      ossl::BIO_meth_set_destroy(m, SocketBioDestroy);
    }
    return m;
  }();
  return method;
}

BIO* NewSocketBio(sockets::Handle fd) {
  BIO_METHOD* method = SocketBioMethod();
  if (method == nullptr) return nullptr;
  BIO* bio = ossl::BIO_new(method);
  if (bio == nullptr) return nullptr;
  ossl::BIO_set_data(bio, new SocketBioData{fd, false, false});
  ossl::BIO_set_init(bio, 1);
  return bio;
}

// Keeps the socket layer's last error across a callback.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(TIdStack::WSGetLastError()) {}
  ~LastErrorKeeper() { TIdStack::WSSetLastError(saved_); }

 private:
  std::int32_t saved_;
};

TIdSSLSocket* SocketOf(const SSL* ssl) {
  return ssl == nullptr ? nullptr : static_cast<TIdSSLSocket*>(ossl::SSL_get_ex_data(ssl, 0));
}

int PasswordCallback(char* buf, int size, int rwflag, void* userdata) {
  std::lock_guard<std::mutex> guard(PasswordCallbackLock());
  LastErrorKeeper keeper;
  auto* context = static_cast<TIdSSLContext*>(userdata);
  if (buf == nullptr || size <= 0 || context == nullptr || context->Parent == nullptr) return 0;
  std::string password;
  try {
    context->Parent->GetPassword(password, rwflag == 1);
  } catch (...) {
    return 0;
  }
  std::string bytes = TextToAnsi(password);
  int n = static_cast<int>(std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(size)));
  std::memcpy(buf, bytes.data(), static_cast<std::size_t>(n));
  return n;
}

void InfoCallback(const SSL* ssl, int where, int ret) {
  std::lock_guard<std::mutex> guard(StatusCallbackLock());
  LastErrorKeeper keeper;
  TIdSSLSocket* socket = SocketOf(ssl);
  if (socket == nullptr || socket->SSLContext() == nullptr ||
      socket->SSLContext()->Parent == nullptr) {
    return;
  }
  std::string type;
  std::string msg;
  if ((where & SSL_CB_ALERT) != 0) {
    type = ossl::SSL_alert_type_string_long(ret);
    msg = ossl::SSL_alert_desc_string_long(ret);
  } else {
    type = (where & SSL_CB_LOOP) != 0 ? "loop" : ((where & SSL_CB_EXIT) != 0 ? "exit" : "state");
    msg = ossl::SSL_state_string_long(ssl);
  }
  try {
    socket->SSLContext()->Parent->StatusInfo(ssl, where, ret, type, msg);
  } catch (...) {
    // an observer's failure must not unwind through OpenSSL
  }
}

int VerifyCallback(int ok, X509_STORE_CTX* store) {
  std::lock_guard<std::mutex> guard(VerifyCallbackLock());
  auto* ssl = static_cast<SSL*>(
      ossl::X509_STORE_CTX_get_ex_data(store, ossl::SSL_get_ex_data_X509_STORE_CTX_idx()));
  TIdSSLSocket* socket = SocketOf(ssl);
  if (socket == nullptr || socket->SSLContext() == nullptr ||
      socket->SSLContext()->Parent == nullptr) {
    return ok;
  }
  TIdX509 certificate(ossl::X509_STORE_CTX_get_current_cert(store));
  try {
    return socket->SSLContext()->Parent->AskVerifyPeer(certificate, ok == 1,
                                                       ossl::X509_STORE_CTX_get_error_depth(store),
                                                       ossl::X509_STORE_CTX_get_error(store))
               ? 1
               : 0;
  } catch (...) {
    return 0;
  }
}

std::string NameText(const X509_NAME* name) {
  if (name == nullptr) return std::string();
  char* text = ossl::X509_NAME_oneline(name, nullptr, 0);
  std::string out = text != nullptr ? text : "";
  ossl::OPENSSL_free(text);
  return out;
}

// The versions of the set and their protocol options, and whether the library
// provides their methods.
struct VersionOption {
  TIdSSLVersion version;
  bool available;
  std::uint64_t option;
};

constexpr VersionOption kVersionOptions[] = {
    {sslvSSLv2, false, 0},  // no SSLv2 methods in this library line
#ifndef OPENSSL_NO_SSL3_METHOD
    {sslvSSLv3, true, SSL_OP_NO_SSLv3},
#else
    {sslvSSLv3, false, SSL_OP_NO_SSLv3},
#endif
    {sslvTLSv1, true, SSL_OP_NO_TLSv1},
#ifndef OPENSSL_NO_TLS1_1_METHOD
    {sslvTLSv1_1, true, SSL_OP_NO_TLSv1_1},
#else
    {sslvTLSv1_1, false, SSL_OP_NO_TLSv1_1},
#endif
#ifndef OPENSSL_NO_TLS1_2_METHOD
    {sslvTLSv1_2, true, SSL_OP_NO_TLSv1_2},
#else
    {sslvTLSv1_2, false, SSL_OP_NO_TLSv1_2},
#endif
};

bool VersionAvailable(TIdSSLVersion v) {
  for (const VersionOption& o : kVersionOptions) {
    if (o.version == v) return o.available;
  }
  return false;
}

int ProtocolVersionOf(TIdSSLVersion v) {
  switch (v) {
#ifndef OPENSSL_NO_SSL3_METHOD
    case sslvSSLv3:
      return SSL3_VERSION;
#endif
    case sslvTLSv1:
      return TLS1_VERSION;
    case sslvTLSv1_1:
      return TLS1_1_VERSION;
    case sslvTLSv1_2:
      return TLS1_2_VERSION;
    default:
      return -1;
  }
}

// What a failed SSL_read or SSL_write of a blocking socket leaves to do: the
// call once more (the session had to read or write for itself first), the
// peer's close notification, or a failure for the caller.
enum class CallOutcome { Again, Closed, Failed };

CallOutcome AfterFailedCall(const SSL* ssl, int result) {
  switch (ossl::SSL_get_error(ssl, result)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      return CallOutcome::Again;
    case SSL_ERROR_ZERO_RETURN:
      return CallOutcome::Closed;
    default:
      return CallOutcome::Failed;
  }
}

bool IsAddressLiteral(const std::string& AHost) {
  return TIdStack::IsIP(AHost) || IsValidIPv6(AHost);
}

// SSL_get_error reads the error queue, which must hold nothing older than the
// call it explains. Peeking first keeps the common case cheap.
void ClearErrorQueue() {
  if (ossl::ERR_peek_error() != 0) ossl::ERR_clear_error();
}

// The SSL_get_error result of a failed handshake. A peer that ends the
// connection in mid-handshake without an alert reads as a close notification
// under SSL_OP_IGNORE_UNEXPECTED_EOF; in a handshake it is the protocol
// violation it always was (a system-call failure with result 0).
int HandshakeError(const SSL* ssl, int& rc) {
  int e = ossl::SSL_get_error(ssl, rc);
  if (e != SSL_ERROR_ZERO_RETURN) return e;
  rc = 0;
  return SSL_ERROR_SYSCALL;
}

}  // namespace

// ---------------------------------------------------------------- options

void TIdSSLOptions::SetMethod(TIdSSLVersion Value) {
  FMethod = Value;
  FSSLVersions = Value == sslvSSLv23 ? kAllSSLVersions : TIdSSLVersions{Value};
}

void TIdSSLOptions::SetSSLVersions(TIdSSLVersions Value) {
  for (TIdSSLVersion single : {sslvSSLv2, sslvSSLv3, sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2}) {
    if (Value == TIdSSLVersions{single}) {
      FSSLVersions = Value;
      FMethod = single;
      return;
    }
  }
  FMethod = sslvSSLv23;
  if (Value.Contains(sslvSSLv23)) {
    Value.Exclude(sslvSSLv23);
    if (Value.Empty()) Value = kAllSSLVersions;
  }
  FSSLVersions = Value;
}

// ---------------------------------------------------------------- certificate

std::string TIdX509::Subject() const {
  return FCertificate == nullptr ? std::string()
                                 : NameText(ossl::X509_get_subject_name(FCertificate));
}

std::string TIdX509::Issuer() const {
  return FCertificate == nullptr ? std::string()
                                 : NameText(ossl::X509_get_issuer_name(FCertificate));
}

// ---------------------------------------------------------------- context

TIdSSLContext::TIdSSLContext() {
  if (!EnsureOpenSSLReady()) throw EIdOSSLCouldNotLoadSSLLibrary();
}

TIdSSLContext::~TIdSSLContext() {
  SSL_CTX* context = FContext;
  FContext = nullptr;
  if (context != nullptr) ossl::SSL_CTX_free(context);
}

TIdSSLContext::MethodChoice TIdSSLContext::SelectMethod() const {
  if (Mode == sslmUnassigned) throw EIdOSSLModeNotSet();
  MethodChoice choice;
  switch (Mode) {
    case sslmClient:
      choice.method = ossl::TLS_client_method();
      break;
    case sslmServer:
      choice.method = ossl::TLS_server_method();
      break;
    default:
      choice.method = ossl::TLS_method();
      break;
  }
  // A fixed version is the version-flexible method held to that one version;
  // TLS 1.1 and 1.2 fall back to TLS 1.0 when the library lacks them.
  TIdSSLVersion wanted = Method;
  if (wanted == sslvTLSv1_1 || wanted == sslvTLSv1_2) {
    if (!VersionAvailable(wanted)) wanted = sslvTLSv1;
  }
  if (wanted != sslvSSLv23) {
    if (!VersionAvailable(wanted)) throw EIdOSSLGetMethodError();
    choice.version = ProtocolVersionOf(wanted);
  }
  if (choice.method == nullptr) throw EIdOSSLGetMethodError();
  return choice;
}

void TIdSSLContext::BuildContext(TIdSSLCtxMode ACtxMode) {
  if (FContext != nullptr) {
    SSL_CTX* old = FContext;
    FContext = nullptr;
    ossl::SSL_CTX_free(old);
  }
  CtxMode = ACtxMode;
  if (Mode == sslmUnassigned) Mode = ACtxMode == sslCtxServer ? sslmServer : sslmClient;
  MethodChoice choice = SelectMethod();
  ossl::ERR_clear_error();
  FContext = ossl::SSL_CTX_new(choice.method);
  if (FContext == nullptr) {
    EIdOpenSSLAPICryptoError::RaiseException<EIdOSSLCreatingContextError>(
        "Error creating SSL context.");
  }
  if (choice.version > 0) {
    ossl::SSL_CTX_set_min_proto_version(FContext, choice.version);
    ossl::SSL_CTX_set_max_proto_version(FContext, choice.version);
  }

  for (const VersionOption& o : kVersionOptions) {
    if (!o.available || o.option == 0) continue;
    if (!SSLVersions.Contains(o.version)) {
      ossl::SSL_CTX_set_options(FContext, o.option);
    } else if (Method == sslvSSLv23) {
      ossl::SSL_CTX_clear_options(FContext, o.option);
    }
  }
  // A peer that ends the connection without a close notification ends it in
  // order: the read gives 0.
  ossl::SSL_CTX_set_options(FContext, SSL_OP_IGNORE_UNEXPECTED_EOF);
  ossl::SSL_CTX_set_mode(FContext, SSL_MODE_AUTO_RETRY);
  // Records are read ahead in large pieces (fewer receive calls); Readable()
  // therefore asks for any buffered bytes, processed or not.
  ossl::SSL_CTX_set_read_ahead(FContext, 1);
  ossl::SSL_CTX_set_default_read_buffer_len(FContext, 64 * 1024);
  ossl::SSL_CTX_set_default_passwd_cb(FContext, PasswordCallback);
  ossl::SSL_CTX_set_default_passwd_cb_userdata(FContext, this);
  // The system's trusted roots serve verification only; without a verify mode
  // nothing reads them, and loading them costs more than the whole handshake.
  // On Windows they are the system's ROOT store (OpenSSL's default paths name
  // folders of the machine it was built for).
  if (!VerifyMode.Empty()) {
#if defined(_WIN32)
    LoadSystemRootCertificates(FContext);
#else
    ossl::SSL_CTX_set_default_verify_paths(FContext);
#endif
  }
  ossl::ERR_clear_error();

  if (!RootCertFile.empty() || !VerifyDirs.empty()) {
    if (ossl::SSL_CTX_load_verify_locations(
            FContext, RootCertFile.empty() ? nullptr : RootCertFile.c_str(),
            VerifyDirs.empty() ? nullptr : VerifyDirs.c_str()) != 1) {
      EIdOpenSSLAPICryptoError::RaiseException<EIdOSSLLoadingRootCertError>(
          "Could not load root certificate.");
    }
  }
  if (!CertFile.empty() &&
      ossl::SSL_CTX_use_certificate_chain_file(FContext, CertFile.c_str()) != 1) {
    EIdOpenSSLAPICryptoError::RaiseException<EIdOSSLLoadingCertError>(
        "Could not load certificate.");
  }
  if (!KeyFile.empty() &&
      ossl::SSL_CTX_use_PrivateKey_file(FContext, KeyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    EIdOpenSSLAPICryptoError::RaiseException<EIdOSSLLoadingKeyError>(
        "Could not load key, check password.");
  }
  if (!DHParamsFile.empty()) {
    EVP_PKEY* dh = nullptr;
    if (BIO* in = ossl::BIO_new_file(DHParamsFile.c_str(), "r")) {
      dh = ossl::PEM_read_bio_Parameters(in, nullptr);
      ossl::BIO_free(in);
    }
    if (dh == nullptr || ossl::SSL_CTX_set0_tmp_dh_pkey(FContext, dh) != 1) {
      ossl::EVP_PKEY_free(dh);
      EIdOpenSSLAPICryptoError::RaiseException<EIdOSSLLoadingDHParamsError>(
          "Could not load DH Parameters.");
    }
  }
  if (StatusInfoOn) ossl::SSL_CTX_set_info_callback(FContext, InfoCallback);

  std::string ciphers = CipherList.empty() ? kDefaultCipherList : TextToAnsi(CipherList);
  if (ossl::SSL_CTX_set_cipher_list(FContext, ciphers.c_str()) <= 0) {
    ossl::ERR_clear_error();
    throw EIdOSSLSettingCipherError();
  }

  if (!VerifyMode.Empty()) {
    int bits = 0;
    if (VerifyMode.Contains(sslvrfPeer)) bits |= SSL_VERIFY_PEER;
    if (VerifyMode.Contains(sslvrfFailIfNoPeerCert)) bits |= SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
    if (VerifyMode.Contains(sslvrfClientOnce)) bits |= SSL_VERIFY_CLIENT_ONCE;
    ossl::SSL_CTX_set_verify(FContext, bits, VerifyOn ? VerifyCallback : nullptr);
    ossl::SSL_CTX_set_verify_depth(FContext, VerifyDepth);
  }

  if (ACtxMode == sslCtxServer) {
    unsigned char sid[4];
    std::memcpy(sid, &SessionId, sizeof sid);
    ossl::SSL_CTX_set_session_id_context(FContext, sid, sizeof sid);
    if (!RootCertFile.empty()) {
      ossl::SSL_CTX_set_client_CA_list(FContext,
                                       ossl::SSL_load_client_CA_file(RootCertFile.c_str()));
    }
  }
  ossl::ERR_clear_error();
}

// ---------------------------------------------------------------- cipher

std::string TIdSSLCipher::Name() const {
  const SSL_CIPHER* c = ossl::SSL_get_current_cipher(FOwner->SSLHandle());
  return c == nullptr ? std::string() : AnsiToText(ossl::SSL_CIPHER_get_name(c));
}

std::string TIdSSLCipher::Description() const {
  const SSL_CIPHER* c = ossl::SSL_get_current_cipher(FOwner->SSLHandle());
  if (c == nullptr) return std::string();
  char buffer[1024] = {};
  ossl::SSL_CIPHER_description(c, buffer, sizeof buffer);
  return AnsiToText(buffer);
}

std::int32_t TIdSSLCipher::Bits() const {
  const SSL_CIPHER* c = ossl::SSL_get_current_cipher(FOwner->SSLHandle());
  int bits = 0;
  if (c != nullptr) ossl::SSL_CIPHER_get_bits(c, &bits);
  return bits;
}

std::string TIdSSLCipher::Version() const {
  const SSL_CIPHER* c = ossl::SSL_get_current_cipher(FOwner->SSLHandle());
  return c == nullptr ? std::string() : AnsiToText(ossl::SSL_CIPHER_get_version(c));
}

// ---------------------------------------------------------------- TLS connection

TIdSSLSocket::TIdSSLSocket(TIdSSLIOHandlerSocketOpenSSL* AParent) : FParent(AParent) {}

TIdSSLSocket::~TIdSSLSocket() {
  SSL* ssl = FSSL;
  FSSL = nullptr;
  if (ssl != nullptr) {
    if (FSSLContext != nullptr && FSSLContext->StatusInfoOn && FSSLContext->Context() != nullptr) {
      ossl::SSL_CTX_set_info_callback(FSSLContext->Context(), nullptr);
    }
    // The close notification goes out once, unanswered. A socket that is
    // already closed is not written to: its descriptor number may belong to
    // something else by now.
    if (FParent != nullptr && FParent->BindingAllocated()) {
      LastErrorKeeper keeper;
      ossl::ERR_clear_error();
      ossl::SSL_shutdown(ssl);
    }
    ossl::ERR_clear_error();
    ossl::SSL_free(ssl);
  }
  FCipher.reset();
}

TIdSSLCipher& TIdSSLSocket::Cipher() {
  if (!FCipher) FCipher = std::make_unique<TIdSSLCipher>(this);
  return *FCipher;
}

void TIdSSLSocket::MakeConnection(std::intptr_t AHandle) {
  if (FSSLContext == nullptr || FSSLContext->Context() == nullptr) {
    throw EIdOSSLCreatingSessionError();
  }
  ossl::ERR_clear_error();
  if (FSSL != nullptr) {
    SSL* previous = FSSL;
    FSSL = nullptr;
    ossl::SSL_free(previous);
  }
  FSSL = ossl::SSL_new(FSSLContext->Context());
  if (FSSL == nullptr) throw EIdOSSLCreatingSessionError();
  int rc = ossl::SSL_set_ex_data(FSSL, 0, this);
  if (rc < 1) {
    EIdOpenSSLAPISSLError::RaiseException<EIdOSSLDataBindingError>(
        FSSL, rc, "Error binding data to SSL socket.");
  }
  BIO* bio = NewSocketBio(AHandle);
  if (bio == nullptr) {
    EIdOpenSSLAPISSLError::RaiseException<EIdOSSLFDSetError>(
        FSSL, 0, "Error setting File Descriptor for SSL");
  }
  ossl::SSL_set_bio(FSSL, bio, bio);
  if (FParent != nullptr && FParent->SSLSocket() != nullptr && FParent->SSLSocket() != this &&
      FParent->SSLSocket()->SSLHandle() != nullptr) {
    ossl::SSL_copy_session_id(FSSL, FParent->SSLSocket()->SSLHandle());
  }
}

void TIdSSLSocket::Connect(std::intptr_t AHandle) {
  MakeConnection(AHandle);
  // An address literal is no server name (RFC 6066, 3): servers that follow
  // the rule refuse a handshake that names one, so none goes out. A name goes
  // out as it is, an international one in its ASCII form, as the server knows
  // it; the result is not used.
  if (!IsAddressLiteral(FHostName)) {
    std::string name = HostToAscii(FHostName);
    if (name.empty()) name = TextToAnsi(FHostName);
    ossl::SSL_set_tlsext_host_name(FSSL, name.c_str());
  }
  ossl::ERR_clear_error();
  TIdStack::WSSetLastError(0);
  int rc = ossl::SSL_connect(FSSL);
  if (rc < 1) {
    int e = HandshakeError(FSSL, rc);
    EIdOpenSSLAPISSLError::RaiseExceptionCode<EIdOSSLConnectError>(e, rc,
                                                                   "Error connecting with SSL.");
  }
  if (FParent != nullptr) {
    TIdSSLCipher& c = Cipher();
    FParent->NotifyStatus("Cipher: name = " + c.Name() + "; " + "description = " + c.Description() +
                          "; " + "bits = " + std::to_string(c.Bits()) + "; " +
                          "version = " + c.Version() + "; ");
  }
}

void TIdSSLSocket::Accept(std::intptr_t AHandle) {
  MakeConnection(AHandle);
  ossl::ERR_clear_error();
  TIdStack::WSSetLastError(0);
  int rc = ossl::SSL_accept(FSSL);
  if (rc < 1) {
    int e = HandshakeError(FSSL, rc);
    EIdOpenSSLAPISSLError::RaiseExceptionCode<EIdOSSLAcceptError>(
        e, rc, "Error accepting connection with SSL.");
  }
}

std::int32_t TIdSSLSocket::Recv(TIdBytes& VBuffer) {
  return Recv(VBuffer.data(), static_cast<std::int32_t>(VBuffer.size()));
}

std::int32_t TIdSSLSocket::Recv(std::uint8_t* ABuffer, std::int32_t ALength) {
  if (FSSL == nullptr) return -1;
  if (FSeenEnd.seen) {
    // The end a look without waiting already met: the same answer, with the
    // error queue and the socket error as that read left them.
    FSeenEnd.seen = false;
    TIdStack::WSSetLastError(FSeenEnd.socketError);
    return FSeenEnd.sslError == SSL_ERROR_ZERO_RETURN ? 0 : FSeenEnd.result;
  }
  while (true) {
    ClearErrorQueue();
    TIdStack::WSSetLastError(0);
    int n = ossl::SSL_read(FSSL, ABuffer, ALength);
    if (n > 0) return n;
    switch (AfterFailedCall(FSSL, n)) {
      case CallOutcome::Again:
        continue;
      case CallOutcome::Closed:
        return 0;
      case CallOutcome::Failed:
        return n;
    }
  }
}

bool TIdSSLSocket::LookForData() {
  auto* d = static_cast<SocketBioData*>(ossl::BIO_get_data(ossl::SSL_get_rbio(FSSL)));
  if (d == nullptr) return true;  // no socket of ours: let the read tell
  ClearErrorQueue();
  TIdStack::WSSetLastError(0);
  d->nonblocking = true;
  unsigned char byte;
  const int n = ossl::SSL_peek(FSSL, &byte, 1);
  d->nonblocking = false;
  if (n > 0) return true;
  const int e = ossl::SSL_get_error(FSSL, n);
  if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return false;
  FSeenEnd = {true, n, e, TIdStack::WSGetLastError()};
  return true;
}

bool TIdSSLSocket::WaitForData(TIdSocketHandle& ASocket, std::int32_t AMSec) {
  if (FSSL == nullptr) return ASocket.Readable(AMSec);
  const std::int64_t deadline = IdTicks() + std::max(AMSec, 0);
  // Bytes OpenSSL holds but has not taken apart may finish a record.
  bool lookAtHeld = ossl::SSL_has_pending(FSSL) == 1;
  while (true) {
    if (FSeenEnd.seen || ossl::SSL_pending(FSSL) > 0) return true;
    if (lookAtHeld) {
      lookAtHeld = false;
      if (LookForData()) return true;
      continue;
    }
    const std::int64_t left = deadline - IdTicks();
    if (AMSec >= 0 && left < 0) return false;
    if (!ASocket.Readable(AMSec < 0 ? AMSec
                                    : static_cast<std::int32_t>(std::max<std::int64_t>(left, 0))))
      return false;
    // Something came: application data, or records of the session alone (a
    // TLS 1.3 server's session tickets), which leave nothing to read.
    if (LookForData()) return true;
  }
}

std::int32_t TIdSSLSocket::Send(const TIdBytes& ABuffer, std::int32_t AOffset,
                                std::int32_t ALength) {
  if (FSSL == nullptr) return -1;
  std::int32_t total = 0;
  while (true) {
    ClearErrorQueue();
    TIdStack::WSSetLastError(0);
    int n = ossl::SSL_write(FSSL, ABuffer.data() + AOffset, ALength);
    if (n > 0) {
      total += n;
      AOffset += n;
      ALength -= n;
      if (ALength < 1) return total;
      continue;
    }
    switch (AfterFailedCall(FSSL, n)) {
      case CallOutcome::Again:
        continue;  // the same bytes once more
      case CallOutcome::Closed:
        return 0;
      case CallOutcome::Failed:
        return n;
    }
  }
}

// ---------------------------------------------------------------- handler base

std::int32_t TIdSSLIOHandlerSocketBase::ReadFromTransport(std::uint8_t* ABuffer,
                                                          std::int32_t ALength) {
  if (FPassThrough) return TIdIOHandlerStack::ReadFromTransport(ABuffer, ALength);
  return ReceiveDecrypted(ABuffer, ALength);
}

bool TIdSSLIOHandlerSocketBase::TryReadFromTransport(std::uint8_t* ABuffer, std::int32_t ALength,
                                                     std::int32_t ATimeout, std::int32_t& ACount) {
  return FPassThrough &&
         TIdIOHandlerStack::TryReadFromTransport(ABuffer, ALength, ATimeout, ACount);
}

std::int32_t TIdSSLIOHandlerSocketBase::WriteToTransport(const TIdBytes& ABuffer,
                                                         std::int32_t AOffset,
                                                         std::int32_t ALength) {
  if (FPassThrough) return TIdIOHandlerStack::WriteToTransport(ABuffer, AOffset, ALength);
  return SendEncrypted(ABuffer, AOffset, ALength);
}

// ---------------------------------------------------------------- TLS handler

TIdSSLIOHandlerSocketOpenSSL::TIdSSLIOHandlerSocketOpenSSL()
    : FSSLOptions(std::make_unique<TIdSSLOptions>()) {}

TIdSSLIOHandlerSocketOpenSSL::~TIdSSLIOHandlerSocketOpenSSL() {
  try {
    Close();
  } catch (...) {
  }
}

void TIdSSLIOHandlerSocketOpenSSL::Close() {
  FSSLSocket.reset();
  if (!IsPeer()) FSSLContext.reset();
  TIdIOHandlerStack::Close();
}

void TIdSSLIOHandlerSocketOpenSSL::ConnectTransport() {
  // Every TCP connection gets a new context and TLS connection, also when the
  // handler was not closed after the peer ended the previous one.
  FSSLSocket.reset();
  if (!IsPeer()) FSSLContext.reset();
  const bool passThrough = FPassThrough;
  FPassThrough = true;
  try {
    TIdIOHandlerStack::ConnectTransport();
  } catch (...) {
    FPassThrough = passThrough;
    throw;
  }
  FPassThrough = passThrough;
  // The socket's own time-outs bound every receive and send on it, in clear too.
  Binding()->SetIOTimeouts(SocketTimeout());
  NotifyBeforeConnect();
  StartSSL();
}

std::int32_t TIdSSLIOHandlerSocketOpenSSL::DefaultSocketTimeout() {
  return gDefaultSocketTimeout.load();
}

void TIdSSLIOHandlerSocketOpenSSL::SetDefaultSocketTimeout(std::int32_t AMSec) {
  gDefaultSocketTimeout.store(AMSec > 0 ? AMSec : 1);
}

std::int32_t TIdSSLIOHandlerSocketOpenSSL::SocketTimeout() const {
  return ReadTimeout() < 1 ? DefaultSocketTimeout() : ReadTimeout();
}

std::int32_t TIdSSLIOHandlerSocketOpenSSL::ConnectTimeLimit() const {
  // A connect to an address that never answers gives up like any other wait.
  return ConnectTimeout() > 0 ? ConnectTimeout() : SocketTimeout();
}

void TIdSSLIOHandlerSocketOpenSSL::NotifyBeforeConnect() {
  if (OnBeforeConnect) OnBeforeConnect(*this);
}

void TIdSSLIOHandlerSocketOpenSSL::StartSSL() {
  try {
    PrepareContext();
  } catch (const EIdOSSLCouldNotLoadSSLLibrary&) {
    if (!FPassThrough) throw;
  }
  if (!FPassThrough) NegotiateTLS();
}

void TIdSSLIOHandlerSocketOpenSSL::PrepareContext() {
  if (FSSLContext) return;
  FSSLContext = std::make_unique<TIdSSLContext>();
  TIdSSLContext& c = *FSSLContext;
  c.Parent = this;
  c.RootCertFile = FSSLOptions->RootCertFile();
  c.CertFile = FSSLOptions->CertFile();
  c.KeyFile = FSSLOptions->KeyFile();
  c.DHParamsFile = FSSLOptions->DHParamsFile();
  c.VerifyDepth = FSSLOptions->VerifyDepth();
  c.VerifyMode = FSSLOptions->VerifyMode();
  c.VerifyDirs = FSSLOptions->VerifyDirs();
  c.CipherList = FSSLOptions->CipherList();
  c.VerifyOn = static_cast<bool>(OnVerifyPeer);
  c.StatusInfoOn = static_cast<bool>(OnStatusInfo) || static_cast<bool>(OnStatusInfoEx);
  c.Method = FSSLOptions->Method();
  c.SSLVersions = FSSLOptions->SSLVersions();
  c.Mode = FSSLOptions->Mode();
  c.BuildContext(sslCtxClient);
}

void TIdSSLIOHandlerSocketOpenSSL::NegotiateTLS() {
  if (!FSSLContext || !BindingAllocated()) throw EIdOSSLCouldNotLoadSSLLibrary();
  if (!FSSLSocket) FSSLSocket = std::make_unique<TIdSSLSocket>(this);
  FSSLSocket->SetSSLContext(FSSLContext.get());
  Binding()->SetIOTimeouts(SocketTimeout());
  bool server;
  if (FSSLContext->Mode == sslmClient) {
    server = false;
  } else if (FSSLContext->Mode == sslmServer) {
    server = true;
  } else {
    server = IsPeer();
  }
  if (!server) {
    std::string host = TIdURI(URIToCheck()).Host();
    if (host.empty()) host = Host();
    FSSLSocket->SetHostName(host);
    FSSLSocket->Connect(Binding()->Handle());
  } else {
    FSSLSocket->SetHostName(std::string());
    FSSLSocket->Accept(Binding()->Handle());
  }
  FPassThrough = false;
}

void TIdSSLIOHandlerSocketOpenSSL::SetPassThrough(bool Value) {
  if (Value == FPassThrough) return;
  if (!Value) {
    if (BindingAllocated()) {
      if (!FSSLContext) throw EIdOSSLCouldNotLoadSSLLibrary();
      NegotiateTLS();
    }
  } else if (BindingAllocated()) {
    // In clear the socket's time-outs stay: no wait on it goes without bound.
    Binding()->SetIOTimeouts(SocketTimeout());
  }
  FPassThrough = Value;
}

bool TIdSSLIOHandlerSocketOpenSSL::Readable(std::int32_t AMSec) {
  // No wait on this socket outlasts its time-out, whatever the caller asks.
  const std::int32_t bound = SocketTimeout();
  const std::int32_t wait = AMSec < 0 ? bound : std::min(AMSec, bound);
  if (FPassThrough || !FSSLSocket || FSSLSocket->SSLHandle() == nullptr)
    return TIdIOHandlerStack::Readable(wait);
  if (!BindingAllocated()) throw EIdConnClosedGracefully();
  return FSSLSocket->WaitForData(*Binding(), wait);
}

std::int32_t TIdSSLIOHandlerSocketOpenSSL::ReceiveDecrypted(std::uint8_t* ABuffer,
                                                            std::int32_t ALength) {
  if (!FSSLSocket) TIdStack::RaiseSocketError(10057);
  return FSSLSocket->Recv(ABuffer, ALength);
}

std::int32_t TIdSSLIOHandlerSocketOpenSSL::SendEncrypted(const TIdBytes& ABuffer,
                                                         std::int32_t AOffset,
                                                         std::int32_t ALength) {
  if (!FSSLSocket) TIdStack::RaiseSocketError(10057);
  return FSSLSocket->Send(ABuffer, AOffset, ALength);
}

std::int32_t TIdSSLIOHandlerSocketOpenSSL::CheckTransportResult(std::int32_t AResult) {
  if (FPassThrough || !FSSLSocket || FSSLSocket->SSLHandle() == nullptr) {
    return TIdIOHandlerStack::CheckTransportResult(AResult);
  }
  int e = ossl::SSL_get_error(FSSLSocket->SSLHandle(), AResult);
  if (e == SSL_ERROR_NONE) return 0;
  if (e == SSL_ERROR_SYSCALL) return TIdIOHandlerStack::CheckTransportResult(-1);
  EIdOpenSSLAPISSLError::RaiseExceptionCode(e, AResult, std::string());
}

void TIdSSLIOHandlerSocketOpenSSL::RaiseTransportError(std::int32_t AErrorCode) {
  if (!FPassThrough && FSSLSocket && FSSLSocket->SSLHandle() != nullptr &&
      AErrorCode != IdErr::ConnectionAborted && AErrorCode != IdErr::ConnectionReset &&
      AErrorCode != IdErr::Shutdown) {
    EIdOpenSSLAPISSLError::RaiseException(FSSLSocket->SSLHandle(), AErrorCode, std::string());
  }
  TIdIOHandlerStack::RaiseTransportError(AErrorCode);
}

std::unique_ptr<TIdSSLIOHandlerSocketBase> TIdSSLIOHandlerSocketOpenSSL::Clone() {
  auto copy = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
  copy->SSLOptions() = *FSSLOptions;
  copy->OnStatusInfo = OnStatusInfo;
  copy->OnStatusInfoEx = OnStatusInfoEx;
  copy->OnGetPassword = OnGetPassword;
  copy->OnGetPasswordEx = OnGetPasswordEx;
  copy->OnVerifyPeer = OnVerifyPeer;
  return copy;
}

void TIdSSLIOHandlerSocketOpenSSL::NotifyStatus(const std::string& AMsg) {
  if (OnStatusInfo) OnStatusInfo(AMsg);
}

void TIdSSLIOHandlerSocketOpenSSL::AskPassword(std::string& VPassword) {
  if (OnGetPassword) OnGetPassword(VPassword);
}

void TIdSSLIOHandlerSocketOpenSSL::AskPasswordEx(std::string& VPassword, bool AIsWrite) {
  if (OnGetPasswordEx) OnGetPasswordEx(VPassword, AIsWrite);
}

bool TIdSSLIOHandlerSocketOpenSSL::AskVerifyPeer(const TIdX509& ACertificate, bool AOk, int ADepth,
                                                 int AError) {
  if (!OnVerifyPeer) return true;
  return OnVerifyPeer(ACertificate, AOk, ADepth, AError);
}

void TIdSSLIOHandlerSocketOpenSSL::StatusInfo(const SSL* ASSL, int AWhere, int ARet,
                                              const std::string& AType, const std::string& AMsg) {
  NotifyStatus(AMsg);
  if (OnStatusInfoEx) OnStatusInfoEx(ASSL, AWhere, ARet, AType, AMsg);
}

void TIdSSLIOHandlerSocketOpenSSL::GetPassword(std::string& VPassword, bool AIsWrite) {
  AskPasswordEx(VPassword, AIsWrite);
  if (VPassword.empty()) AskPassword(VPassword);
}

}  // namespace vto
