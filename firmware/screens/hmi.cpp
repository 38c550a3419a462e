// Screen framework: the page ring, page entry, key layouts, the repaint pass
// and the layout the list pages share.
#include "screens/hmi.h"

#include "gfx/assets.h"
#include "gfx/gfx.h"
#include "screens/panel.h"
#include "gfx/text.h"

std::atomic<uint8_t> hmi_page_index{0};
std::atomic<uint8_t> hmi_sel{0};
std::atomic<uint8_t> hmi_item_count{4};
std::atomic<hmi_fn> hmi_draw_full{nullptr};
std::atomic<hmi_fn> hmi_draw_pass{nullptr};
std::atomic<hmi_fn> hmi_overlay{nullptr};
std::atomic<hmi_fn> hmi_restore_keys{hmi_noop};
std::atomic<bool> hmi_redraw{false};
std::atomic<bool> hmi_overlay_clear{false};

namespace {

constexpr gfx_color TITLE_COLOR = 0xFFE0;      // yellow
constexpr gfx_color HIGHLIGHT_COLOR = 0xFFFE;  // white that is not the key colour
constexpr gfx_color LABEL_COLOR = 0xFFFD;
constexpr int SCREEN_BOTTOM = GFX_HEIGHT - 1;

uint16_t screen_y(int y)
{
    return uint16_t(y < SCREEN_BOTTOM ? y : SCREEN_BOTTOM);
}

void run(hmi_fn fn)
{
    if (fn)
        fn();
}

}  // namespace

void hmi_noop() {}

void hmi_set_page_draw(hmi_fn full, hmi_fn pass)
{
    hmi_draw_full.store(full);
    hmi_draw_pass.store(pass);
}

void hmi_set_overlay(hmi_fn fn)
{
    if (!fn)
        hmi_overlay_clear.store(true);
    else
        hmi_overlay.store(fn);
}

void hmi_set_restore(hmi_fn fn)
{
    hmi_restore_keys.store(fn);
}

void hmi_run_pass()
{
    if (hmi_overlay_clear.exchange(false))
        hmi_overlay.store(nullptr);

    // The flag is taken before the repaint rather than cleared after it: the
    // tick may enter a page while this pass runs, and that page's full
    // repaint must then still happen on the next pass.
    if (hmi_redraw.exchange(false)) {
        if (!hmi_overlay.load())
            hmi_draw_softkey_bar();
        run(hmi_draw_full.load());
    }
    run(hmi_draw_pass.load());
    run(hmi_overlay.load());
}

void page_next()
{
    uint8_t i = uint8_t(hmi_page_index.load() + 1);
    if (i >= HMI_RING_SIZE)
        i = 0;
    hmi_page_index.store(i);
    page_show_current();
}

void page_prev()
{
    const uint8_t i = hmi_page_index.load();
    hmi_page_index.store(i == 0 ? HMI_RING_SIZE - 1 : uint8_t(i - 1));
    page_show_current();
}

void page_show_current()
{
    // A position past the ring shows its last page.
    const uint8_t i = hmi_page_index.load();
    hmi_ring[i < HMI_RING_SIZE ? i : HMI_RING_SIZE - 1]();
}

void hmi_install_keys(const hmi_key (&keys)[KEY_COUNT])
{
    key_clear_handlers();
    panel_state.store(0);
    for (uint8_t k = 0; k < KEY_COUNT; ++k) {
        const hmi_key& key = keys[k];
        if (key.press)
            key_set_press_handler(key.press, k);
        if (key.release)
            key_set_release_handler(key.release, k);
        if (key.hold)
            key_set_hold_handler(key.hold, k, key.hold_time);
        if (!key.press && !key.release && !key.hold)
            key_set_press_handler(hmi_noop, k);
        key_set_label(key.label, k);
    }
}

void hmi_enter_page(hmi_fn key_layout, hmi_fn full, hmi_fn pass)
{
    key_layout();
    hmi_set_restore(key_layout);
    hmi_set_page_draw(full, pass);
    hmi_set_overlay(nullptr);
    hmi_redraw.store(true);
}

void hmi_enter_list_page(hmi_fn key_layout, hmi_fn full, hmi_fn pass, uint8_t rows)
{
    hmi_enter_page(key_layout, full, pass);
    hmi_sel.store(0);
    hmi_item_count.store(rows);
}

void hmi_static_draw()
{
    gfx_clear_layers();
    gfx_set_layer(GFX_LAYER_BACKGROUND);
    gfx_draw_image(0, 0, &img_page_background);
    gfx_set_fill_color(GFX_KEY_COLOR);
    gfx_set_layer(GFX_LAYER_OVERLAY_BLEND);
    gfx_fill_rect(0, 0, GFX_WIDTH - 1, GFX_HEIGHT - 1);
}

int hmi_list_row_y(uint8_t row)
{
    return screen_y(HMI_LIST_TOP + HMI_LIST_PITCH * row);
}

void hmi_draw_list(const char* title, const char* const* labels, uint8_t rows)
{
    gfx_fill_rect(0, 0, GFX_WIDTH - 1, GFX_HEIGHT - 1);

    gfx_set_text_style(24, TEXT_ALIGN_CENTER, 0);
    gfx_set_text_color(TITLE_COLOR);
    gfx_draw_text(160, 2, title);

    const int sel = hmi_sel.load();
    gfx_set_text_style(18, TEXT_ALIGN_LEFT, 0);
    gfx_set_text_color(HIGHLIGHT_COLOR);
    gfx_draw_rect(2, screen_y(27 + HMI_LIST_PITCH * sel), 317, screen_y(52 + HMI_LIST_PITCH * sel));

    gfx_set_text_style(18, TEXT_ALIGN_CENTER, 0);
    gfx_set_text_color(LABEL_COLOR);
    for (uint8_t i = 0; i < rows; ++i) {
        const int top = HMI_LIST_TOP + HMI_LIST_PITCH * i;
        gfx_fill_rect(80, screen_y(top), 240, screen_y(top + 18));
        gfx_draw_text(160, screen_y(top), labels[i]);
    }
}

void hmi_draw_badge(uint16_t x, uint8_t row, bool on)
{
    gfx_draw_image(x, uint16_t(hmi_list_row_y(row)), on ? &img_state_on : &img_state_off);
}

void sel_next()
{
    uint8_t n = uint8_t(hmi_sel.load(std::memory_order_relaxed) + 1);
    if (n >= hmi_item_count.load(std::memory_order_relaxed))
        n = 0;
    hmi_sel.store(n, std::memory_order_relaxed);
}

void sel_prev()
{
    const uint8_t sel = hmi_sel.load(std::memory_order_relaxed);
    if (sel >= 1)
        hmi_sel.store(uint8_t(sel - 1), std::memory_order_relaxed);
    else
        hmi_sel.store(uint8_t(hmi_item_count.load(std::memory_order_relaxed) - 1),
                      std::memory_order_relaxed);
}

void hmi_reset()
{
    hmi_page_index.store(0);
    hmi_sel.store(0);
    hmi_item_count.store(4);
    hmi_draw_full.store(nullptr);
    hmi_draw_pass.store(nullptr);
    hmi_overlay.store(nullptr);
    hmi_restore_keys.store(hmi_noop);
    hmi_redraw.store(false);
    hmi_overlay_clear.store(false);
}
