// The application object: a start-up hook, no main window, and a title taken from
// the executable's name.
#pragma once

#include <string>

namespace vto {

class TApplication {
 public:
  // Runs the start-up hook, if one is installed.
  void Initialize();
  bool MainFormOnTaskBar() const { return FMainFormOnTaskBar; }
  void SetMainFormOnTaskBar(bool value) { FMainFormOnTaskBar = value; }
  // With no main window there is no message loop: returns at once.
  void Run() {}
  // The executable's file name cut at its first dot, every character after the
  // first in lower case ("LaunchVeltraOnline" gives "Launchveltraonline").
  std::string Title() const;

  using InitProc = void (*)();
  static void SetInitProc(InitProc proc) { init_proc_ = proc; }

 private:
  bool FMainFormOnTaskBar = false;
  static inline InitProc init_proc_ = nullptr;
};

// The process-wide application object.
TApplication& Application();
// The title rule applied to a given executable path.
std::string TitleFromExecutable(const std::string& path);

}  // namespace vto
