#pragma once

#include "midi/MidiOutput.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace velmora::midi {

// A MIDI output that records every call with its bytes and the (virtual) time, for tests and
// for running the program without hardware. It behaves like a Windows device: sending on a
// closed or never-opened handle returns 5, an unprepared long message 64.
class RecordingMidiOutput final : public MidiOutput {
public:
    enum class Call { GetNumDevs, GetDevCaps, Open, Close, Reset, ShortMsg, PrepareHeader, LongMsg };

    struct Record {
        Call call;
        unsigned device = 0;          // GetDevCaps, Open
        Handle handle = kNoHandle;    // the handle passed (Open: the handle returned)
        std::vector<std::uint8_t> bytes;  // ShortMsg: status and data bytes; LongMsg/PrepareHeader: the buffer
        std::uint32_t headerSize = 0;
        std::uint32_t result = 0;
        double atMilliseconds = 0;
    };

    explicit RecordingMidiOutput(std::vector<std::string> deviceNames = {"Recording device"});

    // Where the record's time stamps come from (a virtual clock's milliseconds).
    void setTimeSource(std::function<double()> milliseconds) { m_now = std::move(milliseconds); }
    void setDevices(std::vector<std::string> deviceNames) { m_names = std::move(deviceNames); }
    void failDeviceName(unsigned device) { m_failingNames.insert(device); }
    // Every open of the device fails with the code (0 lifts it).
    void failOpen(unsigned device, std::uint32_t code) { m_openFailures[device] = code; }
    void failAllOpens(std::uint32_t code) { m_openFailAll = code; }
    // Long-message sends on an open handle return this code instead of 0 (0 lifts it).
    void failLongMessages(std::uint32_t code) { m_longFailure = code; }

    const std::vector<Record>& records() const { return m_records; }
    void clearRecords() { m_records.clear(); }
    // Channel and system-exclusive messages that reached an open port, in order, as wire bytes.
    std::vector<std::vector<std::uint8_t>> deliveredMessages() const;
    // Every short and long message handed over, delivered or not.
    std::vector<std::vector<std::uint8_t>> attemptedMessages() const;
    bool isOpen(Handle handle) const { return m_open.count(handle) != 0; }
    std::size_t openPortCount() const { return m_open.size(); }

    unsigned deviceCount() override;
    std::optional<std::string> deviceName(unsigned device) override;
    std::uint32_t open(unsigned device, Handle& handle) override;
    std::uint32_t close(Handle handle) override;
    std::uint32_t reset(Handle handle) override;
    std::uint32_t shortMessage(Handle handle, std::uint32_t packed) override;
    std::uint32_t prepareHeader(Handle handle, MidiHeader& header, std::uint32_t headerSize) override;
    std::uint32_t longMessage(Handle handle, MidiHeader& header, std::uint32_t headerSize) override;

private:
    Record& add(Call call);
    // Bytes of a packed short message by its status (two bytes for program change and channel pressure).
    static std::vector<std::uint8_t> unpack(std::uint32_t packed);

    std::vector<std::string> m_names;
    std::set<unsigned> m_failingNames;
    std::map<unsigned, std::uint32_t> m_openFailures;
    std::uint32_t m_openFailAll = 0;
    std::uint32_t m_longFailure = 0;
    std::function<double()> m_now;
    std::vector<Record> m_records;
    std::set<Handle> m_open;
    Handle m_nextHandle = 0x100;
};

}  // namespace velmora::midi
