#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmora::midi {

// The program's only view of MIDI hardware, shaped after the Windows multimedia output calls.
using Handle = std::uintptr_t;
inline constexpr Handle kNoHandle = 0;

// Windows multimedia result codes; every backend reports in these.
namespace mmresult {
inline constexpr std::uint32_t NoError = 0;
inline constexpr std::uint32_t Error = 1;
inline constexpr std::uint32_t BadDeviceId = 2;
inline constexpr std::uint32_t NotEnabled = 3;
inline constexpr std::uint32_t Allocated = 4;
inline constexpr std::uint32_t InvalidHandle = 5;
inline constexpr std::uint32_t NoDriver = 6;
inline constexpr std::uint32_t NoMemory = 7;
inline constexpr std::uint32_t NotSupported = 8;
inline constexpr std::uint32_t BadErrorNumber = 9;
inline constexpr std::uint32_t InvalidFlag = 10;
inline constexpr std::uint32_t InvalidParam = 11;
inline constexpr std::uint32_t HandleBusy = 12;
inline constexpr std::uint32_t InvalidAlias = 13;
inline constexpr std::uint32_t LastError = 20;
inline constexpr std::uint32_t MidiUnprepared = 64;
inline constexpr std::uint32_t MidiNotReady = 67;
}  // namespace mmresult

// A long-message header: the caller fills data and length; prepareHeader marks it prepared.
struct MidiHeader {
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    bool prepared = false;
};
inline constexpr std::uint32_t kMidiHeaderSize = 64;
inline constexpr std::size_t kMaxDeviceNameBytes = 32;

class MidiOutput {
public:
    virtual ~MidiOutput() = default;
    virtual unsigned deviceCount() = 0;
    // The device's name, at most 32 bytes; nullopt when its capabilities cannot be read.
    virtual std::optional<std::string> deviceName(unsigned device) = 0;
    virtual std::uint32_t open(unsigned device, Handle& handle) = 0;
    virtual std::uint32_t close(Handle handle) = 0;
    virtual std::uint32_t reset(Handle handle) = 0;
    // Status in bits 0-7, first data byte in bits 8-15, second in bits 16-23.
    virtual std::uint32_t shortMessage(Handle handle, std::uint32_t packed) = 0;
    virtual std::uint32_t prepareHeader(Handle handle, MidiHeader& header, std::uint32_t headerSize) = 0;
    virtual std::uint32_t longMessage(Handle handle, MidiHeader& header, std::uint32_t headerSize) = 0;
};

inline constexpr std::uint32_t packShortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2 = 0)
{
    return std::uint32_t(status) | (std::uint32_t(data1) << 8) | (std::uint32_t(data2) << 16);
}

}  // namespace velmora::midi
