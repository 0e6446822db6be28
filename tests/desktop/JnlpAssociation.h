// A .jnlp association to a given program, registered in the prefix for as long
// as the object lives. (Wine 8 looks associations up in HKEY_CLASSES_ROOT
// alone, which it keeps in the machine's classes; the user's classes are not
// merged in.) Windows only. Suites that register it share the CTest resource
// lock "jnlp_association", so no other suite sees it meanwhile.
#pragma once

#include <string>

#include "desktop/WinApi.h"

namespace vto::testing {

class JnlpAssociation {
 public:
  explicit JnlpAssociation(const std::wstring& program) {
    ok_ = Set(L".jnlp", nullptr, L"VtoTest.JNLPFile") &&
          Set(L".jnlp", L"Content Type", L"application/x-java-jnlp-file") &&
          Set(L"VtoTest.JNLPFile\\shell\\open\\command", nullptr, L"\"" + program + L"\" \"%1\"");
  }
  ~JnlpAssociation() {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".jnlp");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"VtoTest.JNLPFile");
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L".jnlp");
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L"VtoTest.JNLPFile");
  }
  JnlpAssociation(const JnlpAssociation&) = delete;
  JnlpAssociation& operator=(const JnlpAssociation&) = delete;
  bool ok() const { return ok_; }

 private:
  static bool Set(const wchar_t* key, const wchar_t* name, const std::wstring& value) {
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h,
                        nullptr) != ERROR_SUCCESS)
      return false;
    const LSTATUS status =
        RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    return status == ERROR_SUCCESS;
  }
  bool ok_ = false;
};

}  // namespace vto::testing
