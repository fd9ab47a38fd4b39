#pragma once

#include <functional>

class QObject;

// The signals whose default action would end the program (TERM, INT, HUP, QUIT, USR1, USR2,
// ALRM), turned into a call on the event loop through a self-pipe: a signal handler may do next
// to nothing, while ending a program means closing its port, which releases the device's
// exclusive use and locks for the next program. SIGPIPE is ignored: a reader that has gone is
// an error of the write, not an end. handler gets the signal's number. False when the signals
// cannot be watched.
bool watchEndSignals(QObject *context, std::function<void(int)> handler);
