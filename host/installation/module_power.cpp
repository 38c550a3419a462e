// The power modules, PWRB1-PWRB8: eight outputs each, switched by the
// unit's command frame; each reports its outputs' fault states and codes in
// a status and a codes frame (outputs 1 to 7 only).
#include "host/installation/module_kind.h"

#include "host/common/scenario_words.h"

namespace installation {

namespace {

constexpr uint32_t OUTPUT_STATUS_ID = 0x18FFA0B0u;   // + p
constexpr uint32_t OUTPUT_CODES_ID = 0x18FFA1B0u;    // + p
constexpr uint32_t OUTPUT_COMMAND_ID = 0x18EFB000u;  // + p x 256

// A module sends status and codes every 100 ms, the eight 12 ms apart.
constexpr uint32_t PERIOD_MS = 100;
constexpr uint32_t MODULE_SPACING_MS = 12;

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

void fill_default(int p, description* d)
{
    for (int o = 0; o < POWER_OUTPUTS; ++o)
        d->output_labels[p][o] = OUTPUTS[p][o];
}

void read(const nlohmann::json& j, const std::string& path, int p, description* d)
{
    const nlohmann::json& outputs = array_at(j, path, "outputs", POWER_OUTPUTS);
    for (int o = 0; o < POWER_OUTPUTS; ++o)
        d->output_labels[p][o] = label_at(outputs[size_t(o)], path + "/outputs/" + std::to_string(o));
}

nlohmann::ordered_json write(const description& d, int p)
{
    nlohmann::ordered_json outputs = nlohmann::ordered_json::array();
    for (const std::string& label : d.output_labels[p])
        outputs.push_back(label);
    return outputs;
}

void bus_messages(const description& d, int p, std::vector<norvane::bus_message>& out)
{
    const std::string& module = d.module_names[power_module_index(p)];
    const auto* labels = d.output_labels[p];
    norvane::bus_message status = norvane::bus_message_row(OUTPUT_STATUS_ID + uint32_t(p), true, module + "_STATUS",
                                                  "MSG_OUTPUT_STATUS", module, module, "UNIT");
    // Outputs 1-4 in byte 1, 5-7 in byte 2, two bits each.
    for (int o = 0; o < REPORTED_OUTPUTS; ++o)
        status.fields.push_back(norvane::bus_field("out" + std::to_string(o + 1) + "_state", labels[o], uint8_t(8 + 2 * o), 2));
    out.push_back(std::move(status));

    norvane::bus_message codes = norvane::bus_message_row(OUTPUT_CODES_ID + uint32_t(p), true, module + "_CODES",
                                                 "MSG_OUTPUT_CODES", module, module, "UNIT");
    // Outputs 1-7 from byte 1 on, a nibble each, low nibble first.
    for (int o = 0; o < REPORTED_OUTPUTS; ++o)
        codes.fields.push_back(norvane::bus_field("out" + std::to_string(o + 1) + "_code", labels[o], uint8_t(8 + 4 * o), 4));
    out.push_back(std::move(codes));

    norvane::bus_message command = norvane::bus_message_row(OUTPUT_COMMAND_ID + uint32_t(p) * 256u, true, module + "_COMMAND",
                                                   "MSG_OUTPUT_COMMAND", module, "UNIT", module, 6);
    // Outputs 1-4 in byte 2, 5-8 in byte 3, two bits each.
    for (int o = 0; o < POWER_OUTPUTS; ++o)
        command.fields.push_back(norvane::bus_field("out" + std::to_string(o + 1) + "_command", labels[o], uint8_t(16 + 2 * o),
                                           2, norvane::bus_value_names::off_on));
    out.push_back(std::move(command));
}

void fill_power_frames(int p, const output_view* o, can_frame* status, can_frame* codes)
{
    status->id = OUTPUT_STATUS_ID + uint32_t(p);
    status->data[1] = uint8_t((o[0].state & 3) | (o[1].state & 3) << 2 | (o[2].state & 3) << 4 | (o[3].state & 3) << 6);
    status->data[2] = uint8_t((o[4].state & 3) | (o[5].state & 3) << 2 | (o[6].state & 3) << 4);
    codes->id = OUTPUT_CODES_ID + uint32_t(p);
    codes->data[1] = uint8_t((o[0].code & 15) | (o[1].code & 15) << 4);
    codes->data[2] = uint8_t((o[2].code & 15) | (o[3].code & 15) << 4);
    codes->data[3] = uint8_t((o[4].code & 15) | (o[5].code & 15) << 4);
    codes->data[4] = uint8_t(o[6].code & 15);
}

int power_command_target(const can_frame& frame)
{
    if (!frame.ext || frame.rtr || frame.len < 4)
        return -1;
    const uint32_t id = frame.id & 0x1FFFFFFFu;
    if ((id & 0x1FFFF0FFu) != (OUTPUT_COMMAND_ID & 0x1FFFF0FFu))
        return -1;
    const uint32_t p = ((id >> 8) & 0xFF) - 0xB0;
    return p < uint32_t(POWER_MODULES) ? int(p) : -1;
}

uint8_t power_command_of(const can_frame& frame, int output)
{
    // Outputs 1-4 in byte 2, 5-8 in byte 3, two bits each.
    return uint8_t((frame.data[2 + output / 4] >> (2 * (output % 4))) & 3);
}

// The plant's side: the module's outputs as the snapshot shows them, its
// status and codes frames every PERIOD_MS, its outputs set by the unit's
// command frames while it obeys.
class power_state : public module_state {
public:
    power_state(int p, snapshot& s) : p_(p) { s.obeying[p] = true; }

    void start(uint32_t now_ms) override { next_ms_ = now_ms + uint32_t(p_) * MODULE_SPACING_MS; }

    uint32_t step(uint32_t now_ms, bool talking, std::deque<can_frame>& out, snapshot& s) override
    {
        bool periodic = module_due(now_ms, next_ms_);
        while (module_due(now_ms, next_ms_))
            next_ms_ += PERIOD_MS;
        if (periodic && talking) {
            can_frame status = module_frame(0, now_ms);
            can_frame codes = module_frame(0, now_ms);
            fill_power_frames(p_, s.outputs[p_], &status, &codes);
            out.push_back(status);
            out.push_back(codes);
        }
        return next_ms_;
    }

    void on_frame(const can_frame& frame, bool talking, snapshot& s) override
    {
        if (!talking)
            return;
        ++s.commands_taken;
        if (!s.obeying[p_])
            return;
        for (int o = 0; o < POWER_OUTPUTS; ++o)
            s.outputs[p_][o].command = power_command_of(frame, o);
    }

    void act(const plant_action& a, snapshot& s) override;

    void set_setting(bool obeys, snapshot& s) override { s.obeying[p_] = obeys; }

private:
    const int p_;
    uint32_t next_ms_ = 0;
};

std::unique_ptr<module_state> make_state(const description&, int p, snapshot& s)
{
    return std::make_unique<power_state>(p, s);
}

// The verb: an output reports a fault state and code.

using norvane::parse_small;
using norvane::quote_word;
using norvane::take_word;

extern const plant_verb FAULT_VERB;

std::string parse_fault(std::string_view rest, plant_action& p)
{
    p.verb = &FAULT_VERB;
    const std::string_view module = take_word(rest);
    const int pwrb = module_number(module, "PWRB", POWER_MODULES);
    if (pwrb < 0)
        return "expected a power module PWRB1 to PWRB8, found " + quote_word(module);
    p.module = power_module_index(pwrb);
    const std::string_view output = take_word(rest);
    if (!parse_small(output, 1, REPORTED_OUTPUTS, p.channel))
        return "output must be 1 to 7 (the outputs that report state and code), found " + quote_word(output);
    --p.channel;
    const std::string_view state = take_word(rest);
    if (!parse_small(state, 0, 3, p.state))
        return "state must be 0 to 3, found " + quote_word(state);
    const std::string_view code = take_word(rest);
    if (!parse_small(code, 0, 15, p.code))
        return "code must be 0 to 15, found " + quote_word(code);
    return nothing_at_end(rest);
}

std::string format_fault(const plant_action& a)
{
    return "PWRB" + std::to_string(a.module - power_module_index(0) + 1) + " " + std::to_string(a.channel + 1) + " " +
           std::to_string(a.state) + " " + std::to_string(a.code);
}

const plant_verb FAULT_VERB{"fault", "  MS fault PWRBp OUT STATE CODE output OUT (1..7) reports STATE (0..3), CODE (0..15)\n",
                            parse_fault, format_fault};
const plant_verb* const VERBS[] = {&FAULT_VERB, nullptr};

// The panel: a row of lamps per module, and a chooser of the outputs that
// report a fault.
void panel(const description& d, std::vector<panel_group>& out)
{
    panel_group lamps{"Outputs", {}};
    panel_group faults{"Output fault", {}};
    for (int p = 0; p < POWER_MODULES; ++p) {
        const int m = power_module_index(p);
        const std::string& module = d.module_names[size_t(m)];
        panel_control head;
        head.text = module;
        head.row = p;
        lamps.controls.push_back(head);
        for (int o = 0; o < POWER_OUTPUTS; ++o) {
            const std::string& label = d.output_labels[p][o];
            panel_control lamp;
            lamp.form = control_form::lamp;
            lamp.module = m;
            lamp.channel = o;
            lamp.name = "lamp_" + std::to_string(p + 1) + "_" + std::to_string(o + 1);
            lamp.tip = module + " output " + std::to_string(o + 1) + (label.empty() ? "" : ": " + label);
            lamp.row = p;
            lamp.column = o + 1;
            lamps.controls.push_back(lamp);
            if (o >= REPORTED_OUTPUTS)
                continue;
            panel_control fault;
            fault.form = control_form::fault;
            fault.verb = &FAULT_VERB;
            fault.module = m;
            fault.channel = o;
            fault.text = module + "/" + std::to_string(o + 1);
            fault.tip = "Outputs 1 to 7: the status and codes messages carry no state or code for output 8";
            faults.controls.push_back(fault);
        }
    }
    out.push_back(std::move(lamps));
    out.push_back(std::move(faults));
}

panel_reading read_panel(const description&, const snapshot& s, const panel_control& c)
{
    panel_reading r;
    const int p = c.module - power_module_index(0);
    if (c.form != control_form::lamp || p < 0 || p >= POWER_MODULES || c.channel < 0 || c.channel >= POWER_OUTPUTS)
        return r;
    const output_view& o = s.outputs[p][c.channel];
    r.lit = o.lit();
    r.fault = o.state != 0 || o.code != 0;
    return r;
}

void power_state::act(const plant_action& a, snapshot& s)
{
    if (a.verb != &FAULT_VERB || a.channel < 0 || a.channel >= REPORTED_OUTPUTS)
        return;
    s.outputs[p_][a.channel].state = uint8_t(a.state & 3);
    s.outputs[p_][a.channel].code = uint8_t(a.code & 15);
}

}  // namespace

void plant::set_fault(int pwrb, int output, uint8_t state, uint8_t code)
{
    if (pwrb < 0 || pwrb >= POWER_MODULES)
        return;
    plant_action a;
    a.verb = &FAULT_VERB;
    a.module = power_module_index(pwrb);
    a.channel = output;
    a.state = state;
    a.code = code;
    act(a);
}

void plant::set_obeying(int pwrb, bool obeys)
{
    if (pwrb < 0 || pwrb >= POWER_MODULES)
        return;
    plant_action a;
    a.verb = module_verb();
    a.module = power_module_index(pwrb);
    a.state = 1;
    a.on = obeys;
    act(a);
}

extern const module_kind module_kind_power = {
    "PWRB", "outputs", POWER_MODULES, fill_default, read, write, bus_messages, make_state, power_command_target, VERBS,
    "obey", "ignore", "  MS module PWRBp ignore|obey   a power module stops (or resumes) obeying commands\n", panel, read_panel,
    "Off: the module falls silent: it sends no status and takes no commands; its outputs keep their last state, "
    "shown as unknown (?)"};

}  // namespace installation
