// One-entry zip archives of the document stream: packed in memory with the zip
// writer, unpacked through a temporary file and the extractor.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

#include "desktop/DateTime.h"
#include "desktop/Desktop.h"
#include "desktop/TextCodec.h"
#include "qelstream/QELStream.h"
#include "zip/AbUnZipper.h"
#include "zip/ZipArchive.h"

namespace vto {

namespace {

constexpr std::uint16_t kArchiveAttribute = 0x20;

// A folder made fresh under the temporary folder, open to its owner only, and
// removed with everything in it when this goes.
class PrivateFolder {
 public:
  PrivateFolder() = default;
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  ~PrivateFolder() {
    if (FPath.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);  // links inside are removed, never followed
  }

  void Create(const std::string& Parent) {
    std::string pattern = Parent + "qelXXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      throw EFCreateError("Cannot create folder \"" + pattern + "\": " + std::strerror(errno));
    FPath = pattern;
  }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

}  // namespace

void TQELMemoryStream::Zip() {
  Zip(std::string(), std::string(), Now());
}

// acomment is accepted for the callers' sake; neither the entry nor the archive gets it.
void TQELMemoryStream::Zip(const std::string& afilename, const std::string& /*acomment*/,
                           TDateTime aDateTime) {
  // The entry is named by what follows the folders ("/" here, "\" and ":" of
  // the other platform's names); a name that leaves no file name gets "zip".
  const std::string last = ExtractNamePart(afilename);
  const std::string name = last.empty() || last == "." || last == ".." ? std::string("zip") : last;
  TZipArchive archive;
  archive.SetCompressionType(ctMaximum);
  archive.SetIsZipFile(true);
  archive.SetApplyAtributes(true);
  archive.SetOverwriteAction(oaOverwriteAll);
  archive.SetReadOnly(false);
  archive.SetSaveMethod(FastSave);
  archive.SetStoreFolders(false);
  archive.SetStoreRelativePath(false);
  archive.SetUseTempFiles(false);

  TQELMemoryStream packed;
  archive.CreateZip(packed);
  try {
    archive.Open(packed);
  } catch (const Exception& e) {
    ShowMessageAt(e.what(), -1, -1);
  }
  SetPosition(0);
  // The entry is compressed straight from this stream's block into the archive.
  archive.AddStream(name, kArchiveAttribute, aDateTime, *this);
  archive.Close();
  // The archive's block becomes the content; the position stays unless it is now
  // beyond the end.
  TakeContentOf(packed);
  if (FPosition > FSize) FPosition = FSize;
}

void TQELMemoryStream::Unzip() {
  std::string afilename, acomment;
  TDateTime aDate = 0;
  Unzip(afilename, acomment, aDate);
}

void TQELMemoryStream::Unzip(std::string& afilename, std::string& acomment, TDateTime& aDate) {
  TAbUnZipper unzipper;
  const std::string tmp = MakeTempFileName("qel");
  SaveToFile(tmp);
  // Entries go into a folder of this call's own, where nobody else can put,
  // replace or read a file; it goes with everything in it on every way out.
  PrivateFolder folder;
  try {
    unzipper.SetFileName(tmp);
    folder.Create(GetTempFolder());
    unzipper.SetBaseDirectory(folder.Path());
    TAbZipArchive& archive = *unzipper.Archive();
    // Each item on its own: one that cannot be extracted (a name that is no
    // file name, damaged data) is passed over and the next one follows.
    std::string first_path;
    bool first_written = false;
    // The first entry's bytes as they go into its file: the same bytes a read
    // of that file would give (no one else can reach it), without reading it.
    TQELMemoryStream first_bytes;
    for (int i = 0; i < archive.Count(); ++i) {
      TAbZipItem& item = archive.Items(i);
      if (!MatchesFileMask(item.FileName(), "*.*")) continue;
      try {
        const std::string target = archive.ItemPath(item);
        if (i == 0) {
          first_path = target;
        } else if (target.empty() || target == first_path) {
          continue;  // a later entry never replaces the first one's file
        }
        archive.ExtractItem(item, i == 0 ? &first_bytes : nullptr);
        // Only the first entry is kept; the others need no room meanwhile.
        if (i == 0)
          first_written = true;
        else
          ::unlink(target.c_str());
      } catch (const Exception&) {
      } catch (const std::bad_alloc&) {
      }
    }
    TAbZipItem& first = unzipper.Items(0);
    const std::string& stored = first.FileName();
    // Only the file this call wrote for the first entry, under its own name, is
    // the content: never one a name leads elsewhere to.
    if (!first_written ||
        stored.find_first_of(std::string_view("/\\:\0", 4)) != std::string::npos || stored == "." ||
        stored == ".." || first.IsDirectory()) {
      throw EAbBadFileName(stored);
    }
    first_bytes.SetCapacity(static_cast<std::int32_t>(first_bytes.Size()));
    TakeContentOf(first_bytes);
    afilename = stored;  // the name as it was extracted (UTF-8 like every file name)
    acomment = TextToAnsi(first.FileComment());
    aDate = first.LastModTimeAsDateTime();
    unzipper.CloseArchive();
    ::unlink(tmp.c_str());
  } catch (const std::exception&) {
    // Not an archive, no entry, damaged data, a date that cannot be converted: the
    // call ends quietly with what the steps before managed.
  }
  SetPosition(0);
}

}  // namespace vto
