// The version page installs no buttons and hides the soft-key bar; after two
// seconds its pass moves on to LIGHTING & SOUND without touching the ring
// position.
#include "screens/version_page.h"

#include <cstdio>

#include "gfx/assets.h"
#include "gfx/gfx.h"
#include "screens/panel.h"
#include "gfx/text.h"
#include "platform/hal.h"
#include "screens/circuit_pages.h"
#include "screens/hmi.h"

std::atomic<uint32_t> version_entry_time{0};

namespace {

// Handlers and labels stay as they were; only the bar goes.
void keys()
{
    panel_state.store(2);
}

void draw_full()
{
    gfx_set_fill_color(GFX_KEY_COLOR);
    gfx_set_layer(GFX_LAYER_BACKGROUND);
    gfx_draw_image(0, 0, &img_splash_logo);
    gfx_set_text_style(14, TEXT_ALIGN_CENTER, 0);
    gfx_set_text_color(0);
    char text[16];
    std::snprintf(text, sizeof text, "v%1.2f", double(VERSION_NUMBER));
    gfx_draw_text(160, 220, text);
}

void draw_pass()
{
    if (uint32_t(sys_ms_since_start() - version_entry_time.load()) > VERSION_SHOW_MS)
        lighting_page_enter();
}

}  // namespace

void version_page_enter()
{
    hmi_enter_page(keys, draw_full, draw_pass);
    version_entry_time.store(sys_ms_since_start());
}
