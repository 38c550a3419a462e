// Screen framework: the page ring and the repaint pass.
#pragma once

void hmi_run_pass();  // main loop, once per step
