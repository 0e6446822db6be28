// A stand-in for the program a file type is associated with (or for a Java
// launcher): writes the command line it was started with, as UTF-8, to the file
// that VTO_HANDLER_OUT names (whole or not at all: it is renamed into place).
#include <string>

#include "desktop/TextCodec.h"
#include "desktop/WinApi.h"

int main() {
  wchar_t out[32768];
  const DWORD n = GetEnvironmentVariableW(L"VTO_HANDLER_OUT", out, 32768);
  if (n == 0 || n >= 32768) return 2;
  const std::wstring target(out, n);
  const std::wstring part = target + L".part";
  const std::string line = vto::WideToUtf8(GetCommandLineW());
  HANDLE h = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  const bool ok = WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                  written == line.size();
  CloseHandle(h);
  if (!ok || !MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return 4;
  return 0;
}
