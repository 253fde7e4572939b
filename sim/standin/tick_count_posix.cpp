// GetTickCount for the plug-in. Its own stand-in is exported with default
// visibility, and this definition comes earlier in the lookup scope (the program
// links this library, so it is global before the plug-in is loaded), so the
// plug-in's calls land here, as a patched import would on Windows.
#include "standin/host_internals.h"

extern "C" DWORD GetTickCount(void) {
    sim::detail::HostScope scope;
    return sim::detail::hostTickCount();
}
