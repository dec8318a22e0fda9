#include "programfolder.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString &overriddenFolder()
{
    static QString folder;
    return folder;
}
} // namespace

QString ProgramFolder()
{
    if (!overriddenFolder().isEmpty())
        return overriddenFolder();
    // In the platform's own form: on Windows with backslashes, as the files beside it are named.
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

void setProgramFolder(const QString &folder)
{
    overriddenFolder() = folder;
}
