#include "midi/MidiPort.h"

#include "editions/Catalogue.h"
#include "platform/Clock.h"
#include "platform/Services.h"

#include <algorithm>

namespace velmora::midi {
namespace {

constexpr int kOpenAttempts = 6;
constexpr int kOpenRetryWaitMs = 500;
constexpr int kBeforeTuningSendMs = 300;
constexpr int kAfterLongTuningMs = 1000;
constexpr int kAfterShortTuningMs = 10;
constexpr int kAfterSwitchResetMs = 200;

constexpr std::uint8_t kInstrumentChannel = 0;
constexpr std::uint8_t kReferenceChannel = 1;
// The old device gets its All Sound Off on this channel index, not on the instrument's.
constexpr std::uint8_t kSwitchSilenceChannel = 9;
constexpr std::uint8_t kReferenceNote = 69;
constexpr std::uint8_t kNoteOnVelocity = 0x64;
constexpr std::uint8_t kNoteOffVelocity = 0x7F;
constexpr std::uint8_t kDamperController = 0x40;
constexpr std::uint8_t kAllSoundOffController = 0x78;

constexpr std::uint8_t noteOnStatus(std::uint8_t channel) { return std::uint8_t(0x90 | channel); }
constexpr std::uint8_t noteOffStatus(std::uint8_t channel) { return std::uint8_t(0x80 | channel); }
constexpr std::uint8_t controllerStatus(std::uint8_t channel) { return std::uint8_t(0xB0 | channel); }
constexpr std::uint8_t programStatus(std::uint8_t channel) { return std::uint8_t(0xC0 | channel); }

int settleTime(TuningOccasion occasion)
{
    return occasion == TuningOccasion::SliderOrSwitch ? kAfterShortTuningMs : kAfterLongTuningMs;
}

}  // namespace

MidiPort::MidiPort(MidiOutput& output, Clock& clock, MessageBoxes& boxes, Edition edition)
    : m_output(output), m_clock(clock), m_boxes(boxes), m_edition(edition)
{
}

int MidiPort::deviceIdAt(int listPosition) const
{
    if (listPosition < 0 || listPosition >= kMaxListedDevices)
        return 0;
    return m_deviceIds[static_cast<std::size_t>(listPosition)];
}

unsigned MidiPort::queryDeviceCount()
{
    return m_output.deviceCount();
}

std::vector<std::string> MidiPort::fillDeviceList()
{
    std::vector<std::string> names;
    m_listedDevices = 0;
    const unsigned count = m_output.deviceCount();
    for (unsigned device = 0; device < count && m_listedDevices < kMaxListedDevices; ++device) {
        std::optional<std::string> name = m_output.deviceName(device);
        if (!name)
            continue;
        m_deviceIds[static_cast<std::size_t>(m_listedDevices++)] = static_cast<int>(device);
        names.push_back(std::move(*name));
    }
    return names;
}

std::uint32_t MidiPort::openMidiPort()
{
    const auto device = static_cast<unsigned>(m_deviceId);
    std::uint32_t result = m_output.open(device, m_handle);
    for (int attempts = 1; result != mmresult::NoError && attempts < kOpenAttempts; ++attempts) {
        m_output.close(m_handle);
        m_clock.sleep(kOpenRetryWaitMs);
        result = m_output.open(device, m_handle);
    }
    return result;
}

void MidiPort::closePort()
{
    m_output.close(m_handle);
}

void MidiPort::resetPort()
{
    m_output.reset(m_handle);
}

void MidiPort::sendShort(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    m_output.shortMessage(m_handle, packShortMessage(status, data1, data2));
}

void MidiPort::noteOn(int note)
{
    sendShort(noteOnStatus(kInstrumentChannel), static_cast<std::uint8_t>(note), kNoteOnVelocity);
}

void MidiPort::noteOff(int note)
{
    sendShort(noteOffStatus(kInstrumentChannel), static_cast<std::uint8_t>(note), kNoteOffVelocity);
}

void MidiPort::referenceOn()
{
    sendShort(noteOnStatus(kReferenceChannel), kReferenceNote, kNoteOnVelocity);
}

void MidiPort::referenceOff()
{
    sendShort(noteOffStatus(kReferenceChannel), kReferenceNote, kNoteOffVelocity);
}

void MidiPort::damperOn()
{
    sendShort(controllerStatus(kInstrumentChannel), kDamperController, 0x7F);
}

void MidiPort::damperOff()
{
    sendShort(controllerStatus(kInstrumentChannel), kDamperController, 0x00);
}

void MidiPort::selectInstrument(int program)
{
    // The reference channel gets the same instrument so the A sounds like the notes it is compared with.
    sendShort(programStatus(kInstrumentChannel), static_cast<std::uint8_t>(program), 0);
    sendShort(programStatus(kReferenceChannel), static_cast<std::uint8_t>(program), 0);
}

void MidiPort::allSoundOff(int channel)
{
    sendShort(controllerStatus(static_cast<std::uint8_t>(channel & 0x0F)), kAllSoundOffController, 0x00);
}

void MidiPort::sendTuning(const TuningData& data, TuningOccasion occasion)
{
    m_tuningMsg = buildScaleTuningMsg(data);
    m_tuningHeader.data = m_tuningMsg.data();
    m_tuningHeader.length = static_cast<std::uint32_t>(m_tuningMsg.size());
    // A byte of 0x80 or more would end the system-exclusive message early on the wire; the
    // synthesizer keeps the last valid tuning until the sliders are back in range.
    if (!isValidSysex(m_tuningMsg))
        return;
    sendLongMessage(m_tuningHeader, settleTime(occasion), occasion);
}

void MidiPort::sendScaleTuning(const std::array<std::int32_t, 12>& answerOffsets,
                               const std::array<int, 12>& sliderPositions, int difficultyIndex)
{
    std::optional<TuningData> data = sliderTuningData(answerOffsets, sliderPositions, difficultyIndex);
    if (!data) {
        TuningData previous{};
        std::copy_n(m_tuningMsg.begin() + 8, previous.size(), previous.begin());
        data = previous;
    }
    sendTuning(*data, TuningOccasion::SliderOrSwitch);
}

void MidiPort::sendGsReset(int settleMilliseconds)
{
    m_resetHeader.data = kGsResetMsg.data();
    m_resetHeader.length = static_cast<std::uint32_t>(kGsResetMsg.size());
    m_output.prepareHeader(m_handle, m_resetHeader, kMidiHeaderSize);
    m_output.longMessage(m_handle, m_resetHeader, kMidiHeaderSize);
    m_clock.sleep(settleMilliseconds);
}

void MidiPort::sendLongMessage(MidiHeader& header, int settleMilliseconds, TuningOccasion occasion)
{
    m_output.prepareHeader(m_handle, header, kMidiHeaderSize);
    m_clock.sleep(kBeforeTuningSendMs);
    m_result = m_output.longMessage(m_handle, header, kMidiHeaderSize);
    m_clock.sleep(settleMilliseconds);

    std::optional<TextKey> key;
    switch (m_result) {
    case mmresult::MidiNotReady: key = TextKey::MsgSendError1; break;
    case mmresult::MidiUnprepared:
        key = occasion == TuningOccasion::Shutdown ? TextKey::MsgSendError2Close : TextKey::MsgSendError2;
        break;
    case mmresult::InvalidHandle: key = TextKey::MsgSendError3; break;
    case mmresult::InvalidParam: key = TextKey::MsgSendError4; break;
    default: break;
    }
    if (key)
        m_boxes.showMessage(std::string(text(m_edition, *key)));
}

void MidiPort::switchDevice(int listPosition, const std::function<void()>& resendCurrentTuning)
{
    allSoundOff(kSwitchSilenceChannel);
    closePort();
    m_deviceId = deviceIdAt(listPosition);
    m_result = openMidiPort();
    if (m_result != mmresult::NoError)
        m_boxes.showMessage(std::string(text(m_edition, TextKey::MsgOpenFailed)));
    resetPort();
    sendGsReset(kAfterSwitchResetMs);
    if (resendCurrentTuning)
        resendCurrentTuning();
}

}  // namespace velmora::midi
