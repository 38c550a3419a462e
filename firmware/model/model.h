// The control model: one fixed step per 10 ms tick.
#pragma once

void model_init();
void model_tick();  // model step, then the transmit schedule
