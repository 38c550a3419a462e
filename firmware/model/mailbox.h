// Receive and transmit mailboxes of the installation's CAN messages.
#pragma once
#include <cstdint>

void rx_mailbox_init();
void model_can_open();  // port 0 at 250000 bit/s, opened once
void can_rx_dispatch(uint32_t id, uint8_t len, const uint8_t* data);
void can_tx_schedule();
