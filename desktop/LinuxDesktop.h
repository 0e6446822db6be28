// The real Linux desktop: GTK 3 message boxes (standard error without a display),
// posix_spawn for programs, the freedesktop default application for documents.
// GTK and GIO are loaded on first use only, so a launch that shows no dialog and
// opens no document pays nothing for them.
#pragma once

#include "Desktop.h"

namespace vto {

class LinuxDesktop : public Desktop {
 public:
  void ShowDialog(DialogKind kind, const std::string& caption, const std::string& text) override;
  std::string GetEnvironmentVariable(const std::string& name) override;
  int ShellExecute(const std::string& file, const std::string& parameters) override;

  // The two halves of ShellExecute, for callers that know which they want.
  static int StartProgram(const std::string& path, const std::string& parameters);
  static int OpenDocument(const std::string& path);
};

}  // namespace vto
