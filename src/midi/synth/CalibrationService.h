#pragma once

#include "midi/synth/PitchCalibrator.h"
#include "midi/synth/SynthEngine.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace velmora::midi::synth {

// Pitch corrections measured on a worker thread, each preset once per run. The first request
// for a preset queues it and answers nullptr; when it is measured the listener is told, on the
// worker thread, and later requests get the cached correction at once.
//
// The newest request is measured first: someone browsing the instruments asks for one program
// after another, and the one they settle on is the one to correct, not the twenty they passed.
// A request for a preset already waiting moves it to the front, and a preset withdrawn while it
// waits is dropped. A measurement that fails (the SoundFont cannot be read, say because a
// package upgrade replaced it) is not kept: the preset is measured again when next asked for.
class CalibrationService final : public CalibrationProvider {
public:
    using ReadyListener = std::function<void(PresetId)>;

    // `fluidLock`: the lock of the engine the corrections are for (SynthEngineConfig::fluidLock).
    CalibrationService(std::filesystem::path soundFont, double sampleRate, CalibrationRange range = {},
                       std::shared_ptr<std::mutex> fluidLock = nullptr);
    ~CalibrationService() override;
    CalibrationService(const CalibrationService&) = delete;
    CalibrationService& operator=(const CalibrationService&) = delete;

    // Called on the worker thread, without any of the service's locks held.
    void setReadyListener(ReadyListener listener);
    std::shared_ptr<const KeyCents> calibration(PresetId preset) override;
    void withdraw(PresetId preset) override;
    // Blocks until every preset asked for so far is measured.
    void waitUntilIdle();
    // Drops the presets waiting and stops the one being measured within a key; none of them is
    // kept, so each is measured again when next asked for. Does not wait.
    void cancel();

private:
    void run();
    // With the lock held: a preset leaves the pending set.
    void settleLocked(PresetId preset);

    const std::filesystem::path m_soundFont;
    const double m_sampleRate;
    const CalibrationRange m_range;
    const std::shared_ptr<std::mutex> m_fluidLock;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::map<PresetId, std::shared_ptr<const KeyCents>> m_cache;
    std::deque<PresetId> m_queue;
    std::set<PresetId> m_pending;
    ReadyListener m_listener;
    bool m_stop = false;
    // Set by cancel() and the destructor, read by the measurement between keys.
    std::atomic<bool> m_abandon{false};
    // Started by the first request; owns the private synthesizer it measures on.
    std::thread m_worker;
};

// Measures each preset on the calling thread the first time it is asked for: for tests and
// benchmarks, which want the correction in place before they render.
class ImmediateCalibration final : public CalibrationProvider {
public:
    explicit ImmediateCalibration(ProgramCalibrator& calibrator) : m_calibrator(calibrator) {}
    std::shared_ptr<const KeyCents> calibration(PresetId preset) override;

private:
    ProgramCalibrator& m_calibrator;
    std::map<PresetId, std::shared_ptr<const KeyCents>> m_cache;
};

}  // namespace velmora::midi::synth
