#include "launcher/CommandLine.h"

#include "desktop/TextCodec.h"

namespace vto {

namespace {

std::vector<std::string>& Arguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

bool IsBlank(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 1 && b <= 32;
}

bool IsSwitchChar(char c) {
  return c == '-' || c == '/';
}

std::vector<std::string> UpToFirstEmpty(std::vector<std::string> arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i].empty()) {
      arguments.resize(i);
      break;
    }
  }
  return arguments;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  // A NUL ends the line as it would a C string.
  line = line.substr(0, line.find('\0'));
  std::vector<std::string> result;
  std::size_t p = 0;
  for (;;) {
    for (;;) {
      while (p < line.size() && IsBlank(line[p])) ++p;
      if (p + 1 < line.size() && line[p] == '"' && line[p + 1] == '"')
        p += 2;
      else
        break;
    }
    std::string argument;
    while (p < line.size() && !IsBlank(line[p])) {
      if (line[p] == '"') {
        ++p;
        while (p < line.size() && line[p] != '"') argument.push_back(line[p++]);
        if (p < line.size()) ++p;  // the closing quote
      } else {
        argument.push_back(line[p++]);
      }
    }
    if (argument.empty()) return result;
    result.push_back(std::move(argument));
  }
}

void SetCommandLineArguments(std::vector<std::string> arguments) {
  Arguments() = UpToFirstEmpty(std::move(arguments));
}

void SetCommandLineArguments(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
  SetCommandLineArguments(std::move(arguments));
}

void SetCommandLineFromString(std::string_view line) {
  std::vector<std::string> arguments = SplitCommandLine(line);
  if (!arguments.empty()) arguments.erase(arguments.begin());
  SetCommandLineArguments(std::move(arguments));
}

const std::vector<std::string>& CommandLineArguments() {
  return Arguments();
}

bool HasSwitch(std::string_view name) {
  for (const std::string& argument : Arguments()) {
    if (!argument.empty() && IsSwitchChar(argument[0]) &&
        SameText(std::string_view(argument).substr(1), name))
      return true;
  }
  return false;
}

bool GetSwitchValue(std::string_view name, std::string& value) {
  value.clear();
  const std::vector<std::string>& arguments = Arguments();
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (argument.empty() || !IsSwitchChar(argument[0]) ||
        !StartsWithAsciiNoCase(argument.substr(1), name))
      continue;
    if (argument.size() > name.size() + 1) {
      std::string_view rest = argument.substr(name.size() + 1);
      if (rest.front() == ':') rest.remove_prefix(1);
      value = std::string(rest);
    } else if (i + 1 < arguments.size() && !IsSwitchChar(arguments[i + 1][0])) {
      value = arguments[i + 1];
    }
    return true;
  }
  return false;
}

}  // namespace vto
