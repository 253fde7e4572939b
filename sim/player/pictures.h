// The session's pictures, as SVG text: a chart of the levels over time, and the
// heads-up display of one frame drawn from its sprite calls.
#pragma once

#include "player/session_result.h"

#include <string>

namespace player {

// The intake, drunk and flask levels and the intensity over the session, with the
// drinks, pass-outs, missions and refills marked as bands, restarts of
// the game as labelled lines, and the expectations as ticks along the time axis.
std::string chartSvg(const Recording& recording);

// A 16:9 frame with the frame's sprites at their normalised positions, sizes,
// rotations and colours, a magnified view of them with their texture names, and
// the list of the sprite calls. Meter levels are drawn as rings filled to level/99.
std::string hudSvg(const HudShot& shot, const std::string& title);

// One sprite as the HUD picture draws it, in frame pixels of a 1280 by 720 frame:
// a group with its call-order number (from 1) and texture name, our own drawing
// of what the texture stands for.
std::string spriteSvg(const sim::Sprite& sprite, int index);

// Where the chart puts time: the plot's left and right edges in the picture's
// units, its top and bottom, and the time at the right edge (the left one is 0).
struct ChartArea {
    double width = 0, height = 0;
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    Millis end = 1;
};
ChartArea chartArea(const Recording& recording);

// Text made safe for XML character data and attribute values.
std::string xmlEscape(const std::string& text);

} // namespace player
