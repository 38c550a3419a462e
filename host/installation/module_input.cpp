// The input modules, SENB1-SENB4: ten channels each, a wall switch (rocker
// or push button) on SENB1-SENB3, millivolts on SENB4 (the tank senders).
// Each channel goes on the bus as its own frame.
#include "host/installation/module_kind.h"

namespace installation {

namespace {

constexpr uint32_t INPUT_CHANNEL_ID = 0x18FF0000u;  // + (channel - 1) x 256 + 0x80 + module

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

}  // namespace

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

extern const module_kind module_kind_input = {"SENB", "channels", INPUT_MODULES, fill_default, read, write, bus_messages};

}  // namespace installation
