#include "host/core/bus_dbc.h"

#include <cstdio>
#include <cstdlib>

#include "host/core/bus_decode.h"

namespace norvane {

namespace {

// DBC strings have no escapes: a double quote in a label becomes a single one.
std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
        out += c == '"' ? '\'' : c;
    return out + "\"";
}

uint32_t dbc_id(const bus_message& m)
{
    return m.ext ? (m.id | 0x80000000u) : m.id;
}

}  // namespace

std::string bus_dbc_number(double value)
{
    char text[40];
    if (value == double(int64_t(value)) && value > -1e15 && value < 1e15) {
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
        return text;
    }
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, value);
        if (std::strtod(text, nullptr) == value)
            break;
    }
    return text;
}

std::string bus_dbc_text(const std::vector<bus_message>& messages)
{
    std::vector<std::string> nodes;
    auto add_node = [&](const std::string& n) {
        for (const std::string& known : nodes)
            if (known == n)
                return;
        nodes.push_back(n);
    };
    for (const bus_message& m : messages) {
        add_node(m.sender);
        add_node(m.receiver);
    }

    std::string out = "VERSION \"\"\n\nNS_ :\n\tCM_\n\tBA_DEF_\n\tBA_\n\tVAL_\n\nBS_:\n\nBU_:";
    for (const std::string& n : nodes)
        out += " " + n;
    out += "\n\n";
    for (const bus_message& m : messages) {
        out += "BO_ " + std::to_string(dbc_id(m)) + " " + m.name + ": " + std::to_string(m.length) + " " +
               m.sender + "\n";
        for (const bus_signal& s : m.fields) {
            out += " SG_ " + s.name + " : " + std::to_string(s.start_bit) + "|" + std::to_string(s.length) +
                   "@1+ (" + bus_dbc_number(s.factor) + "," + bus_dbc_number(s.offset) + ") [" +
                   bus_dbc_number(s.minimum) + "|" + bus_dbc_number(s.maximum) + "] " + quoted(s.unit) + " " +
                   m.receiver + "\n";
        }
        out += "\n";
    }
    for (const bus_message& m : messages) {
        out += "CM_ BO_ " + std::to_string(dbc_id(m)) + " " + quoted(m.kind) + ";\n";
        for (const bus_signal& s : m.fields)
            if (!s.label.empty())
                out += "CM_ SG_ " + std::to_string(dbc_id(m)) + " " + s.name + " " + quoted(s.label) + ";\n";
    }
    out += "BA_DEF_  \"BusType\" STRING ;\nBA_DEF_  \"Baudrate\" INT 0 1000000;\n";
    const std::string rate = std::to_string(BUS_BITRATE);
    out += "BA_DEF_DEF_  \"BusType\" \"CAN\";\nBA_DEF_DEF_  \"Baudrate\" " + rate + ";\n";
    out += "BA_ \"BusType\" \"CAN\";\nBA_ \"Baudrate\" " + rate + ";\n";
    for (const bus_message& m : messages)
        for (const bus_signal& s : m.fields)
            if (s.names == bus_value_names::off_on)
                out += "VAL_ " + std::to_string(dbc_id(m)) + " " + s.name + " 1 \"on\" 0 \"off\" ;\n";
    return out;
}

}  // namespace norvane
