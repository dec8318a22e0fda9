#pragma once
#include <QString>

// The call of GET_USER for one sign-in attempt:
//   EXEC GET_USER 'U','P',N, 'QEL 31', 'A', 'M', 'U','0','K'
// U the user name as typed, P the password digest, N the new-password argument (NULL or a quoted
// digest), A the IP address, M the computer name, K the length of N. Every single quote inside a
// quoted argument is doubled, so that whatever was typed reaches the procedure as data. The request
// is the Windows-1251 form of that text: a character outside the code page stands as "?".
struct GetUserArguments {
    QString login;
    QString passwordDigest;
    QString newPassword; // as given to the sign-in: exactly "NULL" means none
    QString ipAddress;
    QString computerName;
};

QString GetUserRequest(const GetUserArguments &arguments);

// The new-password argument: NULL, or the digest of the new password between single quotes.
QString NewPasswordArgument(const QString &newPassword);
