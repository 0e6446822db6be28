// A whole-process stand-in for the document stream's zip packaging, to be timed
// against Info-ZIP by zip_vs_infozip.sh:
//   zip_tool zip <file> <archive>     load, Zip, save the archive
//   zip_tool unzip <archive> <file>   load, Unzip, save the entry's bytes
#include <cstdio>
#include <cstring>
#include <exception>

#include "desktop/DateTime.h"
#include "qelstream/QELStream.h"

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "zip") != 0 && std::strcmp(argv[1], "unzip") != 0)) {
    std::fprintf(stderr, "usage: zip_tool zip|unzip <in> <out>\n");
    return 2;
  }
  try {
    vto::TQELMemoryStream s;
    s.LoadFromFile(argv[2]);
    if (argv[1][0] == 'z') {
      s.Zip("data.txt", "", vto::Now());
    } else {
      const auto before = s.Size();
      s.Unzip();
      if (s.Size() == before) {
        std::fprintf(stderr, "zip_tool: nothing unpacked\n");
        return 1;
      }
    }
    s.SaveToFile(argv[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zip_tool: %s\n", e.what());
    return 1;
  }
  return 0;
}
