// The program's switches: "-x" or "/x", one letter, case ignored.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vto {

// Splits one command-line string into arguments: runs of characters with codes 1
// to 32 separate them; a double quote opens a stretch, running to the next double
// quote or the end, whose characters (blanks included) belong to the argument, the
// quotes themselves dropped; a pair of double quotes where an argument would begin
// is skipped. The list ends before the first empty argument.
std::vector<std::string> SplitCommandLine(std::string_view line);

// The arguments the switches are read from, without the program's own name. An
// argument list handed over by the platform ends before its first empty argument.
void SetCommandLineArguments(std::vector<std::string> arguments);
void SetCommandLineArguments(int argc, const char* const* argv);
// The arguments from the whole command line as one string (the program's own
// name first, which is dropped), split as SplitCommandLine does.
void SetCommandLineFromString(std::string_view line);
const std::vector<std::string>& CommandLineArguments();

// True when an argument is the switch character followed by the name, the whole
// rest compared without case (ASCII and Latin-1 letters).
bool HasSwitch(std::string_view name);

// The first argument that starts with the switch character followed by the name
// (ASCII letters compared without case) decides: its rest after the name, one ":"
// dropped, is the value; a bare switch takes the next argument unless that begins
// with "-" or "/". False when no argument matched; value is then empty.
bool GetSwitchValue(std::string_view name, std::string& value);

}  // namespace vto
