// Ending a click's startup over a Wayland connection, against a compositor stand-in in a child
// process that speaks just enough of the wire protocol.
#include "desktop/wayland_startup.hpp"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <vector>

namespace orvela::qt {
namespace {

enum class Offers { GtkShell, OtherGlobals, Silence };

// Serves one client on `listener` and writes each startup id it is given, a line each, to
// `report`: wl_display.get_registry and sync, wl_registry.bind, gtk_shell1.set_startup_id.
[[noreturn]] void serve(int listener, Offers offers, int report) {
    const int fd = accept(listener, nullptr, nullptr);
    std::vector<std::uint8_t> in;
    std::uint32_t registry = 0, shell = 0;
    const auto word = [&in](std::size_t at) {
        std::uint32_t w;
        std::memcpy(&w, in.data() + at, 4);
        return w;
    };
    const auto send = [fd](std::uint32_t object, std::uint32_t opcode,
                           std::vector<std::uint32_t> args, const char* text = nullptr) {
        if (text) {  // a string after the first argument, as wl_registry.global has it
            const std::uint32_t length = std::uint32_t(std::strlen(text) + 1);
            std::vector<std::uint32_t> padded((length + 3) / 4, 0);
            std::memcpy(padded.data(), text, length);
            padded.insert(padded.begin(), length);
            args.insert(args.begin() + 1, padded.begin(), padded.end());
        }
        args.insert(args.begin(), {object, std::uint32_t((8 + 4 * args.size()) << 16) | opcode});
        (void)!write(fd, args.data(), 4 * args.size());
    };
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        in.insert(in.end(), buffer, buffer + n);
        while (in.size() >= 8 && in.size() >= (word(4) >> 16)) {
            const std::uint32_t object = word(0), opcode = word(4) & 0xffff, size = word(4) >> 16;
            if (offers == Offers::Silence) {
            } else if (object == 1 && opcode == 1) {  // get_registry
                registry = word(8);
                send(registry, 0, {1, 4}, "wl_seat");
                if (offers == Offers::GtkShell) send(registry, 0, {2, 5}, "gtk_shell1");
            } else if (object == 1 && opcode == 0) {  // sync: done, then the id is free
                send(word(8), 0, {0});
                send(1, 1, {word(8)});
            } else if (object == registry && opcode == 0) {  // bind(name, interface, version, id)
                shell = word(size - 4);
            } else if (object == shell && opcode == 1 && size > 12) {  // set_startup_id
                (void)!write(report, in.data() + 12, std::strlen((const char*)in.data() + 12));
                (void)!write(report, "\n", 1);
            }
            in.erase(in.begin(), in.begin() + std::max<std::uint32_t>(size, 8));
        }
    }
    _exit(0);
}

// Against GNOME's shell the startup id goes out and is read before the connection ends; a
// compositor without gtk_shell1, none at all, or one that never answers gets nothing, the last
// within the bounded wait.
TEST(WaylandStartup, TellsAShellWithGtkShellAndWaitsBoundedly) {
    // The app finds it loaded by Qt's Wayland platform; the tests load it themselves.
    ASSERT_NE(dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_GLOBAL), nullptr) << dlerror();
    QTemporaryDir dir;
    const std::string socketPath = dir.filePath(QStringLiteral("wayland-test")).toStdString();
    const char* saved = std::getenv("WAYLAND_DISPLAY");
    const std::string savedDisplay = saved ? saved : "";
    setenv("WAYLAND_DISPLAY", socketPath.c_str(), 1);
    EXPECT_FALSE(endWaylandStartup("gnome-shell/x/1-0-vm_TIME5")) << "no compositor";

    const std::string token = "gnome-shell/orvela-timer/4242-0-vm_TIME1796694312";
    for (const auto& [offers, sent, received] :
         std::vector<std::tuple<Offers, bool, std::string>>{{Offers::GtkShell, true, token + "\n"},
                                                            {Offers::OtherGlobals, false, ""},
                                                            {Offers::Silence, false, ""}}) {
        const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        unlink(socketPath.c_str());
        ASSERT_EQ(bind(listener, (const sockaddr*)&address, sizeof address), 0);
        ASSERT_EQ(listen(listener, 1), 0);
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t child = fork();
        if (child == 0) serve(listener, offers, report[1]);
        close(report[1]);
        close(listener);

        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(endWaylandStartup(token), sent) << int(offers);
        EXPECT_LT(std::chrono::steady_clock::now() - start,
                  std::chrono::milliseconds(kWaylandStartupWaitMs + 500));
        waitpid(child, nullptr, 0);
        std::string got(256, '\0');
        const ssize_t n = read(report[0], got.data(), got.size());
        got.resize(n > 0 ? std::size_t(n) : 0);
        close(report[0]);
        EXPECT_EQ(got, received) << int(offers);
    }
    saved ? setenv("WAYLAND_DISPLAY", savedDisplay.c_str(), 1) : unsetenv("WAYLAND_DISPLAY");
}

}  // namespace
}  // namespace orvela::qt
