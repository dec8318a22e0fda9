#pragma once
// The connection settings file "Data/QEL" beside the executable: 84 bytes in two halves of the same
// shape, each two 20-byte areas followed by their two length bytes.
//
//   0  User (20)      20 Password (20)   40 length of User    41 length of Password
//   42 Server (20)    62 Database (20)   82 length of Server  83 length of Database
//
// A value is the first N bytes of its area (N clamped to 20, zero bytes kept) stored one code lower
// than the real characters. The client only reads the file; qel31-settings writes it.

#include "firstconnectinfo.h"

#include <QByteArray>
#include <QString>

constexpr int kSettingsFileSize = 84;
constexpr int kSettingsValueSize = 20;

// "<programDir>/Data/QEL".
QString SettingsFilePath(const QString &programDir);

// Reads the file beside the running executable, afresh on every call. Throws InOutError.
TFirstConnectInfo ReadFirstConnectInfo();
// The same for the program folder given.
TFirstConnectInfo ReadFirstConnectInfo(const QString &programDir);

// The values of the first 84 bytes of a settings file (shorter input reads as zero bytes).
TFirstConnectInfo DecodeFirstConnectInfo(QByteArrayView bytes);

// The 84 bytes of a settings file for the values; unused bytes are zero. Throws Error when a value
// has a character outside Windows-1251 or is longer than 20 bytes.
QByteArray EncodeFirstConnectInfo(const TFirstConnectInfo &info);
