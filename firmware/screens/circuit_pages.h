// The four circuit pages: LIGHTING & SOUND, NAVIGATION, REFRIGERATION and
// PUMPS. Each row requests one circuit on or off in circuit_request; the
// model turns the requests into output commands.
#pragma once
#include <cstdint>

constexpr uint8_t CIRCUIT_PAGE_COUNT = 4;  // ring positions 0..3

// What the next hold of button 2 writes into all rows of each page: 1
// switches all on, 0 all off. Not saved; starts at 1.
extern uint8_t circuit_all_set[CIRCUIT_PAGE_COUNT];

void lighting_page_enter();
void navigation_page_enter();
void refrigeration_page_enter();
void pumps_page_enter();
