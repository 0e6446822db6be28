// The operations the launcher and the memory stream need from the desktop.
// One interface; the real desktop of the platform (LinuxDesktop.h or
// WindowsDesktop.h, whichever the build takes) and a recording one for tests
// (RecordingDesktop.h). None of them raises:
// failures come back as results.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vto {

enum class DialogKind {
  Message,           // caption = application title, no icon, one "OK" button
  Error,             // caption "Error", error icon, one "Cancel" button
  ApplicationError,  // caption "Application Error", error icon, one "OK" button
};

// Results of ShellExecute at or below this value mean "not started".
constexpr int kShellExecuteFailed = 32;
constexpr int kSeErrFileNotFound = 2;
constexpr int kSeErrAccessDenied = 5;
constexpr int kSeErrOutOfMemory = 8;
constexpr int kSeErrNoAssociation = 31;

class Desktop {
 public:
  virtual ~Desktop() = default;

  // A modal box; returns when the user has closed it.
  virtual void ShowDialog(DialogKind kind, const std::string& caption, const std::string& text) = 0;
  // The variable's whole value; an unset variable is the empty text.
  virtual std::string GetEnvironmentVariable(const std::string& name) = 0;
  // Starts a program (an executable file, parameters as its single argument, none
  // when empty) or opens a document with its default application, without waiting.
  // Above 32: started. Otherwise 2 (not found), 5 (access denied), 8 (out of
  // memory) or 31 (no association).
  virtual int ShellExecute(const std::string& file, const std::string& parameters) = 0;
  // ShellExecute of a file that must be a program: started as one or not at
  // all (never opened as a document). The default is ShellExecute.
  virtual int StartProgram(const std::string& path, const std::string& parameters) {
    return ShellExecute(path, parameters);
  }
};

// The desktop in use; the platform's real desktop until a test installs another.
Desktop& CurrentDesktop();
// Installs a desktop and returns the one it replaces (null for the built-in one).
std::unique_ptr<Desktop> SetDesktop(std::unique_ptr<Desktop> desktop);

// Convenience forms over the desktop in use.
// A modal box captioned with the application title; left and top are accepted for
// the design's signature, every caller centres the box with -1, -1.
void ShowMessageAt(const std::string& text, int left, int top);
void ShowErrorDialog(const std::string& text);
void ShowApplicationError(const std::string& text);
std::string GetEnvironmentVariable(const std::string& name);
int ShellExecute(const std::string& file, const std::string& parameters);
int StartProgram(const std::string& path, const std::string& parameters);

// Looks in each folder of a ":"-separated list (";" on Windows, each folder
// through SearchPathW) in turn for an entry called name (empty entries are
// skipped) and stores the full path of the first that exists, a folder
// included. Returns the path's length, or 0 when nothing was found.
std::size_t SearchPath(std::string_view list, std::string_view name, std::string& found);
// True when the path names an existing file that is not a folder; a symbolic link
// (on Windows any reparse point) counts only when its target can be opened for
// reading (on Windows also when another process holds it open).
bool IsExistingFile(const std::string& path);

// TMPDIR (from the desktop's environment), else /tmp; always ends in "/".
// On Windows: GetTempPathA, "\" appended when missing.
std::string GetTempFolder();
// Creates an empty file named by the temporary folder, the first three characters
// of the prefix, one to four upper-case hexadecimal digits and ".tmp", exclusively,
// and returns its full name (the empty text if no name could be had). On Windows
// GetTempFileNameA makes the name (Wine writes its digits in lower case).
std::string MakeTempFileName(std::string_view prefix);
// Creates the file, which must not exist yet (a link of that name is not
// followed), readable and writable by its owner only (on Windows: the folder's
// inherited access), writes the bytes and
// closes it. False when any of it fails; a file it made but could not fill
// is removed again.
bool WriteNewFile(const std::string& path, std::string_view bytes);

}  // namespace vto
