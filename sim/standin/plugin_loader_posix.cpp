// The plug-in loader on POSIX systems: dlopen and dlclose stand for LoadLibrary
// and FreeLibrary, and the host delivers the entry-point notifications itself.
#include "standin/plugin_loader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <stdlib.h>

namespace sim::detail {

typedef BOOL (*EntryPoint)(HINSTANCE module, DWORD reason, LPVOID reserved);

struct Plugin {
    std::string path;
    void* handle = nullptr;
    EntryPoint entry = nullptr;
};

Plugin* loadPlugin(const std::string& path, std::string* error) {
    // Local: the plug-in's symbols do not join the global scope; it finds the
    // host's functions (and its GetTickCount) there.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        *error = "cannot load " + path + ": " + (why ? why : "unknown error");
        return nullptr;
    }
    EntryPoint entry = (EntryPoint)dlsym(handle, "DllMain");
    if (!entry) {
        *error = path + " has no entry point DllMain";
        dlclose(handle);
        return nullptr;
    }
    if (!entry((HINSTANCE)handle, DLL_PROCESS_ATTACH, nullptr)) {
        // As LoadLibrary does when the attach is refused.
        entry((HINSTANCE)handle, DLL_PROCESS_DETACH, nullptr);
        dlclose(handle);
        *error = path + " refused DLL_PROCESS_ATTACH";
        return nullptr;
    }
    return new Plugin{path, handle, entry};
}

HINSTANCE pluginModule(const Plugin* plugin) { return (HINSTANCE)plugin->handle; }

void* pluginSymbol(const Plugin* plugin, const char* name) { return dlsym(plugin->handle, name); }

bool notifyPluginThreads(const Plugin* plugin) {
    const BOOL attach = plugin->entry((HINSTANCE)plugin->handle, DLL_THREAD_ATTACH, nullptr);
    const BOOL detach = plugin->entry((HINSTANCE)plugin->handle, DLL_THREAD_DETACH, nullptr);
    return attach == TRUE && detach == TRUE;
}

bool unloadPlugin(Plugin* plugin) {
    plugin->entry((HINSTANCE)plugin->handle, DLL_PROCESS_DETACH, nullptr);
    dlclose(plugin->handle);
    // A module that stays mapped (a GNU unique symbol, another reference) would
    // hand its old state to the next load.
    void* still = dlopen(plugin->path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (still) dlclose(still);
    delete plugin;
    return still == nullptr;
}

std::string makeSessionFolder(std::string* error) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tolvenmire-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        *error = "cannot make a folder " + pattern + ": " + strerror(errno);
        return std::string();
    }
    return pattern;
}

} // namespace sim::detail
