#pragma once
// What the profile-file reader shows to its tests.

#include <QtGlobal>

// How many times a profile file has been read from the disk. Reads of a file
// whose size and modification time have not changed are answered from memory.
qint64 ini_file_loads();
