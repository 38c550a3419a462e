// The registry of CAN back ends. A new back end is one file defining its
// can_backend table, and one row here.
#include "can/can_backend.h"

extern const can_backend can_backend_kvaser;
extern const can_backend can_backend_cando;
extern const can_backend can_backend_trace;
extern const can_backend can_backend_socketcan;
extern const can_backend can_backend_virtual;
extern const can_backend can_backend_socketcand;

namespace {

const can_backend_row rows[] = {
    {CAN_TYPE_KVASER, &can_backend_kvaser},
    {CAN_TYPE_CANDO, &can_backend_cando},
    {CAN_TYPE_TRACE, &can_backend_trace},
    {CAN_TYPE_SOCKETCAN, &can_backend_socketcan},
    {CAN_TYPE_VIRTUAL, &can_backend_virtual},
    {CAN_TYPE_SOCKETCAND, &can_backend_socketcand},
};

constexpr uint32_t ROW_COUNT = sizeof rows / sizeof rows[0];

}  // namespace

uint32_t can_backend_count()
{
    return ROW_COUNT;
}

const can_backend_row* can_backend_at(uint32_t index)
{
    return index < ROW_COUNT ? &rows[index] : nullptr;
}

const can_backend_row* can_backend_of_type(uint32_t type)
{
    for (const can_backend_row& row : rows)
        if (row.type == type)
            return &row;
    return nullptr;
}

const can_backend_row* can_backend_named(std::string_view name)
{
    for (const can_backend_row& row : rows)
        if (name == row.backend->name)
            return &row;
    return nullptr;
}

int can_backend_describe(uint32_t index, can_backend_info* out)
{
    if (index >= ROW_COUNT || !out)
        return 0;
    *out = {rows[index].backend->name, rows[index].backend->form, rows[index].backend->help};
    return 1;
}
