/* The program the test registers for .jnlp files: writes the path it was given
   and then the file's bytes to the file named by VTO_HANDLER_OUT. */
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  const char* out_name = getenv("VTO_HANDLER_OUT");
  if (out_name == NULL || argc != 2) return 2;
  FILE* out = fopen(out_name, "wb");
  if (out == NULL) return 3;
  fprintf(out, "%s\n", argv[1]);
  FILE* in = fopen(argv[1], "rb");
  if (in != NULL) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) fwrite(buffer, 1, n, out);
    fclose(in);
  }
  return fclose(out) == 0 ? 0 : 4;
}
