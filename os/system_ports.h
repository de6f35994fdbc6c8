// The system's own implementation of each replaceable service, one per platform
// (os/linux, os/win32). Only os/ itself uses this header.
#pragma once
#include "os/device.h"
#include "os/library.h"
#include "os/platform.h"
#include "os/session.h"
#include "os/time.h"

DevicePort& SystemDevices();
TimePort& SystemTime();
PlatformPort& SystemPlatform();
LibraryPort& SystemLibraries();
SessionPort& SystemSession();
