#pragma once

// Starting another program, the way the player starts the web browser and the system
// information tool: a program file and its arguments, never a shell command line, so no text
// that reaches here (a registry value, a web address) is interpreted as a command.

#include <QString>
#include <QStringList>
#include <functional>

namespace process {

// Starts `program` (an absolute path, or a name looked up on PATH) with `arguments`, each passed
// as one argument exactly as given, detached: the caller does not wait and the program outlives
// the player. Returns false when the program could not be started (missing, not executable, an
// empty name). UI thread; returns as soon as the program runs.
bool start(const QString& program, const QStringList& arguments);

// Replaces the real start while set (tests record what would have been started and answer
// whether it worked). Pass an empty function to start real programs again.
using Starter = std::function<bool(const QString& program, const QStringList& arguments)>;
void setStarter(Starter starter);

} // namespace process
