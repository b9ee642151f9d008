// The command line of the same binary: `orvela-timer pause|resume|toggle|skip|stop|extend|
// refresh|open|quit|status [--json] [--follow]`, a thin client of the running app's control
// interface.
// It never starts the app and needs no display.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace orvela::qt {

// What the arguments (after the program's name) ask for.
struct Invocation {
    enum class Kind { Launch, Command, Help, Usage };
    Kind kind = Kind::Launch;
    QString command;  // for Command: one of the words above
    bool json = false;
    bool follow = false;
    QString problem;  // for Usage: what was wrong
};

// Exit statuses of the client.
inline constexpr int kExitDone = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotRunning = 3;

// Leading "-OrvelaURL URL" pairs belong to the app and are passed over; then a word that does
// not begin with "-" is a command, "--help" (or "-h") asks for help, and anything else
// (nothing, or the toolkit's own options) launches the app.
Invocation parseInvocation(const QStringList& arguments);

QString helpText();

// One line of `status` (without its line feed): the title as plain text, or with `json` the
// object a waybar custom module reads: text and tooltip as Pango markup (waybar's default),
// class and alt (the phase: a style and a format-icons key) and percentage (the progress).
QByteArray statusLine(const QVariantMap& properties, bool json);

// Runs a Command, Help or Usage invocation to its end and returns the process's exit status.
// Builds its own QCoreApplication; none may exist yet.
int runCommandLine(const Invocation& invocation, int& argc, char** argv);

}  // namespace orvela::qt
