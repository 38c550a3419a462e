// The seam: the unit's two CAN ports as the host maps, opens and watches
// them, the registry of back ends the usage texts list, and the in-process
// bus that scenarios inject frames into.
#pragma once
#include <cstdint>

struct can_frame {
    uint32_t id;
    uint8_t ext;
    uint8_t rtr;
    uint8_t len;
    uint8_t data[8];
    uint64_t time_us;
};

constexpr uint8_t CAN_PORT_COUNT = 2;

// CAN port mapping: the back end of each firmware CAN port. The default is
// the unit's own, a Kvaser channel without a device string. The host maps a
// port with one string, "NAME[:ARGUMENT]", NAME one of the back ends of the
// registry. Returns 1, or 0 with a message (listing the accepted forms) in
// `why`. can_init applies the mapping.
int hal_can_map_port(uint8_t port, const char* mapping, char* why, uint32_t why_size);
// The same check without applying the mapping (a command line's parse).
int hal_can_check_mapping(uint8_t port, const char* mapping, char* why, uint32_t why_size);
// The back-end type and device string (nullptr: none) can_init configures
// for the port, and the back end's name for a type ("kvaser", "trace", ...).
void hal_can_port_mapping(uint8_t port, uint32_t* type, const char** device);
const char* can_port_type_name(uint32_t type);

// The registry of back ends, in the order the usage texts list them.
struct can_backend_info {
    const char* name;  // "kvaser"
    const char* form;  // "kvaser[:CHANNEL]"
    const char* help;  // one line saying what it is
};
uint32_t can_backend_count();
// 1 with the index'th back end in `out`, 0 past the end.
int can_backend_describe(uint32_t index, can_backend_info* out);

// What became of a port's last open and what passed through it since, for
// the host's start-up lines and status bar. Readable from any thread.
constexpr uint8_t CAN_PORT_NOT_OPENED = 0;
constexpr uint8_t CAN_PORT_OPEN = 1;
constexpr uint8_t CAN_PORT_FAILED = 2;
constexpr uint32_t CAN_REASON_MAX = 160;
struct can_port_status {
    uint8_t state;
    char reason[CAN_REASON_MAX];  // why the open failed; empty otherwise
    uint32_t sent;                // frames the back end took for the bus
    uint32_t refused;             // frames the back end would not take
    uint32_t received;            // frames taken from the back end
};
void can_port_get_status(uint8_t port, can_port_status* out);
// The host's check of the ports it mapped opens a port the unit left closed.
int can_port_set_bitrate(uint8_t port, uint32_t bit_rate);
int can_port_open(uint8_t port);  // 0 when it opened

// The send observer: the host may watch every frame the unit hands to a port
// for sending (the headless runner's CAN log). Called on the main loop, in
// the order sent, for the frames the back end took; a refused frame is only
// counted.
using can_send_observer = void (*)(uint8_t port, const can_frame& frame, void* context);
void can_set_send_observer(can_send_observer observer, void* context);

// The receive observer: the host may watch every frame the unit takes from
// a port's back end (the window records what an adapter, a trace or
// socketcand put on the unit's bus). Called on the main loop, in the order
// taken, before the unit acts on the frame; a frame left in the back end for
// a later pass is seen when it is taken.
using can_receive_observer = void (*)(uint8_t port, const can_frame& frame, void* context);
void can_set_receive_observer(can_receive_observer observer, void* context);

// The in-process bus: queues a frame for the next receive of a port mapped
// to "virtual"; 0, or -1 when the bus is full (the frame is refused, the
// queued ones stay). Any thread may inject; the frame's receive time is the
// unit's clock at the injection.
int can_virtual_inject(uint8_t port, const can_frame& frame);
// The frames the unit sent on a port mapped to "virtual", oldest first (the
// bus server takes them); 0 when there is none. When nobody takes them the
// oldest are dropped to make room for new ones.
int can_virtual_take_sent(uint8_t port, can_frame* out);
