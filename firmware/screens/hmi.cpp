#include "screens/hmi.h"

void hmi_run_pass() {}
