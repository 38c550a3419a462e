// The kinds of simulated module: one table of operations per kind, and the
// registry that lists them in bus order. A kind says how many of its modules
// the bus has and their names, what its modules carry in the description
// (the shipped default, the file's member, read and written), its frames as
// named signals for the decoder and the DBC file, its modules' live state in
// the plant (which frames fall due when, what a frame from the unit does),
// the verbs that change that state from a scenario line or the panel, and
// the panel's controls that use them.
// The description parser and writer, the bus's message table, the plant,
// the scenario's verb table and the panel walk the registry: a kind is added
// with its own file `module_NAME.cpp` and one row in module_kinds.cpp.
//
// Inside the installation library only: the readers take the JSON library's
// values, which the rest of the host never sees.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "seam/can.h"
#include "host/bus/bus_message.h"
#include "host/installation/installation.h"
#include "host/installation/panel_controls.h"
#include "host/installation/plant_action.h"

namespace installation {

// One module's live state in the plant. The plant holds its lock around
// every call, so a module guards nothing. `s` is the snapshot a UI reads:
// the module keeps its own fields of it up to date.
class module_state {
public:
    virtual ~module_state() = default;
    // The plant's first step, at now_ms: the module's frames fall due from
    // now on.
    virtual void start(uint32_t now_ms) = 0;
    // Advances the module to now_ms and queues in `out` the frames that fall
    // due (none while it is silent: `talking` false); returns the unit ms
    // from which it next has something to do. The plant calls it at that
    // time, or sooner after a setter touched the plant.
    virtual uint32_t step(uint32_t now_ms, bool talking, std::deque<can_frame>& out, snapshot& s) = 0;
    // A frame from the unit that the kind's `hears` gave to this module.
    virtual void on_frame(const can_frame& frame, bool talking, snapshot& s)
    {
        (void)frame, (void)talking, (void)s;
    }
    // An action of one of the kind's verbs; one it does not know, or out of
    // range, does nothing.
    virtual void act(const plant_action& action, snapshot& s) = 0;
    // The kind's own setting beside talking (module_kind::setting_on).
    virtual void set_setting(bool on, snapshot& s) { (void)on, (void)s; }
};

struct module_kind {
    const char* prefix;   // its modules are PREFIX1, PREFIX2, ... on the bus
    const char* payload;  // the description's member of what a module carries: "channels"
    int count;            // how many of its modules the bus has
    // Module `n` (0-based within the kind) as the shipped description has it.
    void (*fill_default)(int n, description* d);
    // Reads module n's object `j` (at JSON path `path`) into `d`; throws
    // description_error for what the file gets wrong.
    void (*read)(const nlohmann::json& j, const std::string& path, int n, description* d);
    // Module n's payload member as the file holds it.
    nlohmann::ordered_json (*write)(const description& d, int n);
    // Module n's frames as named signals, in identifier order.
    void (*bus_messages)(const description& d, int n, std::vector<norvane::bus_message>& out);
    // Module n's live state, at rest as the description has it; it sets its
    // fields of the plant's first snapshot `s`.
    std::unique_ptr<module_state> (*make_state)(const description& d, int n, snapshot& s);
    // The module a frame from the unit is for (0-based within the kind), -1
    // when none; nullptr when the kind hears nothing. Called without the
    // plant's lock: it reads the frame only.
    int (*hears)(const can_frame& frame);
    // The kind's verbs in the usage's order, nullptr-terminated.
    const plant_verb* const* verbs;
    // A setting of its modules beside talking, set by "module NAME WORD":
    // the words that turn it on and off and its usage line; nullptr when the
    // kind has none.
    const char* setting_on;
    const char* setting_off;
    const char* setting_usage;
    // The kind's boxes on the panel (its modules' controls), a control's
    // reading, and what a module box says of one of its modules that is off.
    void (*panel)(const description& d, std::vector<panel_group>& out);
    panel_reading (*read_panel)(const description& d, const snapshot& s, const panel_control& c);
    const char* silent_tip;
};

// The kinds in bus order (their modules take the indices 0..module_count()-1
// in this order); nullptr past the last.
const module_kind* module_kind_at(int index);
// The kind of module index m (0..module_count()-1) and its number within
// the kind; nullptr when m is out of range.
const module_kind* module_kind_of(int m, int* n);
// The index of the kind's module n.
int module_index(const module_kind* kind, int n);

// "SENB1-4 then PWRB1-8": the modules' order for the description's errors.
std::string module_order_text();

// A fault of the description file: its JSON path and the reason.
struct description_error {
    std::string place, reason;
};

// The description readers' checks, shared by the kinds: each throws
// description_error with the path of what it finds wrong.
const nlohmann::json& member(const nlohmann::json& object, const std::string& path, const char* key);
std::string text_at(const nlohmann::json& v, const std::string& path);
// One line of printable text (a panel label, a row of the outputs file).
std::string label_at(const nlohmann::json& v, const std::string& path);
uint16_t millivolts_at(const nlohmann::json& object, const std::string& path, const char* key);
const nlohmann::json& array_at(const nlohmann::json& object, const std::string& path, const char* key,
                               size_t size);

// A frame the plant sends at now_ms: extended, eight bytes of 0.
can_frame module_frame(uint32_t id, uint32_t now_ms);

// Whether unit ms `at` has come at `now` (on a clock that wraps).
inline bool module_due(uint32_t now, uint32_t at)
{
    return int32_t(now - at) >= 0;
}

// `at` moved to `candidate` when that comes first.
inline void module_earliest(uint32_t& at, uint32_t candidate)
{
    if (int32_t(candidate - at) < 0)
        at = candidate;
}

// "PREFIXn" with n in 1..count: n - 1, else -1 (the verbs' module names).
int module_number(std::string_view word, std::string_view prefix, int count);
// The end of a verb's line: "" when nothing is left, else the reason.
std::string nothing_at_end(std::string_view rest);

}  // namespace installation
