// Text: UTF-8 decoding, layout with kerning and letter spacing, and blending
// of FreeType's 8-bit coverage into the layers. Faces, sizes, character maps
// and glyph bitmaps live in FreeType's cache, so redrawing a string that is
// already on screen renders nothing again.
#include "gfx/text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_CACHE_H
#include FT_MODULE_H

text_style gfx_text_style;
uint8_t text_blend_table[256][64];

namespace {

constexpr FT_ULong CACHE_BYTES = 0x100000;

struct font_engine {
    FT_Library library = nullptr;
    FTC_Manager manager = nullptr;
    FTC_CMapCache cmaps = nullptr;
    FTC_SBitCache sbits = nullptr;
    const font_asset* table = nullptr;
    uint32_t count = 0;
    bool ready = false;
};
font_engine engine;

uint64_t allocations = 0;

// FreeType 2.12 leaves the cache manager's byte count uninitialised; over
// leftover heap data the manager believes it is over budget and drops every
// glyph it has just rendered. Handing out zero-filled blocks keeps the count
// at 0 until the cache really fills.
void* engine_alloc(FT_Memory, long size)
{
    ++allocations;
    return std::calloc(1, size_t(size));
}

void engine_free(FT_Memory, void* block)
{
    std::free(block);
}

void* engine_realloc(FT_Memory, long, long new_size, void* block)
{
    ++allocations;
    return std::realloc(block, size_t(new_size));
}

FT_MemoryRec_ engine_memory{nullptr, engine_alloc, engine_free, engine_realloc};

// Face IDs handed to the cache are n + 1, so that face 0 is not a null ID.
FTC_FaceID face_id(int32_t n)
{
    return reinterpret_cast<FTC_FaceID>(uintptr_t(n) + 1);
}

FT_Error request_face(FTC_FaceID id, FT_Library library, FT_Pointer, FT_Face* face)
{
    const uintptr_t n = reinterpret_cast<uintptr_t>(id) - 1;
    if (n >= engine.count)
        return FT_Err_Invalid_Argument;
    const font_asset& font = engine.table[n];
    return FT_New_Memory_Face(library, font.data, FT_Long(*font.length), 0, face);
}

void release_engine()
{
    if (engine.manager)
        FTC_Manager_Done(engine.manager);
    if (engine.library)
        FT_Done_Library(engine.library);
    engine = font_engine{};
}

struct glyph_entry {
    FT_UInt glyph;
    int32_t pen_x;
    FTC_SBit bitmap;
    FTC_Node node;
};

// The decoder's remembered position: each call must continue where the last
// one stopped, until the string ends or the decoder is reset.
const char* utf8_position = nullptr;
bool utf8_active = false;

// Eight pixels or coverage values at a time (GCC vector extensions).
using pixels8 = uint16_t __attribute__((vector_size(16)));
using bytes8 = uint8_t __attribute__((vector_size(8)));

uint64_t load8(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The last n < 8 coverage bytes of a glyph row, in the low bytes, without
// reading past the row: eight bytes ending at the row's end shifted down
// when the row is that long, else byte by byte. Both stay in registers (a
// byte-wise copy through memory stalls the vector load that follows).
uint64_t load_tail(const uint8_t* row_start, const uint8_t* p, int32_t n)
{
    if ((p - row_start) + n >= 8)
        return load8(p + n - 8) >> (8 * (8 - n));
    uint64_t v = 0;
    for (int32_t i = 0; i < n; ++i)
        v |= uint64_t(p[i]) << (8 * i);
    return v;
}

// Blends one glyph row into pixels [first, end) of a layer row. Each channel
// is mixed as coverage * source / 256 + (255 - coverage) * destination / 256,
// both rounded down: the values of text_blend's table, computed eight pixels
// at a time without a branch per pixel (coverage changes from pixel to
// pixel, so such branches would mostly be mispredicted). Coverage 0 keeps
// the pixel and 255 paints the colour. With BLEND_UNDER, a transparent
// overlay pixel first takes the background's value there, so the edge
// blends with what shows through and the pixel becomes opaque.
//
// Lanes past `end` count as coverage 0 and write back the pixel they read;
// the layers have rows to spare below the panel, so they stay in the layer.
template <bool BLEND_UNDER>
void blend_span(gfx_color* __restrict row, const gfx_color* __restrict under,
                const uint8_t* coverage_row, const uint8_t* coverage, gfx_color color,
                int32_t first, int32_t end)
{
    const pixels8 source_red = pixels8{} + uint16_t(color >> 11);
    const pixels8 source_green = pixels8{} + uint16_t((color >> 5) & 0x3F);
    const pixels8 source_blue = pixels8{} + uint16_t(color & 0x1F);
    const pixels8 paint = pixels8{} + color;
    for (int32_t x = first; x < end; x += 8, coverage += 8) {
        bytes8 cover_bytes;
        const uint64_t cover =
            end - x >= 8 ? load8(coverage) : load_tail(coverage_row, coverage, end - x);
        std::memcpy(&cover_bytes, &cover, sizeof cover_bytes);
        const pixels8 a = __builtin_convertvector(cover_bytes, pixels8);
        const pixels8 rest = 255 - a;
        pixels8 old;
        std::memcpy(&old, row + x, sizeof old);
        pixels8 p = old;
        if constexpr (BLEND_UNDER) {
            pixels8 below;
            std::memcpy(&below, under + x, sizeof below);
            p = old == GFX_KEY_COLOR ? below : old;
        }
        const pixels8 red = ((a * source_red) >> 8) + ((rest * (p >> 11)) >> 8);
        const pixels8 green = ((a * source_green) >> 8) + ((rest * ((p >> 5) & 0x3F)) >> 8);
        const pixels8 blue = ((a * source_blue) >> 8) + ((rest * (p & 0x1F)) >> 8);
        const pixels8 mixed = (red << 11) | (green << 5) | blue;
        const pixels8 painted = a == 255 ? paint : mixed;
        const pixels8 result = a == 0 ? old : painted;
        std::memcpy(row + x, &result, sizeof result);
    }
}

bool utf8_plausible_lead(uint8_t b)
{
    return b <= 0x7F || (b >= 0xC2 && b <= 0xF4);
}

}  // namespace

void text_build_blend_table()
{
    for (int c = 0; c < 256; ++c)
        for (int i = 0; i < 64; ++i)
            text_blend_table[c][i] = uint8_t(c * i / 256);
}

void text_init_fonts(const font_asset* table, uint32_t count)
{
    release_engine();
    engine.table = table;
    engine.count = count;
    if (FT_New_Library(&engine_memory, &engine.library) != 0) {
        engine.library = nullptr;
        return;
    }
    FT_Add_Default_Modules(engine.library);
    if (FTC_Manager_New(engine.library, 0, 0, CACHE_BYTES, request_face, nullptr,
                        &engine.manager) != 0)
        return;
    if (FTC_CMapCache_New(engine.manager, &engine.cmaps) != 0)
        return;
    if (FTC_SBitCache_New(engine.manager, &engine.sbits) != 0)
        return;
    engine.ready = true;
}

bool text_fonts_ready()
{
    return engine.ready;
}

uint64_t text_engine_allocations()
{
    return allocations;
}

void gfx_set_text_style(uint8_t size, uint8_t alignment, uint8_t spacing)
{
    gfx_text_style.size = size;
    gfx_text_style.alignment = alignment;
    gfx_text_style.spacing = spacing;
}

uint32_t gfx_draw_text(int32_t x, int32_t y, const char* text)
{
    x = x < 0 ? 0 : (x > GFX_WIDTH - 1 ? GFX_WIDTH - 1 : x);
    y = y < 0 ? 0 : (y > GFX_PANEL_TOP + GFX_PANEL_ROWS - 1 ? GFX_PANEL_TOP + GFX_PANEL_ROWS - 1 : y);

    text_box box{};
    box.face = gfx_text_style.face;
    box.size = gfx_text_style.size;
    box.layer = gfx_state.layer;
    box.color = gfx_state.text_color;
    box.alignment = gfx_text_style.alignment;
    box.spacing = gfx_text_style.spacing;
    box.top = y;
    // Text that starts in the panel area stays in the panel area.
    box.bottom = y <= GFX_HEIGHT - 1 ? GFX_HEIGHT - 1 : GFX_PANEL_TOP + GFX_PANEL_ROWS - 1;

    switch (box.alignment) {
    case TEXT_ALIGN_CENTER:
        // A span symmetric about x that stays on screen.
        if (x <= 159) {
            box.left = 0;
            box.right = 2 * x;
        } else {
            box.left = 2 * x - 319;
            box.right = 319;
        }
        break;
    case TEXT_ALIGN_RIGHT:
        box.left = 0;
        box.right = x;
        break;
    default:
        box.left = x;
        box.right = 319;
        break;
    }
    return text_render(box, text);
}

uint32_t text_render(const text_box& box, const char* text)
{
    if (box.face < 0 || uint32_t(box.face) >= engine.count || !engine.ready)
        return 0;

    FTC_ScalerRec scaler{};
    scaler.face_id = face_id(box.face);
    scaler.width = 0;
    scaler.height = FT_UInt(box.size);
    scaler.pixel = 1;
    FT_Size size = nullptr;
    if (FTC_Manager_LookupSize(engine.manager, &scaler, &size) != 0)
        return 0;
    const bool kerning = FT_HAS_KERNING(size->face);

    glyph_entry glyphs[TEXT_MAX_GLYPHS];
    uint32_t count = 0;
    int32_t pen = 0;
    FT_UInt previous = 0;
    bool has_previous = false;
    const char* cursor = text;
    uint32_t code = 0;
    for (;;) {
        utf8_next_char(&cursor, &code);
        if (code == 0)
            break;
        if (count == TEXT_MAX_GLYPHS) {
            // The rest of the string is left out; the decoder must not wait
            // for it, or the next string would be refused.
            utf8_next_char(nullptr, &code);
            break;
        }
        const FT_UInt glyph = FTC_CMapCache_Lookup(engine.cmaps, scaler.face_id, 0, code);
        if (has_previous) {
            // A character without a glyph (drawn as glyph 0) gets no kerning.
            if (kerning && previous != 0 && glyph != 0) {
                FT_Vector delta{};
                if (FT_Get_Kerning(size->face, previous, glyph, FT_KERNING_DEFAULT, &delta) == 0)
                    pen += int32_t(delta.x >> 6);
            }
            pen += box.spacing;
        }
        glyph_entry& entry = glyphs[count];
        entry.glyph = glyph;
        entry.pen_x = pen;
        if (FTC_SBitCache_LookupScaler(engine.sbits, &scaler, FT_LOAD_RENDER, glyph,
                                       &entry.bitmap, &entry.node) != 0)
            continue;
        ++count;
        pen += entry.bitmap->xadvance;
        previous = glyph;
        has_previous = true;
    }

    const int32_t width = pen;
    int32_t x0;
    switch (box.alignment) {
    case TEXT_ALIGN_CENTER:
        x0 = box.left + (box.right - box.left) / 2 - width / 2;
        break;
    case TEXT_ALIGN_RIGHT:
        x0 = box.right - width;
        break;
    default:
        x0 = box.left;
        break;
    }
    // The baseline lies on screen row top + ascender.
    const int32_t y_base = GFX_HEIGHT - 1 - int32_t(size->metrics.ascender >> 6) - box.top;

    for (uint32_t i = 0; i < count; ++i) {
        text_draw_glyph(x0 + glyphs[i].pen_x, y_base, glyphs[i].bitmap, box);
        FTC_Node_Unref(glyphs[i].node, engine.manager);
    }
    return count;
}

void text_draw_glyph(int32_t pen_x, int32_t y_base, const FTC_SBitRec_* bitmap,
                     const text_box& box)
{
    if (!bitmap->buffer)
        return;
    const int32_t cx0 = pen_x + bitmap->left;
    const int32_t ry0 = GFX_HEIGHT - 1 - bitmap->top - y_base;

    // Rows above row 0 or the box top are skipped; drawing stops past the
    // panel's last row or the box bottom. Columns likewise, at the screen's
    // edges and the box's sides.
    const int32_t row_first = std::max({ry0, int32_t(0), box.top});
    const int32_t row_end = std::min({ry0 + int32_t(bitmap->height) - 1,
                                      int32_t(GFX_PANEL_TOP + GFX_PANEL_ROWS - 1), box.bottom}) + 1;
    const int32_t col_first = std::max({cx0, int32_t(0), box.left});
    const int32_t col_end =
        std::min({cx0 + int32_t(bitmap->width) - 1, int32_t(GFX_WIDTH - 1), box.right}) + 1;
    if (row_first >= row_end || col_first >= col_end)
        return;

    gfx_color* layer = box.layer == GFX_LAYER_BACKGROUND ? gfx_background : gfx_overlay;
    for (int32_t y = row_first; y < row_end; ++y) {
        const uint8_t* coverage_row = bitmap->buffer + (y - ry0) * bitmap->pitch;
        const uint8_t* coverage = coverage_row + (col_first - cx0);
        const int32_t offset = y * GFX_WIDTH;
        if (box.layer == GFX_LAYER_OVERLAY_BLEND)
            blend_span<true>(gfx_overlay + offset, gfx_background + offset, coverage_row, coverage,
                             box.color,
                             col_first, col_end);
        else
            blend_span<false>(layer + offset, nullptr, coverage_row, coverage, box.color,
                              col_first, col_end);
    }
}

void text_blend(gfx_color* pixel, gfx_color color, uint8_t coverage)
{
    const uint8_t* s = text_blend_table[coverage];
    const uint8_t* d = text_blend_table[255 - coverage];
    const gfx_color p = *pixel;
    const unsigned red = s[color >> 11] + d[p >> 11];
    const unsigned green = s[(color >> 5) & 0x3F] + d[(p >> 5) & 0x3F];
    const unsigned blue = s[color & 0x1F] + d[p & 0x1F];
    *pixel = gfx_color((red << 11) | (green << 5) | blue);
}

int utf8_next_char(const char** cursor, uint32_t* code)
{
    if (!cursor || !*cursor) {
        *code = 0;
        utf8_position = nullptr;
        utf8_active = false;
        return 0;
    }
    if (utf8_active && *cursor != utf8_position) {
        *code = 0;
        *cursor = nullptr;
        utf8_position = nullptr;
        utf8_active = false;
        return 2;
    }
    utf8_active = true;

    const auto* p = reinterpret_cast<const uint8_t*>(*cursor);
    const uint8_t lead = p[0];
    if (lead == 0) {
        *code = 0;
        *cursor = nullptr;
        utf8_position = nullptr;
        utf8_active = false;
        return 0;
    }

    int length = 0;
    uint32_t value = 0;
    if (lead <= 0x7F) {
        length = 1;
        value = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
    }

    // Bytes consumed by a malformed sequence: the lead byte, and a bad
    // continuation byte with it (never the terminating NUL).
    int consumed = 1;
    bool malformed = length == 0;
    for (int i = 1; i < length && !malformed; ++i) {
        const uint8_t b = p[i];
        if (b == 0) {
            malformed = true;
        } else if ((b & 0xC0) != 0x80) {
            malformed = true;
            consumed = i + 1;
        } else {
            value = (value << 6) | (b & 0x3Fu);
        }
    }

    if (malformed) {
        p += consumed;
        while (!utf8_plausible_lead(*p))
            ++p;
        *code = '?';
        *cursor = reinterpret_cast<const char*>(p);
        utf8_position = *cursor;
        return 1;
    }
    *code = value;
    *cursor = reinterpret_cast<const char*>(p + length);
    utf8_position = *cursor;
    return 0;
}
