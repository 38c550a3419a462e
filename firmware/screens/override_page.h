// PORT OVERRIDES and STARBOARD OVERRIDES.
#pragma once

void override_countdown();  // once per second from the tick
