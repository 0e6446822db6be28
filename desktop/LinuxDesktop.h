// The real Linux desktop: GTK 3 message boxes (standard error without a display),
// posix_spawn for programs, the freedesktop default application for documents.
// GTK and GIO are loaded on first use only, so a launch that shows no dialog and
// opens no document pays nothing for them.
#pragma once

#include "desktop/Desktop.h"

namespace vto {

class LinuxDesktop : public Desktop {
 public:
  void ShowDialog(DialogKind kind, const std::string& caption, const std::string& text) override;
  std::string GetEnvironmentVariable(const std::string& name) override;
  int ShellExecute(const std::string& file, const std::string& parameters) override;
  // A file that is not executable gives 5 (access denied) and is not opened.
  int StartProgram(const std::string& path, const std::string& parameters) override;

  // The document half of ShellExecute.
  static int OpenDocument(const std::string& path);
  // How long a document launch may take to be handed over (30,000 ms; tests
  // shorten it). After that the launch counts as failed.
  static void SetLaunchHandOverLimit(int milliseconds);
};

}  // namespace vto
