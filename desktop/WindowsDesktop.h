// The real Windows desktop: message boxes and the task dialog, the shell's
// "open" for programs and documents, the process environment.
#pragma once

#include "desktop/Desktop.h"

namespace vto {

class WindowsDesktop : public Desktop {
 public:
  void ShowDialog(DialogKind kind, const std::string& caption, const std::string& text) override;
  std::string GetEnvironmentVariable(const std::string& name) override;
  int ShellExecute(const std::string& file, const std::string& parameters) override;
  // A file that is not a Windows or DOS program gives 5 (access denied) and is
  // not opened.
  int StartProgram(const std::string& path, const std::string& parameters) override;

  // Whether the error dialog can be the task dialog (comctl32 version 6, which
  // the program's manifest asks for); without it the error dialog is a message
  // box with the error icon and an "OK" button.
  static bool HasTaskDialog();
};

}  // namespace vto
