// velmora-board: the results board's web server.
#include "board/http/BoardServer.h"
#include "board/http/CommandLine.h"
#include "board/store/Store.h"

#include <QCoreApplication>

#include <sodium.h>

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

int main(int argc, char** argv)
{
    using namespace velmora::board;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto parsed = parseCommandLine(arguments);
    if (std::holds_alternative<HelpRequested>(parsed)) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (const auto* error = std::get_if<CommandLineError>(&parsed)) {
        std::fprintf(stderr, "velmora-board: %s\nTry 'velmora-board --help'.\n", error->message.c_str());
        return 2;
    }
    const BoardOptions& options = std::get<BoardOptions>(parsed);
    if (sodium_init() < 0) {
        std::fputs("velmora-board: libsodium cannot start\n", stderr);
        return 1;
    }

    // Stop on SIGINT and SIGTERM from one thread that waits for them, so the workers finish the
    // requests they have. Blocked here, before any thread starts, so every thread inherits it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // Qt SQL loads its database drivers as plugins, which needs the application object.
    QCoreApplication application(argc, argv);

    StoreOptions storeOptions;
    storeOptions.connection = options.database;
    // The log may go to a journal others read: a password in the connection string stays out of it.
    std::string shownDatabase = options.database;
    if (shownDatabase.rfind("postgresql://", 0) == 0) {
        const std::size_t at = shownDatabase.find('@');
        const std::size_t colon = shownDatabase.find(':', std::string_view("postgresql://").size());
        if (at != std::string::npos && colon < at)
            shownDatabase.replace(colon + 1, at - colon - 1, "***");
    }
    storeOptions.addressKey = options.secret;
    const OpenResult opened = Store::open(storeOptions);
    if (!opened.store) {
        std::fprintf(stderr, "velmora-board: cannot use the database %s: %s\n", shownDatabase.c_str(),
                     opened.error.c_str());
        return 1;
    }

    BoardServer server(options, opened.store);
    std::string error;
    if (!server.bind(error)) {
        std::fprintf(stderr, "velmora-board: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "velmora-board: answering on http://%s%s%s:%d/ with %d workers, database %s (%s)\n",
                 options.host.find(':') != std::string::npos ? "[" : "", options.host.c_str(),
                 options.host.find(':') != std::string::npos ? "]" : "", server.port(), options.workers,
                 shownDatabase.c_str(), std::string(opened.store->backendName()).c_str());

    std::thread stopper([&server, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        std::fprintf(stderr, "velmora-board: stopping on signal %d\n", signal);
        server.stop();
    });
    const bool ran = server.run();
    if (stopper.joinable()) {
        // run() also ends when listening fails; wake the waiting thread so it can be joined.
        pthread_kill(stopper.native_handle(), SIGTERM);
        stopper.join();
    }
    return ran ? 0 : 1;
}
