// Text: UTF-8 decoding, layout with kerning and letter spacing, and blending
// of FreeType's 8-bit coverage into the layers. Faces, sizes, character maps
// and glyph bitmaps live in FreeType's cache, so redrawing a string that is
// already on screen renders nothing again; the finished pixels of strings
// drawn again and again in one place are kept too (text runs, below).
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

void forget_runs();

void release_engine()
{
    forget_runs();
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

// The part of a layer one glyph or one string changes: rows [row_first,
// row_end), columns [col_first, col_end).
struct text_rect {
    int32_t row_first;
    int32_t row_end;
    int32_t col_first;
    int32_t col_end;
};

// Where a glyph lands after the clipping of text_draw_glyph; false when no
// pixel of it is drawn.
bool glyph_rect(int32_t pen_x, int32_t y_base, const FTC_SBitRec_* bitmap, const text_box& box,
                text_rect& r)
{
    if (!bitmap->buffer)
        return false;
    const int32_t cx0 = pen_x + bitmap->left;
    const int32_t ry0 = GFX_HEIGHT - 1 - bitmap->top - y_base;
    r.row_first = std::max({ry0, int32_t(0), box.top});
    r.row_end = std::min({ry0 + int32_t(bitmap->height) - 1,
                          int32_t(GFX_PANEL_TOP + GFX_PANEL_ROWS - 1), box.bottom}) + 1;
    r.col_first = std::max({cx0, int32_t(0), box.left});
    r.col_end = std::min({cx0 + int32_t(bitmap->width) - 1, int32_t(GFX_WIDTH - 1), box.right}) + 1;
    return r.row_first < r.row_end && r.col_first < r.col_end;
}

// Text runs. The pages repaint their titles and labels on every pass, the
// same string in the same place over the same pixels. A drawn string is kept
// with the pixels under it before the draw (in the layer it writes and, when
// its edges blend with the background, in the background there) and the
// pixels it left; when the same string is drawn with the same box over the
// same pixels again, the kept result is copied back instead of laying out and
// blending the glyphs. A draw's result depends on nothing else, so the copy
// is the same to the bit.
//
// The kept pixels of all runs share one ring: a new run takes the space after
// the last one, and runs whose space it takes over are forgotten. The ring
// holds a whole pass of the busiest page (the status page's 28 labels, or a
// list page's title and six rows), so a page's repaint finds all its runs.
constexpr int RUN_SLOTS = 48;
constexpr size_t RUN_TEXT_BYTES = 64;  // the string with its NUL
constexpr uint32_t RUN_PIXELS = 8192;  // largest rectangle kept (a 24-pixel title is 5000)
constexpr uint32_t RUN_RING_PIXELS = 1u << 17;

struct text_run {
    bool used;
    uint32_t last_use;
    text_box box;
    char text[RUN_TEXT_BYTES];
    uint32_t glyphs;  // what the draw returned
    text_rect rect;   // empty when the draw changed no pixel
    uint32_t first;   // in the ring: pixels before, pixels after, background before
    uint32_t size;
};
text_run runs[RUN_SLOTS];
gfx_color run_ring[RUN_RING_PIXELS];
uint32_t run_ring_next = 0;
uint32_t run_clock = 0;
uint64_t run_hits = 0;
bool runs_on = true;

void forget_runs()
{
    for (text_run& run : runs) {
        run.used = false;
        run.last_use = 0;
    }
    run_ring_next = 0;
    run_clock = 0;
}

bool same_box(const text_box& a, const text_box& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom &&
           a.face == b.face && a.size == b.size && a.layer == b.layer && a.color == b.color &&
           a.alignment == b.alignment && a.spacing == b.spacing;
}

// The layer a draw writes, and the one its edges blend with (none unless the
// box's layer is GFX_LAYER_OVERLAY_BLEND).
gfx_color* run_dest(const text_box& box)
{
    return box.layer == GFX_LAYER_BACKGROUND ? gfx_background : gfx_overlay;
}

gfx_color* run_under(const text_box& box)
{
    return box.layer == GFX_LAYER_OVERLAY_BLEND ? gfx_background : nullptr;
}

int32_t rect_width(const text_rect& r)
{
    return r.col_end - r.col_first;
}

uint32_t rect_pixels(const text_rect& r)
{
    return uint32_t(rect_width(r) * (r.row_end - r.row_first));
}

gfx_color* kept_before(const text_run& run)
{
    return run_ring + run.first;
}

gfx_color* kept_after(const text_run& run)
{
    return run_ring + run.first + rect_pixels(run.rect);
}

gfx_color* kept_under(const text_run& run)
{
    return run_ring + run.first + 2 * rect_pixels(run.rect);
}

// Copies the rectangle of a layer into `kept` (to_layer false) or back.
void copy_rect(gfx_color* layer, gfx_color* kept, const text_rect& r, bool to_layer)
{
    const int32_t width = rect_width(r);
    const size_t bytes = size_t(width) * sizeof(gfx_color);
    for (int32_t y = r.row_first; y < r.row_end; ++y, kept += width) {
        gfx_color* row = layer + y * GFX_WIDTH + r.col_first;
        std::memcpy(to_layer ? row : kept, to_layer ? kept : row, bytes);
    }
}

bool rect_equals(const gfx_color* layer, const gfx_color* kept, const text_rect& r)
{
    const int32_t width = rect_width(r);
    const size_t bytes = size_t(width) * sizeof(gfx_color);
    for (int32_t y = r.row_first; y < r.row_end; ++y, kept += width)
        if (std::memcmp(layer + y * GFX_WIDTH + r.col_first, kept, bytes) != 0)
            return false;
    return true;
}

// The kept run of this string and box, or null.
text_run* find_run(const text_box& box, const char* text)
{
    for (text_run& run : runs)
        if (run.used && same_box(run.box, box) && std::strcmp(run.text, text) == 0)
            return &run;
    return nullptr;
}

// Copies a kept run back when the pixels under it are as they were.
bool paste_run(text_run& run)
{
    if (rect_pixels(run.rect) > 0) {
        const gfx_color* under = run_under(run.box);
        if (!rect_equals(run_dest(run.box), kept_before(run), run.rect) ||
            (under && !rect_equals(under, kept_under(run), run.rect)))
            return false;
        copy_rect(run_dest(run.box), kept_after(run), run.rect, true);
    }
    run.last_use = ++run_clock;
    ++run_hits;
    return true;
}

// Space in the ring for `size` pixels; the runs kept there are forgotten.
uint32_t take_ring(uint32_t size)
{
    if (run_ring_next + size > RUN_RING_PIXELS)
        run_ring_next = 0;
    const uint32_t first = run_ring_next;
    run_ring_next += size;
    for (text_run& run : runs)
        if (run.used && run.size > 0 && run.first < first + size && first < run.first + run.size)
            run.used = false;
    return first;
}

// Starts keeping a draw over `rect`: the slot this string had, else a free
// one, else the one used longest ago, with the pixels under the rectangle.
text_run* begin_run(text_run* same, const text_box& box, const char* text, const text_rect& rect)
{
    const uint32_t pixels = rect_pixels(rect);
    const uint32_t size = pixels * (run_under(box) ? 3 : 2);
    const uint32_t first = size > 0 ? take_ring(size) : 0;
    text_run* run = same;
    if (!run) {
        run = &runs[0];
        for (text_run& candidate : runs) {
            if (!candidate.used) {
                run = &candidate;
                break;
            }
            if (candidate.last_use < run->last_use)
                run = &candidate;
        }
    }
    run->used = false;  // until the draw is complete
    run->box = box;
    std::memcpy(run->text, text, std::strlen(text) + 1);
    run->rect = rect;
    run->first = first;
    run->size = size;
    if (pixels > 0) {
        copy_rect(run_dest(box), kept_before(*run), rect, false);
        if (gfx_color* under = run_under(box))
            copy_rect(under, kept_under(*run), rect, false);
    }
    return run;
}

void end_run(text_run& run, uint32_t glyphs)
{
    if (rect_pixels(run.rect) > 0)
        copy_rect(run_dest(run.box), kept_after(run), run.rect, false);
    run.glyphs = glyphs;
    run.used = true;
    run.last_use = ++run_clock;
}

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

void text_set_run_cache(bool on)
{
    runs_on = on;
    forget_runs();
}

uint64_t text_run_hits()
{
    return run_hits;
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

    // A run is kept only for a draw that starts with the decoder at rest (one
    // that does not draws nothing) and a string short enough to keep.
    const bool keep = runs_on && !utf8_active && text && std::strlen(text) < RUN_TEXT_BYTES;
    text_run* same = keep ? find_run(box, text) : nullptr;
    if (same && paste_run(*same))
        return same->glyphs;

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

    text_run* run = nullptr;
    if (keep) {
        text_rect all{0, 0, 0, 0};
        bool any = false;
        for (uint32_t i = 0; i < count; ++i) {
            text_rect r;
            if (!glyph_rect(x0 + glyphs[i].pen_x, y_base, glyphs[i].bitmap, box, r))
                continue;
            if (!any)
                all = r;
            all.row_first = std::min(all.row_first, r.row_first);
            all.row_end = std::max(all.row_end, r.row_end);
            all.col_first = std::min(all.col_first, r.col_first);
            all.col_end = std::max(all.col_end, r.col_end);
            any = true;
        }
        if (rect_pixels(all) <= RUN_PIXELS)
            run = begin_run(same, box, text, all);
    }

    for (uint32_t i = 0; i < count; ++i) {
        text_draw_glyph(x0 + glyphs[i].pen_x, y_base, glyphs[i].bitmap, box);
        FTC_Node_Unref(glyphs[i].node, engine.manager);
    }
    if (run)
        end_run(*run, count);
    return count;
}

void text_draw_glyph(int32_t pen_x, int32_t y_base, const FTC_SBitRec_* bitmap,
                     const text_box& box)
{
    // Rows above row 0 or the box top are skipped; drawing stops past the
    // panel's last row or the box bottom. Columns likewise, at the screen's
    // edges and the box's sides.
    text_rect r;
    if (!glyph_rect(pen_x, y_base, bitmap, box, r))
        return;
    const int32_t cx0 = pen_x + bitmap->left;
    const int32_t ry0 = GFX_HEIGHT - 1 - bitmap->top - y_base;
    const int32_t row_first = r.row_first;
    const int32_t row_end = r.row_end;
    const int32_t col_first = r.col_first;
    const int32_t col_end = r.col_end;

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
