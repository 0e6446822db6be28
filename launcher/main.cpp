#include "launcher/CommandLine.h"
#include "launcher/Entry.h"

#if defined(_WIN32)
#include "desktop/TextCodec.h"
#include "desktop/WinApi.h"

// A GUI program: no console window. The command line comes as one string.
int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*line*/, int /*show*/) {
  vto::SetCommandLineFromString(vto::WideToUtf8(GetCommandLineW()));
  return vto::RunLauncher();
}
#else
int main(int argc, char** argv) {
  vto::SetCommandLineArguments(argc, argv);
  return vto::RunLauncher();
}
#endif
