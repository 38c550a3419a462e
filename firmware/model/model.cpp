#include "model/model.h"

#include "model/mailbox.h"

void model_init() {}

void model_tick()
{
    can_tx_schedule();
}
