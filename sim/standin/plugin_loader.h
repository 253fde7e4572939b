// The operating system's part of a session: loading the plug-in as the game's
// loader does (the module is mapped, its static objects built, and its entry point
// told of the attach; unloading tells it of the detach and unmaps it), and the
// session's temporary folder.
#pragma once

#include "hook/script_hook.h"

#include <string>

namespace sim::detail {

struct Plugin;

// Loads the module at `path` (an absolute path) and delivers DLL_PROCESS_ATTACH to
// its entry point. Null, with the reason in *error, when it cannot be loaded, has
// no entry point or refuses the attach.
Plugin* loadPlugin(const std::string& path, std::string* error);

// The module's instance handle, as its entry point received it.
HINSTANCE pluginModule(const Plugin* plugin);

// An exported symbol of the module, or null.
void* pluginSymbol(const Plugin* plugin, const char* name);

// Delivers DLL_THREAD_ATTACH and then DLL_THREAD_DETACH; true when the entry point
// answered TRUE to both.
bool notifyPluginThreads(const Plugin* plugin);

// Delivers DLL_PROCESS_DETACH and unloads the module. False when the module is
// still mapped afterwards, so that a later load would not start fresh.
bool unloadPlugin(Plugin* plugin);

// A fresh, empty folder for a session, under the system's folder for temporary
// files. Empty, with the reason in *error, when none can be made.
std::string makeSessionFolder(std::string* error);

} // namespace sim::detail
