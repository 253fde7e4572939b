// The plug-in loader on Windows: the real loader. LoadLibraryA maps the module,
// builds its static objects and delivers DLL_PROCESS_ATTACH to its DllMain under
// the loader lock; FreeLibrary delivers DLL_PROCESS_DETACH and unmaps it. Starting
// and joining a thread makes the loader deliver the thread notifications.
//
// The plug-in reads the system tick count through its import of
// KERNEL32!GetTickCount; right after the load that import is pointed at the host's
// tick count, so that tests control the time the key window is measured in. Its
// file calls are pointed at the host's too, so that tests can make them fail
// (file_faults.h).
#include "standin/plugin_loader.h"

#include "standin/host_internals.h"

#include <cstring>

namespace sim::detail {

struct Plugin {
    std::string path;
    HMODULE module = nullptr;
};

namespace {

std::string lastError() {
    const DWORD code = GetLastError();
    char text[512] = "";
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                   0, text, sizeof text, nullptr);
    std::string out = "error " + std::to_string(code);
    if (n) {
        std::string message(text, n);
        while (!message.empty() &&
               (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
            message.pop_back();
        out += " (" + message + ")";
    }
    return out;
}

DWORD WINAPI hostGetTickCount() {
    HostScope scope;
    return hostTickCount();
}

// Points the module's import of `dll`!`function` (matched without regard to case
// for the DLL) at `replacement`. False, with the reason in *error, when the import
// cannot be rewritten; true when it was rewritten or the module does not import it.
bool patchImport(HMODULE module, const char* dll, const char* function, void* replacement,
                 std::string* error) {
    BYTE* base = (BYTE*)module;
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
    const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return true;
    for (const IMAGE_IMPORT_DESCRIPTOR* d = (const IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress);
         d->Name; ++d) {
        if (_stricmp((const char*)(base + d->Name), dll) != 0) continue;
        // The names are in the lookup table; the addresses the loader bound are in
        // the address table at the same positions.
        const IMAGE_THUNK_DATA* names =
            (const IMAGE_THUNK_DATA*)(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        IMAGE_THUNK_DATA* addresses = (IMAGE_THUNK_DATA*)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const IMAGE_IMPORT_BY_NAME* byName =
                (const IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData);
            if (strcmp((const char*)byName->Name, function) != 0) continue;
            DWORD old = 0;
            if (!VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, PAGE_READWRITE,
                                &old)) {
                *error = std::string("cannot make the import of ") + function + " writable: " + lastError();
                return false;
            }
            addresses->u1.Function = (ULONGLONG)(uintptr_t)replacement;
            VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, old, &old);
            FlushInstructionCache(GetCurrentProcess(), nullptr, 0);
            return true;
        }
    }
    return true;
}

DWORD WINAPI idleThread(LPVOID) { return 0; }

} // namespace

Plugin* loadPlugin(const std::string& path, std::string* error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        // Also the answer when DllMain refuses the attach: the loader then unloads
        // the module itself.
        *error = "cannot load " + path + ": " + lastError();
        return nullptr;
    }
    bool patched = patchImport(module, "KERNEL32.dll", "GetTickCount", (void*)&hostGetTickCount, error);
    for (const FileCallImport* f = FileCallImports; patched && f->name; ++f)
        patched = patchImport(module, "KERNEL32.dll", f->name, f->replacement, error);
    if (!patched) {
        *error = path + ": " + *error;
        FreeLibrary(module);
        return nullptr;
    }
    return new Plugin{path, module};
}

HINSTANCE pluginModule(const Plugin* plugin) { return plugin->module; }

void* pluginSymbol(const Plugin* plugin, const char* name) {
    return (void*)GetProcAddress(plugin->module, name);
}

bool notifyPluginThreads(const Plugin*) {
    // The loader calls every attached module's entry point with DLL_THREAD_ATTACH
    // as the thread starts and DLL_THREAD_DETACH as it ends; what the entry point
    // answers is not reported back.
    HANDLE thread = CreateThread(nullptr, 0, idleThread, nullptr, 0, nullptr);
    if (!thread) return false;
    const bool joined = WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return joined;
}

bool unloadPlugin(Plugin* plugin) {
    FreeLibrary(plugin->module);
    // A module that stays mapped (another reference to it) would hand its old
    // state to the next load.
    HMODULE still = nullptr;
    const bool mapped = GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                           (LPCSTR)plugin->module, &still) &&
                        still == plugin->module;
    delete plugin;
    return !mapped;
}

std::string makeSessionFolder(std::string* error) {
    char temp[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n > MAX_PATH) {
        *error = "cannot find the folder for temporary files: " + lastError();
        return std::string();
    }
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string folder = std::string(temp) + "tolvenmire-" + std::to_string(GetCurrentProcessId()) +
                                   "-" + std::to_string(GetTickCount64()) + "-" + std::to_string(counter++);
        if (CreateDirectoryA(folder.c_str(), nullptr)) return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            *error = "cannot make a folder " + folder + ": " + lastError();
            return std::string();
        }
    }
    *error = std::string("cannot make a folder under ") + temp + ": every name taken";
    return std::string();
}

} // namespace sim::detail
