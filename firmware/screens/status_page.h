// The module status page: one row per CAN module of the installation, one
// cell per power-module output and one for whether the module is heard.
#pragma once

void status_page_enter();
