/* The yardstick for a picture request: what libjpeg-turbo alone needs to decode a JPEG file
 * at full size and encode a picture of the size that fits 320 by 320 at quality 90, in one
 * process, without reading the file again. Prints the best of a number of runs in
 * milliseconds of processor time, then the same with the file decoded at the scale in eighths that Driftpost
 * decodes it at (the smallest that still gives the fitted size, when the picture shrinks by
 * 2 or more): what the library's own work costs on that road.
 *
 *   JpegFloor FILE [runs]      (default 10 runs)
 *
 * The encoded picture is the decoded picture's top-left corner of the fitted size: the
 * encoder's work depends on the size and the kind of content, not on how it was scaled.
 * Built by bench/load.sh against TurboJPEG (Debian's libturbojpeg0-dev). */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <turbojpeg.h>

/* Processor time of this process: on an idle machine the same as the time that passes, on a
 * shared one undisturbed by the time spent waiting for a processor. */
static double Now(void) {
  struct timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return (double)now.tv_sec * 1e3 + (double)now.tv_nsec / 1e6;
}

static unsigned char* ReadWhole(const char* path, unsigned long* size) {
  FILE* file = fopen(path, "rb");
  if (!file) return NULL;
  unsigned char* bytes = NULL;
  if (fseek(file, 0, SEEK_END) == 0) {
    long length = ftell(file);
    if (length > 0 && fseek(file, 0, SEEK_SET) == 0 && (bytes = malloc((size_t)length)) != NULL &&
        fread(bytes, 1, (size_t)length, file) != (size_t)length) {
      free(bytes);
      bytes = NULL;
    }
    *size = (unsigned long)length;
  }
  fclose(file);
  return bytes;
}

/* The longer side becomes 320, the other one is rounded, a half to the even neighbour. */
static void Fit(int width, int height, int* fittedWidth, int* fittedHeight) {
  if (width <= 320 && height <= 320) {
    *fittedWidth = width;
    *fittedHeight = height;
  } else if (width > height) {
    *fittedWidth = 320;
    *fittedHeight = (int)nearbyint((double)height * 320 / width);
  } else {
    *fittedHeight = 320;
    *fittedWidth = (int)nearbyint((double)width * 320 / height);
  }
  if (*fittedWidth < 1) *fittedWidth = 1;
  if (*fittedHeight < 1) *fittedHeight = 1;
}

static int ScaledSide(int side, int eighths) { return (int)(((long long)side * eighths + 7) / 8); }

/* Driftpost's choice of the decoding scale, in eighths. */
static int DecodeEighths(int width, int height, int fittedWidth, int fittedHeight) {
  const int longer = width > height ? width : height, fittedLonger = fittedWidth > fittedHeight ? fittedWidth : fittedHeight;
  if (longer < 2 * fittedLonger) return 8;
  int eighths = 1;
  while (eighths < 8 && (ScaledSide(width, eighths) < fittedWidth || ScaledSide(height, eighths) < fittedHeight))
    ++eighths;
  return eighths;
}

/* Best time of `runs` decodings at width × height (TurboJPEG picks the scale that gives it)
 * each followed by encoding the fitted size. */
static double Best(tjhandle decoder, tjhandle encoder, const unsigned char* file, unsigned long size,
                   unsigned char* pixels, int width, int height, int fittedWidth, int fittedHeight, int runs) {
  double best = -1;
  for (int run = 0; run < runs; ++run) {
    const double start = Now();
    unsigned char* jpeg = NULL;
    unsigned long jpegSize = 0;
    if (tjDecompress2(decoder, file, size, pixels, width, width * 3, height, TJPF_BGR, 0) != 0 ||
        tjCompress2(encoder, pixels, fittedWidth, width * 3, fittedHeight, TJPF_BGR, &jpeg, &jpegSize, TJSAMP_420,
                    90, 0) != 0) {
      fprintf(stderr, "JpegFloor: %s\n", tjGetErrorStr());
      exit(1);
    }
    tjFree(jpeg);
    const double elapsed = Now() - start;
    if (best < 0 || elapsed < best) best = elapsed;
  }
  return best;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s FILE [runs]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 2 ? atoi(argv[2]) : 10;
  unsigned long size = 0;
  unsigned char* file = ReadWhole(argv[1], &size);
  tjhandle decoder = tjInitDecompress(), encoder = tjInitCompress();
  int width, height, subsampling, colorspace;
  if (!file || !decoder || !encoder ||
      tjDecompressHeader3(decoder, file, size, &width, &height, &subsampling, &colorspace) != 0) {
    fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
    return 1;
  }
  unsigned char* pixels = malloc((size_t)width * 3 * (size_t)height);
  int fittedWidth, fittedHeight;
  Fit(width, height, &fittedWidth, &fittedHeight);
  const int eighths = DecodeEighths(width, height, fittedWidth, fittedHeight);
  printf("%.2f %.2f\n", Best(decoder, encoder, file, size, pixels, width, height, fittedWidth, fittedHeight, runs),
         Best(decoder, encoder, file, size, pixels, ScaledSide(width, eighths), ScaledSide(height, eighths),
              fittedWidth, fittedHeight, runs));
  free(pixels);
  free(file);
  tjDestroy(decoder);
  tjDestroy(encoder);
  return 0;
}
