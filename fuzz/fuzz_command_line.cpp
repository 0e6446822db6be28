// The command line: one string split into arguments, then the switches read from it.
#include <string>
#include <vector>

#include "fuzz/FuzzCommon.h"
#include "launcher/CommandLine.h"

using namespace vto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = fuzz::SplitAtNul(fuzz::AsText(data, size), 2);
  const std::vector<std::string> args = SplitCommandLine(parts[1]);
  for (const std::string& a : args) VTO_FUZZ_CHECK(!a.empty());

  SetCommandLineArguments(args);
  std::string value;
  for (std::string_view name : {std::string_view("u"), std::string_view("U"), std::string_view("x"),
                                std::string_view("debug"), std::string_view(), parts[0]}) {
    const bool found = GetSwitchValue(name, value);
    if (!found) VTO_FUZZ_CHECK(value.empty());
    (void)HasSwitch(name);
  }

  // The platform's argument vector: the same arguments after the program's name.
  std::vector<const char*> argv{"LaunchVeltraOnline"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  SetCommandLineArguments(static_cast<int>(argv.size()), argv.data());
  VTO_FUZZ_CHECK(CommandLineArguments().size() <= args.size());
  (void)GetSwitchValue(parts[0], value);
  SetCommandLineArguments(std::vector<std::string>{});
  return 0;
}
