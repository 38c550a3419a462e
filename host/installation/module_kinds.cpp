// The registry of module kinds, in bus order. A new kind is one file
// defining its module_kind table, and one row here.
#include "host/installation/module_kind.h"

namespace installation {

extern const module_kind module_kind_input;
extern const module_kind module_kind_power;

namespace {

const module_kind* const KINDS[] = {
    &module_kind_input,
    &module_kind_power,
};

constexpr int KIND_COUNT = int(sizeof KINDS / sizeof KINDS[0]);

}  // namespace

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

std::string module_order_text()
{
    std::string text;
    for (const module_kind* kind : KINDS)
        text += (text.empty() ? "" : " then ") + std::string(kind->prefix) + "1-" + std::to_string(kind->count);
    return text;
}

void add_module_messages(const description& d, std::vector<norvane::bus_message>& out)
{
    for (int m = 0; m < MODULE_COUNT; ++m) {
        int n = 0;
        if (const module_kind* kind = module_kind_of(m, &n))
            kind->bus_messages(d, n, out);
    }
}

}  // namespace installation
