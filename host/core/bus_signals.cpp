#include "host/core/bus_signals.h"

#include <cmath>
#include <cstdio>

namespace norvane {

namespace {

using installation::INPUT_CHANNELS;
using installation::POWER_MODULES;
using installation::POWER_OUTPUTS;

constexpr uint32_t INPUT_CHANNEL_BASE = 0x18FF0000u;  // + (channel - 1) x 256 + 0x80 + module
constexpr uint32_t OUTPUT_STATUS_BASE = 0x18FFA0B0u;  // + p
constexpr uint32_t OUTPUT_CODES_BASE = 0x18FFA1B0u;   // + p
constexpr uint32_t OUTPUT_COMMAND_BASE = 0x18EFB000u; // + p x 256
constexpr uint32_t UNIT_TEST_STATUS_ID = 0x421u;
constexpr uint32_t UNIT_TEST_MESSAGE_ID = 0x422u;

// The unit reads the tank senders on SENB4's channels 1 to 4, in the tank
// page's order: two fuel senders, 0 V empty and 5 V full, read up to 125 %;
// two water senders, 4.9 V empty and 2.5 V full, held within 0..100 %.
constexpr int TANK_CHANNELS = 4;
constexpr double FUEL_PERCENT_PER_MV = 100.0 / 5000.0;
constexpr double WATER_EMPTY_MV = 4900.0;
constexpr double WATER_FULL_MV = 2500.0;

bus_signal field(std::string name, std::string label, uint8_t start, uint8_t length,
                 bus_value_names names = bus_value_names::none)
{
    bus_signal s;
    s.name = std::move(name);
    s.label = std::move(label);
    s.start_bit = start;
    s.length = length;
    s.maximum = length >= 64 ? double(UINT64_MAX) : double((uint64_t(1) << length) - 1);
    s.names = names;
    return s;
}

bus_message message(uint32_t id, bool ext, std::string name, std::string kind, std::string module,
                    std::string sender, std::string receiver, uint8_t length = 8)
{
    bus_message m;
    m.id = id;
    m.ext = ext;
    m.name = std::move(name);
    m.kind = std::move(kind);
    m.module = std::move(module);
    m.sender = std::move(sender);
    m.receiver = std::move(receiver);
    m.length = length;
    return m;
}

uint64_t key(uint32_t id, bool ext)
{
    return (uint64_t(ext) << 32) | id;
}

void add_input_channels(const installation::description& d, std::vector<bus_message>& out)
{
    for (int m = 0; m < installation::INPUT_MODULES; ++m) {
        const bool analog = m == installation::ANALOG_MODULE;
        for (int c = 0; c < INPUT_CHANNELS; ++c) {
            const std::string& module = d.module_names[m];
            bus_message msg = message(INPUT_CHANNEL_BASE + uint32_t(c) * 256u + 0x80u + uint32_t(m), true,
                                      module + "_CH" + std::to_string(c + 1), "MSG_INPUT_CHANNEL", module, module,
                                      "UNIT");
            const std::string ch = "ch" + std::to_string(c + 1);
            const std::string& label = d.channels[m][c].label;
            // Byte 0 says the form (13 a switch, 10 an analogue value), byte 1 is 1.
            msg.fields.push_back(field(ch + "_form", "", 0, 8));
            msg.fields.push_back(field(ch + "_rev", "", 8, 8));
            if (!analog) {
                msg.fields.push_back(field(ch + "_state", label, 16, 8, bus_value_names::off_on));
            } else {
                bus_signal mv = field(ch + "_mv", label, 16, 16);
                mv.unit = "mV";
                msg.fields.push_back(mv);
                if (c < TANK_CHANNELS) {
                    bus_signal pct = field(ch + "_percent", label, 16, 16);
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
}

void add_power_modules(const installation::description& d, std::vector<bus_message>& out)
{
    for (int p = 0; p < POWER_MODULES; ++p) {
        const std::string& module = d.module_names[installation::power_module_index(p)];
        const auto* labels = d.output_labels[p];
        bus_message status = message(OUTPUT_STATUS_BASE + uint32_t(p), true, module + "_STATUS", "MSG_OUTPUT_STATUS",
                                     module, module, "UNIT");
        // Outputs 1-4 in byte 1, 5-7 in byte 2, two bits each.
        for (int o = 0; o < 7; ++o)
            status.fields.push_back(
                field("out" + std::to_string(o + 1) + "_state", labels[o], uint8_t(8 + 2 * o), 2));
        out.push_back(std::move(status));

        bus_message codes = message(OUTPUT_CODES_BASE + uint32_t(p), true, module + "_CODES", "MSG_OUTPUT_CODES",
                                    module, module, "UNIT");
        // Outputs 1-7 from byte 1 on, a nibble each, low nibble first.
        for (int o = 0; o < 7; ++o)
            codes.fields.push_back(
                field("out" + std::to_string(o + 1) + "_code", labels[o], uint8_t(8 + 4 * o), 4));
        out.push_back(std::move(codes));

        bus_message command = message(OUTPUT_COMMAND_BASE + uint32_t(p) * 256u, true, module + "_COMMAND",
                                      "MSG_OUTPUT_COMMAND", module, "UNIT", module, 6);
        // Outputs 1-4 in byte 2, 5-8 in byte 3, two bits each.
        for (int o = 0; o < POWER_OUTPUTS; ++o)
            command.fields.push_back(field("out" + std::to_string(o + 1) + "_command", labels[o],
                                            uint8_t(16 + 2 * o), 2, bus_value_names::off_on));
        out.push_back(std::move(command));
    }
}

void add_test_frames(std::vector<bus_message>& out)
{
    // Eight zero bytes every 100 ms: the unit is alive. Two 32-bit words,
    // which every DBC reader handles.
    bus_message status = message(UNIT_TEST_STATUS_ID, false, "UNIT_TEST_STATUS", "TEST_STATUS", "UNIT", "UNIT",
                                   "TESTER");
    status.fields = {field("word0", "", 0, 32), field("word1", "", 32, 32)};
    out.push_back(std::move(status));

    // Byte 0 the value's type, byte 1 its index, byte 2 the value of type
    // 12, bytes 4-7 the 32-bit payload of the other types.
    bus_message test = message(UNIT_TEST_MESSAGE_ID, false, "UNIT_TEST_MESSAGE", "TEST_MESSAGE", "UNIT", "TESTER",
                                 "UNIT");
    test.fields = {field("type", "", 0, 8), field("index", "", 8, 8), field("byte2", "", 16, 8),
                    field("payload", "", 32, 32)};
    out.push_back(std::move(test));
}

}  // namespace

std::vector<bus_message> bus_message_table(const installation::description& d)
{
    std::vector<bus_message> out;
    add_input_channels(d, out);
    add_power_modules(d, out);
    add_test_frames(out);
    return out;
}

uint64_t bus_signal_raw(const bus_signal& s, const uint8_t* data)
{
    uint64_t raw = 0;
    for (unsigned i = 0; i < s.length; ++i) {
        const unsigned bit = s.start_bit + i;
        raw |= uint64_t((data[bit / 8] >> (bit % 8)) & 1u) << i;
    }
    return raw;
}

double bus_signal_value_of(const bus_signal& s, uint64_t raw)
{
    const double v = double(raw) * s.factor + s.offset;
    return v < s.minimum ? s.minimum : v > s.maximum ? s.maximum : v;
}

std::string bus_format_value(const bus_signal& s, double value)
{
    if (s.names == bus_value_names::off_on)
        return value != 0.0 ? "on" : "off";
    char text[48];
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "%.2f", value);
    return s.unit.empty() ? std::string(text) : std::string(text) + " " + s.unit;
}

BusDecoder::BusDecoder(const installation::description& d) : messages_(bus_message_table(d))
{
    for (size_t i = 0; i < messages_.size(); ++i)
        by_id_.emplace(key(messages_[i].id, messages_[i].ext), i);
}

const bus_message* BusDecoder::find(uint32_t id, bool ext) const
{
    const auto it = by_id_.find(key(id & (ext ? 0x1FFFFFFFu : 0x7FFu), ext));
    return it == by_id_.end() ? nullptr : &messages_[it->second];
}

bus_decoded BusDecoder::decode(const can_frame& frame) const
{
    bus_decoded out;
    out.message = frame.rtr ? nullptr : find(frame.id, frame.ext != 0);
    if (!out.message) {
        out.note = frame.rtr ? "remote request" : "unknown identifier";
        return out;
    }
    const unsigned len = frame.len > 8 ? 8u : frame.len;
    if (len != out.message->length)
        out.note = "length " + std::to_string(len) + ", the receiver wants " + std::to_string(out.message->length);
    out.values.reserve(out.message->fields.size());
    for (const bus_signal& s : out.message->fields) {
        if (s.start_bit + s.length > len * 8u)
            continue;
        bus_signal_value v;
        v.signal = &s;
        v.value = bus_signal_value_of(s, bus_signal_raw(s, frame.data));
        v.text = bus_format_value(s, v.value);
        out.values.push_back(std::move(v));
    }
    return out;
}

const bus_signal* BusDecoder::find_signal(const std::string& module, const std::string& signal,
                                          const bus_message** message) const
{
    for (const bus_message& m : messages_) {
        if (m.module != module)
            continue;
        for (const bus_signal& s : m.fields) {
            if (s.name == signal) {
                if (message)
                    *message = &m;
                return &s;
            }
        }
    }
    return nullptr;
}

std::string BusDecoder::describe(const can_frame& frame) const
{
    const bus_decoded d = decode(frame);
    std::string line = d.message ? d.message->name : "?";
    for (const bus_signal_value& v : d.values)
        line += " " + v.signal->name + "=" + v.text;
    if (!d.note.empty())
        line += " (" + d.note + ")";
    return line;
}

}  // namespace norvane
