#include "host/core/expectation.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "seam/can_candump.h"
#include "host/common/regular_file.h"
#include "host/core/bus_signals.h"
#include "host/core/frame_convert.h"
#include "host/common/scenario_words.h"
#include "host/core/screen_check.h"

namespace norvane {
namespace {

// The bus's messages as 'expect signal' reads them. Signal names do not
// depend on the installation's labels, so the default table serves every run.
const BusDecoder& signal_decoder()
{
    static const BusDecoder decoder;
    return decoder;
}

bool parse_number(std::string_view text, uint64_t high, uint64_t& out)
{
    return parse_ms(text, out) && out <= high;
}

// "ID#DATA" where a data byte may be "..": the frame with those bytes 0 and
// `care` without their bits.
bool parse_frame_pattern(std::string_view text, can_frame& frame, uint8_t& care, std::string& why)
{
    std::string plain(text);
    care = 0xFF;
    const size_t hash = plain.find('#');
    if (hash != std::string::npos && hash + 1 < plain.size() && plain[hash + 1] != 'R' &&
        plain[hash + 1] != 'r') {
        for (size_t i = hash + 1, byte = 0; i + 1 < plain.size() && byte < 8; i += 2, ++byte)
            if (plain[i] == '.' && plain[i + 1] == '.') {
                plain[i] = plain[i + 1] = '0';
                care = uint8_t(care & ~(1u << byte));
            }
    }
    if (!can_parse_candump(plain, frame, why))
        return false;
    care = uint8_t(care & ((1u << frame.len) - 1u));
    return true;
}

// TEXT of "expect file": \n, \t, \\ and \# stand for a line end, a tab, a
// backslash and a '#' that would otherwise start a comment.
bool unescape(std::string_view text, std::string& out, std::string& why)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        const char c = i + 1 < text.size() ? text[++i] : '\0';
        switch (c) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        case '#': out += '#'; break;
        default:
            why = c ? std::string("unknown escape '\\") + c + "' in the text; use \\n, \\t, \\\\ or \\#"
                    : std::string("a lone '\\' ends the text; use \\\\ for a backslash");
            return false;
        }
    }
    return true;
}

std::string escape(std::string_view text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        case '#': out += "\\#"; break;
        default: out += c;
        }
    }
    return out;
}

// A file's text for a message: escaped, other control bytes as \xNN, cut
// after 80 characters.
std::string shown_text(std::string_view text)
{
    std::string out = "\"";
    size_t shown = 0;
    for (char c : text) {
        if (++shown > 80) {
            out += "...";
            break;
        }
        if (c == '"') {
            out += "\\\"";
        } else if ((unsigned char)c < 0x20 && c != '\n' && c != '\t') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", unsigned((unsigned char)c));
            out += hex;
        } else {
            out += escape(std::string_view(&c, 1));
        }
    }
    return out + "\"";
}

bool unit_path_ok(std::string_view path)
{
    if (path.size() < 2 || path[0] != '/')
        return false;
    std::string_view rest = path.substr(1);
    while (!rest.empty()) {
        const size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        if (part.empty() || part == "." || part == "..")
            return false;
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    return true;
}

std::string id_text(const can_frame& frame)
{
    char text[16];
    std::snprintf(text, sizeof text, frame.ext ? "%08X" : "%03X", unsigned(frame.id));
    return text;
}

std::string parse_can_or_no_can(bool positive, std::string_view rest, expectation& out)
{
    out.kind = positive ? expect_kind::can : expect_kind::no_can;
    out.window_ms = positive ? EXPECT_CAN_WITHIN_MS : EXPECT_NO_CAN_FOR_MS;
    const std::string_view port = take_word(rest);
    uint64_t p = 0;
    if (!parse_number(port, CAN_PORT_COUNT - 1, p))
        return "CAN port must be 0 or 1, found '" + std::string(port) + "'";
    out.port = int(p);
    const std::string_view frame = take_word(rest);
    std::string why;
    if (positive) {
        if (frame.empty())
            return "expected a frame ID#DATA after the port ('..' for a byte that does not matter)";
        if (!parse_frame_pattern(frame, out.frame, out.care, why))
            return "malformed frame '" + std::string(frame) + "': " + why;
    } else {
        if (frame.empty())
            return "expected an identifier after the port (3 or 8 hex digits)";
        if (frame.find('#') != std::string_view::npos)
            return "'expect no-can' takes an identifier without data, found '" + std::string(frame) + "'";
        if (!can_parse_candump(std::string(frame) + "#", out.frame, why))
            return "malformed identifier '" + std::string(frame) + "': " + why;
    }
    const char* const window = positive ? "within" : "for";
    const std::string_view word = take_word(rest);
    if (word.empty())
        return "";
    if (word != window)
        return "unexpected '" + std::string(word) + "' after '" + std::string(frame) + "'; expected '" +
               window + " MS'";
    const std::string_view ms = take_word(rest);
    if (!parse_ms(ms, out.window_ms))
        return std::string("'") + window + "' needs a whole number of milliseconds, found '" +
               std::string(ms) + "'";
    if (!rest.empty())
        return "unexpected '" + std::string(rest) + "' after '" + std::string(ms) + "'";
    return "";
}

std::string parse_screen(std::string_view rest, expectation& out)
{
    out.kind = expect_kind::screen;
    // The file name is the rest of the line, blanks included, except a
    // closing "max-diff N".
    const size_t key = rest.rfind(" max-diff ");
    if (key != std::string_view::npos) {
        std::string_view tail = rest.substr(key + 10);
        const std::string_view n = take_word(tail);
        uint64_t v = 0;
        if (!tail.empty() || !parse_number(n, uint64_t(GFX_WIDTH) * GFX_HEIGHT, v))
            return "'max-diff' needs a number of pixels (0 to " + std::to_string(GFX_WIDTH * GFX_HEIGHT) +
                   "), found '" + std::string(rest.substr(key + 10)) + "'";
        out.max_diff = uint32_t(v);
        rest = rest.substr(0, key);
        while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t'))
            rest.remove_suffix(1);
    }
    if (rest.empty())
        return "expected a reference picture FILE.png after 'screen'";
    std::string ext(rest.substr(rest.size() < 4 ? 0 : rest.size() - 4));
    for (char& c : ext)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (rest.size() < 5 || ext != ".png")
        return "reference picture '" + std::string(rest) + "' must be a .png file";
    out.file = rest;
    out.reference = out.file;
    return "";
}

std::string parse_pixel(std::string_view rest, expectation& out)
{
    out.kind = expect_kind::pixel;
    const std::string_view x = take_word(rest);
    const std::string_view y = take_word(rest);
    const std::string_view rgb = take_word(rest);
    uint64_t v = 0;
    if (!parse_number(x, GFX_WIDTH - 1, v))
        return "X must be 0 to " + std::to_string(GFX_WIDTH - 1) + ", found '" + std::string(x) + "'";
    out.x = int(v);
    if (!parse_number(y, GFX_HEIGHT - 1, v))
        return "Y must be 0 to " + std::to_string(GFX_HEIGHT - 1) + ", found '" + std::string(y) + "'";
    out.y = int(v);
    const char* const end = rgb.data() + rgb.size();
    if (rgb.size() != 6 || std::from_chars(rgb.data(), end, out.rgb, 16).ptr != end)
        return "colour must be RRGGBB (6 hex digits), found '" + std::string(rgb) + "'";
    if (!rest.empty())
        return "unexpected '" + std::string(rest) + "' after '" + std::string(rgb) + "'";
    return "";
}

std::string parse_file(std::string_view rest, expectation& out)
{
    out.kind = expect_kind::file;
    const std::string_view path = take_word(rest);
    if (path.empty())
        return "expected a path of the unit's file system after 'file', for example /app/event/app_reply";
    if (!unit_path_ok(path))
        return "path '" + std::string(path) +
               "' must start with '/' and name a file of the unit's file system without '.' or '..'";
    out.file = path;
    std::string why;
    if (!unescape(rest, out.text, why))
        return why;
    return "";
}

std::string parse_output(std::string_view rest, expectation& out)
{
    out.kind = expect_kind::output;
    const std::string_view module = take_word(rest);
    if (module.size() != 5 || module.substr(0, 4) != "PWRB" || module[4] < '1' || module[4] > '8')
        return "expected a power module PWRB1 to PWRB8 after 'output', found '" + std::string(module) + "'";
    out.pwrb = module[4] - '1';
    const std::string_view output = take_word(rest);
    uint64_t n = 0;
    if (!parse_number(output, 8, n) || n < 1)
        return "output must be 1 to 8, found '" + std::string(output) + "'";
    out.output = int(n) - 1;
    const std::string_view state = take_word(rest);
    if (state != "on" && state != "off")
        return "expected on or off after the output, found '" + std::string(state) + "'";
    out.on = state == "on";
    if (!rest.empty())
        return "unexpected '" + std::string(rest) + "' after '" + std::string(state) + "'";
    return "";
}

std::string parse_signal(std::string_view rest, expectation& out)
{
    out.kind = expect_kind::signal;
    out.port = 0;
    out.window_ms = EXPECT_CAN_WITHIN_MS;
    const std::string_view module = take_word(rest);
    const std::string_view signal = take_word(rest);
    const std::string_view value = take_word(rest);
    if (module.empty() || signal.empty() || value.empty())
        return "expected MODULE SIGNAL VALUE after 'signal', for example 'signal PWRB1 out3_command on'";
    const BusDecoder& decoder = signal_decoder();
    const bus_message* message = nullptr;
    const bus_signal* s = decoder.find_signal(std::string(module), std::string(signal), &message);
    if (!s) {
        std::string known;
        for (const bus_message& m : decoder.messages())
            if (m.module == module)
                for (const bus_signal& candidate : m.fields)
                    known += (known.empty() ? "" : ", ") + candidate.name;
        if (known.empty())
            return "unknown module '" + std::string(module) + "'; expected SENB1 to SENB4, PWRB1 to PWRB8 or UNIT";
        return "unknown signal '" + std::string(signal) + "' of " + std::string(module) + "; it has " + known;
    }
    out.module = module;
    out.signal = signal;
    out.value_text = value;
    out.frame = {};
    out.frame.id = message->id;
    out.frame.ext = message->ext;
    if (s->names == bus_value_names::off_on && (value == "on" || value == "off")) {
        out.value = value == "on" ? 1.0 : 0.0;
    } else {
        const std::string text(value);
        char* end = nullptr;
        out.value = std::strtod(text.c_str(), &end);
        if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(out.value))
            return "expected a number" + std::string(s->names == bus_value_names::off_on ? ", on or off" : "") +
                   " as the value of " + std::string(signal) + ", found '" + text + "'";
    }
    const std::string_view word = take_word(rest);
    if (word.empty())
        return "";
    if (word != "within")
        return "unexpected '" + std::string(word) + "' after '" + std::string(value) + "'; expected 'within MS'";
    const std::string_view ms = take_word(rest);
    if (!parse_ms(ms, out.window_ms))
        return "'within' needs a whole number of milliseconds, found '" + std::string(ms) + "'";
    if (!rest.empty())
        return "unexpected '" + std::string(rest) + "' after '" + std::string(ms) + "'";
    return "";
}

std::string parse_can(std::string_view rest, expectation& out)
{
    return parse_can_or_no_can(true, rest, out);
}

std::string parse_no_can(std::string_view rest, expectation& out)
{
    return parse_can_or_no_can(false, rest, out);
}

std::string format_can(const expectation& e)
{
    std::string frame = can_format_candump(e.frame);
    const size_t data = frame.find('#') + 1;
    if (!e.frame.rtr)
        for (int i = 0; i < e.frame.len; ++i)
            if (!(e.care & (1u << i)))
                frame.replace(data + size_t(i) * 2, 2, "..");
    return std::to_string(e.port) + " " + frame + " within " + std::to_string(e.window_ms);
}

std::string format_no_can(const expectation& e)
{
    return std::to_string(e.port) + " " + id_text(e.frame) + " for " + std::to_string(e.window_ms);
}

std::string format_screen(const expectation& e)
{
    return e.file + (e.max_diff ? " max-diff " + std::to_string(e.max_diff) : std::string());
}

std::string format_pixel(const expectation& e)
{
    char text[48];
    std::snprintf(text, sizeof text, "%d %d %06X", e.x, e.y, unsigned(e.rgb));
    return text;
}

std::string format_file(const expectation& e)
{
    return e.text.empty() ? e.file : e.file + " " + escape(e.text);
}

std::string format_output(const expectation& e)
{
    return "PWRB" + std::to_string(e.pwrb + 1) + " " + std::to_string(e.output + 1) + (e.on ? " on" : " off");
}

std::string format_signal(const expectation& e)
{
    return e.module + " " + e.signal + " " + e.value_text + " within " + std::to_string(e.window_ms);
}

// One kind of expectation: the word after "expect", its parser (the words
// after the kind into `out`; "" or the reason), its formatter (those words as
// the parser reads them back) and its lines of norvane-run's usage.
struct expect_row {
    const char* word;
    expect_kind kind;
    std::string (*parse)(std::string_view rest, expectation& out);
    std::string (*format)(const expectation& e);
    const char* usage;
};

const expect_row ROWS[] = {
    {"can", expect_kind::can, parse_can, format_can,
     "  MS expect can P ID#DATA [within W]\n"
     "                        the unit sends that frame on port P between MS and MS+W\n"
     "                        (default 100); '..' stands for a data byte that does not matter\n"},
    {"no-can", expect_kind::no_can, parse_no_can, format_no_can,
     "  MS expect no-can P ID [for W]\n"
     "                        no frame with that identifier on port P from MS to MS+W\n"
     "                        (default 100)\n"},
    {"screen", expect_kind::screen, parse_screen, format_screen,
     "  MS expect screen FILE.png [max-diff N]\n"
     "                        the screen at MS is the reference picture FILE.png (relative\n"
     "                        to the scenario file's folder), with at most N pixels apart\n"},
    {"pixel", expect_kind::pixel, parse_pixel, format_pixel,
     "  MS expect pixel X Y RRGGBB\n"
     "                        the pixel at X, Y of the screen at MS has that colour\n"},
    {"file", expect_kind::file, parse_file, format_file,
     "  MS expect file PATH TEXT\n"
     "                        the file PATH of the unit's file system (/app/event/app_reply\n"
     "                        is DIR/rootfs/app/event/app_reply) holds exactly TEXT, the\n"
     "                        rest of the line; \\n, \\t, \\\\ and \\# stand for a line end, a\n"
     "                        tab, a backslash and '#'\n"},
    {"output", expect_kind::output, parse_output, format_output,
     "  MS expect output PWRBp OUT on|off\n"
     "                        with --installation: output OUT (1..8) of PWRBp is lit (or not)\n"},
    {"signal", expect_kind::signal, parse_signal, format_signal,
     "  MS expect signal MODULE SIGNAL VALUE [within W]\n"
     "                        a frame on the bus of port 0 between MS and MS+W (default 100)\n"
     "                        carries SIGNAL of MODULE with VALUE: on or off, or a number\n"
     "                        (within half a step of the signal's resolution); for example\n"
     "                        'expect signal PWRB1 out3_command on', 'expect signal SENB4\n"
     "                        ch1_percent 50'; the signals are those of\n"
     "                        assets/can/norvane_bus.dbc; the modules' own frames need\n"
     "                        --installation\n"},
};

// "can, no-can, ... or signal".
std::string kind_list()
{
    std::string list;
    for (size_t i = 0; i < std::size(ROWS); ++i)
        list += (i == 0 ? "" : i + 1 == std::size(ROWS) ? " or " : ", ") + std::string(ROWS[i].word);
    return list;
}

}  // namespace

std::string expectation_usage()
{
    std::string usage;
    for (const expect_row& row : ROWS)
        usage += row.usage;
    return usage;
}

std::string parse_expectation(std::string_view rest, expectation& out)
{
    const std::string_view kind = take_word(rest);
    if (kind.empty())
        return "expected what to expect after 'expect': " + kind_list();
    for (const expect_row& row : ROWS)
        if (kind == row.word) {
            out.kind = row.kind;
            return row.parse(rest, out);
        }
    return "unknown expectation '" + std::string(kind) + "'; expected " + kind_list();
}

std::string format_expectation(const expectation& e)
{
    for (const expect_row& row : ROWS)
        if (row.kind == e.kind)
            return std::to_string(e.ms) + " expect " + row.word + " " + row.format(e);
    return std::to_string(e.ms) + " expect";
}

std::string expectation_after_end(const expectation& e, uint64_t end_ms)
{
    if (e.ms > end_ms)
        return "expectation at " + std::to_string(e.ms) + " ms is after the end of the run (" +
               std::to_string(end_ms) + " ms)";
    if (e.kind == expect_kind::no_can && e.ms + e.window_ms > end_ms)
        return "the window of 'expect no-can' reaches " + std::to_string(e.ms + e.window_ms) +
               " ms, after the end of the run (" + std::to_string(end_ms) + " ms)";
    return "";
}

bool expectation_names(const expectation& e, const can_frame& frame)
{
    return frame.id == e.frame.id && frame.ext == e.frame.ext;
}

namespace {

// The value of an expectation's signal in a frame with its identifier; false
// when the frame is too short to carry it.
bool signal_in(const expectation& e, const can_frame& frame, const bus_signal*& s, double& value)
{
    s = signal_decoder().find_signal(e.module, e.signal);
    const unsigned len = frame.len > 8 ? 8u : frame.len;
    if (!s || frame.rtr || s->start_bit + s->length > len * 8u)
        return false;
    value = bus_signal_value_of(*s, bus_signal_raw(*s, frame.data));
    return true;
}

}  // namespace

bool expectation_matches(const expectation& e, const can_frame& frame)
{
    if (e.kind == expect_kind::signal) {
        const bus_signal* s = nullptr;
        double value = 0.0;
        if (!expectation_names(e, frame) || !signal_in(e, frame, s, value))
            return false;
        if (s->names == bus_value_names::off_on)
            return (value != 0.0) == (e.value != 0.0);
        // Within half a step of the signal's resolution.
        return std::fabs(value - e.value) <= std::fabs(s->factor) / 2 + 1e-9;
    }
    if (!expectation_names(e, frame) || frame.rtr != e.frame.rtr || frame.len != e.frame.len)
        return false;
    for (int i = 0; i < frame.len && !frame.rtr; ++i)
        if ((e.care & (1u << i)) && frame.data[i] != e.frame.data[i])
            return false;
    return true;
}

ExpectationCheck::ExpectationCheck(std::vector<expectation> expectations, check_options options)
    : list_(std::move(expectations)), options_(std::move(options))
{
    outcomes_.resize(list_.size());
    nearest_.resize(list_.size());
    for (size_t i = 0; i < list_.size(); ++i)
        if (list_[i].kind != expect_kind::can && list_[i].kind != expect_kind::no_can)
            at_ms_.push_back(i);
    std::stable_sort(at_ms_.begin(), at_ms_.end(),
                     [this](size_t a, size_t b) { return list_[a].ms < list_[b].ms; });
}

size_t ExpectationCheck::count(expect_state state) const
{
    size_t n = 0;
    for (const expect_outcome& o : outcomes_)
        n += o.state == state;
    return n;
}

std::vector<std::string> ExpectationCheck::failure_lines() const
{
    std::vector<std::string> lines;
    for (size_t i = 0; i < list_.size(); ++i)
        if (outcomes_[i].state == expect_state::failed)
            lines.push_back(list_[i].where + ": " + format_expectation(list_[i]) + ": " + outcomes_[i].detail);
    return lines;
}

std::vector<std::string> ExpectationCheck::written_lines() const
{
    std::vector<std::string> lines;
    for (size_t i = 0; i < list_.size(); ++i)
        if (outcomes_[i].state == expect_state::written)
            lines.push_back(list_[i].where + ": " + outcomes_[i].detail);
    return lines;
}

void ExpectationCheck::fail(size_t i, std::string detail)
{
    outcomes_[i].state = expect_state::failed;
    outcomes_[i].detail = std::move(detail);
}

void ExpectationCheck::before(uint64_t t, const frame_buffer& screen)
{
    for (; next_at_ < at_ms_.size() && list_[at_ms_[next_at_]].ms < t; ++next_at_) {
        const size_t i = at_ms_[next_at_];
        switch (list_[i].kind) {
        case expect_kind::screen: check_screen(i, screen); break;
        case expect_kind::pixel: check_pixel(i, screen); break;
        case expect_kind::file: check_file(i); break;
        case expect_kind::output: check_output(i); break;
        case expect_kind::can:
        case expect_kind::no_can:
        case expect_kind::signal: break;
        }
    }
}

void ExpectationCheck::sent(uint8_t port, uint64_t ms, const can_frame& frame)
{
    seen(port, ms, frame, true);
}

void ExpectationCheck::heard(uint8_t port, uint64_t ms, const can_frame& frame)
{
    seen(port, ms, frame, false);
}

// 'expect can' and 'no-can' look at the unit's frames; 'expect signal' at
// every frame on the bus.
void ExpectationCheck::seen(uint8_t port, uint64_t ms, const can_frame& frame, bool from_unit)
{
    for (size_t i = 0; i < list_.size(); ++i) {
        const expectation& e = list_[i];
        if (outcomes_[i].state != expect_state::open || e.port != port || !expectation_names(e, frame))
            continue;
        if (!from_unit && e.kind != expect_kind::signal)
            continue;
        const uint64_t last = e.ms + e.window_ms;
        const bool inside = ms >= e.ms && ms <= last;
        if (e.kind == expect_kind::no_can) {
            if (inside)
                fail(i, "sent " + can_format_candump(frame) + " at " + std::to_string(ms) + " ms");
            continue;
        }
        if (e.kind != expect_kind::can && e.kind != expect_kind::signal)
            continue;
        if (inside && expectation_matches(e, frame)) {
            outcomes_[i].state = expect_state::passed;
            continue;
        }
        const uint64_t distance = ms < e.ms ? e.ms - ms : ms > last ? ms - last : 0;
        nearest_frame& best = nearest_[i];
        if (!best.found || distance < best.distance)
            best = {true, distance, ms, frame};
    }
}

void ExpectationCheck::finished(uint64_t end_ms, bool firmware_exit)
{
    const std::string ended = firmware_exit ? "the unit asked to end at " + std::to_string(end_ms) + " ms"
                                            : "the run ended at " + std::to_string(end_ms) + " ms";
    for (size_t i = 0; i < list_.size(); ++i) {
        if (outcomes_[i].state != expect_state::open)
            continue;
        const expectation& e = list_[i];
        const uint64_t last = e.ms + e.window_ms;
        if (e.kind == expect_kind::no_can) {
            if (last <= end_ms)
                outcomes_[i].state = expect_state::passed;
            else
                fail(i, "not checked to its end: " + ended);
        } else if ((e.kind == expect_kind::can || e.kind == expect_kind::signal) && e.ms <= end_ms) {
            std::string detail = std::string(e.kind == expect_kind::can ? "not sent" : "not on the bus") + " from " +
                                 std::to_string(e.ms) + " to " + std::to_string(std::min(last, end_ms)) + " ms";
            if (last > end_ms)
                detail += " (" + ended + ")";
            const nearest_frame& best = nearest_[i];
            const bus_signal* s = nullptr;
            double value = 0.0;
            if (best.found && e.kind == expect_kind::signal && signal_in(e, best.frame, s, value))
                detail += "; nearest " + e.signal + " " + bus_format_value(*s, value) + " at " +
                          std::to_string(best.ms) + " ms (" + can_format_candump(best.frame) + ")";
            else if (best.found)
                detail += "; nearest " + can_format_candump(best.frame) + " at " + std::to_string(best.ms) +
                          " ms";
            else
                detail += "; no frame " + id_text(e.frame) + " on port " + std::to_string(e.port) +
                          " in the whole run";
            fail(i, detail);
        } else {
            fail(i, "not checked: " + ended);
        }
    }
}

void ExpectationCheck::check_pixel(size_t i, const frame_buffer& screen)
{
    const expectation& e = list_[i];
    const uint32_t seen = convert_pixel(screen.pixels[size_t(e.y) * GFX_WIDTH + size_t(e.x)]) & 0xFFFFFF;
    if (seen == e.rgb) {
        outcomes_[i].state = expect_state::passed;
        return;
    }
    char text[32];
    std::snprintf(text, sizeof text, "seen %06X", unsigned(seen));
    fail(i, text);
}

void ExpectationCheck::check_output(size_t i)
{
    const expectation& e = list_[i];
    const int lit = output_lit ? output_lit(e.pwrb, e.output) : -1;
    if (lit < 0)
        fail(i, "no installation is attached (norvane-run --installation)");
    else if ((lit != 0) == e.on)
        outcomes_[i].state = expect_state::passed;
    else
        fail(i, lit ? "the output is on" : "the output is off");
}

void ExpectationCheck::check_file(size_t i)
{
    const expectation& e = list_[i];
    const std::string path = options_.unit_dir + "/rootfs" + e.file;
    // The text of a check is one scenario line: a file far longer cannot
    // hold it, and is not read whole to say so.
    constexpr uint64_t MAX_BYTES = 1u << 20;
    std::string text, why;
    if (!read_regular_file(path, MAX_BYTES, text, why)) {
        fail(i, why == std::strerror(ENOENT) ? "the file does not exist" : "the file cannot be read: " + why);
        return;
    }
    if (text == e.text)
        outcomes_[i].state = expect_state::passed;
    else
        fail(i, "the file holds " + shown_text(text));
}

void ExpectationCheck::check_screen(size_t i, const frame_buffer& screen)
{
    const expectation& e = list_[i];
    screen_check_result result;
    if (options_.update_references) {
        result = update_screen_reference(screen, e.reference);
    } else {
        // NAME_err.png, or NAME_err_MS.png when an earlier check of this run
        // already left its picture under that name; that one is neither
        // removed nor overwritten.
        const std::string stem = std::filesystem::path(e.file).stem().string();
        const std::filesystem::path output(options_.output_dir);
        const auto written = [this](const std::filesystem::path& p) {
            return std::find(err_written_.begin(), err_written_.end(), p.generic_string()) != err_written_.end();
        };
        const bool name_taken = written(output / (stem + "_err.png"));
        screen_check_options check;
        check.reference = e.reference;
        check.max_diff = e.max_diff;
        check.err_file = (name_taken ? output / (stem + "_err_" + std::to_string(e.ms) + ".png")
                                     : output / (stem + "_err.png"))
                             .generic_string();
        check.remove_stale_err = !name_taken;
        check.missing_hint = "--update-references writes it";
        result = norvane::check_screen(screen, check);
        if (result.err_written)
            err_written_.push_back(check.err_file);
    }
    switch (result.state) {
    case screen_check_state::passed: outcomes_[i].state = expect_state::passed; break;
    case screen_check_state::written:
        outcomes_[i].state = expect_state::written;
        outcomes_[i].detail = result.detail;
        break;
    case screen_check_state::failed: fail(i, result.detail); break;
    }
}

}  // namespace norvane
