// The program's entry: switches, help, launch, and the one error box.
#pragma once

namespace vto {

extern const char* const kHelpText;
extern const char* const kJavaNotInstalledText;

// Runs the whole program on the switches set with SetCommandLineArguments and
// returns the exit code: 0 on every path, 1 when an error escaped.
int RunLauncher();

}  // namespace vto
