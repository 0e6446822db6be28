// An archive in memory opened by the writer's component, its entries read, and an
// entry added to it (which rewrites the directory of whatever was read).
#include <string>

#include "fuzz/FuzzCommon.h"
#include "streams/Streams.h"
#include "zip/ZipArchive.h"

using namespace vto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream archive;
  if (size > 0) archive.WriteBuffer(data, static_cast<std::int32_t>(size));
  archive.SetPosition(0);

  TZipArchive zip;
  try {
    zip.Open(archive);
  } catch (const Exception&) {
    return 0;
  }
  const int count = zip.Entries().Count();
  for (int i = 0; i < count; ++i) {
    TZipEntry& entry = zip.Entries().Items(i);
    (void)entry.FileName();
    (void)entry.Date();
    // A lookup by name walks the list: a few of them, not one per entry.
    if (i < 16) VTO_FUZZ_CHECK(zip.Entries().IndexOf(entry.FileName()) >= 0);
  }
  (void)zip.Comment();
  if (!zip.IsZipFile()) return 0;

  TMemoryStream content;
  content.WriteBuffer("hello", 5);
  content.SetPosition(0);
  try {
    zip.AddStream("added.txt", 0, 45000.5, content);
  } catch (const Exception&) {
    return 0;
  }
  VTO_FUZZ_CHECK(zip.Entries().IndexOf("added.txt") >= 0);

  // The rewritten archive opens again with the added entry in it.
  TZipArchive reread;
  archive.SetPosition(0);
  reread.Open(archive);
  VTO_FUZZ_CHECK(reread.IsZipFile());
  VTO_FUZZ_CHECK(reread.Entries().IndexOf("added.txt") >= 0);
  return 0;
}
