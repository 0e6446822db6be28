// The process-wide layer between OpenSSL and the TLS handler: start-up once
// under a lock, shutdown, error texts, and the exceptions that carry OpenSSL's
// error codes.
//
// OpenSSL is not linked: its two libraries are loaded by file name the first
// time a TLS context is made, and every function the program calls is looked
// up by name then, into the table below. A start that never makes a TLS
// connection never loads them. OpenSSL's headers still give every type,
// constant and signature, so each call is checked as if it were linked; a
// call that bypasses the table does not link at all.
//
// On Windows the two libraries are linked statically instead (nothing is
// searched for on the system's path); the table is filled with the linked
// functions' addresses at the same point, and the start-up is the same.
#pragma once

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "net/IdException.h"
#include "net/IdStack.h"

// Windows keeps its trusted roots in the system's certificate store: these
// put them into OpenSSL's store.
#if defined(_WIN32)
#define VTO_OPENSSL_PLATFORM_FUNCTIONS(X) \
  X(Ssl, SSL_CTX_get_cert_store)          \
  X(Crypto, d2i_X509)                     \
  X(Crypto, X509_STORE_add_cert)          \
  X(Crypto, X509_free)
#else
#define VTO_OPENSSL_PLATFORM_FUNCTIONS(X)
#endif

// Every OpenSSL function the program calls: X(library, name). Those of the
// TLS library begin with SSL_, TLS or DTLS; all others are the crypto
// library's. Each is required: OpenSSL 3 has them all, and one missing means
// an OpenSSL the program cannot use.
#define VTO_OPENSSL_FUNCTIONS(X)                 \
  X(Crypto, OPENSSL_init_crypto)                 \
  X(Crypto, OPENSSL_cleanup)                     \
  X(Crypto, CRYPTO_free)                         \
  X(Crypto, ERR_get_error)                       \
  X(Crypto, ERR_peek_error)                      \
  X(Crypto, ERR_clear_error)                     \
  X(Crypto, ERR_error_string_n)                  \
  X(Crypto, BIO_new)                             \
  X(Crypto, BIO_free)                            \
  X(Crypto, BIO_new_file)                        \
  X(Crypto, BIO_get_new_index)                   \
  X(Crypto, BIO_meth_new)                        \
  X(Crypto, BIO_meth_set_write)                  \
  X(Crypto, BIO_meth_set_read)                   \
  X(Crypto, BIO_meth_set_ctrl)                   \
  X(Crypto, BIO_meth_set_create)                 \
  X(Crypto, BIO_meth_set_destroy)                \
  X(Crypto, BIO_get_data)                        \
  X(Crypto, BIO_set_data)                        \
  X(Crypto, BIO_set_init)                        \
  X(Crypto, BIO_get_shutdown)                    \
  X(Crypto, BIO_set_shutdown)                    \
  X(Crypto, BIO_set_flags)                       \
  X(Crypto, BIO_clear_flags)                     \
  X(Crypto, PEM_read_bio_Parameters)             \
  X(Crypto, EVP_PKEY_free)                       \
  X(Crypto, X509_NAME_oneline)                   \
  X(Crypto, X509_get_subject_name)               \
  X(Crypto, X509_get_issuer_name)                \
  X(Crypto, X509_STORE_CTX_get_ex_data)          \
  X(Crypto, X509_STORE_CTX_get_current_cert)     \
  X(Crypto, X509_STORE_CTX_get_error)            \
  X(Crypto, X509_STORE_CTX_get_error_depth)      \
  X(Ssl, OPENSSL_init_ssl)                       \
  X(Ssl, TLS_method)                             \
  X(Ssl, TLS_client_method)                      \
  X(Ssl, TLS_server_method)                      \
  X(Ssl, SSL_CTX_new)                            \
  X(Ssl, SSL_CTX_free)                           \
  X(Ssl, SSL_CTX_ctrl)                           \
  X(Ssl, SSL_CTX_set_options)                    \
  X(Ssl, SSL_CTX_clear_options)                  \
  X(Ssl, SSL_CTX_set_default_read_buffer_len)    \
  X(Ssl, SSL_CTX_set_default_passwd_cb)          \
  X(Ssl, SSL_CTX_set_default_passwd_cb_userdata) \
  X(Ssl, SSL_CTX_set_default_verify_paths)       \
  X(Ssl, SSL_CTX_load_verify_locations)          \
  X(Ssl, SSL_CTX_use_certificate_chain_file)     \
  X(Ssl, SSL_CTX_use_PrivateKey_file)            \
  X(Ssl, SSL_CTX_set0_tmp_dh_pkey)               \
  X(Ssl, SSL_CTX_set_info_callback)              \
  X(Ssl, SSL_CTX_set_cipher_list)                \
  X(Ssl, SSL_CTX_set_verify)                     \
  X(Ssl, SSL_CTX_set_verify_depth)               \
  X(Ssl, SSL_CTX_set_session_id_context)         \
  X(Ssl, SSL_CTX_set_client_CA_list)             \
  X(Ssl, SSL_load_client_CA_file)                \
  X(Ssl, SSL_new)                                \
  X(Ssl, SSL_free)                               \
  X(Ssl, SSL_ctrl)                               \
  X(Ssl, SSL_set_ex_data)                        \
  X(Ssl, SSL_get_ex_data)                        \
  X(Ssl, SSL_get_ex_data_X509_STORE_CTX_idx)     \
  X(Ssl, SSL_set_bio)                            \
  X(Ssl, SSL_get_rbio)                           \
  X(Ssl, SSL_copy_session_id)                    \
  X(Ssl, SSL_connect)                            \
  X(Ssl, SSL_accept)                             \
  X(Ssl, SSL_read)                               \
  X(Ssl, SSL_peek)                               \
  X(Ssl, SSL_write)                              \
  X(Ssl, SSL_pending)                            \
  X(Ssl, SSL_has_pending)                        \
  X(Ssl, SSL_get_error)                          \
  X(Ssl, SSL_shutdown)                           \
  X(Ssl, SSL_get_current_cipher)                 \
  X(Ssl, SSL_CIPHER_get_name)                    \
  X(Ssl, SSL_CIPHER_description)                 \
  X(Ssl, SSL_CIPHER_get_bits)                    \
  X(Ssl, SSL_CIPHER_get_version)                 \
  X(Ssl, SSL_alert_type_string_long)             \
  X(Ssl, SSL_alert_desc_string_long)             \
  X(Ssl, SSL_state_string_long)                  \
  VTO_OPENSSL_PLATFORM_FUNCTIONS(X)

// The table: one pointer per function, named like it, null until bound. A call
// is written ossl::SSL_read(...); OpenSSL's own macros over these functions
// (SSL_CTX_set_mode, OPENSSL_free, BIO_set_retry_read, ...) work the same way,
// written ossl::SSL_CTX_set_mode(...), since each expands to a call of one.
namespace vto::ossl {
#define VTO_OPENSSL_POINTER(library, name) inline decltype(&::name) name = nullptr;
VTO_OPENSSL_FUNCTIONS(VTO_OPENSSL_POINTER)
#undef VTO_OPENSSL_POINTER
}  // namespace vto::ossl

namespace vto {

// The folder put before each library's file name; empty, so that the system's
// loader finds them by its own search.
extern std::string OpenSSLFolder;
// The file names loaded, crypto library first.
extern const char* const kOpenSSLCryptoLibrary;
extern const char* const kOpenSSLSSLLibrary;

// True once OpenSSL is usable; every call after the first success returns at
// once. Thread-safe: exactly one caller performs the start-up. False when a
// library cannot be loaded, a function is missing, or the start-up calls fail.
bool EnsureOpenSSLReady();
// Undoes the start-up, for process exit: OpenSSL cannot be made ready again
// afterwards (EnsureOpenSSLReady then answers false).
void ShutdownOpenSSL();
bool IsOpenSSLReady();
// How many times the start-up has run its initialisation calls.
int OpenSSLStartupCount();
// What the last binding attempt did not find: "Failed to load %s." for a
// library, the bare name for a function. Never shown to a user.
std::vector<std::string> OpenSSLMissingEntryPoints();

// OpenSSL's text for an error code (or any number), at most 160 characters;
// empty while OpenSSL is not bound.
std::string OpenSSLErrorText(std::uint32_t ACode);
// The first error on OpenSSL's queue, taken off it (0: none, or not bound).
std::uint32_t TakeOpenSSLError();

#if defined(_WIN32)
// Adds every certificate of the system's ROOT store (the current user's view
// of it, which includes the machine's) to the context's trusted store: what a
// Windows user trusts is what the program verifies against. The count added.
int LoadSystemRootCertificates(SSL_CTX* AContext);
#endif

// Serialise the callbacks OpenSSL makes into the TLS handler.
std::mutex& StatusCallbackLock();
std::mutex& PasswordCallbackLock();
std::mutex& VerifyCallbackLock();

class EIdOpenSSLError : public EIdException {
 public:
  using EIdException::EIdException;
};

// A failed library call whose reason sits on OpenSSL's error queue.
class EIdOpenSSLAPICryptoError : public EIdOpenSSLError {
 public:
  explicit EIdOpenSSLAPICryptoError(std::string AMsg, std::uint32_t AErrorCode = 0)
      : EIdOpenSSLError(std::move(AMsg)), FErrorCode(AErrorCode) {}
  std::uint32_t ErrorCode() const { return FErrorCode; }

  // The message: AMsg, "\r\n" and the code's text (the text alone for an empty AMsg).
  template <class E = EIdOpenSSLAPICryptoError>
  [[noreturn]] static void RaiseExceptionCode(std::uint32_t AErrCode, const std::string& AMsg) {
    std::string text = OpenSSLErrorText(AErrCode);
    throw E(AMsg.empty() ? text : AMsg + "\r\n" + text, AErrCode);
  }
  // As above with the first error taken off OpenSSL's queue.
  template <class E = EIdOpenSSLAPICryptoError>
  [[noreturn]] static void RaiseException(const std::string& AMsg) {
    RaiseExceptionCode<E>(TakeOpenSSLError(), AMsg);
  }

 private:
  std::uint32_t FErrorCode;
};

// A TLS call that failed because of a library error.
class EIdOSSLUnderlyingCryptoError : public EIdOpenSSLAPICryptoError {
 public:
  using EIdOpenSSLAPICryptoError::EIdOpenSSLAPICryptoError;
};

class EIdDigestError : public EIdOpenSSLAPICryptoError {
 public:
  using EIdOpenSSLAPICryptoError::EIdOpenSSLAPICryptoError;
};
class EIdDigestInitEx : public EIdDigestError {
 public:
  using EIdDigestError::EIdDigestError;
};
class EIdDigestFinalEx : public EIdDigestError {
 public:
  using EIdDigestError::EIdDigestError;
};

// A failed TLS call: the SSL_get_error result and the call's own result.
class EIdOpenSSLAPISSLError : public EIdOpenSSLError {
 public:
  explicit EIdOpenSSLAPISSLError(std::string AMsg, int AErrorCode = 0, int ARetCode = 0)
      : EIdOpenSSLError(std::move(AMsg)), FErrorCode(AErrorCode), FRetCode(ARetCode) {}
  int ErrorCode() const { return FErrorCode; }
  int RetCode() const { return FRetCode; }

  template <class E = EIdOpenSSLAPISSLError>
  [[noreturn]] static void RaiseException(const SSL* ASSL, int ARetCode, const std::string& AMsg) {
    RaiseExceptionCode<E>(ossl::SSL_get_error(ASSL, ARetCode), ARetCode, AMsg);
  }

  template <class E = EIdOpenSSLAPISSLError>
  [[noreturn]] static void RaiseExceptionCode(int AErrCode, int ARetCode, const std::string& AMsg) {
    const std::string prefix = AMsg.empty() ? std::string() : AMsg + "\r\n";
    if (AErrCode == SSL_ERROR_SSL) {
      EIdOpenSSLAPICryptoError::RaiseException<EIdOSSLUnderlyingCryptoError>(AMsg);
    }
    if (AErrCode == SSL_ERROR_SYSCALL) {
      const std::uint32_t queued = TakeOpenSSLError();
      if (queued != 0) {
        EIdOpenSSLAPICryptoError::RaiseExceptionCode<EIdOSSLUnderlyingCryptoError>(queued, AMsg);
      }
      if (ARetCode == 0) {
        throw E(prefix + "EOF was observed that violates the protocol", AErrCode, 0);
      }
      if (ARetCode == -1) TIdStack::RaiseSocketError(TIdStack::WSGetLastError());
    }
    throw E(prefix + OpenSSLErrorText(static_cast<std::uint32_t>(AErrCode)), AErrCode, ARetCode);
  }

 private:
  int FErrorCode;
  int FRetCode;
};

}  // namespace vto
