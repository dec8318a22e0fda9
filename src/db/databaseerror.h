#pragma once
#include "common/error.h"

// A failure of the database: the server's or the driver's own message text, without the driver
// manager's "[vendor][component]" prefixes, the SQLSTATE where the driver gave one, and the server's
// own error number (2627, 50000, ...) where the server raised it; 0 for the driver's own failures.
class DatabaseError : public Error {
public:
    explicit DatabaseError(QString message, QString state = QString(), int number = 0)
        : Error(std::move(message)), m_state(std::move(state)), m_number(number)
    {
    }
    const QString &state() const { return m_state; }
    int number() const { return m_number; }

private:
    QString m_state;
    int m_number;
};
