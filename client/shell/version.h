// The program's version, as the version resource states it and the configuration store
// reads it back ("%d.%d.%d" of FileVersion).
#pragma once

#define ACCEL_VERSION_MAJOR 2
#define ACCEL_VERSION_MINOR 1
#define ACCEL_VERSION_BUILD 0
#define ACCEL_VERSION_TEXT "2.1.0"
