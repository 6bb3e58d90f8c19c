#pragma once

// Where ASIO drivers come from. On Windows: the drivers their vendors
// registered (HKEY_LOCAL_MACHINE "software\asio" and the COM class
// registrations), created as in-process COM servers. Elsewhere: drivers the
// program itself registered in-process, so the host's driver logic runs and
// is tested on every system.

#include "AsioInterface.h"

#include <cstdint>
#include <string>
#include <vector>

// One usable registration, in the order the registry lists them.
struct AsioRegisteredDriver {
    AsioClassId classId{}; // all zero when the registered text does not parse
    std::string name;      // the description, else the key name; at most 127 characters
};

std::vector<AsioRegisteredDriver> listRegisteredAsioDrivers();

// Creates the driver object of a class: 0 and the object, or the system's
// error and nothing.
int32_t createAsioDriver(const AsioClassId& classId, IAsioDriver** driver);

// COM on the calling thread, apartment model (nothing where there is no COM).
void initializeAsioThread();
void uninitializeAsioThread();

// Registers a driver in-process (systems without COM only; on Windows it
// does nothing). `create` makes a new object with one reference.
using AsioDriverFactory = IAsioDriver* (*)(void* context);
void registerInProcessAsioDriver(const std::string& name, const AsioClassId& classId,
                                 AsioDriverFactory create, void* context);
void clearInProcessAsioDrivers();

// The name as stored: its first 127 characters.
std::string storedAsioDriverName(const std::string& name);
