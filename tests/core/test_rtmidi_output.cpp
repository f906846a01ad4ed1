#include "midi/RtMidiOutput.h"

#include "midi/GsMessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

using namespace velmora::midi;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A stand-in for the sequencer: its ports, what reached them, and the failures to raise.
struct FakeSequencer {
    std::vector<std::string> ports;
    std::vector<std::pair<int, Bytes>> sent;  // client number, bytes
    int clientsMade = 0;
    std::function<void()> onCreate;
    std::function<void()> onOpen;
    std::function<void()> onSend;
    std::function<void()> onName;
};

class FakeClient final : public RtMidiClient {
public:
    FakeClient(FakeSequencer& sequencer, int number) : m_sequencer(sequencer), m_number(number) {}

    unsigned portCount() override { return static_cast<unsigned>(m_sequencer.ports.size()); }
    std::string portName(unsigned port) override
    {
        if (m_sequencer.onName)
            m_sequencer.onName();
        if (port >= m_sequencer.ports.size())
            throw RtMidiError("no such port", RtMidiError::WARNING);
        return m_sequencer.ports[port];
    }
    void openPort(unsigned port) override
    {
        if (m_sequencer.onOpen)
            m_sequencer.onOpen();
        if (port >= m_sequencer.ports.size())
            throw RtMidiError("port number is invalid", RtMidiError::INVALID_PARAMETER);
    }
    void sendMessage(const std::uint8_t* bytes, std::size_t size) override
    {
        if (m_sequencer.onSend)
            m_sequencer.onSend();
        m_sequencer.sent.emplace_back(m_number, Bytes(bytes, bytes + size));
    }

private:
    FakeSequencer& m_sequencer;
    int m_number;
};

RtMidiClientFactory factoryFor(FakeSequencer& sequencer)
{
    return [&sequencer]() -> std::unique_ptr<RtMidiClient> {
        if (sequencer.onCreate)
            sequencer.onCreate();
        return std::make_unique<FakeClient>(sequencer, ++sequencer.clientsMade);
    };
}

std::function<void()> raise(RtMidiError::Type type)
{
    return [type] { throw RtMidiError("provoked", type); };
}

class RtMidiOutputTest : public ::testing::Test {
protected:
    RtMidiOutputTest() : output(factoryFor(sequencer)) { sequencer.ports = {"Synth 128:0", "Thru 14:0"}; }

    Handle openPort(unsigned device)
    {
        Handle handle = kNoHandle;
        EXPECT_EQ(output.open(device, handle), mmresult::NoError);
        return handle;
    }

    FakeSequencer sequencer;
    RtMidiOutput output;
};

}  // namespace

// --- this machine's sequencer -----------------------------------------------------------------

TEST(RtMidiSystem, WithoutASequencerThereAreNoPortsAndNothingThrows)
{
    if (std::filesystem::exists("/dev/snd/seq"))
        GTEST_SKIP() << "an ALSA sequencer is present here";
    RtMidiOutput output;
    EXPECT_EQ(output.deviceCount(), 0u);
    EXPECT_EQ(output.deviceCount(), 0u);  // asked again: still no crash, still nothing
    EXPECT_FALSE(output.deviceName(0).has_value());

    Handle handle = 0x77;
    EXPECT_EQ(output.open(0, handle), mmresult::NoDriver);
    EXPECT_EQ(handle, kNoHandle);
    EXPECT_EQ(output.open(5, handle), mmresult::NoDriver);

    MidiHeader header{kGsResetMsg.data(), 11};
    EXPECT_EQ(output.shortMessage(handle, packShortMessage(0x90, 60, 100)), mmresult::InvalidHandle);
    EXPECT_EQ(output.prepareHeader(handle, header, kMidiHeaderSize), mmresult::InvalidHandle);
    EXPECT_EQ(output.longMessage(handle, header, kMidiHeaderSize), mmresult::InvalidHandle);
    EXPECT_EQ(output.reset(handle), mmresult::InvalidHandle);
    EXPECT_EQ(output.close(handle), mmresult::InvalidHandle);
}

// --- error codes ------------------------------------------------------------------------------

TEST(RtMidiErrorCodes, MappedOntoWindowsCodes)
{
    EXPECT_EQ(mmresultForRtMidiError(RtMidiError::INVALID_DEVICE), mmresult::BadDeviceId);
    EXPECT_EQ(mmresultForRtMidiError(RtMidiError::INVALID_PARAMETER), mmresult::BadDeviceId);
    EXPECT_EQ(mmresultForRtMidiError(RtMidiError::INVALID_USE), mmresult::Allocated);
    EXPECT_EQ(mmresultForRtMidiError(RtMidiError::NO_DEVICES_FOUND), mmresult::NoDriver);
    EXPECT_EQ(mmresultForRtMidiError(RtMidiError::DRIVER_ERROR), mmresult::NoDriver);
    EXPECT_EQ(mmresultForRtMidiError(RtMidiError::MEMORY_ERROR), mmresult::NoMemory);
    for (auto type : {RtMidiError::WARNING, RtMidiError::UNSPECIFIED, RtMidiError::SYSTEM_ERROR,
                      RtMidiError::THREAD_ERROR})
        EXPECT_EQ(mmresultForRtMidiError(type), mmresult::Error) << "type " << type;
}

TEST_F(RtMidiOutputTest, OpenFailuresComeBackAsCodesWithNoHandle)
{
    struct Case {
        std::function<void()> failure;
        bool atCreate;
        std::uint32_t code;
    };
    const std::vector<Case> cases{
        {raise(RtMidiError::DRIVER_ERROR), true, mmresult::NoDriver},
        {raise(RtMidiError::MEMORY_ERROR), true, mmresult::NoMemory},
        {[] { throw std::bad_alloc(); }, true, mmresult::NoMemory},
        {raise(RtMidiError::INVALID_USE), false, mmresult::Allocated},
        {raise(RtMidiError::NO_DEVICES_FOUND), false, mmresult::NoDriver},
        {raise(RtMidiError::WARNING), false, mmresult::Error},
        {[] { throw std::runtime_error("not RtMidi's"); }, false, mmresult::Error},
    };
    for (const Case& c : cases) {
        sequencer.onCreate = c.atCreate ? c.failure : nullptr;
        sequencer.onOpen = c.atCreate ? nullptr : c.failure;
        Handle handle = 0x55;
        std::uint32_t result = 0;
        EXPECT_NO_THROW(result = output.open(0, handle));
        EXPECT_EQ(result, c.code);
        EXPECT_EQ(handle, kNoHandle);
    }
}

TEST_F(RtMidiOutputTest, PortNumberBeyondTheListIsABadDevice)
{
    Handle handle = kNoHandle;
    EXPECT_EQ(output.open(2, handle), mmresult::BadDeviceId);
    EXPECT_EQ(handle, kNoHandle);
}

// --- listing ----------------------------------------------------------------------------------

TEST_F(RtMidiOutputTest, PortsAreDevicesInOrder)
{
    EXPECT_EQ(output.deviceCount(), 2u);
    EXPECT_EQ(output.deviceName(0), "Synth 128:0");
    EXPECT_EQ(output.deviceName(1), "Thru 14:0");
    EXPECT_FALSE(output.deviceName(2).has_value());
    sequencer.onName = raise(RtMidiError::DRIVER_ERROR);
    EXPECT_FALSE(output.deviceName(0).has_value());
}

TEST_F(RtMidiOutputTest, LongNamesAreCutAt32BytesOnACharacterBoundary)
{
    // 30 ASCII bytes, then a three-byte character that would straddle byte 32.
    sequencer.ports = {std::string(30, 'x') + "ＭＩＤＩ", std::string(40, 'y')};
    EXPECT_EQ(output.deviceName(0), std::string(30, 'x'));
    EXPECT_EQ(output.deviceName(1), std::string(32, 'y'));
}

TEST_F(RtMidiOutputTest, ListingRetriesAfterTheSequencerWasMissing)
{
    sequencer.onCreate = raise(RtMidiError::DRIVER_ERROR);
    EXPECT_EQ(output.deviceCount(), 0u);
    EXPECT_FALSE(output.deviceName(0).has_value());
    sequencer.onCreate = nullptr;
    EXPECT_EQ(output.deviceCount(), 2u);
    EXPECT_EQ(output.deviceCount(), 2u);
    EXPECT_EQ(sequencer.clientsMade, 1);  // one listing client kept once it exists
}

TEST(Utf8Truncation, KeepsWholeCharacters)
{
    EXPECT_EQ(truncateUtf8("short", 32), "short");
    EXPECT_EQ(truncateUtf8("ＭＩＤＩ", 6), "ＭＩ");
    EXPECT_EQ(truncateUtf8("ＭＩＤＩ", 7), "ＭＩ");
    EXPECT_EQ(truncateUtf8("ＭＩＤＩ", 8), "ＭＩ");
    EXPECT_EQ(truncateUtf8("ＭＩＤＩ", 9), "ＭＩＤ");
    EXPECT_EQ(truncateUtf8("ab\xC3\xA9", 3), "ab");  // é split after its lead byte
    EXPECT_EQ(truncateUtf8("Ｍ", 2), "");
}

// --- sending ----------------------------------------------------------------------------------

TEST_F(RtMidiOutputTest, ShortMessagesCarryTheBytesTheirStatusNeeds)
{
    const Handle handle = openPort(0);
    EXPECT_EQ(output.shortMessage(handle, packShortMessage(0x90, 0x3C, 0x64)), 0u);
    EXPECT_EQ(output.shortMessage(handle, packShortMessage(0xC1, 0x05, 0x33)), 0u);
    EXPECT_EQ(output.shortMessage(handle, packShortMessage(0xD0, 0x40, 0x33)), 0u);
    EXPECT_EQ(output.shortMessage(handle, packShortMessage(0xE0, 0x00, 0x40)), 0u);
    EXPECT_EQ(output.shortMessage(handle, packShortMessage(0xF8, 0x11, 0x22)), 0u);
    ASSERT_EQ(sequencer.sent.size(), 5u);
    EXPECT_EQ(sequencer.sent[0].second, (Bytes{0x90, 0x3C, 0x64}));
    EXPECT_EQ(sequencer.sent[1].second, (Bytes{0xC1, 0x05}));
    EXPECT_EQ(sequencer.sent[2].second, (Bytes{0xD0, 0x40}));
    EXPECT_EQ(sequencer.sent[3].second, (Bytes{0xE0, 0x00, 0x40}));
    EXPECT_EQ(sequencer.sent[4].second, (Bytes{0xF8}));

    EXPECT_EQ(output.shortMessage(handle, packShortMessage(0xF0, 0x41, 0x10)), mmresult::InvalidParam);
    EXPECT_EQ(output.shortMessage(handle, packShortMessage(0x3C, 0x64)), mmresult::InvalidParam);
    EXPECT_EQ(sequencer.sent.size(), 5u);
}

TEST_F(RtMidiOutputTest, LongMessageGoesOutUnchangedAsOneMessage)
{
    const Handle handle = openPort(1);
    MidiHeader header{kGsResetMsg.data(), static_cast<std::uint32_t>(kGsResetMsg.size())};
    EXPECT_EQ(output.longMessage(handle, header, kMidiHeaderSize), mmresult::MidiUnprepared);
    EXPECT_TRUE(sequencer.sent.empty());

    EXPECT_EQ(output.prepareHeader(handle, header, kMidiHeaderSize), 0u);
    EXPECT_EQ(output.longMessage(handle, header, kMidiHeaderSize), 0u);
    ASSERT_EQ(sequencer.sent.size(), 1u);
    EXPECT_EQ(sequencer.sent[0].second, Bytes(kGsResetMsg.begin(), kGsResetMsg.end()));
}

TEST_F(RtMidiOutputTest, ClosedOrUnknownHandleIsInvalid)
{
    const Handle handle = openPort(0);
    EXPECT_EQ(output.close(handle), 0u);
    MidiHeader header{kGsResetMsg.data(), 11, true};
    EXPECT_EQ(output.shortMessage(handle, packShortMessage(0x90, 60, 100)), mmresult::InvalidHandle);
    EXPECT_EQ(output.prepareHeader(handle, header, kMidiHeaderSize), mmresult::InvalidHandle);
    EXPECT_EQ(output.longMessage(handle, header, kMidiHeaderSize), mmresult::InvalidHandle);
    EXPECT_EQ(output.reset(handle), mmresult::InvalidHandle);
    EXPECT_EQ(output.close(handle), mmresult::InvalidHandle);
    EXPECT_EQ(output.close(kNoHandle), mmresult::InvalidHandle);
    EXPECT_TRUE(sequencer.sent.empty());
}

TEST_F(RtMidiOutputTest, EachOpenHasItsOwnConnection)
{
    const Handle first = openPort(0);
    const Handle second = openPort(1);
    EXPECT_NE(first, second);
    EXPECT_EQ(output.close(first), 0u);
    EXPECT_EQ(output.shortMessage(second, packShortMessage(0x91, 0x45, 0x64)), 0u);
    ASSERT_EQ(sequencer.sent.size(), 1u);
    EXPECT_EQ(sequencer.sent[0].first, 2);
}

TEST_F(RtMidiOutputTest, ResetSilencesAndReleasesEveryChannel)
{
    const Handle handle = openPort(0);
    EXPECT_EQ(output.reset(handle), 0u);
    ASSERT_EQ(sequencer.sent.size(), 48u);
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        for (std::uint8_t controller : std::initializer_list<std::uint8_t>{0x78, 0x79, 0x7B}) {
            const Bytes expected{std::uint8_t(0xB0 | channel), controller, 0x00};
            EXPECT_NE(std::find_if(sequencer.sent.begin(), sequencer.sent.end(),
                                   [&](const auto& s) { return s.second == expected; }),
                      sequencer.sent.end())
                << int(channel) << " " << int(controller);
        }
    }
}

TEST_F(RtMidiOutputTest, FailedSendsAreCodesNotExceptions)
{
    const Handle handle = openPort(0);
    MidiHeader header{kGsResetMsg.data(), 11};
    ASSERT_EQ(output.prepareHeader(handle, header, kMidiHeaderSize), 0u);

    sequencer.onSend = raise(RtMidiError::WARNING);  // how RtMidi's ALSA client reports a lost event
    EXPECT_EQ(output.shortMessage(handle, packShortMessage(0x90, 60, 100)), mmresult::Error);
    EXPECT_EQ(output.longMessage(handle, header, kMidiHeaderSize), mmresult::Error);
    EXPECT_EQ(output.reset(handle), mmresult::Error);

    sequencer.onSend = raise(RtMidiError::DRIVER_ERROR);
    EXPECT_EQ(output.longMessage(handle, header, kMidiHeaderSize), mmresult::NoDriver);
}
