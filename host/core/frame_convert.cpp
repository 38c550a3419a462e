#include "host/core/frame_convert.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace norvane {
namespace {

// One row of 320 pixels. With SSE2, eight pixels at a time: each output byte
// is a masked shift of the 16-bit pixel, and two 16-bit halves (B G, R A)
// interleave into four 32-bit pixels.
void convert_row(const gfx_color* __restrict src, uint32_t* __restrict dst)
{
#if defined(__SSE2__)
    static_assert(GFX_WIDTH % 8 == 0);
    const __m128i key = _mm_set1_epi16(short(0x8000));
    const __m128i one = _mm_set1_epi16(1);
    const __m128i blue_mask = _mm_set1_epi16(0x00F8);
    const __m128i green_mask = _mm_set1_epi16(short(0xFC00));
    const __m128i red_mask = _mm_set1_epi16(0x00F8);
    const __m128i alpha = _mm_set1_epi16(short(0xFF00));
    for (int x = 0; x < GFX_WIDTH; x += 8) {
        __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        p = _mm_or_si128(p, _mm_and_si128(_mm_cmpeq_epi16(p, key), one));  // 0x8000 -> 0x8001
        const __m128i bg = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(p, 3), blue_mask),
                                        _mm_and_si128(_mm_slli_epi16(p, 5), green_mask));
        const __m128i ra = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(p, 8), red_mask), alpha);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm_unpacklo_epi16(bg, ra));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x + 4), _mm_unpackhi_epi16(bg, ra));
    }
#else
    for (int x = 0; x < GFX_WIDTH; ++x)
        dst[x] = convert_pixel(src[x]);
#endif
}

}  // namespace

void convert_frame_bottom_up(const gfx_color* frame, uint8_t* out)
{
    uint32_t* rows = reinterpret_cast<uint32_t*>(out);
    for (int y = 0; y < GFX_HEIGHT; ++y)
        convert_row(frame + y * GFX_WIDTH, rows + size_t(GFX_HEIGHT - 1 - y) * GFX_WIDTH);
}

void convert_frame_top_down(const gfx_color* frame, uint8_t* out)
{
    uint32_t* rows = reinterpret_cast<uint32_t*>(out);
    for (int y = 0; y < GFX_HEIGHT; ++y)
        convert_row(frame + y * GFX_WIDTH, rows + size_t(y) * GFX_WIDTH);
}

}  // namespace norvane
