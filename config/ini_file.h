#pragma once
// What the profile-file reader shows to its tests.

#include <QtGlobal>

// A configuration file is a few lines; anything much larger is something
// else, and is neither read into memory nor rewritten.
constexpr qint64 ini_max_bytes = 1 << 20;

// How many times a profile file has been read from the disk. Reads of a file
// whose size and modification time have not changed are answered from memory.
qint64 ini_file_loads();
