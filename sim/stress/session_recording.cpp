// The recording option of a randomized session (SessionOptions::recordTo): the
// plug-in records the session (RECORD_SESSION=1) in a folder of the session's own,
// and its recording is kept once the plug-in has unloaded.
#include "stress/seeded_session.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace fs = std::filesystem;

namespace stress {

// The settings file that turns the recording on, and a folder of the session's own:
// the recording outlives the unload there.
void Session::recordInto(sim::StartOptions* o) {
    o->settings = recordingSettings(o->withSettings, o->settings);
    o->withSettings = true;
    recordFolder_ = fs::temp_directory_path() / ("tolvenmire-random-" + std::to_string(result_.seed) + "-" +
                                                 std::to_string((uintptr_t)this));
    std::error_code ec;
    fs::remove_all(recordFolder_, ec);
    fs::create_directories(recordFolder_, ec);
    o->workDir = recordFolder_.string();
}

// The settings file with RECORD_SESSION=1 where the plug-in reads it first: after
// the first settings section's header, or in a section of its own before any.
std::string Session::recordingSettings(bool withSettings, const std::string& settings) const {
    const std::string line = "RECORD_SESSION=1\n";
    if (!withSettings) return "[SETTINGS]\n" + line;
    std::string lower = settings;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return (char)std::tolower(c); });
    size_t header = lower.find("settings");
    const size_t bracket = header == std::string::npos ? std::string::npos : lower.rfind('[', header);
    const size_t eol = bracket == std::string::npos ? std::string::npos : settings.find('\n', header);
    if (eol == std::string::npos) return "[SETTINGS]\n" + line + settings;
    return settings.substr(0, eol + 1) + line + settings.substr(eol + 1);
}

// After the unload: the recording copied to where it was asked for, the folder
// removed. A recording that cannot be kept fails a session that passed.
bool Session::keepRecording(bool ok) {
    if (recordFolder_.empty()) return ok;
    std::error_code ec;
    fs::remove(options_.recordTo, ec);
    fs::copy_file(recordFolder_ / "Tolvenmire.rec", options_.recordTo, ec);
    if (ok && ec) ok = fail("the recording cannot be kept as " + options_.recordTo + ": " + ec.message());
    fs::remove_all(recordFolder_, ec);
    return ok;
}

} // namespace stress
