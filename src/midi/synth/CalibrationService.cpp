#include "midi/synth/CalibrationService.h"

#include <algorithm>
#include <optional>

namespace velmora::midi::synth {

CalibrationService::CalibrationService(std::filesystem::path soundFont, double sampleRate, CalibrationRange range,
                                       std::shared_ptr<std::mutex> fluidLock)
    : m_soundFont(std::move(soundFont)), m_sampleRate(sampleRate), m_range(range), m_fluidLock(std::move(fluidLock))
{
}

CalibrationService::~CalibrationService()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_abandon.store(true);
    }
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

void CalibrationService::setReadyListener(ReadyListener listener)
{
    std::lock_guard lock(m_mutex);
    m_listener = std::move(listener);
}

std::shared_ptr<const KeyCents> CalibrationService::calibration(PresetId preset)
{
    std::lock_guard lock(m_mutex);
    if (auto it = m_cache.find(preset); it != m_cache.end())
        return it->second;
    if (!m_pending.insert(preset).second) {
        // Waiting or being measured; only one that waits can move.
        const auto queued = std::find(m_queue.begin(), m_queue.end(), preset);
        if (queued == m_queue.end())
            return nullptr;
        m_queue.erase(queued);
    }
    m_queue.push_front(preset);
    if (!m_worker.joinable())
        m_worker = std::thread([this] { run(); });
    m_wake.notify_one();
    return nullptr;
}

void CalibrationService::withdraw(PresetId preset)
{
    std::lock_guard lock(m_mutex);
    const auto queued = std::find(m_queue.begin(), m_queue.end(), preset);
    if (queued == m_queue.end())
        return;
    m_queue.erase(queued);
    settleLocked(preset);
}

void CalibrationService::settleLocked(PresetId preset)
{
    m_pending.erase(preset);
    if (m_pending.empty())
        m_idle.notify_all();
}

void CalibrationService::waitUntilIdle()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_pending.empty() || m_stop; });
}

void CalibrationService::cancel()
{
    std::lock_guard lock(m_mutex);
    m_queue.clear();
    m_pending.clear();
    m_abandon.store(true);
    m_idle.notify_all();
}

void CalibrationService::run()
{
    // Made here, off the thread that asked, so that the SoundFont's second copy costs the user
    // nothing; made again after a measurement that failed, so that a SoundFont replaced since
    // is read anew.
    std::unique_ptr<ProgramCalibrator> calibrator;
    for (;;) {
        PresetId preset;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                break;
            preset = m_queue.front();
            m_queue.pop_front();
            m_abandon.store(false);
        }
        if (!calibrator)
            calibrator = ProgramCalibrator::create(m_soundFont, m_sampleRate, m_range, {}, m_fluidLock);
        std::optional<KeyCents> measured;
        if (calibrator) {
            const auto deviations = calibrator->deviations(preset, &m_abandon);
            // Not one key with a pitch: the samples could not be read.
            if (std::any_of(deviations.begin(), deviations.end(), [](const auto& d) { return d.has_value(); }))
                measured = correctionFor(deviations);
            else if (!m_abandon.load())
                calibrator.reset();
        }
        ReadyListener listener;
        {
            std::lock_guard lock(m_mutex);
            // Cancelled while measuring: the half-measured correction is thrown away.
            if (m_abandon.load() || !m_pending.contains(preset))
                continue;
            if (!measured) {
                // Not kept as "no correction": the preset's next request measures it again.
                settleLocked(preset);
                continue;
            }
            m_cache[preset] = std::make_shared<const KeyCents>(*measured);
            listener = m_listener;
        }
        if (listener)
            listener(preset);
        {
            std::lock_guard lock(m_mutex);
            settleLocked(preset);
        }
    }
    std::lock_guard lock(m_mutex);
    m_idle.notify_all();
}

std::shared_ptr<const KeyCents> ImmediateCalibration::calibration(PresetId preset)
{
    auto& slot = m_cache[preset];
    if (!slot)
        slot = std::make_shared<const KeyCents>(m_calibrator.correction(preset));
    return slot;
}

}  // namespace velmora::midi::synth
