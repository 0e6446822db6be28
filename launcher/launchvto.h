// TLaunchVTO decides how the online client starts: through a Java Web Start
// launcher found on the search list, else by downloading the JNLP file and
// opening it with the program the desktop associates with it.
#pragma once

#include <memory>
#include <string>

namespace vto {

class TQELMemoryStream;

// The built-in JNLP URL.
extern const char* const kBuiltInJNLPUrl;

class TLaunchVTO {
 public:
  TLaunchVTO();   // create
  ~TLaunchVTO();  // destroy

  // True when a start was handed to the desktop or the download fallback reported
  // success; False only when the downloaded file could not be opened.
  bool execute();

  // Temporary names tried for the JNLP file before the download counts as failed.
  static constexpr int kJnlpNameTries = 10;

  std::string fJNPUrl;
  bool fExeFoundOnPath = false;
  bool fdebug = false;

 private:
  void findExecutable(const std::string& name, std::string& path);
  // Starts the launcher program found at path; false when nothing usable was found.
  bool startFound(const std::string& path, const char* label);
  // The response body of a GET of url, or no stream when the download failed
  // (after its dialog). The caller owns the stream.
  std::unique_ptr<TQELMemoryStream> downloadJNLP(const std::string& url);
  static std::string DownloadFailedText(const std::string& url);
};

}  // namespace vto
