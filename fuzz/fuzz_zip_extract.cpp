// An archive file of any content extracted into a private temporary folder;
// nothing may land outside the base folder.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "desktop/Desktop.h"
#include "fuzz/FuzzCommon.h"
#include "zip/AbUnZipper.h"

using namespace vto;
namespace fs = std::filesystem;

namespace {

struct Workspace {
  fs::path root, archive, base;
  Workspace() {
    std::string pattern = GetTempFolder() + "vto-fuzz-zip-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) fuzz::Fail("mkdtemp");
    root = pattern;
    archive = root / "in.zip";
    base = root / "out";
  }
  ~Workspace() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

Workspace& Space() {
  static Workspace space;
  return space;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Workspace& w = Space();
  std::error_code ec;
  fs::remove_all(w.base, ec);
  fs::create_directory(w.base);
  {
    std::ofstream out(w.archive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  TAbExtractOptions options;
  if (data[0] & 1) options.Include(eoCreateDirs);
  if (data[0] & 2) options.Include(eoRestorePath);

  {
    TAbUnZipper unzipper;
    unzipper.SetOnProcessItemFailure([](TAbZipItem&, const Exception&) {});
    try {
      unzipper.SetFileName(w.archive.string());
      unzipper.SetBaseDirectory(w.base.string());
      unzipper.SetExtractOptions(options);
      unzipper.ExtractFiles((data[0] & 4) ? "*.txt" : "*");
    } catch (const Exception&) {
    }
  }

  // The private folder holds the archive and the base folder, nothing else.
  for (const auto& entry : fs::directory_iterator(w.root)) {
    const fs::path p = entry.path();
    VTO_FUZZ_CHECK(p == w.archive || p == w.base);
  }
  VTO_FUZZ_CHECK(fs::is_directory(fs::symlink_status(w.base)));
  fs::remove_all(w.base, ec);
  return 0;
}
