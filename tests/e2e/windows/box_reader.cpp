// Reads a box another process shows, as a user sees it, and closes it:
//   box_reader.exe CAPTION OUTFILE [WAIT_MS]
// Waits (up to WAIT_MS, default 20000) for a dialog window with that caption,
// writes its caption, every text, every button and whether it shows an icon to
// OUTFILE (UTF-8, one "kind: value" line each, line breaks inside a text as
// "\n"), then presses Cancel (Esc). Exit 0 when a box was read, 1 when none came.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring Wide(const char* text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
  out.resize(out.size() - 1);
  return out;
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  const int n = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n')
      out += "\\n";
    else if (c != '\r')
      out += c;
  }
  return out;
}

struct Box {
  std::vector<std::string> lines;
  bool icon = false;
};

BOOL CALLBACK Child(HWND child, LPARAM data) {
  auto* box = reinterpret_cast<Box*>(data);
  if (!IsWindowVisible(child)) return TRUE;
  wchar_t cls[64] = {};
  GetClassNameW(child, cls, 64);
  const std::wstring name(cls);
  const LONG style = GetWindowLongW(child, GWL_STYLE);
  if (name == L"Static" && (style & SS_TYPEMASK) == SS_ICON) {
    if (SendMessageW(child, STM_GETICON, 0, 0) != 0) box->icon = true;
    return TRUE;
  }
  const std::string text = Escaped(Utf8(WindowText(child)));
  if (text.empty()) return TRUE;
  if (name == L"Button")
    box->lines.push_back("button: " + text);
  else
    box->lines.push_back("text: " + text);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::wstring caption = Wide(argv[1]);
  const int wait = argc > 3 ? std::atoi(argv[3]) : 20000;
  HWND box = nullptr;
  for (int waited = 0; box == nullptr && waited <= wait; waited += 50) {
    box = FindWindowW(L"#32770", caption.c_str());
    if (box == nullptr) Sleep(50);
  }
  if (box == nullptr) return 1;
  Sleep(200);  // the box fills its controls in after it appears
  Box read;
  EnumChildWindows(box, Child, reinterpret_cast<LPARAM>(&read));
  FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) return 3;
  std::fprintf(out, "caption: %s\n", Utf8(WindowText(box)).c_str());
  for (const std::string& line : read.lines) std::fprintf(out, "%s\n", line.c_str());
  std::fprintf(out, "icon: %s\n", read.icon ? "yes" : "no");
  std::fclose(out);
  // Esc: the box's cancel command.
  PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
  return 0;
}
