// Writes the benchmarks' test picture (bench/Photo.h) as a binary PPM, so that
// the peer libraries read the very pixels zpxbench works on.
//
//   testphoto WIDTH HEIGHT OUT.ppm [SEED]   (another SEED, another picture)
#include <cstdio>
#include <cstdlib>

#include "bench/Photo.h"

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: testphoto WIDTH HEIGHT OUT.ppm [SEED]\n");
        return 2;
    }
    const int width = atoi(argv[1]), height = atoi(argv[2]);
    if (width < 1 || height < 1 || width > 65535 || height > 65535) {
        fprintf(stderr, "testphoto: WIDTH and HEIGHT must be 1 to 65535\n");
        return 2;
    }
    const std::vector<uint8_t> rgb = zpxbench::PhotoRGB(width, height, argc == 5 ? uint32_t(atol(argv[4])) : 0);
    FILE* out = fopen(argv[3], "wb");
    if (out == nullptr) {
        perror(argv[3]);
        return 2;
    }
    fprintf(out, "P6\n%d %d\n255\n", width, height);
    const bool written = fwrite(rgb.data(), 1, rgb.size(), out) == rgb.size();
    if (fclose(out) != 0 || !written) {
        perror(argv[3]);
        return 2;
    }
    return 0;
}
