// One-entry zip archives of the document stream: packed in memory with the zip
// writer, unpacked through a temporary file and the extractor.
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <new>
#include <vector>

#include "AbUnZipper.h"
#include "DateTime.h"
#include "Desktop.h"
#include "QELStream.h"
#include "TextCodec.h"
#include "ZipArchive.h"

namespace vto {

namespace {
constexpr std::uint16_t kArchiveAttribute = 0x20;
}  // namespace

void TQELMemoryStream::Zip() {
  Zip(std::string(), std::string(), Now());
}

// acomment is accepted for the callers' sake; neither the entry nor the archive gets it.
void TQELMemoryStream::Zip(const std::string& afilename, const std::string& /*acomment*/,
                           TDateTime aDateTime) {
  const std::string name = afilename.empty() ? std::string("zip") : afilename;
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
  archive.AddStream(name, kArchiveAttribute, aDateTime, *this);
  archive.Close();
  LoadFromStream(packed);
}

void TQELMemoryStream::Unzip() {
  std::string afilename, acomment;
  TDateTime aDate = 0;
  Unzip(afilename, acomment, aDate);
}

void TQELMemoryStream::Unzip(std::string& afilename, std::string& acomment, TDateTime& aDate) {
  TAbUnZipper unzipper;
  // Items that could not be written; a CRC difference still leaves its file behind.
  std::vector<const TAbZipItem*> failed;
  unzipper.SetOnProcessItemFailure([&failed](TAbZipItem& Item, const Exception& Error) {
    if (dynamic_cast<const EAbZipBadCRC*>(&Error) == nullptr) failed.push_back(&Item);
  });
  const std::string tmp = MakeTempFileName("qel");
  SaveToFile(tmp);
  try {
    unzipper.SetFileName(tmp);
    const std::string folder = tmp.substr(0, tmp.find_last_of('/') + 1);
    unzipper.SetBaseDirectory(folder);
    // The temporary folder is shared: an entry whose name is taken there (a file
    // someone keeps, a link, the archive copy itself) is not extracted.
    TAbZipArchive& archive = *unzipper.Archive();
    for (int i = 0; i < archive.Count(); ++i) {
      TAbZipItem& item = archive.Items(i);
      if (!MatchesFileMask(item.FileName(), "*.*")) continue;
      const std::string target = archive.ItemPath(item);
      struct stat st;
      if (!target.empty() && ::lstat(target.c_str(), &st) == 0) {
        failed.push_back(&item);
        continue;
      }
      try {
        archive.ExtractItem(item);
      } catch (const Exception& e) {
        if (dynamic_cast<const EAbZipBadCRC*>(&e) == nullptr) failed.push_back(&item);
      } catch (const std::bad_alloc&) {
        failed.push_back(&item);
      }
    }
    TAbZipItem& first = unzipper.Items(0);
    const std::string& stored = first.FileName();
    // Only a file this call has written may be read back (and deleted): never a
    // path the name leads elsewhere, never a file that was there before.
    if (stored.find_first_of("/\\:") != std::string::npos || stored == "." || stored == ".." ||
        first.IsDirectory()) {
      throw EAbBadFileName(stored);
    }
    for (const TAbZipItem* item : failed) {
      if (item == &first) throw EAbBadFileName(stored);
    }
    const std::string path = folder + stored;
    LoadFromFile(path);
    afilename = TextToAnsi(first.FileName());
    acomment = TextToAnsi(first.FileComment());
    aDate = first.LastModTimeAsDateTime();
    unzipper.CloseArchive();
    ::unlink(tmp.c_str());
    ::unlink(path.c_str());
  } catch (const std::exception&) {
    // Not an archive, no entry, damaged data, a date that cannot be converted: the
    // call ends quietly with what the steps before managed.
  }
  SetPosition(0);
}

}  // namespace vto
