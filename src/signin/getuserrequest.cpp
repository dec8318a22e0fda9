#include "getuserrequest.h"

#include "common/cp1251.h"
#include "common/md5.h"

namespace {
QString quoted(const QString &value)
{
    QString inner = value;
    inner.replace(QLatin1Char('\''), QLatin1String("''"));
    return inner;
}
} // namespace

QString NewPasswordArgument(const QString &newPassword)
{
    if (newPassword == QLatin1String("NULL"))
        return newPassword;
    return QLatin1Char('\'') + Md5Hex(newPassword) + QLatin1Char('\'');
}

QString GetUserRequest(const GetUserArguments &a)
{
    const QString newPassword = NewPasswordArgument(a.newPassword);
    // The count is of the argument as written, never of the typed new password.
    const QString count = QString::number(newPassword.size());
    const QString request =
        QLatin1String("EXEC GET_USER '") + quoted(a.login) + QLatin1String("',") + QLatin1String("'") +
        quoted(a.passwordDigest) + QLatin1String("',") + newPassword + QLatin1String(", ") +
        QLatin1String("'QEL 31") + QLatin1String("'") + QLatin1String(", '") + quoted(a.ipAddress) +
        QLatin1String("', ") + QLatin1String("'") + quoted(a.computerName) + QLatin1String("'") +
        QLatin1String(", '") + quoted(a.login) + QLatin1String("',") + QLatin1String("'0',") +
        QLatin1String("'") + count + QLatin1String("'");
    // Every text goes as its Windows-1251 form, the same that the password digest is taken of: a
    // character the code page cannot hold arrives as "?".
    return Cp1251::toUnicode(Cp1251::fromUnicode(request));
}
