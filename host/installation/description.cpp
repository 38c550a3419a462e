// The installation's description: the shipped default (this unit's circuit
// table) and the JSON file that replaces it.
#include <cstdio>

#include <set>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/common/printable.h"
#include "host/common/regular_file.h"
#include "host/installation/installation.h"

namespace installation {

namespace {

const char* const MODULE_NAMES[MODULE_COUNT] = {"SENB1", "SENB2", "SENB3", "SENB4", "PWRB1", "PWRB2",
                                                "PWRB3", "PWRB4", "PWRB5", "PWRB6", "PWRB7", "PWRB8"};

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

// Each output's label: the page row or override row that drives it, "" for
// the outputs no circuit uses.
const char* const OUTPUTS[POWER_MODULES][POWER_OUTPUTS] = {
    {"PORT FORE CABIN", "DINING", "INSIDE LIGHTS", "INSIDE LIGHTS", "INSIDE LIGHTS", "DECK WASH", "", ""},
    {"FRESH WATER", "FRESH WATER", "PORT BATHROOMS", "PORT BATHROOMS", "PORT BATHROOMS", "PORT BATHROOMS", "", ""},
    {"KITCHEN", "PORT CORRIDOR", "RIGHT FRIDGE", "LEFT FREEZER", "", "", "", ""},
    {"PORT AFT CABIN", "INSIDE LIGHTS", "INSIDE LIGHTS", "", "SALON", "BAR OUTSIDE", "", ""},
    {"INSIDE LIGHTS", "MASTER CABIN", "INSIDE LIGHTS", "DINGHY", "SAILING LIGHT", "INSTRUMENTS", "", ""},
    {"INSIDE LIGHTS", "MASTER CORRIDOR", "INSIDE LIGHTS", "", "STBD BATHROOMS", "STBD BATHROOMS", "", ""},
    {"STBD FORE CABIN", "SALOON", "INSIDE LIGHTS", "INSIDE LIGHTS", "STBD BATHROOMS", "STBD BATHROOMS", "", ""},
    {"VHF RADIO", "SALON CHART PLOTTER", "ANCHOR LIGHT", "DECK LIGHTS", "SAILING LIGHT", "HELM CHART PLOTTER",
     "FRONT SPEAKERS", ""},
};

const sender_curve FUEL_CURVE{0, 5000, 6250};
const sender_curve WATER_CURVE{4900, 2500, 2500};

const char* kind_name(channel_kind k)
{
    switch (k) {
    case channel_kind::rocker: return "rocker";
    case channel_kind::push: return "push";
    case channel_kind::analog: return "analog";
    }
    return "rocker";
}

struct description_error {
    std::string place, reason;
};

// The line and column of a byte offset in the text, both from 1.
std::string line_column(const std::string& text, size_t offset)
{
    size_t line = 1, column = 1;
    for (size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return std::to_string(line) + ":" + std::to_string(column);
}

using json = nlohmann::json;

// The library's message without its "[json.exception.KIND.N] " prefix.
std::string library_reason(const std::exception& e)
{
    std::string what = e.what();
    const size_t close = what.rfind("] ", what.find(']'));
    if (what.rfind("[json.exception.", 0) == 0 && close != std::string::npos)
        what.erase(0, close + 2);
    return norvane::printable(what);
}

// One JSON pointer step: '~' and '/' in a key as "~0" and "~1".
std::string pointer_step(const std::string& key)
{
    std::string out = "/";
    for (char c : key)
        out += c == '~' ? std::string("~0") : c == '/' ? std::string("~1") : std::string(1, c);
    return norvane::printable(out);
}

// A pass over the text that builds nothing: finds where the text stops
// being JSON, with the byte offset the library gives its handler for every
// fault (an out-of-range number too, which it throws without one), and
// refuses a key given twice in one object, which the library would let the
// last one win.
class checking_pass : public nlohmann::json_sax<json> {
public:
    size_t error_offset = 0;
    std::string error_place, error_reason;
    bool failed = false;

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool string(string_t&) override { return value(); }
    bool binary(binary_t&) override { return value(); }
    bool start_object(std::size_t) override { return open(true); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_array() override { return close(); }
    bool key(string_t& key) override
    {
        level& top = levels_.back();
        top.step = pointer_step(key);
        if (!top.keys.insert(key).second) {
            failed = true;
            error_place = path();
            error_reason = "the key is given twice in one object";
            return false;
        }
        return true;
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) override
    {
        failed = true;
        error_offset = position;
        error_reason = library_reason(e);
        // The parser's own prefix ("parse error at line 1, column 2: ")
        // repeats the place the line starts with.
        const size_t at = error_reason.find(": syntax error");
        if (at != std::string::npos)
            error_reason.erase(0, at + 2);
        return false;
    }

private:
    struct level {
        bool object = false;
        size_t index = 0;  // an array's next element
        std::string step;  // the path step of the element being read
        std::set<std::string> keys;
    };
    std::vector<level> levels_;

    bool value()
    {
        if (!levels_.empty() && !levels_.back().object)
            levels_.back().step = "/" + std::to_string(levels_.back().index++);
        return true;
    }
    bool open(bool object)
    {
        value();
        levels_.push_back({object, 0, "", {}});
        return true;
    }
    bool close()
    {
        levels_.pop_back();
        return true;
    }
    std::string path() const
    {
        std::string out;
        for (const level& l : levels_)
            out += l.step;
        return out;
    }
};

const json& member(const json& object, const std::string& path, const char* key)
{
    if (!object.is_object())
        throw description_error{path, "expected an object"};
    auto it = object.find(key);
    if (it == object.end())
        throw description_error{path, std::string("missing \"") + key + "\""};
    return *it;
}

std::string text_at(const json& v, const std::string& path)
{
    if (!v.is_string())
        throw description_error{path, "expected a text"};
    return v.get<std::string>();
}

// A label is one line of printable text: it is shown on the panel and
// written as a row of the outputs file, where a line end would add a row.
std::string label_at(const json& v, const std::string& path)
{
    const std::string text = text_at(v, path);
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            char why[96];
            std::snprintf(why, sizeof why, "control byte 0x%02X at character %zu; a label is one line of text",
                          unsigned(c), i + 1);
            throw description_error{path, why};
        }
    }
    return text;
}

uint16_t millivolts_at(const json& object, const std::string& path, const char* key)
{
    const json& v = member(object, path, key);
    if (!v.is_number_integer() || v.get<int64_t>() < 0 || v.get<int64_t>() > 65535)
        throw description_error{path + "/" + key, "expected millivolts, a whole number of 0 to 65535"};
    return uint16_t(v.get<int64_t>());
}

const json& array_at(const json& object, const std::string& path, const char* key, size_t size)
{
    const json& v = member(object, path, key);
    if (!v.is_array() || v.size() != size)
        throw description_error{path + "/" + key, "expected an array of " + std::to_string(size)};
    return v;
}

void read_channel(const json& j, const std::string& path, int module, channel_description* out)
{
    out->label = label_at(member(j, path, "label"), path + "/label");
    std::string kind = text_at(member(j, path, "kind"), path + "/kind");
    if (module == ANALOG_MODULE) {
        if (kind != "analog")
            throw description_error{path + "/kind", "expected \"analog\" (SENB4 reads millivolts)"};
        out->kind = channel_kind::analog;
        out->tank = -1;
        if (j.contains("tank")) {
            const json& t = j["tank"];
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

void read_description(const json& root, description* out)
{
    const json& modules = array_at(root, "", "modules", MODULE_COUNT);
    bool tank_seen[TANK_COUNT] = {};
    for (int m = 0; m < MODULE_COUNT; ++m) {
        std::string path = "/modules/" + std::to_string(m);
        const json& j = modules[size_t(m)];
        std::string name = text_at(member(j, path, "name"), path + "/name");
        if (name != MODULE_NAMES[m])
            throw description_error{path + "/name", std::string("expected \"") + MODULE_NAMES[m] +
                                                        "\" (the modules come in bus order, SENB1-4 then PWRB1-8)"};
        out->module_names[m] = name;
        if (m < INPUT_MODULES) {
            const json& channels = array_at(j, path, "channels", INPUT_CHANNELS);
            for (int c = 0; c < INPUT_CHANNELS; ++c) {
                std::string cpath = path + "/channels/" + std::to_string(c);
                read_channel(channels[size_t(c)], cpath, m, &out->channels[m][c]);
                int tank = out->channels[m][c].tank;
                if (tank >= 0) {
                    if (tank_seen[tank])
                        throw description_error{cpath + "/tank", "tank " + std::to_string(tank + 1) +
                                                                     " has a sender already"};
                    tank_seen[tank] = true;
                }
            }
        } else {
            const json& outputs = array_at(j, path, "outputs", POWER_OUTPUTS);
            for (int o = 0; o < POWER_OUTPUTS; ++o)
                out->output_labels[m - INPUT_MODULES][o] =
                    label_at(outputs[size_t(o)], path + "/outputs/" + std::to_string(o));
        }
    }
}

}  // namespace

description default_description()
{
    description d;
    for (int m = 0; m < MODULE_COUNT; ++m)
        d.module_names[m] = MODULE_NAMES[m];
    for (int m = 0; m < SWITCH_MODULES; ++m)
        for (int c = 0; c < INPUT_CHANNELS; ++c)
            d.channels[m][c] = {"SPARE " + std::to_string(c + 1), channel_kind::rocker, -1, {}};
    for (const wired_switch& s : SWITCHES)
        d.channels[s.senb][s.channel] = {s.label, s.kind, -1, {}};
    for (int c = 0; c < INPUT_CHANNELS; ++c)
        d.channels[ANALOG_MODULE][c] = {"SPARE " + std::to_string(c + 1), channel_kind::analog, -1, {}};
    d.channels[ANALOG_MODULE][0] = {"FUEL 1", channel_kind::analog, 0, FUEL_CURVE};
    d.channels[ANALOG_MODULE][1] = {"FUEL 2", channel_kind::analog, 1, FUEL_CURVE};
    d.channels[ANALOG_MODULE][2] = {"WATER 1", channel_kind::analog, 2, WATER_CURVE};
    d.channels[ANALOG_MODULE][3] = {"WATER 2", channel_kind::analog, 3, WATER_CURVE};
    for (int p = 0; p < POWER_MODULES; ++p)
        for (int o = 0; o < POWER_OUTPUTS; ++o)
            d.output_labels[p][o] = OUTPUTS[p][o];
    return d;
}

bool parse_description(const std::string& text, const std::string& name, description* out, std::string* error)
{
    description d;
    try {
        checking_pass check;
        json::sax_parse(text, &check);
        if (check.failed && !check.error_place.empty()) {
            *error = name + ": " + check.error_place + ": " + check.error_reason;
            return false;
        }
        if (check.failed) {
            const size_t offset = check.error_offset == 0 ? 0 : check.error_offset - 1;
            *error = name + ":" + line_column(text, offset) + ": " + check.error_reason;
            return false;
        }
        read_description(json::parse(text), &d);
    } catch (const description_error& e) {
        *error = name + ": " + (e.place.empty() ? "/" : e.place) + ": " + e.reason;
        return false;
    } catch (const json::exception& e) {
        // Whatever else the library refuses: still one line with the file.
        *error = name + ": /: " + library_reason(e);
        return false;
    }
    *out = std::move(d);
    return true;
}

bool load_description(const std::string& path, description* out, std::string* error)
{
    // A description is a few kilobytes; a megabyte is no description.
    constexpr uint64_t MAX_BYTES = 1 << 20;
    std::string text, why;
    if (!norvane::read_regular_file(path, MAX_BYTES, text, why)) {
        *error = path + ": cannot be read: " + why;
        return false;
    }
    return parse_description(text, path, out, error);
}

std::string description_json(const description& d)
{
    using ordered = nlohmann::ordered_json;
    ordered modules = ordered::array();
    for (int m = 0; m < MODULE_COUNT; ++m) {
        ordered j{{"name", d.module_names[m]}};
        if (m < INPUT_MODULES) {
            ordered channels = ordered::array();
            for (const channel_description& c : d.channels[m]) {
                ordered jc{{"label", c.label}, {"kind", kind_name(c.kind)}};
                if (c.tank >= 0) {
                    jc["tank"] = c.tank + 1;
                    jc["empty_mv"] = c.curve.empty_mv;
                    jc["full_mv"] = c.curve.full_mv;
                    jc["max_mv"] = c.curve.max_mv;
                }
                channels.push_back(jc);
            }
            j["channels"] = channels;
        } else {
            j["outputs"] = d.output_labels[m - INPUT_MODULES];
        }
        modules.push_back(j);
    }
    return ordered{{"modules", modules}}.dump(2) + "\n";
}

}  // namespace installation
