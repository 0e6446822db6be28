// Installs a recording desktop (desktop/RecordingDesktop.h) for as long as the
// object lives, its temporary folder (TMPDIR) set where the test asks, then puts
// back the desktop that was there.
#pragma once

#include <memory>
#include <string>
#include <utility>

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
  ~RecordingDesktopGuard() { SetDesktop(std::move(previous_)); }
  RecordingDesktopGuard(const RecordingDesktopGuard&) = delete;
  RecordingDesktopGuard& operator=(const RecordingDesktopGuard&) = delete;

  // The installed desktop: its dialogs, shell calls and environment.
  RecordingDesktop* operator->() const { return desktop_; }

  // The temporary folder the desktop's environment gives from now on.
  void SetTmpDir(const std::string& folder) { desktop_->environment["TMPDIR"] = folder; }

 private:
  RecordingDesktop* desktop_;  // owned by the desktop slot while the guard lives
  std::unique_ptr<Desktop> previous_;
};

}  // namespace vto::testing
