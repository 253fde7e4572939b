// The session page's own files (sim/player/page/), embedded at build time: the
// page's frame (with the places for the rest marked), its style and its script.
// The build writes their bytes into a source of its own (page/embed.cmake).
#pragma once

namespace player::page {

extern const char sessionHtml[];
extern const char sessionCss[];
extern const char sessionJs[];

} // namespace player::page
