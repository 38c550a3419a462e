// Anti-aliased text from the faces compiled into the program.
#pragma once
#include <cstdint>

#include "gfx/gfx.h"

struct FTC_SBitRec_;

constexpr uint8_t TEXT_ALIGN_LEFT = 0;
constexpr uint8_t TEXT_ALIGN_CENTER = 1;
constexpr uint8_t TEXT_ALIGN_RIGHT = 2;

constexpr int TEXT_MAX_GLYPHS = 200;  // glyphs laid out per draw

// One TrueType face compiled into the program. Face ID n is entry n.
struct font_asset {
    const uint8_t* data;
    const uint32_t* length;  // length of `data` in bytes
    uint32_t reserved;
};

// Face 0 Liberation Sans Regular, 1 Liberation Mono Regular, 2 Liberation
// Mono Bold; embedded at build time.
constexpr uint32_t TEXT_FONT_COUNT = 3;
extern const font_asset text_fonts[TEXT_FONT_COUNT];

struct text_style {
    int32_t face = 0;
    uint8_t size = 10;  // em height in pixels
    uint8_t alignment = TEXT_ALIGN_LEFT;
    uint8_t spacing = 0;  // extra pixels between consecutive glyphs
};
extern text_style gfx_text_style;

// One text draw. left/right are the alignment span and the horizontal clip;
// top/bottom the vertical clip, top also the top of the text line.
struct text_box {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
    int32_t face;
    int32_t size;
    int32_t layer;
    gfx_color color;
    int32_t alignment;
    int32_t spacing;
};

// [coverage][channel value] = coverage * value / 256, rounded down.
extern uint8_t text_blend_table[256][64];

void text_build_blend_table();
// Sets up the font engine over `table`; draws do nothing unless this succeeded.
void text_init_fonts(const font_asset* table, uint32_t count);
bool text_fonts_ready();
// Heap blocks the font engine has asked for since start-up. It stops growing
// once the strings on screen are cached.
uint64_t text_engine_allocations();
// Strings drawn again in the same place over the same pixels are copied from
// the kept result of the last draw (on by default; the result is the same to
// the bit). Switching forgets every kept string.
void text_set_run_cache(bool on);
// Draws served from a kept result since start-up.
uint64_t text_run_hits();

void gfx_set_text_style(uint8_t size, uint8_t alignment, uint8_t spacing);
// Draws a UTF-8 string at (x, y) in the current text style; returns the
// number of glyphs drawn.
uint32_t gfx_draw_text(int32_t x, int32_t y, const char* text);

uint32_t text_render(const text_box& box, const char* text);
void text_draw_glyph(int32_t pen_x, int32_t y_base, const FTC_SBitRec_* bitmap,
                     const text_box& box);
void text_blend(gfx_color* pixel, gfx_color color, uint8_t coverage);

// Decodes the next code point at *cursor and moves the cursor past it.
// Returns 0 on success (code 0 at the end of the string, which also resets
// the decoder), 1 for a malformed sequence (code '?'), 2 when *cursor does
// not continue the previous call (code 0, *cursor null). A null cursor
// resets the decoder.
int utf8_next_char(const char** cursor, uint32_t* code);
