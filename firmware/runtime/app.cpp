// Initialisation, the 25 ms main-loop step and the 10 ms tick.
#include "runtime/app.h"

#include "can/can_port.h"
#include "gfx/gfx.h"
#include "gfx/text.h"
#include "screens/panel.h"
#include "model/mailbox.h"
#include "model/model.h"
#include "runtime/events.h"
#include "platform/fs.h"
#include "platform/hal.h"
#include "screens/keys.h"
#include "platform/settings.h"
#include "screens/hmi.h"
#include "screens/override_page.h"
#include "screens/page_table.h"

uint8_t sys_buzzer_countdown = 0;

namespace {

bool can_reset_request = true;  // the first main step always re-runs can_init

// Tick dividers: each handler runs on the first tick, then every N ticks.
struct divider {
    uint8_t counter;
    uint8_t period;
};
divider div_50ms{0, 5};
divider div_100ms{0, 10};
divider div_500ms{0, 50};
divider div_1s{0, 100};

bool divider_due(divider& d)
{
    bool due = false;
    if (d.counter == 0) {
        d.counter = d.period;
        due = true;
    }
    --d.counter;
    return due;
}

void every_100ms()
{
    panel_timer_tick();
    static const uint8_t zeros[8] = {};
    can_queue_frame(0, APP_TEST_FRAME_ID, 0, 8, zeros);
}

void every_second()
{
    override_countdown();
    settings_save();
}

// The board's bring-up: the platform, the CAN rings, the clock base, the NV
// image, the text engine, the service serial port and the screen layers.
void board_init()
{
    hal_init();
    hal_init_hook(0);
    can_init();
    hal_clock_start();
    hal_init_hook(0);
    hal_init_hook(0);
    hal_init_hook(0);
    nv_load();
    hal_init_hook(0);
    hal_init_hook(255);
    text_build_blend_table();
    text_init_fonts(text_fonts, TEXT_FONT_COUNT);
    hal_uart_configure(3, 5, 1, 0, 0, hal_uart_rx);
    hal_uart_enable(3, 1, 1);
    gfx_reset();
    gfx_clear_layers();
}

}  // namespace

void app_init()
{
    board_init();
    hal_set_event_callback(app_event_handler);
    sys_mark_start();
    settings_load();
    rx_mailbox_init();
    // Port 0 carries the installation's traffic: its extended frames feed the
    // mailboxes, its 0x422 frames the test values. Port 1 has no listener.
    can_set_receive_handlers(0, can_rx_dispatch, test_message_handler);
    can_set_receive_handlers(1, nullptr, nullptr);
    model_can_open();
    model_set_page_functions(&page_functions);
    model_init();
    pages_init();
}

void app_start()
{
    key_reset_state();
    hal_watchdog_kick();
}

void app_main_step()
{
    if (can_reset_request) {
        can_init();
        can_reset_request = false;
    }
    hal_watchdog_kick();
    key_scan();
    panel_step();
    hmi_run_pass();
    gfx_present();
    app_events_poll();
    can_service();
}

void sys_tick()
{
    panel_slide_tick();
    model_tick();

    if (sys_buzzer_countdown != 0) {
        --sys_buzzer_countdown;
        hal_buzzer_output(1000);
    } else {
        hal_buzzer_output(0);
    }

    key_sample();

    if (divider_due(div_50ms))
        hal_hook_50ms();
    if (divider_due(div_100ms)) {
        key_hold_countdown();  // before the 100 ms handler
        every_100ms();
    }
    if (divider_due(div_500ms))
        hal_hook_500ms();
    if (divider_due(div_1s))
        every_second();
}

void app_reset()
{
    can_reset_request = true;
    div_50ms = {0, 5};
    div_100ms = {0, 10};
    div_500ms = {0, 50};
    div_1s = {0, 100};
    sys_buzzer_countdown = 0;
    events_reset();
    screens_reset();
    model_reset();
    gfx_reset();
    text_reset();
    can_reset();
    fs_reset();
    settings_reset();
    hal_reset();
}
