// Host code sees host/ and the seam alone: the host and seam includes here
// compile, the firmware layer's header after them must not be found
// (tests/CMakeLists.txt builds this file and expects that error).
#include "host/core/host_keys.h"
#include "seam/buttons.h"
#include NORVANE_UPWARD_INCLUDE

int host_include_view_probe()
{
    return 0;
}
