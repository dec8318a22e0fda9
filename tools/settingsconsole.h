#pragma once
// What qel31-settings asks of the system: the terminal's echo while a password is typed, and the
// rights of the settings file and its folders. One implementation for POSIX systems
// (settingsconsole_posix.cpp), where the file is made readable by every user of the client, and one
// for Windows (settingsconsole_windows.cpp), where the folder's own rights apply.

#include <QSaveFile>
#include <QString>

// Standard input without its echo while the object lives, so that a password shows neither on the
// screen nor in the scrollback; the line ends still show. Does nothing where the input is no
// terminal.
class EchoOff {
public:
    EchoOff();
    ~EchoOff();
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;
};

// Whether standard input is a terminal (a console on Windows).
bool inputIsTerminal();

// Makes the missing folders on the way to the folder, open to every user where the system has modes.
bool makeFolders(const QString &folder, QString *problem);

// Gives the file that is being written the rights the client's users need to read it.
bool setReadableByAll(QSaveFile &file, QString *problem);

// Warns (through warn) when users other than the owner cannot read the file or reach its folder.
void warnWhenHiddenFromOthers(const QString &path, void (*warn)(const QString &));

// What the help says of the file's rights.
QString fileRightsHelp();
