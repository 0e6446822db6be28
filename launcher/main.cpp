#include "CommandLine.h"
#include "Entry.h"

int main(int argc, char** argv) {
  vto::SetCommandLineArguments(argc, argv);
  return vto::RunLauncher();
}
