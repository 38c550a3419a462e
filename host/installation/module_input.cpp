// The input modules, SENB1-SENB4: ten channels each, a wall switch (rocker
// or push button) on SENB1-SENB3, millivolts on SENB4 (the tank senders).
// Each channel goes on the bus as its own frame.
#include "host/installation/module_kind.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "seam/tanks.h"

#include "host/common/scenario_words.h"

namespace installation {

namespace {

constexpr uint32_t INPUT_CHANNEL_ID = 0x18FF0000u;  // + (channel - 1) x 256 + 0x80 + module

// How often a module repeats what it has, in unit milliseconds: each channel
// once a second, its ten channels 100 ms apart (so one frame every 100 ms
// per module), and at once on a change; the four modules are 25 ms apart.
constexpr uint32_t CHANNEL_PERIOD_MS = 1000;
constexpr uint32_t CHANNEL_SPACING_MS = 100;
constexpr uint32_t MODULE_SPACING_MS = 25;

// The wall switches the circuits read: module, channel, label, and push when
// a press detector reads it (a change detector reads a rocker).
struct wired_switch {
    int senb, channel;
    const char* label;
    channel_kind kind;
};
const wired_switch SWITCHES[] = {
    {0, 0, "PORT FORE CABIN", channel_kind::rocker}, {0, 1, "DINING", channel_kind::push},
    {0, 2, "STBD FORE CABIN", channel_kind::rocker}, {0, 3, "SALOON", channel_kind::push},
    {1, 0, "PORT AFT CABIN", channel_kind::rocker},  {1, 1, "PORT CORRIDOR", channel_kind::rocker},
    {1, 2, "KITCHEN", channel_kind::push},           {2, 0, "MASTER CABIN", channel_kind::rocker},
    {2, 1, "DINGHY", channel_kind::push},            {2, 2, "MASTER CORRIDOR", channel_kind::push},
    {2, 3, "MASTER CABIN", channel_kind::push},
};

const sender_curve FUEL_CURVE{0, 5000, 6250};
const sender_curve WATER_CURVE{4900, 2500, 2500};

// The unit reads the tank senders on SENB4's channels 1 to 4, in the tank
// page's order: two fuel senders, 0 V empty and 5 V full, read up to 125 %;
// two water senders, 4.9 V empty and 2.5 V full, held within 0..100 %.
// The decoder shows the percent the unit reads, whatever the description's
// curves say.
constexpr int TANK_CHANNELS = 4;
constexpr double FUEL_PERCENT_PER_MV = 100.0 / 5000.0;
constexpr double WATER_EMPTY_MV = 4900.0;
constexpr double WATER_FULL_MV = 2500.0;

uint32_t input_channel_id(int m, int c)
{
    return INPUT_CHANNEL_ID + uint32_t(c) * 256u + 0x80u + uint32_t(m);
}

void fill_input_channel_frame(int m, uint8_t on, uint16_t mv, can_frame* f)
{
    // Byte 0 the form: 10 an analogue value (millivolts in bytes 2-3), 13
    // a switch (its state in byte 2); byte 1 is 1.
    if (m == ANALOG_MODULE) {
        f->data[0] = 10;
        f->data[1] = 1;
        f->data[2] = uint8_t(mv & 0xFF);
        f->data[3] = uint8_t(mv >> 8);
    } else {
        f->data[0] = 13;
        f->data[1] = 1;
        f->data[2] = on ? 1 : 0;
    }
}

uint16_t curve_mv(const sender_curve& c, double percent)
{
    if (!std::isfinite(percent))
        percent = 0;
    double mv = c.empty_mv + (double(c.full_mv) - c.empty_mv) * percent / 100.0;
    double lo = std::min<double>(c.empty_mv, c.max_mv), hi = std::max<double>(c.empty_mv, c.max_mv);
    return uint16_t(std::lround(std::clamp(mv, lo, hi)));
}

double curve_percent(const sender_curve& c, uint16_t mv)
{
    if (c.full_mv == c.empty_mv)
        return 0;
    double p = (double(mv) - c.empty_mv) * 100.0 / (double(c.full_mv) - c.empty_mv);
    double top = (double(c.max_mv) - c.empty_mv) * 100.0 / (double(c.full_mv) - c.empty_mv);
    return std::clamp(p, 0.0, std::max(top, 0.0));
}

const char* kind_name(channel_kind k)
{
    switch (k) {
    case channel_kind::rocker: return "rocker";
    case channel_kind::push: return "push";
    case channel_kind::analog: return "analog";
    }
    return "rocker";
}

void fill_default(int m, description* d)
{
    if (m == ANALOG_MODULE) {
        for (int c = 0; c < INPUT_CHANNELS; ++c)
            d->channels[m][c] = {"SPARE " + std::to_string(c + 1), channel_kind::analog, -1, {}};
        d->channels[m][0] = {"FUEL 1", channel_kind::analog, 0, FUEL_CURVE};
        d->channels[m][1] = {"FUEL 2", channel_kind::analog, 1, FUEL_CURVE};
        d->channels[m][2] = {"WATER 1", channel_kind::analog, 2, WATER_CURVE};
        d->channels[m][3] = {"WATER 2", channel_kind::analog, 3, WATER_CURVE};
        return;
    }
    for (int c = 0; c < INPUT_CHANNELS; ++c)
        d->channels[m][c] = {"SPARE " + std::to_string(c + 1), channel_kind::rocker, -1, {}};
    for (const wired_switch& s : SWITCHES)
        if (s.senb == m)
            d->channels[m][s.channel] = {s.label, s.kind, -1, {}};
}

void read_channel(const nlohmann::json& j, const std::string& path, int module, channel_description* out)
{
    out->label = label_at(member(j, path, "label"), path + "/label");
    std::string kind = text_at(member(j, path, "kind"), path + "/kind");
    if (module == ANALOG_MODULE) {
        if (kind != "analog")
            throw description_error{path + "/kind", "expected \"analog\" (SENB4 reads millivolts)"};
        out->kind = channel_kind::analog;
        out->tank = -1;
        if (j.contains("tank")) {
            const nlohmann::json& t = j["tank"];
            if (!t.is_number_integer() || t.get<int64_t>() < 1 || t.get<int64_t>() > TANK_COUNT)
                throw description_error{path + "/tank", "expected a tank of 1 to 4 (the tank page's order)"};
            out->tank = int(t.get<int64_t>()) - 1;
            out->curve.empty_mv = millivolts_at(j, path, "empty_mv");
            out->curve.full_mv = millivolts_at(j, path, "full_mv");
            out->curve.max_mv = millivolts_at(j, path, "max_mv");
            if (out->curve.empty_mv == out->curve.full_mv)
                throw description_error{path + "/full_mv", "a sender's full reading must differ from its empty one"};
            // Readings are clamped to max_mv: short of full_mv the tank
            // could never read full.
            const sender_curve& c = out->curve;
            if (c.full_mv > c.empty_mv ? c.max_mv < c.full_mv : c.max_mv > c.full_mv)
                throw description_error{path + "/max_mv", "a sender's maximum must be its full reading or lie beyond "
                                                           "it, away from the empty one"};
        }
    } else if (kind == "rocker") {
        out->kind = channel_kind::rocker;
    } else if (kind == "push") {
        out->kind = channel_kind::push;
    } else {
        throw description_error{path + "/kind", "expected \"rocker\" or \"push\""};
    }
}

void read(const nlohmann::json& j, const std::string& path, int m, description* d)
{
    const nlohmann::json& channels = array_at(j, path, "channels", INPUT_CHANNELS);
    // Only SENB4's channels are senders, so a tank's second sender is
    // always on the same module.
    bool tank_seen[TANK_COUNT] = {};
    for (int c = 0; c < INPUT_CHANNELS; ++c) {
        std::string cpath = path + "/channels/" + std::to_string(c);
        read_channel(channels[size_t(c)], cpath, m, &d->channels[m][c]);
        int tank = d->channels[m][c].tank;
        if (tank >= 0) {
            if (tank_seen[tank])
                throw description_error{cpath + "/tank", "tank " + std::to_string(tank + 1) + " has a sender already"};
            tank_seen[tank] = true;
        }
    }
}

nlohmann::ordered_json write(const description& d, int m)
{
    nlohmann::ordered_json channels = nlohmann::ordered_json::array();
    for (const channel_description& c : d.channels[m]) {
        nlohmann::ordered_json jc{{"label", c.label}, {"kind", kind_name(c.kind)}};
        if (c.tank >= 0) {
            jc["tank"] = c.tank + 1;
            jc["empty_mv"] = c.curve.empty_mv;
            jc["full_mv"] = c.curve.full_mv;
            jc["max_mv"] = c.curve.max_mv;
        }
        channels.push_back(jc);
    }
    return channels;
}

void bus_messages(const description& d, int m, std::vector<norvane::bus_message>& out)
{
    using norvane::bus_signal;
    const bool analog = m == ANALOG_MODULE;
    const std::string& module = d.module_names[m];
    for (int c = 0; c < INPUT_CHANNELS; ++c) {
        norvane::bus_message msg = norvane::bus_message_row(input_channel_id(m, c), true, module + "_CH" + std::to_string(c + 1),
                                                   "MSG_INPUT_CHANNEL", module, module, "UNIT");
        const std::string ch = "ch" + std::to_string(c + 1);
        const std::string& label = d.channels[m][c].label;
        // Byte 0 says the form (13 a switch, 10 an analogue value), byte 1 is 1.
        msg.fields.push_back(norvane::bus_field(ch + "_form", "", 0, 8));
        msg.fields.push_back(norvane::bus_field(ch + "_rev", "", 8, 8));
        if (!analog) {
            msg.fields.push_back(norvane::bus_field(ch + "_state", label, 16, 8, norvane::bus_value_names::off_on));
        } else {
            bus_signal mv = norvane::bus_field(ch + "_mv", label, 16, 16);
            mv.unit = "mV";
            msg.fields.push_back(mv);
            if (c < TANK_CHANNELS) {
                bus_signal pct = norvane::bus_field(ch + "_percent", label, 16, 16);
                pct.unit = "%";
                if (c < 2) {
                    pct.factor = FUEL_PERCENT_PER_MV;
                    pct.maximum = 125.0;
                } else {
                    pct.factor = -100.0 / (WATER_EMPTY_MV - WATER_FULL_MV);
                    pct.offset = 100.0 * WATER_EMPTY_MV / (WATER_EMPTY_MV - WATER_FULL_MV);
                    pct.maximum = 100.0;
                }
                msg.fields.push_back(pct);
            }
        }
        out.push_back(std::move(msg));
    }
}

// The plant's side: a module's ten channels, each sent once a second and at
// once on a change; a push button stays on until its release time.
class input_state : public module_state {
public:
    input_state(const description& d, int n, snapshot& s) : n_(n)
    {
        // Every channel starts at its description's resting value: switches
        // off, senders at an empty tank, free analog channels at 0 V.
        for (int c = 0; c < INPUT_CHANNELS; ++c) {
            channel& ch = channels_[c];
            ch.description = d.channels[n][c];
            if (n == ANALOG_MODULE) {
                if (ch.description.tank >= 0 && ch.description.tank < TANK_COUNT)
                    ch.mv = curve_mv(ch.description.curve, 0);
                s.analog_mv[c] = ch.mv;
            }
        }
    }

    void start(uint32_t now_ms) override
    {
        for (int c = 0; c < INPUT_CHANNELS; ++c)
            channels_[c].next_ms = now_ms + uint32_t(n_) * MODULE_SPACING_MS + uint32_t(c) * CHANNEL_SPACING_MS;
    }

    uint32_t step(uint32_t now_ms, bool talking, std::deque<can_frame>& out, snapshot& s) override
    {
        uint32_t next = now_ms + CHANNEL_PERIOD_MS;
        for (int c = 0; c < INPUT_CHANNELS; ++c) {
            channel& ch = channels_[c];
            if (ch.push_pending) {
                ch.push_pending = false;
                ch.on = 1;
                ch.release_at = now_ms + std::max<uint32_t>(ch.push_held, 1);
                ch.changed = true;
            } else if (ch.release_at != 0 && module_due(now_ms, ch.release_at)) {
                ch.release_at = 0;
                ch.on = 0;
                ch.changed = true;
            }
            if (n_ < SWITCH_MODULES)
                s.switch_on[n_][c] = ch.on;
            bool periodic = module_due(now_ms, ch.next_ms);
            while (module_due(now_ms, ch.next_ms))
                ch.next_ms += CHANNEL_PERIOD_MS;
            // A silent module sends nothing; what changed meanwhile goes out
            // with its periodic frames once it is back.
            if (talking && (ch.changed || periodic)) {
                can_frame f = module_frame(input_channel_id(n_, c), now_ms);
                fill_input_channel_frame(n_, ch.on, ch.mv, &f);
                out.push_back(f);
            }
            ch.changed = false;
            module_earliest(next, ch.next_ms);
            if (ch.release_at != 0)
                module_earliest(next, ch.release_at);
        }
        return next;
    }

    void act(const plant_action& a, snapshot& s) override;

private:
    struct channel {
        channel_description description;
        uint8_t on = 0;
        uint16_t mv = 0;
        uint32_t release_at = 0;  // push: unit ms of release, 0 when not held
        bool changed = false;     // send a frame at the next step
        bool push_pending = false;
        uint32_t push_held = 0;
        uint32_t next_ms = 0;     // its next periodic frame
    };

    void set_switch(int c, bool on, snapshot& s)
    {
        channel& ch = channels_[c];
        ch.push_pending = false;
        ch.release_at = 0;
        if (ch.on != uint8_t(on)) {
            ch.on = uint8_t(on);
            ch.changed = true;
        }
        s.switch_on[n_][c] = ch.on;
    }

    void push(int c, uint64_t held_ms, snapshot& s)
    {
        channels_[c].push_pending = true;
        channels_[c].push_held = uint32_t(held_ms);
        s.switch_on[n_][c] = 1;
    }

    void set_mv(int c, uint16_t mv, snapshot& s)
    {
        channel& ch = channels_[c];
        if (ch.mv != mv)
            ch.changed = true;
        ch.mv = mv;
        s.analog_mv[c] = mv;
        if (ch.description.tank >= 0 && ch.description.tank < TANK_COUNT)
            s.tank_percent[ch.description.tank] = curve_percent(ch.description.curve, mv);
    }

    const int n_;
    channel channels_[INPUT_CHANNELS];
};

std::unique_ptr<module_state> make_state(const description& d, int n, snapshot& s)
{
    return std::make_unique<input_state>(d, n, s);
}

// The verbs: a wall switch turned or pushed, a tank's level, SENB4's volts.

using norvane::parse_decimal;
using norvane::parse_ms;
using norvane::parse_small;
using norvane::quote_word;
using norvane::take_word;

std::string number(int zero_based)
{
    return std::to_string(zero_based + 1);
}

extern const plant_verb SWITCH_VERB, PUSH_VERB, TANK_VERB, VOLTS_VERB;

std::string parse_switch_or_push(std::string_view rest, plant_action& out)
{
    const std::string_view module = take_word(rest);
    out.module = module_number(module, "SENB", SWITCH_MODULES);
    if (out.module < 0)
        return "expected a switch module SENB1 to SENB3, found " + quote_word(module);
    const std::string_view channel = take_word(rest);
    if (!parse_small(channel, 1, INPUT_CHANNELS, out.channel))
        return "channel must be 1 to 10, found " + quote_word(channel);
    --out.channel;
    const std::string_view last = take_word(rest);
    if (out.verb == &SWITCH_VERB) {
        if (last != "on" && last != "off")
            return "expected on or off after the channel, found " + quote_word(last);
        out.on = last == "on";
    } else if (!parse_ms(last, out.held_ms) || out.held_ms < 1 || out.held_ms > 3600000) {
        return "expected the time held, 1 to 3600000 ms, found " + quote_word(last);
    }
    return nothing_at_end(rest);
}

std::string parse_switch(std::string_view rest, plant_action& out)
{
    out.verb = &SWITCH_VERB;
    return parse_switch_or_push(rest, out);
}

std::string format_switch(const plant_action& a)
{
    return "SENB" + number(a.module) + " " + number(a.channel) + " " + (a.on ? "on" : "off");
}

std::string parse_push(std::string_view rest, plant_action& out)
{
    out.verb = &PUSH_VERB;
    return parse_switch_or_push(rest, out);
}

std::string format_push(const plant_action& a)
{
    return "SENB" + number(a.module) + " " + number(a.channel) + " " + std::to_string(a.held_ms);
}

std::string parse_tank(std::string_view rest, plant_action& p)
{
    p.verb = &TANK_VERB;
    p.module = ANALOG_MODULE;
    const std::string_view tank = take_word(rest);
    if (!parse_small(tank, 1, TANK_COUNT, p.channel))
        return "tank must be 1 to 4 (fuel 1, fuel 2, water 1, water 2), found " + quote_word(tank);
    --p.channel;
    const std::string_view percent = take_word(rest);
    if (!parse_decimal(percent, 125, p.amount))
        return "expected a level of 0 to 125 percent, found " + quote_word(percent);
    return nothing_at_end(rest);
}

std::string parse_volts(std::string_view rest, plant_action& p)
{
    p.verb = &VOLTS_VERB;
    p.module = ANALOG_MODULE;
    const std::string_view channel = take_word(rest);
    if (!parse_small(channel, 1, INPUT_CHANNELS, p.channel))
        return "SENB4 channel must be 1 to 10, found " + quote_word(channel);
    --p.channel;
    const std::string_view volts = take_word(rest);
    if (!parse_decimal(volts, 65.535, p.amount))
        return "expected volts of 0 to 65.535, found " + quote_word(volts);
    return nothing_at_end(rest);
}

// "TANK PERCENT" and "CH VOLTS": a 1-based number and an amount.
std::string format_channel_amount(const plant_action& a)
{
    return number(a.channel) + " " + norvane::format_decimal(a.amount);
}

const plant_verb SWITCH_VERB{"switch", "  MS switch SENBm CH on|off     wall switch CH (1..10) of SENB1..SENB3\n",
                             parse_switch, format_switch};
const plant_verb PUSH_VERB{"push", "  MS push SENBm CH MS_HELD      push button CH pressed for MS_HELD ms\n",
                           parse_push, format_push};
const plant_verb TANK_VERB{"tank",
                           "  MS tank N PERCENT             tank N (1..4: fuel 1, fuel 2, water 1, water 2)\n"
                           "                                at PERCENT (0..125, decimals allowed)\n",
                           parse_tank, format_channel_amount};
const plant_verb VOLTS_VERB{"volts", "  MS volts CH VOLTS             SENB4 channel CH (1..10) at VOLTS\n",
                            parse_volts, format_channel_amount};
const plant_verb* const VERBS[] = {&SWITCH_VERB, &PUSH_VERB, &TANK_VERB, &VOLTS_VERB, nullptr};

void input_state::act(const plant_action& a, snapshot& s)
{
    const int c = a.channel;
    if (a.verb == &TANK_VERB) {
        if (n_ != ANALOG_MODULE || c < 0 || c >= TANK_COUNT)
            return;
        for (int ch = 0; ch < INPUT_CHANNELS; ++ch)
            if (channels_[ch].description.tank == c)
                set_mv(ch, curve_mv(channels_[ch].description.curve, a.amount), s);
        return;
    }
    if (c < 0 || c >= INPUT_CHANNELS)
        return;
    if (a.verb == &SWITCH_VERB && n_ < SWITCH_MODULES) {
        set_switch(c, a.on, s);
    } else if (a.verb == &PUSH_VERB && n_ < SWITCH_MODULES) {
        push(c, a.held_ms, s);
    } else if (a.verb == &VOLTS_VERB && n_ == ANALOG_MODULE) {
        double volts = std::isfinite(a.amount) ? a.amount : 0;
        set_mv(c, uint16_t(std::lround(std::clamp(volts * 1000.0, 0.0, 65535.0))), s);
    }
}

// The panel: SENB1-SENB3's switches in a column each, with the legend of
// their symbols under them; a slider per tank with the reading the unit
// will show beside it (its arithmetic floors, so a slider at 33 % may read
// 32), the volts after.
const char* const TANK_NAMES[TANK_COUNT] = {"Fuel 1", "Fuel 2", "Water 1", "Water 2"};

// SENB4's channel that is tank t's sender, -1 when none.
int tank_channel(const channel_description* channels, int t)
{
    for (int c = 0; c < INPUT_CHANNELS; ++c)
        if (channels[c].tank == t)
            return c;
    return -1;
}

void panel(const description& d, std::vector<panel_group>& out)
{
    panel_group switches{"Wall switches", {}};
    for (int m = 0; m < SWITCH_MODULES; ++m) {
        panel_control head;
        head.text = d.module_names[size_t(m)];
        head.column = m;
        switches.controls.push_back(head);
        for (int c = 0; c < INPUT_CHANNELS; ++c) {
            const channel_description& ch = d.channels[m][c];
            panel_control button;
            const bool push = ch.kind == channel_kind::push;
            button.form = push ? control_form::push : control_form::rocker;
            button.verb = &SWITCH_VERB;
            button.module = m;
            button.channel = c;
            button.name = "switch_" + number(m) + "_" + number(c);
            button.text = number(c) + " " + ch.label;
            button.tip = push ? "Push button: on while held down" : "Rocker: a click turns it on or off";
            button.row = c + 1;
            button.column = m;
            switches.controls.push_back(button);
        }
    }
    panel_control legend;
    legend.form = control_form::legend;
    legend.row = INPUT_CHANNELS + 1;
    legend.column_span = SWITCH_MODULES;
    switches.controls.push_back(legend);
    out.push_back(std::move(switches));

    panel_group tanks{"Tanks", {}};
    for (int t = 0; t < TANK_COUNT; ++t) {
        panel_control name;
        name.text = TANK_NAMES[t];
        name.row = t;
        tanks.controls.push_back(name);
        panel_control level;
        level.form = control_form::level;
        level.verb = &TANK_VERB;
        level.module = ANALOG_MODULE;
        level.channel = t;
        level.name = "tank_" + number(t);
        level.tip = "What the unit's tank page will show for the sender's volts, and the volts";
        level.row = t;
        level.column = 1;
        // As far as the sender goes: a fuel tank's over-range up to 125 %.
        if (const int c = tank_channel(d.channels[ANALOG_MODULE], t); c >= 0)
            level.top = static_cast<int>(sender_top_percent(d.channels[ANALOG_MODULE][c].curve) + 0.5);
        tanks.controls.push_back(level);
    }
    out.push_back(std::move(tanks));
}

panel_reading read_panel(const description& d, const snapshot& s, const panel_control& c)
{
    panel_reading r;
    if (c.form != control_form::level || c.channel < 0 || c.channel >= TANK_COUNT)
        return r;
    r.value = s.tank_percent[c.channel];
    const int channel = tank_channel(d.channels[ANALOG_MODULE], c.channel);
    const uint16_t mv = channel >= 0 ? s.analog_mv[channel] : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%d %%  %.2f V", tank_reading_percent(uint8_t(c.channel), mv), mv / 1000.0);
    r.text = text;
    return r;
}

plant_action action(const plant_verb* verb, int module, int channel)
{
    plant_action a;
    a.verb = verb;
    a.module = module;
    a.channel = channel;
    return a;
}

}  // namespace

double sender_top_percent(const sender_curve& c)
{
    return curve_percent(c, c.max_mv);
}

void plant::set_switch(int senb, int channel, bool on)
{
    if (senb < 0 || senb >= SWITCH_MODULES)
        return;
    plant_action a = action(&SWITCH_VERB, senb, channel);
    a.on = on;
    act(a);
}

void plant::push(int senb, int channel, uint32_t held_ms)
{
    if (senb < 0 || senb >= SWITCH_MODULES)
        return;
    plant_action a = action(&PUSH_VERB, senb, channel);
    a.held_ms = held_ms;
    act(a);
}

void plant::set_tank_percent(int tank, double percent)
{
    plant_action a = action(&TANK_VERB, ANALOG_MODULE, tank);
    a.amount = percent;
    act(a);
}

void plant::set_volts(int channel, double volts)
{
    plant_action a = action(&VOLTS_VERB, ANALOG_MODULE, channel);
    a.amount = volts;
    act(a);
}

extern const module_kind module_kind_input = {"SENB", "channels", INPUT_MODULES, fill_default, read, write,
                                              bus_messages, make_state, nullptr, VERBS, nullptr, nullptr, nullptr, panel, read_panel,
    "Off: the module falls silent (sends nothing); the unit keeps its last readings until it calls them stale"};

}  // namespace installation
