#pragma once

#include <string>

#include "core/panel/serialcontrol.h"

// Why a device could not be opened, found out from the device itself: NoSuchDevice,
// PermissionDenied, InUse or Other.
SerialErrorCode diagnoseOpenFailure(const std::string &path);

// The text of the message box: which port and device were tried, what went wrong and what to
// do. detail is the system's own wording, used for failures of no known cause.
std::string describeOpenFailure(int port, const std::string &path, SerialErrorCode failure,
                                const std::string &detail);

// The same for a network port (rfc2217:// or tcp://): HostNotFound, ConnectionRefused,
// TimedOut, SettingsRejected, NoAnswer, BadSettings (not an address) or Other with the library's
// (or the server's) words.
std::string describeNetFailure(int port, const std::string &url, SerialErrorCode failure,
                               const std::string &detail);

// The name of the group that owns the device, or its number when it has no name.
std::string deviceGroup(const std::string &path);

// The serial lock file for the device, where one exists: "LCK.." and the name of the device the
// path leads to, under /dev (its whole path otherwise) with "/" as "_", in the first of the lock
// directories that holds it (/var/lock, which is /run/lock on most systems, in the main).
std::string serialLockFile(const std::string &path);
// The lock file the program takes for the device: in the first of those directories that it
// may write.
std::string newSerialLockFile(const std::string &path);

// Takes an advisory lock on an open device, so that a second program cannot share the line.
// False when another program holds it.
bool lockDevice(int fd);
