#include "host/core/bus_signals.h"

#include <cmath>
#include <cstdio>

namespace norvane {

namespace {

constexpr uint32_t UNIT_TEST_STATUS_ID = 0x421u;
constexpr uint32_t UNIT_TEST_MESSAGE_ID = 0x422u;

uint64_t key(uint32_t id, bool ext)
{
    return (uint64_t(ext) << 32) | id;
}

void add_test_frames(std::vector<bus_message>& out)
{
    // Eight zero bytes every 100 ms: the unit is alive. Two 32-bit words,
    // which every DBC reader handles.
    bus_message status = bus_message_row(UNIT_TEST_STATUS_ID, false, "UNIT_TEST_STATUS", "TEST_STATUS", "UNIT", "UNIT",
                                   "TESTER");
    status.fields = {bus_field("word0", "", 0, 32), bus_field("word1", "", 32, 32)};
    out.push_back(std::move(status));

    // Byte 0 the value's type, byte 1 its index, byte 2 the value of type
    // 12, bytes 4-7 the 32-bit payload of the other types.
    bus_message test = bus_message_row(UNIT_TEST_MESSAGE_ID, false, "UNIT_TEST_MESSAGE", "TEST_MESSAGE", "UNIT", "TESTER",
                                 "UNIT");
    test.fields = {bus_field("type", "", 0, 8), bus_field("index", "", 8, 8), bus_field("byte2", "", 16, 8),
                    bus_field("payload", "", 32, 32)};
    out.push_back(std::move(test));
}

}  // namespace

std::vector<bus_message> bus_message_table(const installation::description& d)
{
    std::vector<bus_message> out;
    installation::add_module_messages(d, out);
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
