// orvela-dev-service: the local development stand-in for the ORVELA service (see service.hpp).
// Runs until SIGINT or SIGTERM.

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "dev-service/service.hpp"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const orvela::dev::CommandLine line = orvela::dev::parseCommandLine(args);
    if (line.help) {
        std::cout << orvela::dev::usage();
        return 0;
    }
    if (!line.options) {
        std::cerr << "orvela-dev-service: " << line.error << "\n(--help: справка)\n";
        return 2;
    }

    // The server's threads inherit this mask, so the signals reach only sigwait below.
    sigset_t quit;
    sigemptyset(&quit);
    sigaddset(&quit, SIGINT);
    sigaddset(&quit, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &quit, nullptr);

    orvela::dev::DevService service(*line.options);
    service.logRequests(true);
    int port = 0;
    try {
        port = service.start();
    } catch (const std::exception& e) {
        std::cerr << "orvela-dev-service: " << e.what() << '\n';
        return 1;
    }
    // Scripts and tests read the first line to learn the port.
    std::cout << "listening on 127.0.0.1:" << port << std::endl;
    std::cerr << "Локальная замена сервиса ORVELA (не настоящий сервис): " << service.baseUrl()
              << ", демо-токен " << line.options->token << '\n';

    int signal = 0;
    sigwait(&quit, &signal);
    service.stop();
    return 0;
}
