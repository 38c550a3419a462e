// The installation's description: the shipped default (this unit's circuit
// table) and the JSON file that replaces it.
#include <cstdio>

#include <set>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/common/printable.h"
#include "host/common/regular_file.h"
#include "host/installation/installation.h"
#include "host/installation/module_kind.h"

namespace installation {

namespace {

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

// The modules in bus order, each read by its kind.
void read_description(const json& root, description* out)
{
    const json& modules = array_at(root, "", "modules", size_t(module_count()));
    for (int m = 0; m < module_count(); ++m) {
        std::string path = "/modules/" + std::to_string(m);
        const json& j = modules[size_t(m)];
        std::string name = text_at(member(j, path, "name"), path + "/name");
        int n = 0;
        const module_kind* kind = module_kind_of(m, &n);
        const std::string expected = kind->prefix + std::to_string(n + 1);
        if (name != expected)
            throw description_error{path + "/name", "expected \"" + expected + "\" (the modules come in bus order, " +
                                                        module_order_text() + ")"};
        out->module_names[m] = name;
        kind->read(j, path, n, out);
    }
}

}  // namespace

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

description default_description()
{
    description d;
    for (int m = 0; m < module_count(); ++m) {
        int n = 0;
        const module_kind* kind = module_kind_of(m, &n);
        d.module_names[m] = kind->prefix + std::to_string(n + 1);
        kind->fill_default(n, &d);
    }
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
    for (int m = 0; m < module_count(); ++m) {
        int n = 0;
        const module_kind* kind = module_kind_of(m, &n);
        ordered j{{"name", d.module_names[m]}};
        j[kind->payload] = kind->write(d, n);
        modules.push_back(j);
    }
    return ordered{{"modules", modules}}.dump(2) + "\n";
}

}  // namespace installation
