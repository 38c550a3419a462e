#include "screens/hmi.h"

std::atomic<uint8_t> hmi_page_index{0};
std::atomic<uint8_t> hmi_sel{0};
std::atomic<uint8_t> hmi_item_count{4};
std::atomic<hmi_fn> hmi_draw_full{nullptr};
std::atomic<hmi_fn> hmi_draw_pass{nullptr};
std::atomic<hmi_fn> hmi_overlay{nullptr};
std::atomic<hmi_fn> hmi_restore_keys{hmi_noop};
std::atomic<bool> hmi_redraw{false};
std::atomic<bool> hmi_overlay_clear{false};

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
void hmi_run_pass() {}
