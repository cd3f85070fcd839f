#pragma once

#include <cstdint>

// What each site takes: the one place that the scan, the writer, the request
// checks and the dialog's ranges read.

// A year is written only within these.
constexpr int32_t YEAR_MIN = 2000;
constexpr int32_t YEAR_MAX = 29999;
// The years the options dialog offers: a span of those the game can take.
constexpr int32_t OFFERED_START_YEAR_MIN = 2001;
constexpr int32_t OFFERED_START_YEAR_MAX = 2020;
constexpr int32_t OFFERED_BOSMAN_YEAR_MIN = 2001;
constexpr int32_t OFFERED_BOSMAN_YEAR_MAX = 3000;
// From this start year on the World Cup 06 fix is installed.
constexpr int32_t WC06_FIRST_YEAR = 2003;

// The conference counts the scan recognises in the patched blocks.
constexpr int32_t PROMOTED_MIN = 1;
constexpr int32_t PROMOTED_MAX = 7;
constexpr int32_t RELEGATED_MIN = 0;
constexpr int32_t RELEGATED_MAX = 7;
// The game's own conference code behaves like these counts.
constexpr int32_t GAME_PROMOTED = 1;
constexpr int32_t GAME_RELEGATED = 3;

// The click delays the scan recognises in our block.
constexpr int32_t CLICK_DELAY_MIN = 1;
constexpr int32_t CLICK_DELAY_MAX = 6;
// The writer puts our block in for a delay up to this one; a delay above
// CLICK_DELAY_MAX is written but not recognised afterwards, so no front end
// asks for it.
constexpr int32_t CLICK_DELAY_WRITE_MAX = 8;
