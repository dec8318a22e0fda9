#pragma once
#include "common/error.h"

// A failure of the database: the server's or the driver's own message text, without the driver
// manager's "[vendor][component]" prefixes, and the SQLSTATE where the driver gave one.
class DatabaseError : public Error {
public:
    explicit DatabaseError(QString message, QString state = QString())
        : Error(std::move(message)), m_state(std::move(state))
    {
    }
    const QString &state() const { return m_state; }

private:
    QString m_state;
};
