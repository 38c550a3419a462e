// The registry of module kinds, in bus order. A new kind is one file
// defining its module_kind table, and one row here. Beside the registry: the
// verb every kind shares ("module"), and the verbs' list.
#include "host/installation/module_kind.h"

#include "host/common/scenario_words.h"

namespace installation {

extern const module_kind module_kind_input;
extern const module_kind module_kind_power;

namespace {

const module_kind* const KINDS[] = {
    &module_kind_input,
    &module_kind_power,
};

constexpr int KIND_COUNT = int(sizeof KINDS / sizeof KINDS[0]);

using norvane::quote_word;
using norvane::take_word;

// "SENB1 to SENB4 or PWRB1 to PWRB8" (sep " to "), "SENB1..4, PWRB1..8"
// (sep "..", last ", "): every kind's modules.
std::string module_ranges(const char* sep, const char* last)
{
    std::string text;
    for (int k = 0; k < KIND_COUNT; ++k) {
        const module_kind* kind = KINDS[k];
        if (k > 0)
            text += k + 1 < KIND_COUNT ? ", " : last;
        text += kind->prefix + std::string("1") + sep;
        if (std::string(sep) == " to ")
            text += kind->prefix;
        text += std::to_string(kind->count);
    }
    return text;
}

std::string parse_module(std::string_view rest, plant_action& p)
{
    const std::string_view module = take_word(rest);
    const module_kind* kind = nullptr;
    int n = -1;
    for (int k = 0; k < KIND_COUNT && n < 0; ++k) {
        n = module_number(module, KINDS[k]->prefix, KINDS[k]->count);
        kind = KINDS[k];
    }
    if (n < 0)
        return "expected a module " + module_ranges(" to ", " or ") + ", found " + quote_word(module);
    p.module = module_index(kind, n);
    const std::string_view what = take_word(rest);
    if (what == "on" || what == "off") {
        p.state = 0;
        p.on = what == "on";
    } else if (kind->setting_on && (what == kind->setting_on || what == kind->setting_off)) {
        p.state = 1;
        p.on = what == kind->setting_on;
    } else {
        const std::string setting =
            kind->setting_on ? ", " + std::string(kind->setting_on) + " or " + kind->setting_off : "";
        return "expected on or off" + setting + " after " + quote_word(module) + ", found " + quote_word(what);
    }
    return nothing_at_end(rest);
}

std::string format_module(const plant_action& p)
{
    int n = 0;
    const module_kind* kind = module_kind_of(p.module, &n);
    if (!kind)
        return "";
    const std::string name = kind->prefix + std::to_string(n + 1);
    if (p.state != 0 && kind->setting_on)
        return name + " " + (p.on ? kind->setting_on : kind->setting_off);
    return name + (p.on ? " on" : " off");
}

// Every kind's verbs in bus order, then "module".
std::vector<const plant_verb*> all_verbs()
{
    std::vector<const plant_verb*> verbs;
    for (const module_kind* kind : KINDS)
        for (const plant_verb* const* v = kind->verbs; v && *v; ++v)
            verbs.push_back(*v);
    verbs.push_back(module_verb());
    return verbs;
}

const std::vector<const plant_verb*>& verbs()
{
    static const std::vector<const plant_verb*> list = all_verbs();
    return list;
}

}  // namespace

int module_count()
{
    int count = 0;
    for (const module_kind* kind : KINDS)
        count += kind->count;
    return count;
}

const module_kind* module_kind_at(int index)
{
    return index >= 0 && index < KIND_COUNT ? KINDS[index] : nullptr;
}

const module_kind* module_kind_of(int m, int* n)
{
    if (m < 0)
        return nullptr;
    for (const module_kind* kind : KINDS) {
        if (m < kind->count) {
            *n = m;
            return kind;
        }
        m -= kind->count;
    }
    return nullptr;
}

int module_index(const module_kind* kind, int n)
{
    int first = 0;
    for (const module_kind* k : KINDS) {
        if (k == kind)
            return first + n;
        first += k->count;
    }
    return -1;
}

std::string module_order_text()
{
    std::string text;
    for (const module_kind* kind : KINDS)
        text += (text.empty() ? "" : " then ") + std::string(kind->prefix) + "1-" + std::to_string(kind->count);
    return text;
}

void add_module_messages(const description& d, std::vector<norvane::bus_message>& out)
{
    for (int m = 0; m < module_count(); ++m) {
        int n = 0;
        if (const module_kind* kind = module_kind_of(m, &n))
            kind->bus_messages(d, n, out);
    }
}

can_frame module_frame(uint32_t id, uint32_t now_ms)
{
    can_frame f{};
    f.id = id;
    f.ext = 1;
    f.len = 8;
    f.time_us = uint64_t(now_ms) * 1000;
    return f;
}

int module_number(std::string_view word, std::string_view prefix, int count)
{
    if (word.size() != prefix.size() + 1 || word.substr(0, prefix.size()) != prefix)
        return -1;
    const int n = word.back() - '0';
    return n >= 1 && n <= count ? n - 1 : -1;
}

std::string nothing_at_end(std::string_view rest)
{
    return rest.empty() ? "" : "unexpected " + quote_word(rest) + " at the end of the line";
}

const plant_verb* module_verb()
{
    static const std::string usage = [] {
        std::string text = "  MS module NAME on|off         module NAME (" + module_ranges("..", ", ") +
                           ") talks or falls silent\n";
        for (const module_kind* kind : KINDS)
            if (kind->setting_usage)
                text += kind->setting_usage;
        return text;
    }();
    static const plant_verb verb{"module", usage.c_str(), parse_module, format_module};
    return &verb;
}

std::vector<panel_group> panel_groups(const description& d)
{
    std::vector<panel_group> groups;
    for (const module_kind* kind : KINDS)
        if (kind->panel)
            kind->panel(d, groups);
    return groups;
}

panel_reading read_control(const description& d, const snapshot& s, const panel_control& c)
{
    int n = 0;
    const module_kind* kind = module_kind_of(c.module, &n);
    return kind && kind->read_panel ? kind->read_panel(d, s, c) : panel_reading{};
}

const char* module_silent_tip(int m)
{
    int n = 0;
    const module_kind* kind = module_kind_of(m, &n);
    return kind && kind->silent_tip ? kind->silent_tip : "Off: the module falls silent (sends nothing)";
}

const plant_verb* plant_verb_at(size_t index)
{
    return index < verbs().size() ? verbs()[index] : nullptr;
}

const plant_verb* plant_verb_named(std::string_view word)
{
    for (const plant_verb* verb : verbs())
        if (word == verb->word)
            return verb;
    return nullptr;
}

}  // namespace installation
