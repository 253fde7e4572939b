// A test case that works on a freshly loaded plug-in in the stand-in host: each
// case starts its own session in its own folder and ends it, so everything is as
// at load (state all zero, a full flask, the settings re-read).
#pragma once

#include "sim.h"

#include "base/script_state.h"
#include "base/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

// Values of the game the cases name: a control that stops a drink, and Valentine's
// saloon (its interior) with its bartender (his handle and model).
inline constexpr uint32_t StopControl = 0xFDA83190;
inline constexpr int32_t Bartender = 2001;
inline constexpr int32_t Valentine = 21250;
inline constexpr uint32_t ValentineBartender = 0xB733CF0F;

class PluginTest : public ::testing::Test {
  protected:
    // Starts the session; `settings` / `save` are the contents of Tolvenmire.ini
    // and Tolvenmire.dat, written before the load when given.
    void start(const char* settings = nullptr, const char* save = nullptr) {
        sim::StartOptions o;
        if (settings) {
            o.withSettings = true;
            o.settings = settings;
        }
        if (save) {
            o.withSave = true;
            o.save = save;
        }
        startWith(o);
    }
    void startWith(const sim::StartOptions& o) {
        std::string error;
        ASSERT_TRUE(sim::start(o, &error)) << error;
    }
    void TearDown() override {
        if (sim::running()) sim::stop();
        for (const std::string& v : sim::violations()) ADD_FAILURE() << "protocol: " << v;
    }

    static const ScriptState& state() { return *sim::pluginState(); }
    static const Settings& settings() { return *sim::pluginSettings(); }
    static sim::World& world() { return sim::world(); }

    // The natives of one frame, in order.
    static std::vector<sim::Call> nativesIn(int frame) {
        std::vector<sim::Call> out;
        for (const sim::Call& c : sim::callsInFrame(frame))
            if (c.kind == sim::CallKind::Native) out.push_back(c);
        return out;
    }
    // The hashes of the natives of one frame, in order.
    static std::vector<uint64_t> hashesIn(int frame) {
        std::vector<uint64_t> out;
        for (const sim::Call& c : nativesIn(frame)) out.push_back(c.hash);
        return out;
    }
    // Plays one frame and returns its number.
    static int nextFrame() {
        sim::playFrames(1);
        return sim::frame();
    }
    static uint32_t floatBits(float f) {
        uint32_t b;
        memcpy(&b, &f, sizeof b);
        return b;
    }
    static float bitsFloat(uint32_t b) {
        float f;
        memcpy(&f, &b, sizeof f);
        return f;
    }
};
