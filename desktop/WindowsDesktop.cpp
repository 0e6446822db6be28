#include "desktop/WindowsDesktop.h"

#include "desktop/WinApi.h"
// After windows.h; these bring back macros that WinApi.h takes away.
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#undef ShellExecute
#undef interface

#include <climits>
#include <cstdint>
#include <vector>

#include "desktop/TextCodec.h"

namespace vto {

namespace {

// ---- dialogs ---------------------------------------------------------------------

using TaskDialogIndirectProc = decltype(&TaskDialogIndirect);

// TaskDialogIndirect lives in comctl32 version 6 only, which a program gets
// through its manifest; it is looked up when first needed, so a program without
// that manifest still starts and shows its error as a plain box.
TaskDialogIndirectProc FindTaskDialog() {
  static const TaskDialogIndirectProc proc = [] {
    HMODULE module = LoadLibraryW(L"comctl32.dll");
    if (module == nullptr) return TaskDialogIndirectProc{nullptr};
    return reinterpret_cast<TaskDialogIndirectProc>(
        reinterpret_cast<void*>(GetProcAddress(module, "TaskDialogIndirect")));
  }();
  return proc;
}

// The error dialog: one "Cancel" button, which Esc also presses.
bool ShowTaskDialog(const std::wstring& caption, const std::wstring& text) {
  const TaskDialogIndirectProc task_dialog = FindTaskDialog();
  if (task_dialog == nullptr) return false;
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = nullptr;
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
  config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
  config.pszWindowTitle = caption.c_str();
  config.pszMainIcon = TD_ERROR_ICON;
  config.pszContent = text.c_str();
  config.nDefaultButton = IDCANCEL;
  int pressed = 0;
  return SUCCEEDED(task_dialog(&config, &pressed, nullptr, nullptr));
}

// ---- the shell -------------------------------------------------------------------

// The shell may hand the work to extensions that need COM on the calling thread.
class ComForShell {
 public:
  ComForShell()
      : initialised_(
            SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
  }
  ~ComForShell() {
    if (initialised_) CoUninitialize();
  }
  ComForShell(const ComForShell&) = delete;
  ComForShell& operator=(const ComForShell&) = delete;

 private:
  bool initialised_;
};

int ShellOpen(const std::wstring& file, const std::wstring& parameters) {
  ComForShell com;
  const HINSTANCE result =
      ShellExecuteW(nullptr, L"open", file.c_str(),
                    parameters.empty() ? nullptr : parameters.c_str(), nullptr, SW_SHOW);
  const auto code = reinterpret_cast<INT_PTR>(result);
  if (code == 0) return kSeErrOutOfMemory;  // "out of memory or resources"
  if (code > INT_MAX) return kShellExecuteFailed + 1;
  return static_cast<int>(code);
}

}  // namespace

bool WindowsDesktop::HasTaskDialog() {
  return FindTaskDialog() != nullptr;
}

void WindowsDesktop::ShowDialog(DialogKind kind, const std::string& caption,
                                const std::string& text) {
  const std::wstring wide_caption = Utf8ToWide(caption);
  const std::wstring wide_text = Utf8ToWide(text);
  UINT style = MB_OK | MB_TASKMODAL | MB_SETFOREGROUND;
  switch (kind) {
    case DialogKind::Message:
      break;
    case DialogKind::Error:
      if (ShowTaskDialog(wide_caption, wide_text)) return;
      style |= MB_ICONERROR;
      break;
    case DialogKind::ApplicationError:
      style |= MB_ICONERROR;
      break;
  }
  MessageBoxW(nullptr, wide_text.c_str(), wide_caption.c_str(), style);
}

std::string WindowsDesktop::GetEnvironmentVariable(const std::string& name) {
  const std::wstring wide_name = Utf8ToWide(name);
  // The value may change between asking for its size and reading it: ask again
  // until it fits.
  std::vector<wchar_t> buffer(256);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD n = GetEnvironmentVariableW(wide_name.c_str(), buffer.data(), size);
    if (n == 0) return std::string();  // unset (or set to the empty text)
    if (n < size) return WideToUtf8(std::wstring_view(buffer.data(), n));
    buffer.resize(n);  // n counts the terminating zero here
  }
}

int WindowsDesktop::ShellExecute(const std::string& file, const std::string& parameters) {
  return ShellOpen(Utf8ToWide(file), Utf8ToWide(parameters));
}

int WindowsDesktop::StartProgram(const std::string& path, const std::string& parameters) {
  const std::wstring wide_path = Utf8ToWide(path);
  const DWORD attributes =
      path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide_path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return kSeErrFileNotFound;
  if (!IsExistingFile(path)) return kSeErrAccessDenied;  // a folder, a dead link
  // Only a program is started: a document of that name is never opened.
  DWORD binary_type = 0;
  if (!GetBinaryTypeW(wide_path.c_str(), &binary_type)) return kSeErrAccessDenied;
  return ShellOpen(wide_path, Utf8ToWide(parameters));
}

// ---- files, folders and names ----------------------------------------------------

bool IsExistingFile(const std::string& path) {
  if (path.empty()) return false;
  const std::wstring wide = Utf8ToWide(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  // A link counts only when what it names can be opened for reading, or is a
  // file that another process holds open.
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool is_file = GetFileInformationByHandle(h, &info) != 0 &&
                       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  CloseHandle(h);
  return is_file;
}

std::size_t SearchPath(std::string_view list, std::string_view name, std::string& found) {
  if (name.empty()) return 0;
  const std::wstring wide_name = Utf8ToWide(name);
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    // An empty entry names no folder: the current folder is never searched, so a
    // program dropped there cannot be started by accident.
    if (end > start) {
      const std::wstring folder = Utf8ToWide(list.substr(start, end - start));
      wchar_t buffer[255];
      const DWORD n = SearchPathW(folder.c_str(), wide_name.c_str(), nullptr, 255, buffer, nullptr);
      // A path that does not fit the buffer counts as not found in that folder.
      if (n > 0 && n < 255) {
        found = WideToUtf8(std::wstring_view(buffer, n));
        return found.size();
      }
    }
    start = end + 1;
  }
  return 0;
}

namespace {
// The temporary folder as the system's ANSI bytes, "\" at the end.
std::string TempFolderAnsi() {
  char buffer[260];
  const DWORD n = GetTempPathA(sizeof buffer, buffer);
  std::string folder = (n > 0 && n < sizeof buffer) ? std::string(buffer, n) : std::string();
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}
}  // namespace

std::string GetTempFolder() {
  return SystemAnsiToText(TempFolderAnsi());
}

std::string MakeTempFileName(std::string_view prefix) {
  // The first three characters of the prefix (whole characters, not bytes).
  std::size_t cut = 0;
  for (int k = 0; k < 3 && cut < prefix.size(); ++k) DecodeUtf8OrReplacement(prefix, cut);
  const std::string head = TextToSystemAnsi(prefix.substr(0, cut));
  char buffer[260];
  if (GetTempFileNameA(TempFolderAnsi().c_str(), head.c_str(), 0, buffer) == 0)
    return std::string();
  buffer[sizeof buffer - 1] = '\0';
  return SystemAnsiToText(buffer);
}

bool WriteNewFile(const std::string& path, std::string_view bytes) {
  const std::wstring wide = Utf8ToWide(path);
  // CREATE_NEW: the name must be free; a link of that name is the link itself,
  // which exists, so nothing is written through it.
  constexpr DWORD kDeleteAccess = 0x00010000;  // DELETE, a name WinApi.h takes back
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE | kDeleteAccess, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const std::size_t left = bytes.size() - done;
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(h, bytes.data() + done, chunk, &written, nullptr) || written == 0)
      ok = false;
    else
      done += written;
  }
  if (!ok) {
    // The very file this call made goes again, by its handle, not by its name.
    FILE_DISPOSITION_INFO disposition{TRUE};  // its one member: delete on close
    const bool marked =
        SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != 0;
    CloseHandle(h);
    if (!marked) DeleteFileW(wide.c_str());
    return false;
  }
  if (!CloseHandle(h)) {
    DeleteFileW(wide.c_str());
    return false;
  }
  return true;
}

}  // namespace vto
