// How long the built-in synthesizer's open takes when the sound server takes the connection and
// never answers: the device as the program makes it (the server first, the card after it), one
// open alone, then six in a row as the port's open attempts make them (without the 500 ms waits
// between them, which are the port's own). The device opens with its stream lost; the close
// after each open, not timed, stops the stream's attempts to connect.
//
//   open_unanswered
//
// The "server" is a unix socket of its own in a temporary folder, handed over as PULSE_SERVER:
// the kernel takes the connection and nothing ever reads from it.

#include "midi/BuiltinSynth.h"
#include "midi/MidiOutput.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace velmora::midi;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

}  // namespace

int main()
{
    char folder[] = "/tmp/velmora-unanswered.XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string path = std::string(folder) + "/native";
    const int server = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (server < 0 || bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(server, 16) != 0) {
        std::perror("socket");
        return 2;
    }
    setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);

    auto output = createBuiltinSynthOutput();
    if (!output || output->deviceCount() == 0) {
        std::fprintf(stderr, "no built-in synthesizer here (no SoundFont?)\n");
        return 2;
    }
    const auto attempt = [&] {
        Handle handle = kNoHandle;
        const auto start = Clock::now();
        const std::uint32_t result = output->open(0, handle);
        const double ms = msSince(start);
        if (handle != kNoHandle)
            output->close(handle);
        return std::pair(result, ms);
    };

    const auto [first, firstMs] = attempt();
    std::printf("one open: result %u after %.0f ms\n", first, firstMs);
    // A while later, as the program's next start or device switch would come.
    sleep(11);
    const auto start = Clock::now();
    std::printf("six opens in a row:");
    for (int i = 0; i < 6; ++i) {
        const auto [result, ms] = attempt();
        std::printf(" %u after %.0f ms;", result, ms);
    }
    std::printf(" %.0f ms in all\n", msSince(start));

    close(server);
    std::filesystem::remove_all(folder);
    return 0;
}
