// The kinds of simulated module: one table of operations per kind, and the
// registry that lists them in bus order. A kind says how many of its modules
// the bus has and their names, what its modules carry in the description
// (the shipped default, the file's member, read and written), the frames
// they put on the bus and take from it (identifiers and bytes), and those
// frames as named signals for the decoder and the DBC file. The description
// parser and writer, the shipped default and the bus's message table walk
// the registry; the plant builds and reads its frames with the kinds' frame
// functions below, so the plant and the decoder cannot disagree about a
// frame. A kind is added with its own file `module_NAME.cpp` and one row in
// module_kinds.cpp (the plant's state and setters, the scenario verbs and
// the panel still name the kinds: docs/architecture.md lists them).
//
// Inside the installation library only: the readers take the JSON library's
// values, which the rest of the host never sees.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "seam/can.h"
#include "host/bus/bus_message.h"
#include "host/installation/installation.h"

namespace installation {

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
};

// The kinds in bus order (their modules take the indices 0..MODULE_COUNT-1
// in this order); nullptr past the last.
const module_kind* module_kind_at(int index);
// The kind of module index m (0..MODULE_COUNT-1) and its number within the
// kind; nullptr when m is out of range.
const module_kind* module_kind_of(int m, int* n);

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

// Each kind's frames as the plant sends and hears them (the identifiers and
// bytes live in the kind's file, beside its rows for the decoder).
// Input module m's channel c: its identifier, and its data bytes from the
// channel's state (a switch) or millivolts (SENB4).
uint32_t input_channel_id(int m, int c);
void fill_input_channel_frame(int m, uint8_t on, uint16_t mv, can_frame* f);
// Power module p's status and codes frames from its outputs (identifiers and
// data; the caller sets the rest).
void fill_power_frames(int p, const output_view* outputs, can_frame* status, can_frame* codes);
// The power module a command frame from the unit is for, -1 when none; the
// command it gives output o (0 off, 1 on).
int power_command_target(const can_frame& frame);
uint8_t power_command_of(const can_frame& frame, int output);

}  // namespace installation
