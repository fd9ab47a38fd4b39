#pragma once

#include <QString>

#include "core/panel/devicemap.h"

class QObject;

// The built-in demo: simulated projectors on pseudo-terminals, COM1 a chain of four, COM2 a
// single one. Returns the devices to use, or an error text.
struct Demo {
    DeviceMap devices;
    QString description;  // what COM1 and COM2 stand for, for the operator
    QString error;

    static Demo start(QObject *parent);
};
