// Times, durations and sums of money as the player writes them, and reads them
// back: the scenario's lines, the timeline, the summary and the pictures share one
// notation, so that whatever the player prints a scenario can say. Kept apart from
// the scenario's reader, which is only one of its users.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace player {

// Milliseconds of game time since the session started.
using Millis = int64_t;

// "0:05", "1:30.5", "1:02:03", "2500ms", "1.5s", "2m", "1h", "1m30s". False for
// anything else; a plain number without a unit or colon is not a time.
bool parseTime(std::string_view text, Millis* out);
// The same, telling a time written well but too long to hold (past 99999 hours)
// from text that is no time at all.
enum class TimeText { Ok, Bad, TooLong };
TimeText readTime(std::string_view text, Millis* out);
// "1:05.3" below an hour, "1:02:03.0" above.
std::string formatTime(Millis ms);
// "7.5 s" below a minute, else as formatTime without the tenths when whole.
std::string formatDuration(Millis ms);

// The game clock: in-game seconds since the start of 1898 (negative before it).
// "1 Jan 1898 00:00:00".
std::string formatGameClock(int64_t seconds);
// "1898-06-01" and, optionally, "14:30" or "14:30:15" into the clock's seconds.
// False for anything else, a day that does not exist included.
bool parseGameDate(std::string_view date, std::string_view timeOfDay, int64_t* seconds);

// Money in hundredths of a dollar, as the game keeps cash: "$12", "$12.50", "12.50",
// "-$3". False for anything else.
bool parseMoney(std::string_view text, int64_t* hundredths);
// "$1,234.50", "-$3.00".
std::string formatMoney(int64_t hundredths);

} // namespace player
