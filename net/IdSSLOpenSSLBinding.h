// The process-wide layer between OpenSSL and the TLS handler: start-up once
// under a lock, shutdown, error texts, and the exceptions that carry OpenSSL's
// error codes.
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "IdException.h"
#include "IdStack.h"

namespace vto {

// True once OpenSSL is usable; every call after the first success returns at
// once. Thread-safe: exactly one caller performs the start-up.
bool EnsureOpenSSLReady();
// Undoes the start-up, for process exit: OpenSSL cannot be made ready again
// afterwards (EnsureOpenSSLReady then answers false).
void ShutdownOpenSSL();
bool IsOpenSSLReady();
// How many times the start-up has run its initialisation calls.
int OpenSSLStartupCount();

// OpenSSL's text for an error code (or any number), at most 160 characters.
std::string OpenSSLErrorText(std::uint32_t ACode);

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
    RaiseExceptionCode<E>(static_cast<std::uint32_t>(ERR_get_error()), AMsg);
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
    RaiseExceptionCode<E>(SSL_get_error(ASSL, ARetCode), ARetCode, AMsg);
  }

  template <class E = EIdOpenSSLAPISSLError>
  [[noreturn]] static void RaiseExceptionCode(int AErrCode, int ARetCode, const std::string& AMsg) {
    const std::string prefix = AMsg.empty() ? std::string() : AMsg + "\r\n";
    if (AErrCode == SSL_ERROR_SSL) {
      EIdOpenSSLAPICryptoError::RaiseException<EIdOSSLUnderlyingCryptoError>(AMsg);
    }
    if (AErrCode == SSL_ERROR_SYSCALL) {
      unsigned long queued = ERR_get_error();
      if (queued != 0) {
        EIdOpenSSLAPICryptoError::RaiseExceptionCode<EIdOSSLUnderlyingCryptoError>(
            static_cast<std::uint32_t>(queued), AMsg);
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
