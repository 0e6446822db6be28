#include "launcher/Entry.h"

#include <exception>
#include <memory>

#include "desktop/Application.h"
#include "desktop/Desktop.h"
#include "launcher/CommandLine.h"
#include "launcher/launchvto.h"

namespace vto {

const char* const kHelpText =
    "startup parameters:\n"
    "  -h : help\n"
    "  -d : debug will show dialogs to help identify issues\n"
    "  -u [testurl for jnlp] : to test a different location for the JNLP";

const char* const kJavaNotInstalledText =
    "Java is not installed on your computer. Please contact your IT department for assistance.";

int RunLauncher() {
  try {
    Application().Initialize();
    Application().SetMainFormOnTaskBar(true);
    auto launcher = std::make_unique<TLaunchVTO>();
    if (HasSwitch("h")) {
      ShowMessageAt(kHelpText, -1, -1);
    } else {
      launcher->fdebug = HasSwitch("d");
      std::string value;
      if (GetSwitchValue("u", value)) launcher->fJNPUrl = value;
      if (!launcher->execute()) ShowErrorDialog(kJavaNotInstalledText);
    }
    launcher.reset();
    Application().Run();
    return 0;
  } catch (const std::exception& e) {
    ShowApplicationError(e.what());
    return 1;
  }
}

}  // namespace vto
