/* Times libvips operations in-process on one picture, single-threaded: the
 * operation alone, forced into memory, median of N runs in milliseconds.
 *
 *   vips_time IN.ppm OPERATION ARG... REPEAT
 *     reduce KERNEL FACTOR         (kernel: linear, cubic, mitchell, lanczos3)
 *     shrink FACTOR                (vips_shrink: its box average)
 *     resize-up KERNEL WIDTH HEIGHT  (vips_resize; it enlarges with the kernel's interpolator:
 *                                     bilinear for linear, Catmull-Rom bicubic for cubic)
 *     boxblur RADIUS               (a flat (2r+1)^2 mask with vips_conv, precision integer)
 *     boxblursep RADIUS            (the same mask as two vips_convsep passes)
 *     translate DX DY              (vips_affine, bilinear interpolator)
 *
 * BENCH_CLOCK=cpu times the process's CPU time instead of the wall clock.
 * Built by bench/peers.sh against libvips-dev; not part of the project build. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <vips/vips.h>

/* Wall-clock time, or with BENCH_CLOCK=cpu the CPU time of the whole process
 * (every thread), which other work on a shared machine disturbs less. */
static double now_ms(void) {
    const char* clock_name = getenv("BENCH_CLOCK");
    struct timespec t;
    clock_gettime(clock_name && !strcmp(clock_name, "cpu") ? CLOCK_PROCESS_CPUTIME_ID : CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

static int compare(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

static VipsImage* box_mask(int radius) {
    int size = 2 * radius + 1;
    VipsImage* mask = vips_image_new_matrix(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) *VIPS_MATRIX(mask, x, y) = 1.0;
    vips_image_set_double(mask, "scale", (double)size * size);
    vips_image_set_double(mask, "offset", 0.0);
    return mask;
}

static VipsImage* row_mask(int radius) {
    int size = 2 * radius + 1;
    VipsImage* mask = vips_image_new_matrix(size, 1);
    for (int x = 0; x < size; ++x) *VIPS_MATRIX(mask, x, 0) = 1.0;
    vips_image_set_double(mask, "scale", (double)size);
    vips_image_set_double(mask, "offset", 0.0);
    return mask;
}

static VipsKernel kernel_named(const char* name) {
    return !strcmp(name, "linear")     ? VIPS_KERNEL_LINEAR
           : !strcmp(name, "cubic")    ? VIPS_KERNEL_CUBIC
           : !strcmp(name, "mitchell") ? VIPS_KERNEL_MITCHELL
                                       : VIPS_KERNEL_LANCZOS3;
}

static int run(VipsImage* in, int argc, char** argv, VipsImage** out) {
    const char* op = argv[0];
    if (!strcmp(op, "reduce") && argc >= 3) {
        double factor = atof(argv[2]);
        return vips_reduce(in, out, factor, factor, "kernel", kernel_named(argv[1]), NULL);
    }
    if (!strcmp(op, "shrink") && argc >= 2) {
        double factor = atof(argv[1]);
        return vips_shrink(in, out, factor, factor, NULL);
    }
    if (!strcmp(op, "resize-up") && argc >= 4) {
        double scale = atof(argv[2]) / in->Xsize;
        return vips_resize(in, out, scale, "vscale", atof(argv[3]) / in->Ysize, "kernel", kernel_named(argv[1]),
                           NULL);
    }
    if (!strcmp(op, "boxblur") && argc >= 2) {
        VipsImage* mask = box_mask(atoi(argv[1]));
        int status = vips_conv(in, out, mask, "precision", VIPS_PRECISION_INTEGER, NULL);
        g_object_unref(mask);
        return status;
    }
    if (!strcmp(op, "boxblursep") && argc >= 2) {
        VipsImage* mask = row_mask(atoi(argv[1]));
        int status = vips_convsep(in, out, mask, "precision", VIPS_PRECISION_INTEGER, NULL);
        g_object_unref(mask);
        return status;
    }
    if (!strcmp(op, "translate") && argc >= 3) {
        /* The output area is the input's, as when one picture is drawn into another of its size. */
        VipsInterpolate* bilinear = vips_interpolate_new("bilinear");
        VipsArrayInt* area = vips_array_int_newv(4, 0, 0, in->Xsize, in->Ysize);
        int status = vips_affine(in, out, 1, 0, 0, 1, "odx", atof(argv[1]), "ody", atof(argv[2]), "interpolate",
                                 bilinear, "oarea", area, NULL);
        vips_area_unref(VIPS_AREA(area));
        g_object_unref(bilinear);
        return status;
    }
    fprintf(stderr, "vips_time: unknown operation %s\n", op);
    return -1;
}

int main(int argc, char** argv) {
    if (VIPS_INIT(argv[0])) vips_error_exit(NULL);
    if (argc < 4) {
        fprintf(stderr, "usage: vips_time IN OPERATION ARG... REPEAT\n");
        return 2;
    }
    vips_concurrency_set(1);
    vips_cache_set_max(0);
    VipsImage* loaded = vips_image_new_from_file(argv[1], "access", VIPS_ACCESS_RANDOM, NULL);
    if (!loaded) vips_error_exit(NULL);
    VipsImage* in = vips_image_copy_memory(loaded);
    if (!in) vips_error_exit(NULL);
    int repeat = atoi(argv[argc - 1]);
    double* times = calloc((size_t)repeat, sizeof(double));
    for (int i = 0; i < repeat; ++i) {
        double start = now_ms();
        VipsImage* out = NULL;
        if (run(in, argc - 3, argv + 2, &out)) vips_error_exit(NULL);
        size_t size = 0;
        void* memory = vips_image_write_to_memory(out, &size);
        if (!memory) vips_error_exit(NULL);
        times[i] = now_ms() - start;
        g_free(memory);
        g_object_unref(out);
    }
    qsort(times, (size_t)repeat, sizeof(double), compare);
    printf("%.3f\n", times[repeat / 2]);
    g_object_unref(in);
    g_object_unref(loaded);
    return 0;
}
