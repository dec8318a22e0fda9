#pragma once
// The access layer's own words, in one place: what the user reads in the login window's status line or
// in the error box when the layer itself, not the driver or the server, has something to say. The
// driver's and the server's texts are passed on as they come and are not here.

#include <QString>

namespace dbtext {

// The connection and its string.
inline QString connectionIsOpen()
{
    return QStringLiteral("Действие недопустимо, пока соединение открыто.");
}
inline QString driverManagerMissing()
{
    return QStringLiteral("Диспетчер драйверов ODBC недоступен (unixODBC).");
}
inline QString providerMissing()
{
    return QStringLiteral("Поставщик данных не найден. Возможно, он установлен неправильно.");
}
inline QString malformedConnectionString(qsizetype position)
{
    return QStringLiteral("Ошибка в строке подключения в позиции %1.").arg(position);
}
// what: serverName(), databaseName(), accountName() or password().
inline QString valueCannotBeCarried(const QString &what)
{
    return QStringLiteral("%1 содержит подряд символы \"};\", которые драйвер базы данных не принимает: "
                          "соединение не открыто.")
        .arg(what);
}
inline QString serverName()
{
    return QStringLiteral("Имя сервера");
}
inline QString databaseName()
{
    return QStringLiteral("Имя базы данных");
}
inline QString accountName()
{
    return QStringLiteral("Имя учётной записи");
}
inline QString password()
{
    return QStringLiteral("Пароль");
}
inline QString linkLost(const QString &server)
{
    return QStringLiteral("Связь с сервером %1 потеряна.").arg(server);
}

// The driver's configuration and the organisation's certificate authority.
inline QString serverNameUncheckable(const QString &server)
{
    return QStringLiteral("Имя сервера %1 нельзя сверить с сертификатом.").arg(server);
}
inline QString authorityPathUnwritable(const QString &path, int longest)
{
    return QStringLiteral("Путь к сертификату центра сертификации %1 нельзя записать в настройки драйвера "
                          "базы данных (не длиннее %2 байт, без #, ; и двух пробелов подряд).")
        .arg(path)
        .arg(longest);
}
inline QString driverConfigurationUnwritable(const QString &path, const QString &reason)
{
    return QStringLiteral("Не удалось записать настройки драйвера базы данных %1: %2.").arg(path, reason);
}
inline QString driverConfigurationUnwritable(const QString &reason)
{
    return QStringLiteral("Не удалось записать настройки драйвера базы данных: %1.").arg(reason);
}
inline QString folderUnreadableForDriver(const QString &folder)
{
    return QStringLiteral("драйвер не может прочесть путь папки %1").arg(folder);
}
inline QString driverFolderNotPrepared()
{
    return QStringLiteral("папка для них не была подготовлена при запуске программы");
}
inline QString authorityUnreadable(const QString &file, const QString &reason)
{
    return QStringLiteral("Не удалось прочесть сертификат центра сертификации %1: %2.").arg(file, reason);
}

// The check of an encrypted connection that failed.
inline QString serverEndedConnection()
{
    return QStringLiteral("сервер разорвал соединение");
}
inline QString noCertificateName()
{
    return QStringLiteral("без имени");
}
inline QString noCertificate(const QString &server)
{
    return QStringLiteral("Сервер %1 не предъявил сертификат.").arg(server);
}
inline QString certificateForOtherName(const QString &server, const QString &names)
{
    return QStringLiteral("Сертификат сервера %1 выдан на %2, а не на имя сервера из настроек (%1). Впишите "
                          "в файл настроек имя из сертификата или выдайте серверу сертификат на %1.")
        .arg(server, names);
}
inline QString certificateNotTrusted(const QString &server, const QString &names, const QString &authority,
                                     const QString &reason)
{
    return QStringLiteral("Сертификат сервера %1 (выдан на %2) не прошёл проверку по сертификату центра "
                          "сертификации организации в %3: %4.")
        .arg(server, names, authority, reason);
}
inline QString handshakeFailed(const QString &server, const QString &reason)
{
    return QStringLiteral("Не удалось установить шифрованное соединение с сервером %1: %2.")
        .arg(server, reason);
}
inline QString handshakeEnded(const QString &server)
{
    return QStringLiteral("Сервер %1 разорвал соединение при установке шифрования.").arg(server);
}
inline QString serverCannotEncrypt(const QString &server, const QString &setting)
{
    return QStringLiteral("Сервер %1 не умеет шифровать соединения (у него нет сертификата), а настройка "
                          "безопасности %2 этого компьютера требует all. Выдайте серверу сертификат или "
                          "впишите в файл login.")
        .arg(server, setting);
}
inline QString encryptionFailedUnexplained(const QString &server, const QString &reason)
{
    return QStringLiteral("Шифрованное соединение с сервером %1 не установлено, а причину здесь узнать "
                          "нельзя: %2")
        .arg(server, reason);
}

// Statements, their parameters and their rows.
inline QString driverSaidNothing(const QString &call)
{
    return QStringLiteral("Драйвер базы данных не выполнил %1 и не сообщил причину.").arg(call);
}
inline QString noStatement()
{
    return QStringLiteral("Драйвер базы данных не даёт выполнить запрос на этом соединении.");
}
inline QString parameterNotSent(int number, const QString &why)
{
    return QStringLiteral("Параметр %1 нельзя передать серверу: %2.").arg(number).arg(why);
}
inline QString beyondBigint(const QString &value)
{
    return QStringLiteral("%1 больше наибольшего bigint").arg(value);
}
inline QString dateOutsideYears(const QString &date)
{
    return QStringLiteral("дата %1 лежит вне годов с 1 по 9999").arg(date);
}
inline QString dateOutsideDatetime(const QString &date)
{
    return QStringLiteral("дата %1 лежит вне годов с 1753 по 9999, которые вмещает тип datetime сервера")
        .arg(date);
}
inline QString timeWithMilliseconds(const QString &time)
{
    return QStringLiteral("во времени %1 есть миллисекунды, а тип времени драйвера их не передаёт").arg(time);
}
inline QString noValueNoType()
{
    return QStringLiteral("у него нет ни значения, ни типа");
}
inline QString unknownValueType(const QString &type)
{
    return QStringLiteral("значение типа %1 передать нельзя").arg(type);
}
inline QString parameterNotFound(const QString &name)
{
    return QStringLiteral("Параметр '%1' не найден").arg(name);
}
inline QString noResultSet()
{
    return QStringLiteral("Запрос не возвращает строк");
}
inline QString columnOutOfBounds(int column)
{
    return QStringLiteral("Номер столбца вне допустимых границ (%1)").arg(column);
}
inline QString notAnInteger(const QString &value)
{
    return QStringLiteral("'%1' не является целым числом").arg(value);
}
inline QString fieldNotFound(const QString &name)
{
    return QStringLiteral("Поле '%1' не найдено").arg(name);
}

} // namespace dbtext
