#include "launcher/CommandLine.h"
#include "launcher/Entry.h"

int main(int argc, char** argv) {
  vto::SetCommandLineArguments(argc, argv);
  return vto::RunLauncher();
}
