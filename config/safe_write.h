#pragma once

#include <QByteArray>
#include <QString>

// Replaces the contents of a file as a whole or not at all: the new bytes go
// to a new file in the same folder, which is written, flushed and synced to
// the disk before it is renamed over the old one. On any failure the new file
// is removed, the old one is left exactly as it was and the result is false.
// A symbolic link is followed, and the old file's permissions are kept.
// why, when given, gets the system's words for a failure.
bool replace_file(const QString &path, const QByteArray &data, QString *why = nullptr);
