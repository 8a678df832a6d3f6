/* Bound for the MSZIP benchmark: inflates the data blocks of a one-folder
 * MSZIP cabinet (no reserve areas, as gcab writes them) with plain zlib,
 * each block's raw deflate data primed with the previous 32 KiB of output.
 * Usage: cab_zinflate FILE.cab   prints the number of bytes inflated. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

static unsigned Le16(const unsigned char* p) { return p[0] | (p[1] << 8); }
static unsigned long Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | ((unsigned long)p[2] << 16) | ((unsigned long)p[3] << 24);
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  FILE* f = fopen(argv[1], "rb");
  if (!f) return 1;
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  unsigned char* cab = malloc((size_t)size);
  if (!cab || fread(cab, 1, (size_t)size, f) != (size_t)size) return 1;
  fclose(f);
  if (size < 44 || memcmp(cab, "MSCF", 4) != 0 || (Le16(cab + 30) & 4)) return 1;
  unsigned long pos = Le32(cab + 36); /* first folder: data offset */
  unsigned blocks = Le16(cab + 40);
  static unsigned char window[65536];
  unsigned long long total = 0;
  size_t have = 0;
  z_stream z;
  memset(&z, 0, sizeof z);
  if (inflateInit2(&z, -15) != Z_OK) return 1;
  for (unsigned b = 0; b < blocks; ++b) {
    unsigned cb = Le16(cab + pos + 4), ub = Le16(cab + pos + 6);
    const unsigned char* data = cab + pos + 8;
    if (data[0] != 'C' || data[1] != 'K') return 1;
    inflateReset(&z);
    if (have) inflateSetDictionary(&z, window + 32768 - have, (uInt)have);
    z.next_in = (unsigned char*)data + 2;
    z.avail_in = cb - 2;
    z.next_out = window + 32768;
    z.avail_out = ub;
    int rc = inflate(&z, Z_FINISH);
    if (rc != Z_STREAM_END && rc != Z_OK && rc != Z_BUF_ERROR) return 1;
    memmove(window, window + ub, 32768);
    have = have + ub > 32768 ? 32768 : have + ub;
    total += ub;
    pos += 8 + cb;
  }
  inflateEnd(&z);
  printf("%llu\n", total);
  return 0;
}
