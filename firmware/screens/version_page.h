// The start-up page: the splash picture with the firmware version, shown for
// two seconds before LIGHTING & SOUND. Entered by the model's first step.
#pragma once
#include <atomic>
#include <cstdint>

constexpr float VERSION_NUMBER = 0.91f;
constexpr uint32_t VERSION_SHOW_MS = 2000;

// Unit time at which the page was entered (written by the tick when the
// model's first step enters it, read by the main loop).
extern std::atomic<uint32_t> version_entry_time;

void version_page_enter();
