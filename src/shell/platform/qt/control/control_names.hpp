// Where the running app answers on the session bus: its one name, object and interface.
#pragma once

namespace orvela::qt {

inline constexpr char kControlService[] = "org.orvela.Timer";
inline constexpr char kControlPath[] = "/org/orvela/Timer";
inline constexpr char kControlInterface[] = "org.orvela.Timer1";
// The D-Bus error a refused command fails with; its message says why.
inline constexpr char kControlRefused[] = "org.orvela.Timer1.Error.Refused";
// The D-Bus error of an action given while another action's request waits for its answer:
// nothing was sent, and the same call may be made again once that answer is in.
inline constexpr char kControlBusy[] = "org.orvela.Timer1.Error.Busy";

}  // namespace orvela::qt
