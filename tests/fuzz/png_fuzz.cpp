// Feeds arbitrary bytes to the picture loader (PNG first, then BMP and TGA,
// which have weaker signatures): it must refuse or decode, never read out of
// bounds, leak or allocate without limit.
#include "media/graphics.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool once = [] {
        ForceNullGraphics(true);
        return true;
    }();
    (void)once;
    ImageRef img = LoadImageFromMemory(data, size, IMAGE_MASKED);
    if (img) {
        // Whatever decoded must be a consistent frame.
        const TPixmap* pm = ImageFramePixels(img, 0);
        if (!pm || pm->pixels.size() != (size_t)img->width * img->height * 4) __builtin_trap();
        ImagesOverlap(img, 0, 0, 0, 30, 1, 1, img, 1, 1, 0, 0, 1, 1);
    }
    return 0;
}
