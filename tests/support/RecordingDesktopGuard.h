// Installs a recording desktop (desktop/RecordingDesktop.h) for as long as the
// object lives, its temporary folder (TMPDIR) set where the test asks, then puts
// back the desktop that was there. On Windows the temporary folder comes from
// the process's TMP (GetTempPathA reads it there), which the guard sets and
// restores.
#pragma once

#include <memory>
#include <string>
#include <utility>

#if defined(_WIN32)
#include "desktop/TextCodec.h"
#include "desktop/WinApi.h"
#endif

#include "desktop/Desktop.h"
#include "desktop/RecordingDesktop.h"

namespace vto::testing {

class RecordingDesktopGuard {
 public:
  // A fresh recording desktop with no TMPDIR.
  RecordingDesktopGuard() : RecordingDesktopGuard(std::make_unique<RecordingDesktop>()) {}
  // A fresh recording desktop whose TMPDIR is folder.
  explicit RecordingDesktopGuard(const std::string& folder) : RecordingDesktopGuard() {
    SetTmpDir(folder);
  }
  // A recording desktop of the test's own kind (one that fails on purpose, say).
  explicit RecordingDesktopGuard(std::unique_ptr<RecordingDesktop> desktop)
      : desktop_(desktop.get()), previous_(SetDesktop(std::move(desktop))) {}
  ~RecordingDesktopGuard() {
#if defined(_WIN32)
    if (tmp_saved_) SetEnvironmentVariableW(L"TMP", had_tmp_ ? old_tmp_.c_str() : nullptr);
#endif
    SetDesktop(std::move(previous_));
  }
  RecordingDesktopGuard(const RecordingDesktopGuard&) = delete;
  RecordingDesktopGuard& operator=(const RecordingDesktopGuard&) = delete;

  // The installed desktop: its dialogs, shell calls and environment.
  RecordingDesktop* operator->() const {
    return desktop_;
  }

  // The temporary folder the desktop's environment gives from now on.
  void SetTmpDir(const std::string& folder) {
    desktop_->environment["TMPDIR"] = folder;
#if defined(_WIN32)
    if (!tmp_saved_) {
      wchar_t buffer[32768];
      const DWORD n = GetEnvironmentVariableW(L"TMP", buffer, 32768);
      had_tmp_ = n > 0 && n < 32768;
      if (had_tmp_) old_tmp_.assign(buffer, n);
      tmp_saved_ = true;
    }
    SetEnvironmentVariableW(L"TMP", Utf8ToWide(folder).c_str());
#endif
  }

 private:
#if defined(_WIN32)
  bool tmp_saved_ = false;
  bool had_tmp_ = false;
  std::wstring old_tmp_;
#endif
  RecordingDesktop* desktop_;  // owned by the desktop slot while the guard lives
  std::unique_ptr<Desktop> previous_;
};

}  // namespace vto::testing
