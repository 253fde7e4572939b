// How a difference between a replay and its recording reads (sim::ReplayStatus):
// the recorded event told as the call it stands for, as `--trace` tells calls, and
// the call the plug-in made, without the answer the replay did not give it.
#pragma once

#include "standin/host_internals.h"
#include "replay/recording_reader.h"

#include <string>

namespace sim::detail {

// A text quoted, a quote or a backslash escaped, and whatever could act on a
// terminal (sim::printable).
std::string quotedText(const std::string& s);

// The recorded event, at the frame it was matched (or the frame of the difference).
std::string describeRecorded(const rec::Event& e, int frame);

// The call made, without the answer the replay did not give it.
std::string describeMade(const Call& c);

} // namespace sim::detail
