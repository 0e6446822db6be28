#include "net/IdSSLOpenSSLBinding.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace vto {

std::string OpenSSLFolder;
#if defined(_WIN32)
// Linked into the program: these name what is linked, nothing is loaded.
const char* const kOpenSSLCryptoLibrary = "libcrypto-3-x64 (static)";
const char* const kOpenSSLSSLLibrary = "libssl-3-x64 (static)";
#else
const char* const kOpenSSLCryptoLibrary = "libcrypto.so.3";
const char* const kOpenSSLSSLLibrary = "libssl.so.3";
#endif

namespace {

enum Library { Crypto, Ssl };

struct ReadyState {
  std::mutex lock;
  bool ready = false;
  int startups = 0;
  void* crypto = nullptr;
  void* ssl = nullptr;
  std::vector<std::string> missing;
};

ReadyState& Ready() {
  static ReadyState state;
  return state;
}

#if !defined(_WIN32)
void* LoadLibrary(const std::string& name) {
  return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}
#endif

void ClearTable() {
#define VTO_OPENSSL_CLEAR(library, name) ossl::name = nullptr;
  VTO_OPENSSL_FUNCTIONS(VTO_OPENSSL_CLEAR)
#undef VTO_OPENSSL_CLEAR
}

#if defined(_WIN32)
// OpenSSL is linked: the table takes the linked functions' addresses, so
// every call still goes through it as on the systems where it is loaded,
// and the start-up below keeps its order. Under the start-up lock.
bool BindOpenSSLLibraries(ReadyState& state) {
  state.missing.clear();
#define VTO_OPENSSL_BIND(library, name) ossl::name = &::name;
  VTO_OPENSSL_FUNCTIONS(VTO_OPENSSL_BIND)
#undef VTO_OPENSSL_BIND
  return true;
}
#else
// Both libraries loaded and every function found; a library that loaded in
// an earlier attempt stays loaded. Under the start-up lock.
bool BindOpenSSLLibraries(ReadyState& state) {
  if (state.crypto != nullptr && state.ssl != nullptr && state.missing.empty()) return true;
  state.missing.clear();
  if (state.crypto == nullptr) {
    const std::string name = OpenSSLFolder + kOpenSSLCryptoLibrary;
    state.crypto = LoadLibrary(name);
    if (state.crypto == nullptr) {
      state.missing.push_back("Failed to load " + name + ".");
      return false;
    }
  }
  if (state.ssl == nullptr) {
    const std::string name = OpenSSLFolder + kOpenSSLSSLLibrary;
    state.ssl = LoadLibrary(name);
    if (state.ssl == nullptr) {
      state.missing.push_back("Failed to load " + name + ".");
      return false;
    }
  }
  // One pass over the table, each function in its own library.
#define VTO_OPENSSL_BIND(library, name)                              \
  ossl::name = reinterpret_cast<decltype(ossl::name)>(               \
      ::dlsym(library == Crypto ? state.crypto : state.ssl, #name)); \
  if (ossl::name == nullptr) state.missing.push_back(#name);
  VTO_OPENSSL_FUNCTIONS(VTO_OPENSSL_BIND)
#undef VTO_OPENSSL_BIND
  if (!state.missing.empty()) {
    ClearTable();  // an OpenSSL the program cannot use is not half used
    return false;
  }
  return true;
}

#endif

}  // namespace

bool EnsureOpenSSLReady() {
  ReadyState& state = Ready();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.ready) return true;
  if (!BindOpenSSLLibraries(state)) return false;
  // The global initialisation keeps its order: ciphers, digests, error
  // strings, the library itself.
  ++state.startups;
  if (ossl::OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS, nullptr) != 1) return false;
  if (ossl::OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr) != 1) return false;
  if (ossl::OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                             nullptr) != 1) {
    return false;
  }
  if (ossl::OPENSSL_init_ssl(0, nullptr) != 1) return false;
  // OpenSSL 3 does its own locking: no locking callback or lock table is needed.
  state.ready = true;
  return true;
}

void ShutdownOpenSSL() {
  ReadyState& state = Ready();
  std::lock_guard<std::mutex> guard(state.lock);
  // OpenSSL 3 has no locking callback or lock table to remove; its own
  // clean-up releases everything, and after it the library cannot start again
  // in this process. The libraries are let go (OpenSSL keeps itself loaded
  // once it has started) and the table emptied.
  if (ossl::OPENSSL_cleanup != nullptr) ossl::OPENSSL_cleanup();
  ClearTable();
#if !defined(_WIN32)
  if (state.ssl != nullptr) ::dlclose(state.ssl);
  if (state.crypto != nullptr) ::dlclose(state.crypto);
#endif
  state.ssl = nullptr;
  state.crypto = nullptr;
  state.ready = false;
}

std::vector<std::string> OpenSSLMissingEntryPoints() {
  ReadyState& state = Ready();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.missing;
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
  if (ossl::ERR_error_string_n == nullptr) return std::string();  // OpenSSL never bound
  ossl::ERR_error_string_n(ACode, buffer, sizeof buffer);         // 160 characters and the NUL
  buffer[160] = '\0';
  return std::string(buffer);
}

std::uint32_t TakeOpenSSLError() {
  return ossl::ERR_get_error == nullptr ? 0 : static_cast<std::uint32_t>(ossl::ERR_get_error());
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
