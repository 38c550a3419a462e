// The seam: everything the host may call or set of the firmware lives in
// this folder, and the host includes nothing else of it.
//
// The unit itself: start-up, the two execution contexts, the exit request,
// the clock source and the base folder.
#pragma once
#include <cstdint>

void app_init();       // host UI thread, once, before the threads start
void app_start();      // firmware thread, before the first app_main_step
void app_main_step();  // firmware thread, every 25 ms
void sys_tick();       // tick thread, every 10 ms
// Every record of the firmware back to the state the program starts in, as if
// the process had just begun: each layer's reset, from the spine down. For
// tests and hosts that start many units one after another in one process.
void app_reset();

// The firmware's request to end, and its exit code.
uint32_t sys_exit_requested();
int32_t sys_exit_code();

// Clock source: a function that returns host milliseconds. The host chooses it
// once, before app_init: the monotonic clock (the default) or a virtual clock.
using hal_clock_source = uint64_t (*)();
void hal_set_clock_source(hal_clock_source source);
uint64_t hal_monotonic_ms();  // the default source
uint32_t hal_ms_clock();      // the unit's milliseconds since its clock base

// Folder that holds "rootfs" and "eeprom.dat"'s tree. Default ".".
void hal_set_base_dir(const char* dir);
const char* hal_base_dir();
// Creates the file system's roots under the base folder that are missing;
// 1 when all of them are there afterwards.
int fs_make_roots();
