// Starting the replacement script on POSIX systems: the shell runs it in the program folder, detached,
// with the id of the process it waits for.

#include "update.h"

#include <QProcess>

bool StartReplacementScript(const QString &script, const QString &programFolder, qint64 processId)
{
    return QProcess::startDetached(QStringLiteral("/bin/sh"), {script, QString::number(processId)},
                                   programFolder);
}
