// Anti-aliased text from the faces compiled into the program.
#pragma once
#include <cstdint>

constexpr uint8_t TEXT_ALIGN_LEFT = 0;
constexpr uint8_t TEXT_ALIGN_CENTER = 1;
constexpr uint8_t TEXT_ALIGN_RIGHT = 2;

void text_build_blend_table();
void text_init_fonts();

void gfx_set_text_style(uint8_t size, uint8_t alignment, uint8_t spacing);
// Draws a UTF-8 string at (x, y) in the current text style; returns the
// number of glyphs drawn.
uint32_t gfx_draw_text(int32_t x, int32_t y, const char* text);
