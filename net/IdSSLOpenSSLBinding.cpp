#include "IdSSLOpenSSLBinding.h"

#include <openssl/crypto.h>

namespace vto {

namespace {

struct ReadyState {
  std::mutex lock;
  bool ready = false;
  int startups = 0;
};

ReadyState& Ready() {
  static ReadyState state;
  return state;
}

}  // namespace

bool EnsureOpenSSLReady() {
  ReadyState& state = Ready();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.ready) return true;
  // OpenSSL is linked at build time, so binding always succeeds; the global
  // initialisation keeps its order: ciphers, digests, error strings, library.
  ++state.startups;
  if (OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS, nullptr) != 1) return false;
  if (OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr) != 1) return false;
  if (OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) !=
      1) {
    return false;
  }
  if (OPENSSL_init_ssl(0, nullptr) != 1) return false;
  // OpenSSL 3 does its own locking: no locking callback or lock table is needed.
  state.ready = true;
  return true;
}

void ShutdownOpenSSL() {
  ReadyState& state = Ready();
  std::lock_guard<std::mutex> guard(state.lock);
  // OpenSSL 3 has no locking callback or lock table to remove; its own
  // clean-up releases everything, and after it the library cannot start again
  // in this process.
  OPENSSL_cleanup();
  state.ready = false;
}

bool IsOpenSSLReady() {
  ReadyState& state = Ready();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.ready;
}

int OpenSSLStartupCount() {
  ReadyState& state = Ready();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.startups;
}

std::string OpenSSLErrorText(std::uint32_t ACode) {
  char buffer[161] = {};
  ERR_error_string_n(ACode, buffer, sizeof buffer);  // 160 characters and the NUL
  buffer[160] = '\0';
  return std::string(buffer);
}

std::mutex& StatusCallbackLock() {
  static std::mutex lock;
  return lock;
}
std::mutex& PasswordCallbackLock() {
  static std::mutex lock;
  return lock;
}
std::mutex& VerifyCallbackLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace vto
