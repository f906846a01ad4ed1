#pragma once

#include <fluidsynth.h>

#include <memory>

namespace velmora::midi::synth {

struct FluidSettingsDeleter {
    void operator()(fluid_settings_t* settings) const { delete_fluid_settings(settings); }
};
struct FluidSynthDeleter {
    void operator()(fluid_synth_t* synth) const { delete_fluid_synth(synth); }
};
struct FluidAudioDriverDeleter {
    void operator()(fluid_audio_driver_t* driver) const { delete_fluid_audio_driver(driver); }
};

using FluidSettingsPtr = std::unique_ptr<fluid_settings_t, FluidSettingsDeleter>;
using FluidSynthPtr = std::unique_ptr<fluid_synth_t, FluidSynthDeleter>;
using FluidAudioDriverPtr = std::unique_ptr<fluid_audio_driver_t, FluidAudioDriverDeleter>;

}  // namespace velmora::midi::synth
