#pragma once
// A temporary program folder: what lies beside the client's executable (Data/QEL and the like).
// Removed with everything in it when the object goes.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class TempProgramFolder {
public:
    TempProgramFolder();
    QString path() const { return m_dir.path(); }
    QString settingsPath() const;
    // Writes Data/QEL with exactly these bytes, creating Data when needed.
    void writeSettings(const QByteArray &bytes) const;
    // Makes Data without a settings file in it.
    void makeDataFolder() const;

private:
    QTemporaryDir m_dir;
};

// The 84 bytes of a settings file laid out by hand: each area's stored bytes and its length byte.
QByteArray settingsBytes(const QByteArray &user, quint8 userLength, const QByteArray &password,
                         quint8 passwordLength, const QByteArray &server, quint8 serverLength,
                         const QByteArray &database, quint8 databaseLength);
