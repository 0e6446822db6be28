// One-entry zip archives of the document stream: packed in memory with the zip
// writer, unpacked through a temporary file and the extractor.
#if defined(_WIN32)
#include "desktop/WinApi.h"
#include "streams/WideNames.h"
#else
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "desktop/DateTime.h"
#include "desktop/Desktop.h"
#include "desktop/TextCodec.h"
#include "qelstream/QELStream.h"
#include "zip/AbUnZipper.h"
#include "zip/ZipArchive.h"

namespace vto {

namespace {

constexpr std::uint16_t kArchiveAttribute = 0x20;

#if defined(_WIN32)

// Removes a file, a read-only one too; false when it stays.
bool RemoveFile(const std::string& path) {
  std::wstring wide;
  if (!WideName(path, wide)) return false;
  if (DeleteFileW(wide.c_str()) != 0) return true;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0)
    return false;
  return SetFileAttributesW(wide.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) != 0 &&
         DeleteFileW(wide.c_str()) != 0;
}

// Removes a folder and everything in it. A link or junction inside is removed
// itself, never entered.
void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      const DWORD attributes = found.dwFileAttributes;
      if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        (void)SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        (void)DeleteFileW(path.c_str());
      else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        (void)RemoveDirectoryW(path.c_str());
      else
        RemoveTree(path);
    } while (FindNextFileW(search, &found) != 0);
    FindClose(search);
  }
  (void)RemoveDirectoryW(folder.c_str());
}

// Security for a folder only its owner may enter: a protected access list of
// one entry, full access for the user this process runs as, inherited by all
// that is made inside. The temporary folder may be shared (a service's).
class OwnerOnlySecurity {
 public:
  // False when the process's user or the list cannot be had.
  bool Init() {
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == 0) return false;
    DWORD size = 0;
    (void)GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    FUser.assign(size, 0);
    const bool got = size >= sizeof(TOKEN_USER) &&
                     GetTokenInformation(token, TokenUser, FUser.data(), size, &size) != 0;
    CloseHandle(token);
    if (!got) return false;
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(FUser.data())->User.Sid;
    if (IsValidSid(sid) == 0) return false;
    const DWORD acl_size =
        static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE)) + GetLengthSid(sid);
    FAcl.assign(acl_size, 0);
    auto* acl = reinterpret_cast<ACL*>(FAcl.data());
    if (InitializeAcl(acl, acl_size, ACL_REVISION) == 0 ||
        AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                              FILE_ALL_ACCESS, sid) == 0 ||
        InitializeSecurityDescriptor(&FDescriptor, SECURITY_DESCRIPTOR_REVISION) == 0 ||
        SetSecurityDescriptorDacl(&FDescriptor, TRUE, acl, FALSE) == 0 ||
        SetSecurityDescriptorControl(&FDescriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) == 0)
      return false;
    FAttributes.nLength = sizeof FAttributes;
    FAttributes.lpSecurityDescriptor = &FDescriptor;
    FAttributes.bInheritHandle = FALSE;
    return true;
  }
  SECURITY_ATTRIBUTES* Attributes() { return &FAttributes; }

 private:
  std::vector<unsigned char> FUser, FAcl;
  SECURITY_DESCRIPTOR FDescriptor{};
  SECURITY_ATTRIBUTES FAttributes{};
};

// A folder made fresh under the temporary folder, open to its owner only, and
// removed with everything in it when this goes.
class PrivateFolder {
 public:
  PrivateFolder() = default;
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  ~PrivateFolder() {
    if (!FWide.empty()) RemoveTree(FWide);
  }

  // "qel" and six letters or digits; a name that exists is never taken over, the
  // next one is tried.
  void Create(const std::string& Parent) {
    static const char kLetters[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    std::uint64_t seed = static_cast<std::uint64_t>(counter.QuadPart) ^
                         (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32);
    OwnerOnlySecurity security;
    if (!security.Init())
      throw EFCreateError("Cannot create folder under \"" + Parent +
                          "\": " + WinErrorText(GetLastError()));
    DWORD error = ERROR_ALREADY_EXISTS;
    std::string path;
    for (int attempt = 0; attempt < 100 && error == ERROR_ALREADY_EXISTS; ++attempt) {
      path = Parent + "qel";
      for (int i = 0; i < 6; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        path += kLetters[(seed >> 33) % 36];
      }
      std::wstring wide;
      if (!WideName(path, wide)) {
        error = ERROR_INVALID_NAME;
        break;
      }
      if (CreateDirectoryW(wide.c_str(), security.Attributes()) != 0) {
        FPath = path;
        FWide = wide;
        return;
      }
      error = GetLastError();
    }
    throw EFCreateError("Cannot create folder \"" + path + "\": " + WinErrorText(error));
  }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
  std::wstring FWide;
};

#else

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

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

#endif

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
          RemoveFile(target);
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
    RemoveFile(tmp);
  } catch (const std::exception&) {
    // Not an archive, no entry, damaged data, a date that cannot be converted: the
    // call ends quietly with what the steps before managed.
  }
  SetPosition(0);
}

}  // namespace vto
