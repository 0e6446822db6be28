// A library that stands in for libcrypto.so.3 or libssl.so.3 and offers none of
// their functions: an OpenSSL the program cannot use.
extern "C" int vto_openssl_stand_in() {
  return 0;
}
