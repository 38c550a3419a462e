// The power modules, PWRB1-PWRB8: eight outputs each, switched by the
// unit's command frame; each reports its outputs' fault states and codes in
// a status and a codes frame (outputs 1 to 7 only).
#include "host/installation/module_kind.h"

namespace installation {

namespace {

constexpr uint32_t OUTPUT_STATUS_ID = 0x18FFA0B0u;   // + p
constexpr uint32_t OUTPUT_CODES_ID = 0x18FFA1B0u;    // + p
constexpr uint32_t OUTPUT_COMMAND_ID = 0x18EFB000u;  // + p x 256

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

}  // namespace

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

extern const module_kind module_kind_power = {"PWRB", "outputs", POWER_MODULES, fill_default, read, write, bus_messages};

}  // namespace installation
