#include "gfx/text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <ft2build.h>
#include FT_CACHE_H
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include "support/unit_fixture.h"

namespace {

// Layers cleared to a transparent overlay over a white background, the font
// engine set up over the embedded faces, the style at size 18 left.
class TextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        text_build_blend_table();
        text_init_fonts(text_fonts, TEXT_FONT_COUNT);
        ASSERT_TRUE(text_fonts_ready());
        // The decoder at rest: a test of it may have left it inside a string.
        uint32_t code = 0;
        utf8_next_char(nullptr, &code);
        clear();
        gfx_set_text_style(18, TEXT_ALIGN_LEFT, 0);
        gfx_set_layer(GFX_LAYER_OVERLAY_BLEND);
        gfx_set_text_color(1);
    }

    static void clear()
    {
        std::fill(std::begin(gfx_overlay), std::end(gfx_overlay), GFX_KEY_COLOR);
        std::fill(std::begin(gfx_background), std::end(gfx_background), gfx_color(0xFFFE));
    }

    // Columns and rows of the overlay that text has touched.
    struct extent {
        int left = GFX_WIDTH, right = -1, top = GFX_LAYER_ROWS, bottom = -1;
    };
    static extent inked()
    {
        extent e;
        for (int y = 0; y < GFX_LAYER_ROWS; ++y)
            for (int x = 0; x < GFX_WIDTH; ++x)
                if (gfx_overlay[y * GFX_WIDTH + x] != GFX_KEY_COLOR) {
                    e.left = std::min(e.left, x);
                    e.right = std::max(e.right, x);
                    e.top = std::min(e.top, y);
                    e.bottom = std::max(e.bottom, y);
                }
        return e;
    }
};

// A hand-made coverage bitmap, so clipping can be checked pixel by pixel.
struct test_glyph {
    FTC_SBitRec sbit{};
    uint8_t pixels[64];
    test_glyph(int width, int height, int left, int top, uint8_t coverage)
    {
        std::fill(std::begin(pixels), std::end(pixels), coverage);
        sbit.width = FT_Byte(width);
        sbit.height = FT_Byte(height);
        sbit.left = FT_Char(left);
        sbit.top = FT_Char(top);
        sbit.pitch = FT_Short(width);
        sbit.xadvance = FT_Char(width);
        sbit.buffer = pixels;
    }
};

text_box full_box(int32_t layer, gfx_color color)
{
    return text_box{0, 0, 319, 283, 0, 18, layer, color, TEXT_ALIGN_LEFT, 0};
}

TEST(TextBlend, MixesChannelsThroughTheTable)
{
    text_build_blend_table();
    struct Case { uint8_t coverage; gfx_color color, under, expected; };
    const Case cases[] = {
        {128, 0x001F, 0x0000, 0x000F},  // blue 128 * 31 / 256 = 15
        {254, 0xFFFF, 0x0000, 0xF7DE},  // 30, 62, 30
        {1, 0x0000, 0xFFFF, 0xF7DE},    // the destination weighs 255 - a
        {128, 0xF800, 0x07E0, 0x7BE0},  // channels never carry into each other
    };
    for (const Case& c : cases) {
        gfx_color pixel = c.under;
        text_blend(&pixel, c.color, c.coverage);
        EXPECT_EQ(pixel, c.expected) << "coverage " << int(c.coverage) << " of " << std::hex
                                     << c.color << " over " << c.under;
    }
}

TEST(Utf8, DecodesAndRecoversFromMalformedSequences)
{
    struct Case { const char* text; std::u32string codes; int malformed; };
    const Case cases[] = {
        {"A\xC3\xA9z", U"A\u00E9z", 0},
        {"\xE2\x82\xAC\xF0\x9F\x98\x80", U"\u20AC\U0001F600", 0},
        {"\xC3\x41" "B", U"?B", 1},     // the bad continuation 'A' is consumed
        {"x\xC3", U"x?", 1},            // lone lead byte ends the string
        {"\xE2\x82", U"?", 1},          // sequence cut short by the NUL
        {"\x80\x81\xBFQ", U"?Q", 1},    // stray continuations skipped to 'Q'
        {"\xC0\xAFZ", U"?Z", 1},        // C0 is never a lead byte
        {"\xF5\xC2\xA2", U"?\u00A2", 1},
        {"", U"", 0},
    };
    for (const Case& c : cases) {
        const char* cursor = c.text;
        std::u32string got;
        int malformed = 0;
        for (int guard = 0; guard < 32; ++guard) {
            uint32_t code = 1;
            const int result = utf8_next_char(&cursor, &code);
            if (code == 0) {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(cursor, nullptr);
                break;
            }
            malformed += result == 1;
            got += char32_t(code);
        }
        EXPECT_EQ(got, c.codes) << "input \"" << c.text << "\"";
        EXPECT_EQ(malformed, c.malformed) << "input \"" << c.text << "\"";
    }
}

TEST(Utf8, RefusesACursorThatDoesNotContinueThePreviousCall)
{
    const char* first = "ab";
    const char* other = "cd";
    uint32_t code = 0;
    ASSERT_EQ(utf8_next_char(&first, &code), 0);
    EXPECT_EQ(code, uint32_t('a'));

    EXPECT_EQ(utf8_next_char(&other, &code), 2);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(other, nullptr);

    // The mismatch resets the decoder: a new string decodes from its start.
    const char* again = "cd";
    EXPECT_EQ(utf8_next_char(&again, &code), 0);
    EXPECT_EQ(code, uint32_t('c'));
    utf8_next_char(nullptr, &code);
    EXPECT_EQ(code, 0u);
    const char* after_reset = "z";
    EXPECT_EQ(utf8_next_char(&after_reset, &code), 0);
    EXPECT_EQ(code, uint32_t('z'));
}

TEST_F(TextTest, EdgeOverTransparentOverlayBlendsWithTheBackground)
{
    gfx_background[10 * GFX_WIDTH + 20] = 0x001F;
    gfx_background[10 * GFX_WIDTH + 21] = 0x001F;
    test_glyph glyph(2, 1, 0, 0, 128);
    text_box box = full_box(GFX_LAYER_OVERLAY_BLEND, 0x0000);
    box.top = 10;
    // Row 10 = top + ascender - bitmap top, with y-base = 239 - ascender - top.
    text_draw_glyph(20, 239 - 10, &glyph.sbit, box);
    EXPECT_EQ(gfx_overlay[10 * GFX_WIDTH + 20], 0x000F);
    EXPECT_EQ(gfx_overlay[10 * GFX_WIDTH + 21], 0x000F);

    // Layer 0 blends with the key colour itself (white) instead.
    box.layer = GFX_LAYER_OVERLAY;
    gfx_overlay[10 * GFX_WIDTH + 20] = GFX_KEY_COLOR;
    text_draw_glyph(20, 239 - 10, &glyph.sbit, box);
    EXPECT_EQ(gfx_overlay[10 * GFX_WIDTH + 20], 0x7BEF);

    // Full coverage paints the colour, zero coverage leaves the pixel.
    test_glyph solid(1, 1, 0, 0, 255);
    box.color = 0x1234;
    text_draw_glyph(30, 239 - 10, &solid.sbit, box);
    EXPECT_EQ(gfx_overlay[10 * GFX_WIDTH + 30], 0x1234);
    test_glyph empty(1, 1, 0, 0, 0);
    text_draw_glyph(31, 239 - 10, &empty.sbit, box);
    EXPECT_EQ(gfx_overlay[10 * GFX_WIDTH + 31], GFX_KEY_COLOR);

    // Layer 1 draws into the background.
    box.layer = GFX_LAYER_BACKGROUND;
    text_draw_glyph(40, 239 - 10, &solid.sbit, box);
    EXPECT_EQ(gfx_background[10 * GFX_WIDTH + 40], 0x1234);
    EXPECT_EQ(gfx_overlay[10 * GFX_WIDTH + 40], GFX_KEY_COLOR);
}

TEST_F(TextTest, EveryCoverageBlendsLikeTextBlend)
{
    // Two rows of 128 columns hold coverage 0..255; the destination pixels
    // vary, some transparent. Clipped boxes make rows end mid-group.
    static uint8_t coverage[2 * 128];
    for (int i = 0; i < 256; ++i)
        coverage[i] = uint8_t(i);
    FTC_SBitRec sbit{};
    sbit.width = 128;
    sbit.height = 2;
    sbit.pitch = 128;
    sbit.buffer = coverage;

    struct Case { int32_t layer; gfx_color color; int32_t left, right; };
    const Case cases[] = {
        {GFX_LAYER_OVERLAY_BLEND, 0xFFFE, 0, 319}, {GFX_LAYER_OVERLAY, 0x07FF, 0, 319},
        {GFX_LAYER_BACKGROUND, 0xF800, 0, 319},    {GFX_LAYER_OVERLAY_BLEND, 0x1234, 13, 130},
        {GFX_LAYER_OVERLAY, 0x0000, 7, 118},
    };
    for (const Case& c : cases) {
        for (int i = 0; i < GFX_WIDTH * GFX_LAYER_ROWS; ++i) {
            gfx_overlay[i] = (i % 5 == 0) ? GFX_KEY_COLOR : gfx_color(i * 977 + 31);
            gfx_background[i] = gfx_color(i * 131 + 7);
        }
        std::vector<gfx_color> expect_over(std::begin(gfx_overlay), std::end(gfx_overlay));
        std::vector<gfx_color> expect_back(std::begin(gfx_background), std::end(gfx_background));
        std::vector<gfx_color>& target = c.layer == GFX_LAYER_BACKGROUND ? expect_back : expect_over;
        for (int r = 0; r < 2; ++r)
            for (int col = 0; col < 128; ++col) {
                const int x = 5 + col, y = 30 + r;
                if (x < c.left || x > c.right)
                    continue;
                const uint8_t a = coverage[r * 128 + col];
                gfx_color& p = target[y * GFX_WIDTH + x];
                if (a == 0)
                    continue;
                if (a == 255) {
                    p = c.color;
                    continue;
                }
                if (c.layer == GFX_LAYER_OVERLAY_BLEND && p == GFX_KEY_COLOR)
                    p = expect_back[y * GFX_WIDTH + x];
                text_blend(&p, c.color, a);
            }
        text_box box = full_box(c.layer, c.color);
        box.left = c.left;
        box.right = c.right;
        text_draw_glyph(5, 239 - 30, &sbit, box);
        EXPECT_TRUE(std::equal(expect_over.begin(), expect_over.end(), std::begin(gfx_overlay)))
            << "layer " << c.layer << " colour " << std::hex << c.color;
        EXPECT_TRUE(std::equal(expect_back.begin(), expect_back.end(), std::begin(gfx_background)))
            << "layer " << c.layer << " colour " << std::hex << c.color;
    }
}

TEST_F(TextTest, GlyphRowsAndColumnsOutsideTheBoxAreClipped)
{
    struct Case {
        int top, bottom, left, right;  // box
        int x, row;                    // where the 4 x 4 glyph's first pixel lands
        int want_left, want_right, want_top, want_bottom;
    };
    const Case cases[] = {
        {0, 239, 0, 319, 10, -2, 10, 13, 0, 1},        // above row 0: rows 0..1 only
        {0, 239, 0, 319, 10, 237, 10, 13, 237, 239},    // screen box stops at row 239
        {250, 283, 0, 319, 10, 282, 10, 13, 282, 283},  // panel box stops at row 283
        {20, 239, 0, 319, 10, 18, 10, 13, 20, 21},      // rows above the box top skipped
        {0, 239, 12, 319, 10, 5, 12, 13, 5, 8},         // columns left of the box skipped
        {0, 239, 0, 11, 10, 5, 10, 11, 5, 8},           // columns past the box right stop
        {0, 239, 0, 319, 318, 5, 318, 319, 5, 8},       // the screen's right edge
        {0, 239, 0, 319, -2, 5, 0, 1, 5, 8},            // left of column 0
    };
    for (const Case& c : cases) {
        clear();
        test_glyph glyph(4, 4, 0, 0, 255);
        text_box box = full_box(GFX_LAYER_OVERLAY, 0x0000);
        box.top = c.top;
        box.bottom = c.bottom;
        box.left = c.left;
        box.right = c.right;
        // First row = 239 - bitmap top - y-base.
        text_draw_glyph(c.x, 239 - c.row, &glyph.sbit, box);
        const extent e = inked();
        EXPECT_EQ(e.left, c.want_left) << "glyph at " << c.x << ", " << c.row;
        EXPECT_EQ(e.right, c.want_right) << "glyph at " << c.x << ", " << c.row;
        EXPECT_EQ(e.top, c.want_top) << "glyph at " << c.x << ", " << c.row;
        EXPECT_EQ(e.bottom, c.want_bottom) << "glyph at " << c.x << ", " << c.row;
    }
}

TEST_F(TextTest, OutOfRangePositionsAreClampedOntoTheLayer)
{
    gfx_set_text_style(18, TEXT_ALIGN_RIGHT, 0);
    EXPECT_EQ(gfx_draw_text(400, -5, "Wq"), 2u);
    std::vector<gfx_color> clamped(std::begin(gfx_overlay), std::end(gfx_overlay));
    clear();
    EXPECT_EQ(gfx_draw_text(319, 0, "Wq"), 2u);
    EXPECT_TRUE(std::equal(clamped.begin(), clamped.end(), std::begin(gfx_overlay)));
    const extent e = inked();
    EXPECT_LE(e.right, 319);
    EXPECT_GE(e.right, 315);
    EXPECT_GE(e.top, 0);
}

TEST_F(TextTest, CentredTextStaysInASpanSymmetricAboutX)
{
    const char* wide = "MMMMMMMMMMMMMMMMMMMMMMMM";  // far wider than 200 pixels
    gfx_set_text_style(18, TEXT_ALIGN_CENTER, 0);

    gfx_draw_text(100, 10, wide);  // span 0..200, clipped at both ends
    extent e = inked();
    EXPECT_EQ(e.left, 0);
    EXPECT_EQ(e.right, 200);

    clear();
    gfx_draw_text(160, 10, wide);  // span 1..319
    e = inked();
    EXPECT_EQ(e.left, 1);
    EXPECT_EQ(e.right, 319);

    clear();
    gfx_draw_text(250, 10, wide);  // span 181..319
    e = inked();
    EXPECT_EQ(e.left, 181);
    EXPECT_EQ(e.right, 319);

    // A short string sits in the middle of its span.
    clear();
    gfx_draw_text(100, 10, "II");
    e = inked();
    EXPECT_NEAR((e.left + e.right) / 2.0, 100.0, 2.0);
}

TEST_F(TextTest, TextIsClippedAtTheEndOfTheScreenOrThePanel)
{
    gfx_set_text_style(24, TEXT_ALIGN_LEFT, 0);
    gfx_draw_text(10, 230, "Hgjy");
    extent e = inked();
    EXPECT_EQ(e.bottom, 239);
    EXPECT_GT(e.top, 230);  // the cap height of 'H' sits below the ascender line

    clear();
    gfx_draw_text(10, 250, "Hgjy");
    e = inked();
    EXPECT_GT(e.bottom, 270);
    EXPECT_LE(e.bottom, 283);

    clear();
    gfx_draw_text(10, 270, "Hgjy");
    e = inked();
    EXPECT_EQ(e.bottom, 283);
}

TEST_F(TextTest, SpacingGoesOnlyBetweenGlyphs)
{
    auto width_of = [&](const char* text, uint8_t spacing) {
        clear();
        gfx_set_text_style(18, TEXT_ALIGN_RIGHT, spacing);
        gfx_draw_text(300, 10, text);
        const extent e = inked();
        return e.right - e.left;
    };
    EXPECT_EQ(width_of("H", 0), width_of("H", 5));
    EXPECT_EQ(width_of("HH", 5), width_of("HH", 0) + 5);
    EXPECT_EQ(width_of("HHH", 3), width_of("HHH", 0) + 6);
}

TEST_F(TextTest, KerningMovesTheSecondGlyphOfAPair)
{
    // The pen position of 'V' after 'A', worked out with FreeType directly.
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    ASSERT_EQ(FT_New_Memory_Face(library, text_fonts[0].data, FT_Long(*text_fonts[0].length), 0,
                                 &face), 0);
    ASSERT_TRUE(FT_HAS_KERNING(face));
    FT_Set_Pixel_Sizes(face, 0, 18);
    const FT_UInt a = FT_Get_Char_Index(face, 'A');
    const FT_UInt v = FT_Get_Char_Index(face, 'V');
    ASSERT_EQ(FT_Load_Glyph(face, a, FT_LOAD_RENDER), 0);
    const int advance = int((face->glyph->advance.x + 32) >> 6);
    FT_Vector kern{};
    FT_Get_Kerning(face, a, v, FT_KERNING_DEFAULT, &kern);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    ASSERT_LT(kern.x, 0);

    gfx_draw_text(10, 10, "AV");
    const int pair_right = inked().right;
    clear();
    gfx_draw_text(10 + advance + int(kern.x >> 6), 10, "V");
    EXPECT_EQ(inked().right, pair_right);
}

TEST_F(TextTest, EmptyAndNullStringsDrawNothing)
{
    EXPECT_EQ(gfx_draw_text(10, 10, ""), 0u);
    EXPECT_EQ(gfx_draw_text(10, 10, nullptr), 0u);
    EXPECT_EQ(inked().right, -1);
    EXPECT_EQ(gfx_draw_text(10, 10, "ok"), 2u);
}

TEST_F(TextTest, LongStringsDrawTheirFirst200GlyphsAndTheNextDrawWorks)
{
    const std::string dots(250, '.');
    gfx_set_text_style(10, TEXT_ALIGN_LEFT, 0);
    EXPECT_EQ(gfx_draw_text(0, 10, dots.c_str()), uint32_t(TEXT_MAX_GLYPHS));
    EXPECT_EQ(gfx_draw_text(0, 40, "A"), 1u);
}

TEST_F(TextTest, CharactersWithoutAGlyphDrawGlyphZero)
{
    EXPECT_EQ(gfx_draw_text(10, 10, "\xE4\xB8\x80"), 1u);  // U+4E00
    EXPECT_GE(inked().right, 10);
    // Malformed input shows as '?'.
    clear();
    EXPECT_EQ(gfx_draw_text(10, 10, "\xC3\x41"), 1u);
    std::vector<gfx_color> bad(std::begin(gfx_overlay), std::end(gfx_overlay));
    clear();
    gfx_draw_text(10, 10, "?");
    EXPECT_TRUE(std::equal(bad.begin(), bad.end(), std::begin(gfx_overlay)));
}

TEST_F(TextTest, RedrawingCachedStringsAsksTheEngineForNoMemory)
{
    // FreeType's own cache, not the kept runs, must serve these draws.
    text_set_run_cache(false);
    const char* lines[] = {"LIGHTING & SOUND", "INSIDE LIGHTS", "DECK LIGHTS"};
    for (const char* line : lines)
        gfx_draw_text(10, 10, line);
    const uint64_t warm = text_engine_allocations();
    for (int pass = 0; pass < 3; ++pass)
        for (const char* line : lines)
            gfx_draw_text(10, 10, line);
    EXPECT_EQ(text_engine_allocations(), warm);
    text_set_run_cache(true);
}

// Kept text runs against drawing every string afresh: the same script of
// draws and layer changes, once with the runs and once without, must leave
// both layers the same after every step and return the same glyph counts.
// The script repaints a list page the way the screens do, and changes the
// pixels under kept strings in each way that must make a run unusable.
TEST_F(TextTest, KeptRunsGiveTheSameLayersAsDrawingAfresh)
{
    char level[8] = "42 %";
    const std::string long_text(70, 'x');  // too long to keep
    const char* const labels[] = {"INSIDE LIGHTS", "DECK LIGHTS", "ANCHOR LIGHT",
                                  "SAILING LIGHT", "DINGHY LIGHTS", "FRONT SPEAKERS"};
    uint32_t glyphs = 0;
    auto draw = [&glyphs](int32_t x, int32_t y, const char* text) { glyphs += gfx_draw_text(x, y, text); };
    auto page = [&] {
        gfx_set_layer(GFX_LAYER_OVERLAY_BLEND);
        gfx_set_fill_color(GFX_KEY_COLOR);
        gfx_fill_rect(0, 0, GFX_WIDTH - 1, GFX_HEIGHT - 1);
        gfx_set_text_style(24, TEXT_ALIGN_CENTER, 0);
        gfx_set_text_color(0xFFE0);
        draw(160, 2, "LIGHTING & SOUND");
        gfx_set_text_style(18, TEXT_ALIGN_CENTER, 0);
        gfx_set_text_color(0xFFFD);
        for (int i = 0; i < 6; ++i)
            draw(160, 30 + 34 * i, labels[i]);
    };
    struct Step {
        const char* what;
        std::function<void()> run;
    };
    const std::vector<Step> script = {
        {"page", page},
        {"page again", page},
        {"page a third time", page},
        {"the background under the title changes",
         [] {
             for (int i = 8 * GFX_WIDTH; i < 20 * GFX_WIDTH; ++i)
                 gfx_background[i] ^= 0x0421;
         }},
        {"page over the changed background", page},
        {"an overlay pixel under a label changes",
         [&] {
             gfx_overlay[40 * GFX_WIDTH + 140] = 0x1234;
             gfx_set_text_style(18, TEXT_ALIGN_CENTER, 0);
             draw(160, 30, labels[0]);
         }},
        {"a label over its own last draw, three times",
         [&] {
             for (int i = 0; i < 3; ++i)
                 draw(160, 64, labels[1]);
         }},
        {"the same string in another colour over a cleared overlay",
         [&] {
             for (gfx_color colour : {gfx_color(0xFFFD), gfx_color(0x07E0)}) {
                 gfx_fill_rect(0, 0, GFX_WIDTH - 1, GFX_HEIGHT - 1);
                 gfx_set_text_color(colour);
                 draw(160, 64, labels[1]);
             }
         }},
        {"a changing string in one buffer",
         [&] {
             gfx_set_text_style(14, TEXT_ALIGN_LEFT, 1);
             for (int v = 40; v < 44; ++v) {
                 std::snprintf(level, sizeof level, "%d %%", v);
                 gfx_fill_rect(200, 200, 260, 216);
                 draw(200, 200, level);
             }
         }},
        {"more strings than are kept, then the first again",
         [&] {
             gfx_set_text_style(10, TEXT_ALIGN_LEFT, 0);
             for (int pass = 0; pass < 2; ++pass)
                 for (int i = 0; i < 70; ++i) {
                     const std::string s = "row " + std::to_string(i);
                     gfx_fill_rect(0, uint16_t(100 + 6 * (i % 10)), 60, uint16_t(110 + 6 * (i % 10)));
                     draw(4 * (i / 10), 100 + 6 * (i % 10), s.c_str());
                 }
         }},
        {"more large strings than their kept pixels have room for, twice",
         [&] {
             gfx_set_text_style(24, TEXT_ALIGN_CENTER, 0);
             for (int pass = 0; pass < 2; ++pass)
                 for (int i = 0; i < 12; ++i) {
                     const std::string s = "STARBOARD OVERRIDES " + std::to_string(i);
                     gfx_fill_rect(0, uint16_t(2 + 16 * (i % 4)), 319, uint16_t(30 + 16 * (i % 4)));
                     draw(160, 2 + 16 * (i % 4), s.c_str());
                 }
         }},
        {"background and plain overlay layers",
         [&] {
             gfx_set_text_style(18, TEXT_ALIGN_RIGHT, 0);
             for (uint16_t layer : {GFX_LAYER_BACKGROUND, GFX_LAYER_OVERLAY, GFX_LAYER_BACKGROUND}) {
                 gfx_set_layer(layer);
                 draw(300, 150, "Wq AV");
             }
             gfx_set_layer(GFX_LAYER_OVERLAY_BLEND);
         }},
        {"text in the panel area, clipped away and empty",
         [&] {
             gfx_set_text_style(10, TEXT_ALIGN_LEFT, 1);
             draw(10, 260, "PANEL");
             draw(319, 100, "off the edge");
             draw(10, 10, "");
             draw(10, 10, "   ");
         }},
        {"a string too long and a rectangle too large to keep",
         [&] {
             gfx_set_text_style(10, TEXT_ALIGN_LEFT, 0);
             draw(0, 120, long_text.c_str());
             draw(0, 120, long_text.c_str());
             gfx_set_text_style(24, TEXT_ALIGN_LEFT, 0);
             draw(0, 60, "MMMMMMMMMMMMMMMMMMMMMMMM");
             draw(0, 60, "MMMMMMMMMMMMMMMMMMMMMMMM");
         }},
        {"a draw while the decoder is in the middle of another string",
         [&] {
             const char* cursor = "ab";
             uint32_t code = 0;
             utf8_next_char(&cursor, &code);
             gfx_set_text_style(18, TEXT_ALIGN_CENTER, 0);
             draw(160, 30, labels[0]);  // refused: draws nothing
             draw(160, 30, labels[0]);
         }},
        {"page once more", page},
    };

    struct Snapshot {
        std::vector<gfx_color> overlay, background;
        uint32_t glyphs;
    };
    auto run_script = [&](bool keep) {
        text_set_run_cache(keep);
        text_init_fonts(text_fonts, TEXT_FONT_COUNT);
        for (int i = 0; i < GFX_WIDTH * GFX_LAYER_ROWS; ++i) {
            gfx_overlay[i] = GFX_KEY_COLOR;
            gfx_background[i] = gfx_color(i * 131 + 7);
        }
        std::vector<Snapshot> out;
        for (const Step& step : script) {
            glyphs = 0;
            step.run();
            out.push_back({std::vector<gfx_color>(std::begin(gfx_overlay), std::end(gfx_overlay)),
                           std::vector<gfx_color>(std::begin(gfx_background), std::end(gfx_background)),
                           glyphs});
        }
        return out;
    };

    const std::vector<Snapshot> fresh = run_script(false);
    const uint64_t hits_before = text_run_hits();
    const std::vector<Snapshot> kept = run_script(true);
    text_set_run_cache(true);
    EXPECT_GE(text_run_hits() - hits_before, 14u);  // the page's repaints came from kept runs
    for (size_t i = 0; i < script.size(); ++i) {
        SCOPED_TRACE(script[i].what);
        EXPECT_EQ(kept[i].glyphs, fresh[i].glyphs);
        EXPECT_TRUE(kept[i].overlay == fresh[i].overlay);
        EXPECT_TRUE(kept[i].background == fresh[i].background);
    }
}

TEST(TextEngine, DrawsNothingBeforeTheFontsAreSetUp)
{
    text_build_blend_table();
    EXPECT_FALSE(text_fonts_ready());
    EXPECT_EQ(gfx_draw_text(10, 10, "text"), 0u);
    text_init_fonts(text_fonts, TEXT_FONT_COUNT);
    text_box box = full_box(GFX_LAYER_OVERLAY, 0);
    box.face = int32_t(TEXT_FONT_COUNT);
    EXPECT_EQ(text_render(box, "text"), 0u);
    box.face = 2;  // the bold mono face is loaded, even if no screen uses it
    EXPECT_EQ(text_render(box, "text"), 4u);
}

TEST_F(TextTest, SampleInEverySizeMatchesTheReference)
{
    std::fill(std::begin(gfx_background), std::end(gfx_background), gfx_color(0x0000));
    gfx_set_text_color(0xFFFE);
    const uint8_t sizes[] = {24, 18, 14, 10};
    int y = 4;
    for (uint8_t size : sizes) {
        gfx_set_text_style(size, TEXT_ALIGN_CENTER, 0);
        gfx_draw_text(160, y, "LIGHTING & SOUND");
        y += size + 6;
        gfx_set_text_style(size, TEXT_ALIGN_LEFT, 0);
        gfx_draw_text(8, y, "Deck lights 42% AVTy\xC3\xA9");
        y += size + 8;
    }
    gfx_set_text_color(0x07FF);
    gfx_set_text_style(10, TEXT_ALIGN_LEFT, 1);
    gfx_draw_text(8, y, "spacing 1: WAVE");
    frame_buffer frame;
    gfx_compose_into(frame, 0);
    EXPECT_TRUE(norvane::testing::frame_matches_golden(frame, "firmware/gfx/text_sample.png"));
}

}  // namespace
