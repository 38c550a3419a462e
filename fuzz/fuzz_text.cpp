// The UTF-8 decoder and text drawing. Input: 12 bytes of text box (place,
// clip, face, size, layer, alignment, spacing), then the text.
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "gfx/gfx.h"
#include "gfx/text.h"

using norvane::fuzz::check;

namespace {

int16_t s16(const uint8_t* p)
{
    return int16_t(uint16_t(p[0] | p[1] << 8));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = [] {
        text_build_blend_table();
        text_init_fonts(text_fonts, TEXT_FONT_COUNT);
        return text_fonts_ready();
    }();
    check(ready, "the fonts did not load");
    uint8_t head[12] = {};
    const size_t head_size = size < sizeof head ? size : sizeof head;
    std::memcpy(head, data, head_size);
    const std::string text(reinterpret_cast<const char*>(data) + head_size, size - head_size);

    // The decoder walks the string to its end in at most one step per byte.
    const char* cursor = nullptr;
    uint32_t code = 0;
    utf8_next_char(&cursor, &code);
    cursor = text.c_str();
    const size_t length = std::strlen(cursor);
    size_t steps = 0;
    for (;;) {
        const int result = utf8_next_char(&cursor, &code);
        check(result != 2, "the decoder lost its place");
        if (result == 0 && code == 0)
            break;
        check(cursor > text.c_str() && cursor <= text.c_str() + length, "the decoder left the string");
        check(++steps <= length, "the decoder does not end");
    }

    text_box box{};
    box.left = s16(head) % 400;
    box.top = s16(head + 2) % 400;
    box.right = s16(head + 4) % 400;
    box.bottom = s16(head + 6) % 400;
    box.face = int8_t(head[8]) % 4;
    box.size = head[9];
    box.layer = head[10] & 3;
    box.color = gfx_color(head[10] << 8 | head[11]);
    box.alignment = head[11] & 3;
    box.spacing = head[11] >> 4;
    text_render(box, text.c_str());
    gfx_set_text_style(head[9], uint8_t(head[11] & 3), uint8_t(head[11] >> 4));
    gfx_draw_text(box.left, box.top, text.c_str());
    return 0;
}
