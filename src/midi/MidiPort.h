#pragma once

#include "editions/Edition.h"
#include "midi/GsMessages.h"
#include "midi/MidiOutput.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmora {
class Clock;
class MessageBoxes;
}

namespace velmora::midi {

// Which tuning send this is: it decides the wait after it and, at shutdown, one message text.
enum class TuningOccasion { NewExercise, SliderOrSwitch, Shutdown };

// The program's one output port and the operations every window sends through.
class MidiPort {
public:
    static constexpr int kMaxListedDevices = 129;

    MidiPort(MidiOutput& output, Clock& clock, MessageBoxes& boxes, Edition edition);

    Handle handle() const { return m_handle; }
    int deviceId() const { return m_deviceId; }
    void setDeviceId(int id) { m_deviceId = id; }
    int deviceCount() const { return m_deviceCount; }
    void setDeviceCount(int count) { m_deviceCount = count; }
    std::uint32_t lastResult() const { return m_result; }
    // Device number of list entry k.
    int deviceIdAt(int listPosition) const;
    const ScaleTuningMessage& scaleTuningMsg() const { return m_tuningMsg; }

    unsigned queryDeviceCount();
    // Names of the devices whose capabilities can be read, in device order; fills DeviceIds.
    std::vector<std::string> fillDeviceList();
    // Up to six attempts, 500 ms apart, closing between them; the last result.
    std::uint32_t openMidiPort();
    void closePort();
    void resetPort();

    void noteOn(int note);
    void noteOff(int note);
    void referenceOn();
    void referenceOff();
    void damperOn();
    void damperOff();
    void selectInstrument(int program);
    void allSoundOff(int channel);
    void sendShort(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);

    // Builds the whole scale-tuning message from the data and sends it with the occasion's waits.
    // A message holding a byte of 0x80 or more is built but not sent.
    void sendTuning(const TuningData& data, TuningOccasion occasion);
    // The slider-change and device-switch send: the previous bytes stay for a level outside 0..3.
    void sendScaleTuning(const std::array<std::int32_t, 12>& answerOffsets,
                         const std::array<int, 12>& sliderPositions, int difficultyIndex);
    void sendGsReset(int settleMilliseconds);

    // The device switch of the main window's list: All Sound Off on channel index 9 to the old
    // port, close, open the new one with retries, reset, GS reset, then the current tuning.
    void switchDevice(int listPosition, const std::function<void()>& resendCurrentTuning);

private:
    void sendLongMessage(MidiHeader& header, int settleMilliseconds, TuningOccasion occasion);

    MidiOutput& m_output;
    Clock& m_clock;
    MessageBoxes& m_boxes;
    Edition m_edition;

    Handle m_handle = kNoHandle;
    int m_deviceId = 0;
    int m_deviceCount = 0;
    std::uint32_t m_result = 0;
    std::array<int, kMaxListedDevices> m_deviceIds{};
    int m_listedDevices = 0;

    ScaleTuningMessage m_tuningMsg{};
    MidiHeader m_tuningHeader{};
    MidiHeader m_resetHeader{};
};

}  // namespace velmora::midi
