#pragma once
// Files of the tests: whole reads and writes, and program-like contents.

#include <QByteArray>
#include <QString>

// The whole file, or nothing when it cannot be read.
QByteArray readFile(const QString &path);
// Writes exactly these bytes, creating or truncating the file; a test that cannot ends at once.
void writeFile(const QString &path, const QByteArray &bytes);
// Bytes that look like a program file: every value, zeros and line ends included. The same seed gives
// the same bytes.
QByteArray programBytes(qsizetype size, quint32 seed = 1);
