#include "launcher/launchvto.h"

#include "desktop/Desktop.h"
#include "http/IdHTTP.h"
#include "net/IdSSLOpenSSL.h"
#include "qelstream/QELStream.h"

namespace vto {

#ifndef VTO_JNLP_HOST
#define VTO_JNLP_HOST "veltra.example.com"
#endif

const char* const kBuiltInJNLPUrl = "https://" VTO_JNLP_HOST "/webservices/vtqz/webstart/vto.jnlp";

namespace {
// The launcher programs and how the search list is put together on this platform.
#if defined(_WIN32)
constexpr const char* kOpenWs = "openws.exe";
constexpr const char* kJavaWs = "javaws.exe";
constexpr const char* kListSeparator = ";";
constexpr const char* kJavaBin = "\\bin;";
#else
constexpr const char* kOpenWs = "openws";
constexpr const char* kJavaWs = "javaws";
constexpr const char* kListSeparator = ":";
constexpr const char* kJavaBin = "/bin";
#endif
}  // namespace

TLaunchVTO::TLaunchVTO() : fJNPUrl(kBuiltInJNLPUrl) {}

TLaunchVTO::~TLaunchVTO() = default;

void TLaunchVTO::findExecutable(const std::string& name, std::string& path) {
  fExeFoundOnPath = false;
  const std::string list = GetEnvironmentVariable("PATH") + kListSeparator +
                           GetEnvironmentVariable("JAVA_HOME") + kJavaBin;
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
  StartProgram(path, fJNPUrl);
  return true;
}

bool TLaunchVTO::execute() {
  std::string path;
  findExecutable(kOpenWs, path);
  if (startFound(path, "openws")) return true;
  findExecutable(kJavaWs, path);
  if (startFound(path, "javaws")) return true;

  // The message names the built-in URL even when another one is in use.
  if (fdebug)
    ShowMessageAt(std::string("Starting by file association \n") + kBuiltInJNLPUrl, -1, -1);

  std::unique_ptr<TQELMemoryStream> stream = downloadJNLP(fJNPUrl);
  if (!stream) return true;  // the download showed its own dialog

  // The file is made anew, by this process alone, and filled before it is
  // opened: a name someone else put in the shared temporary folder (a file, a
  // link) is never written to or opened; the next temporary name is tried.
  const std::string_view body(stream->Memory(), static_cast<std::size_t>(stream->Size()));
  std::string name;
  bool saved = false;
  for (int attempt = 0; attempt < kJnlpNameTries && !saved; ++attempt) {
    const std::string temp = MakeTempFileName("vto");
    if (temp.empty()) break;  // no file at all can be made there
    name = temp + ".jnlp";
    saved = WriteNewFile(name, body);
  }
  if (!saved) {
    // Never a bare ".jnlp" in whatever folder this runs in, never a file only
    // partly written: the download is of no use, and the user hears so once.
    ShowErrorDialog(DownloadFailedText(fJNPUrl));
    return true;
  }
  const int result = ShellExecute(name, "");
  stream.reset();
  return result > kShellExecuteFailed;
}

std::string TLaunchVTO::DownloadFailedText(const std::string& url) {
  return "Unable to download " + url + "\n" + "Contact your IT administrator for assistance.";
}

std::unique_ptr<TQELMemoryStream> TLaunchVTO::downloadJNLP(const std::string& url) {
  // Creating the client starts the socket stack; a stack that cannot start is
  // no download error and leaves here for the entry's error box.
  auto http = std::make_unique<TIdHTTP>();
  auto tls = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
  http->SetHandleRedirects(true);
  http->Request().SetBasicAuthentication(true);
  http->Request().SetUsername("");
  http->Request().SetPassword("");
  auto stream = std::make_unique<TQELMemoryStream>();
  http->SetIOHandler(tls.get());
  http->SetProtocolVersion(pv1_1);
  http->SetHTTPOptions(TIdHTTPOptions{hoKeepOrigProtocol});
  tls->SSLOptions().SetMethod(sslvTLSv1_2);
  tls->SSLOptions().SetSSLVersions(TIdSSLVersions{sslvSSLv23});
  try {
    http->Get(url, *stream);
  } catch (...) {
    // Whatever went wrong, the user sees one fixed text, not the error's own.
    ShowErrorDialog(DownloadFailedText(url));
    stream.reset();
  }
  // The client goes first: it still refers to the transport.
  http.reset();
  tls.reset();
  return stream;
}

}  // namespace vto
