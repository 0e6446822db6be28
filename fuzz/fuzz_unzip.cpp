// A one-entry archive in a memory stream unpacked in place. Unzip works through
// the temporary folder: the target gives it a private one, emptied after each input.
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "desktop/Desktop.h"
#include "fuzz/FuzzCommon.h"
#include "qelstream/QELStream.h"

using namespace vto;
namespace fs = std::filesystem;

namespace {

struct PrivateTemp {
  fs::path folder;
  PrivateTemp() {
    std::string pattern = GetTempFolder() + "vto-fuzz-unzip-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) fuzz::Fail("mkdtemp");
    folder = pattern;
    setenv("TMPDIR", pattern.c_str(), 1);
  }
  ~PrivateTemp() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
  void Empty() const {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder)) fs::remove_all(e.path(), ec);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static PrivateTemp temp;
  struct EmptyAfter {
    ~EmptyAfter() { temp.Empty(); }
  } empty_after;
  const std::string_view input = fuzz::AsText(data, size);
  TQELMemoryStream stream;
  stream.AppendStr(input);
  std::string name, comment;
  TDateTime date = 0;
  try {
    stream.Unzip(name, comment, date);
  } catch (const Exception&) {
  }
  TQELMemoryStream plain;
  plain.AppendStr(input);
  try {
    plain.Unzip();
  } catch (const Exception&) {
  }

  // Nothing stays of the entries: at most the copies of archives that failed.
  for (const auto& e : fs::directory_iterator(temp.folder)) {
    VTO_FUZZ_CHECK(fs::is_regular_file(fs::symlink_status(e.path())));
    VTO_FUZZ_CHECK(e.path().filename().string().rfind("qel", 0) == 0);
  }

  // Whatever is zipped unzips to the same bytes, name and comment.
  TQELMemoryStream round;
  round.AppendStr(input.substr(0, 512));
  round.Zip("entry.bin", "note", 45000.0);
  std::string n, c;
  TDateTime d = 0;
  round.Unzip(n, c, d);
  VTO_FUZZ_CHECK(round.GetAsString() == input.substr(0, 512));
  VTO_FUZZ_CHECK(n == "entry.bin");
  return 0;
}
