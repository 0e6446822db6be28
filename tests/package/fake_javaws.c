/* A stand-in for javaws.exe in the installer test: writes each argument it was
   given on a line of the file named by VTO_FAKE_JAVAWS_OUT, then ends. */
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  const char* out = getenv("VTO_FAKE_JAVAWS_OUT");
  if (out == NULL) return 2;
  FILE* f = fopen(out, "wb");
  if (f == NULL) return 3;
  for (int i = 1; i < argc; ++i) fprintf(f, "%s\n", argv[i]);
  return fclose(f) == 0 ? 0 : 4;
}
