// The launcher as built, but with a socket library that will not start
// (WSASYSNOTREADY): the program's own "Application Error" path, which only the
// Windows build can reach. Windows only; used by LauncherProgramTest.cpp.
#include "desktop/TextCodec.h"
#include "desktop/WinApi.h"
#include "launcher/CommandLine.h"
#include "launcher/Entry.h"
#include "net/IdSocketApi.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*line*/, int /*show*/) {
  vto::sockets::SetStartupCall([](std::uint16_t) { return static_cast<int>(WSASYSNOTREADY); });
  vto::SetCommandLineFromString(vto::WideToUtf8(GetCommandLineW()));
  return vto::RunLauncher();
}
