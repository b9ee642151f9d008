// A session-bus connection whose I/O runs on the main thread's event loop (sd-bus).
//
// QtDBus does all of a connection's I/O on a thread of its own, so every signal the status
// item sends, once a second for the ticking label, wakes that thread as well as ours. The
// item and its menu live on this connection instead: a message is written from the thread
// that made it, and incoming calls are dispatched by a socket notifier of the main loop.
#pragma once

#include <systemd/sd-bus.h>

#include <QObject>
#include <memory>
#include <string>

class QSocketNotifier;
class QTimer;

namespace orvela::qt {

class MainLoopBus : public QObject {
    Q_OBJECT

public:
    // A new connection to the session bus (DBUS_SESSION_BUS_ADDRESS, else the user's bus
    // socket); nullptr when there is none.
    static std::unique_ptr<MainLoopBus> connectSession();
    ~MainLoopBus() override;

    sd_bus* bus() const { return bus_; }
    // The connection's unique name (":1.42"); empty once the connection is gone.
    std::string uniqueName() const;
    bool isOpen() const;

    // Re-arms the notifiers after a send, so that what sd-bus could not write at once goes out
    // when the socket takes it. Everything that sends (a signal, a call, a name request)
    // calls it; safe inside a message handler. Replies to incoming calls need not.
    void flush();

signals:
    // The bus went away (daemon ended, socket error); nothing more is sent or received.
    void closed();

private:
    explicit MainLoopBus(sd_bus* bus);
    // Handles everything that has arrived, then re-arms.
    void dispatch();
    void rearm();
    void close();

    sd_bus* bus_ = nullptr;
    QSocketNotifier* readable_ = nullptr;
    QSocketNotifier* writable_ = nullptr;
    QTimer* timeout_ = nullptr;
};

// Owns an sd-bus slot (a match, an exported vtable, a pending call) and releases it on scope
// exit, so a call's answer never reaches an object that is gone.
struct SdBusSlotDeleter {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using SdBusSlot = std::unique_ptr<sd_bus_slot, SdBusSlotDeleter>;

// Owns an sd-bus message being built (a call, a reply, a signal) until it is sent or dropped.
struct SdBusMessageDeleter {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using SdBusMessage = std::unique_ptr<sd_bus_message, SdBusMessageDeleter>;

}  // namespace orvela::qt
