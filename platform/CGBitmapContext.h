// The bitmap-context queries a desktop pixel view makes. On Apple systems these
// are Core Graphics itself; elsewhere a context is the plain record below,
// filled by whoever owns the pixels (the emulated host), and the queries read it.
#pragma once

#if defined(__APPLE__)
#include <CoreGraphics/CoreGraphics.h>
#else
#include <cstddef>
#include <cstdint>

typedef uint32_t CGImageAlphaInfo;
enum : CGImageAlphaInfo {
    kCGImageAlphaNone = 0,
    kCGImageAlphaPremultipliedLast = 1,
    kCGImageAlphaPremultipliedFirst = 2,
    kCGImageAlphaLast = 3,
    kCGImageAlphaFirst = 4,
    kCGImageAlphaNoneSkipLast = 5,
    kCGImageAlphaNoneSkipFirst = 6,
    kCGImageAlphaOnly = 7,
};

struct CGBitmapContext {
    void* data;
    size_t bitsPerPixel;
    size_t width;
    size_t height;
    size_t bytesPerRow;
    CGImageAlphaInfo alphaInfo;  // the low bits; higher bits may carry byte-order flags
};
typedef CGBitmapContext* CGContextRef;

void* CGBitmapContextGetData(CGContextRef context);
size_t CGBitmapContextGetBitsPerPixel(CGContextRef context);
size_t CGBitmapContextGetWidth(CGContextRef context);
size_t CGBitmapContextGetHeight(CGContextRef context);
size_t CGBitmapContextGetBytesPerRow(CGContextRef context);
CGImageAlphaInfo CGBitmapContextGetAlphaInfo(CGContextRef context);
#endif
