// The page functions the screens hand to the model's page table; the spine
// registers them with model_set_page_functions at start.
#pragma once
#include "model/model.h"

extern const model_page_table page_functions;

// The pages' own records back to their start values (the tank gauges'
// refresh marks, the circuit pages' all-on/all-off toggles); with model_init.
void pages_init();
// Every record of the screens back to its start value: the framework, the key
// engine, the panel and the pages.
void screens_reset();
