#include "midi/synth/AudioOutput.h"

#include "midi/synth/SynthEngine.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <thread>

namespace velmora::midi::synth {

namespace {

// Sound servers first: they mix with other programs and take any rate. Then the card itself,
// JACK if its server runs, and OSS. "file" would write a WAV file and SDL needs the program to
// initialise SDL first.
constexpr std::array<std::string_view, 10> kDriverPreference{
    "pipewire", "pulseaudio", "alsa", "jack", "oss", "coreaudio", "wasapi", "dsound", "waveout", "sndio",
};

// What FluidSynth's driver calls: the engine, then the fade at close.
struct FluidRender {
    SynthEngine* engine = nullptr;
    OutputFade fade;

    static int callback(void* data, int frames, int effectCount, float* effects[], int outCount, float* out[])
    {
        auto* self = static_cast<FluidRender*>(data);
        if (outCount < 2 || frames <= 0)
            return FLUID_FAILED;
        const auto n = static_cast<std::size_t>(frames);
        if (self->fade.finished()) {
            std::fill_n(out[0], n, 0.0f);
            std::fill_n(out[1], n, 0.0f);
            return FLUID_OK;
        }
        const int result = SynthEngine::renderCallback(self->engine, frames, effectCount, effects, outCount, out);
        self->fade.apply(out[0], out[1], n, 1);
        return result;
    }
};

class FluidAudioStream final : public AudioStream {
public:
    FluidAudioStream(std::unique_ptr<FluidRender> render, FluidAudioDriverPtr driver, AudioFormat format)
        : m_render(std::move(render)), m_driver(std::move(driver)), m_format(std::move(format))
    {
    }

    ~FluidAudioStream() override
    {
        // The driver's buffers give no word when they have played out: wait for the ramp to be
        // rendered, then for as long as the buffers hold, and a period more.
        m_render->fade.begin(static_cast<int>(kFadeMilliseconds * m_format.sampleRate / 1000.0));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        while (!m_render->fade.finished() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double playOut = m_format.bufferMilliseconds() * (1.0 + 1.0 / std::max(1, m_format.periods));
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(std::min(playOut, 200.0)));
        m_driver.reset();
    }

    AudioFormat format() const override { return m_format; }

private:
    std::unique_ptr<FluidRender> m_render;  // outlives the driver that calls it
    FluidAudioDriverPtr m_driver;
    AudioFormat m_format;
};

class FluidAudioBackend final : public AudioBackend {
public:
    FluidAudioBackend(AudioConfig config, FluidLog& log, std::vector<std::string> leftOut)
        : m_config(config), m_log(log), m_leftOut(std::move(leftOut))
    {
    }

    std::optional<Started> start(const EngineFactory& makeEngine) override
    {
        for (const std::string& driver : audioDriverOrder(offeredAudioDrivers())) {
            if (std::find(m_leftOut.begin(), m_leftOut.end(), driver) != m_leftOut.end())
                continue;
            if (auto started = tryDriver(driver, makeEngine))
                return started;
        }
        return std::nullopt;
    }

private:
    std::optional<Started> tryDriver(const std::string& driver, const EngineFactory& makeEngine)
    {
        double rate = m_config.sampleRate;
        // A second round when the driver runs at another rate than asked for: FluidSynth fixes its
        // rate when the synthesizer is made, and a 48 kHz card played at 44.1 kHz would put every
        // note 147 cents flat.
        for (int round = 0; round < 2; ++round) {
            auto engine = makeEngine(rate);
            if (!engine)
                return std::nullopt;
            fluid_settings_t* settings = engine->settings();
            fluid_settings_setstr(settings, "audio.driver", driver.c_str());
            fluid_settings_setint(settings, "audio.period-size", m_config.periodSize);
            fluid_settings_setint(settings, "audio.periods", m_config.periods);

            auto render = std::make_unique<FluidRender>();
            render->engine = engine.get();
            DriverGrant grant;
            m_log.beginProbe(&grant);
            FluidAudioDriverPtr handle(new_fluid_audio_driver2(settings, &FluidRender::callback, render.get()));
            m_log.endProbe();
            if (!handle)
                return std::nullopt;
            const double actualRate = grant.sampleRate ? *grant.sampleRate : engine->sampleRate();
            if (actualRate != rate) {
                handle.reset();
                rate = actualRate;
                continue;
            }
            AudioFormat format{driver, rate, grant.periodSize.value_or(m_config.periodSize),
                               grant.periods.value_or(m_config.periods)};
            Started started;
            started.stream = std::make_unique<FluidAudioStream>(std::move(render), std::move(handle), std::move(format));
            started.engine = std::move(engine);
            return started;
        }
        return std::nullopt;
    }

    AudioConfig m_config;
    FluidLog& m_log;
    std::vector<std::string> m_leftOut;
};

void collectOption(void* data, const char*, const char* option)
{
    static_cast<std::vector<std::string>*>(data)->emplace_back(option);
}

}  // namespace

void OutputFade::apply(float* left, float* right, std::size_t frames, std::size_t stride)
{
    const int length = m_length.load(std::memory_order_acquire);
    if (length == 0)
        return;
    for (std::size_t i = 0; i < frames; ++i) {
        if (m_done < length)
            ++m_done;
        const float gain = 1.0f - static_cast<float>(m_done) / static_cast<float>(length);
        left[i * stride] *= gain;
        right[i * stride] *= gain;
    }
    if (m_done >= length)
        m_finished.store(true, std::memory_order_release);
}

void readDriverMessage(std::string_view message, DriverGrant& grant)
{
    const std::string text(message);
    unsigned asked = 0;
    unsigned got = 0;
    int askedInt = 0;
    int gotInt = 0;
    if (std::sscanf(text.c_str(), "Requested sample rate of %u, got %u instead", &asked, &got) == 2)
        grant.sampleRate = got;
    else if (std::sscanf(text.c_str(), "Requested a period size of %d, got %d instead", &askedInt, &gotInt) == 2)
        grant.periodSize = gotInt;
    else if (std::sscanf(text.c_str(), "Requested %d periods, got %d instead", &askedInt, &gotInt) == 2)
        grant.periods = gotInt;
}

std::vector<std::string> audioDriverOrder(const std::vector<std::string>& offered)
{
    std::vector<std::string> order;
    for (std::string_view name : kDriverPreference)
        if (std::find(offered.begin(), offered.end(), name) != offered.end())
            order.emplace_back(name);
    return order;
}

std::vector<std::string> offeredAudioDrivers()
{
    std::vector<std::string> drivers;
    FluidSettingsPtr settings(new_fluid_settings());
    if (settings)
        fluid_settings_foreach_option(settings.get(), "audio.driver", &drivers, &collectOption);
    return drivers;
}

FluidLog::FluidLog()
{
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
        fluid_set_log_function(level, &FluidLog::onMessage, this);
}

FluidLog::~FluidLog()
{
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO})
        fluid_set_log_function(level, &fluid_default_log_function, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
}

void FluidLog::onMessage(int level, const char* message, void* data)
{
    auto* log = static_cast<FluidLog*>(data);
    if (!message)
        return;
    if (log) {
        if (DriverGrant* grant = log->m_probe.load()) {
            readDriverMessage(message, *grant);
            return;
        }
    }
    if (level == FLUID_PANIC || level == FLUID_ERR)
        fluid_default_log_function(level, message, nullptr);
}

std::unique_ptr<AudioBackend> makeFluidAudioBackend(AudioConfig config, FluidLog& log, std::vector<std::string> leftOut)
{
    return std::make_unique<FluidAudioBackend>(config, log, std::move(leftOut));
}

}  // namespace velmora::midi::synth
