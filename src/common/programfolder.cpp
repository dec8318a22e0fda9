#include "programfolder.h"

#include <QCoreApplication>

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
    return QCoreApplication::applicationDirPath();
}

void setProgramFolder(const QString &folder)
{
    overriddenFolder() = folder;
}
