"""A python-can bus on the unit's virtual bus, in unit time.

    bus = unit.bus()
    for msg in bus:            # python-can's own loop: recv(timeout=1.0)
        ...
    bus.send(can.Message(arbitration_id=0x422, data=b"..."))

recv(timeout) advances the unit's time until a frame comes or `timeout` unit
seconds passed, so a receive loop written for a real bus runs unchanged, in
virtual time. It returns every frame on the port the bus did not send itself:
the unit's, the installation's, and those others put there. send puts the
frame on the bus for the unit at the unit's time now.

What waits in wall time does not fit virtual time: a Notifier's thread calls
recv over and over, so it drives unit time itself, as fast as it can, while it
runs; send_periodic's task sends on the wall clock. Drive the unit from one
thread and call recv (or iterate the bus) instead.
"""

import can

from . import _whole

_FOREVER_STEP_MS = 1000


class UnitBus(can.BusABC):
    def __init__(self, unit, port=0, can_filters=None, **kwargs):
        _whole(port, "port", 0, 1)
        self._unit = unit
        self._port = port
        self._seen = unit._core.frame_count()
        self.channel_info = f"norvane unit, CAN port {port} (virtual time)"
        super().__init__(channel=port, can_filters=can_filters, **kwargs)

    def _next(self, wait_ms):
        """The next frame of the port within wait_ms of unit time, or None."""
        core = self._unit._core
        index = core.run_until_frame(self._port, self._seen, wait_ms, "python-bus")
        if index < 0:
            self._seen = core.frame_count()
            return None
        self._seen = index + 1
        msg = self._unit._messages(core.frames_from(index)[:1], None)[0]
        msg.is_rx = True  # the bus user received it
        return msg

    def recv(self, timeout=None):
        """The next frame, waiting up to `timeout` seconds of unit time (None: until one comes)."""
        if timeout is not None and (isinstance(timeout, bool) or not isinstance(timeout, (int, float))
                                    or not timeout >= 0):
            raise ValueError(f"timeout is seconds of unit time, found {timeout!r}")
        deadline = None if timeout is None else self._unit.time_ms + int(round(timeout * 1000))
        while True:
            now = self._unit.time_ms
            wait = _FOREVER_STEP_MS if deadline is None else max(0, deadline - now)
            msg = self._next(wait)
            if msg is not None and self._matches_filters(msg):
                return msg
            if deadline is not None and self._unit.time_ms >= deadline:
                return None

    def _recv_internal(self, timeout):
        msg = self._next(0 if timeout is None else int(round(timeout * 1000)))
        return msg, False

    def send(self, msg, timeout=None):
        self._unit._send(msg, self._port, "bus")

    def shutdown(self):
        super().shutdown()
