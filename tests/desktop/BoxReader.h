// Reads a box off the screen as a user sees it: finds the top-level window of
// a process by its caption, collects its visible texts, buttons and icon, then
// presses Esc (and sends WM_CLOSE when Esc did not close it). Windows only.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "desktop/TextCodec.h"
#include "desktop/WinApi.h"

namespace vto::testing {

struct SeenBox {
  bool found = false;
  std::string window_class;
  std::vector<std::string> texts;    // visible static texts
  std::vector<std::string> buttons;  // visible buttons, "&" dropped
  bool icon = false;                 // a visible icon
  bool closed_by_escape = false;
};

namespace box_detail {

inline std::wstring WindowText(HWND h) {
  wchar_t buffer[4096];
  const int n = GetWindowTextW(h, buffer, 4096);
  return std::wstring(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

inline std::wstring ClassOf(HWND h) {
  wchar_t buffer[256];
  const int n = GetClassNameW(h, buffer, 256);
  return std::wstring(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

struct Search {
  DWORD pid;
  std::wstring caption;
  HWND found = nullptr;
};

inline BOOL CALLBACK FindByCaption(HWND h, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == search->pid && IsWindowVisible(h) && WindowText(h) == search->caption) {
    search->found = h;
    return FALSE;
  }
  return TRUE;
}

inline BOOL CALLBACK ReadChild(HWND h, LPARAM data) {
  auto* seen = reinterpret_cast<SeenBox*>(data);
  if (!IsWindowVisible(h)) return TRUE;
  const std::wstring cls = ClassOf(h);
  const LONG_PTR style = GetWindowLongPtrW(h, GWL_STYLE);
  if (_wcsicmp(cls.c_str(), L"Static") == 0) {
    if ((style & SS_TYPEMASK) == SS_ICON) {
      if (SendMessageW(h, STM_GETICON, 0, 0) != 0) seen->icon = true;
    } else {
      const std::string text = WideToUtf8(WindowText(h));
      if (!text.empty()) seen->texts.push_back(text);
    }
  } else if (_wcsicmp(cls.c_str(), L"Button") == 0) {
    std::string text = WideToUtf8(WindowText(h));
    std::erase(text, '&');
    seen->buttons.push_back(text);
  }
  return TRUE;
}

}  // namespace box_detail

// Waits up to ten seconds for the box of process pid captioned caption (or
// until gone() says its owner has finished), reads it, presses Esc and gives
// the box five seconds to go.
inline SeenBox ReadBoxAndPressEscape(DWORD pid, const std::string& caption,
                                     const std::function<bool()>& gone) {
  using namespace box_detail;
  SeenBox seen;
  Search search{pid, Utf8ToWide(caption)};
  for (int i = 0; i < 1000 && search.found == nullptr && !gone(); ++i) {
    EnumWindows(FindByCaption, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (search.found == nullptr) return seen;
  // Let the box finish laying itself out.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  seen.found = true;
  seen.window_class = WideToUtf8(ClassOf(search.found));
  EnumChildWindows(search.found, ReadChild, reinterpret_cast<LPARAM>(&seen));
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  HWND target = search.found;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(search.found, nullptr), &gui) &&
      gui.hwndFocus != nullptr)
    target = gui.hwndFocus;
  PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
  const auto closed = [&] { return !IsWindow(search.found) || gone(); };
  for (int i = 0; i < 500 && !closed(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  seen.closed_by_escape = closed();
  if (!seen.closed_by_escape) PostMessageW(search.found, WM_CLOSE, 0, 0);
  return seen;
}

inline std::string Describe(const SeenBox& box) {
  std::string s = "class " + box.window_class + ", texts:";
  for (const auto& t : box.texts) s += " [" + t + "]";
  s += ", buttons:";
  for (const auto& b : box.buttons) s += " [" + b + "]";
  return s + (box.icon ? ", icon" : ", no icon");
}

}  // namespace vto::testing
