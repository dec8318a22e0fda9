#pragma once
#include <QString>

// The folder of the running executable, without a trailing separator: the settings file, the update
// server's address, the download folder and the replacement script lie there.
QString ProgramFolder();

// Makes ProgramFolder() answer the folder given (tests run the client's code from a temporary
// program folder); an empty text restores the executable's own folder.
void setProgramFolder(const QString &folder);
