#pragma once

#include <functional>

class QObject;

// SIGTERM, SIGINT and SIGHUP, turned into a call on the event loop through a self-pipe: a
// signal handler may do next to nothing, while ending the panel means closing its port, which
// releases the device's exclusive use and locks for the next program. handler gets the
// signal's number. False when the signals cannot be watched.
bool watchEndSignals(QObject *context, std::function<void(int)> handler);
