#pragma once
// A statement's parameters: the ":name" markers of the system's statement texts, and the values bound
// to the driver's statement for the one call that carries the text and the values.

#include "databaseerror.h"
#include "odbchandles.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>
#include <vector>

// A statement text with ":name" markers in it, as the system writes them, and the same text with each
// marker replaced by '?' and the names in order of appearance.
struct MarkedText {
    QString text;
    QStringList names;
};
MarkedText replaceParameterMarkers(const QString &text);

// The values of one statement's parameters as the driver reads them when the statement runs: kept
// until then, at addresses that do not move.
class BoundParameters {
public:
    BoundParameters();
    ~BoundParameters();
    BoundParameters(const BoundParameters &) = delete;
    BoundParameters &operator=(const BoundParameters &) = delete;

    // Binds each value as the statement's parameter of the same position, as what it is: integers as
    // int or bigint, a bool as bit, reals as float or real, texts as Unicode (nvarchar: every
    // character reaches the server, whatever its code page), bytes as varbinary, dates and times with
    // their ODBC types; a null value of a type is NULL of that type. A value that cannot be sent as
    // what it is is refused (the layer's own error), never sent as something else; a refusal of the
    // driver is read as every failed call is.
    std::optional<DatabaseError> bind(odbc::Connection connection, odbc::Statement statement,
                                      const QList<QVariant> &values);

    struct Value; // one value, as parameters.cpp keeps it

private:
    std::vector<std::unique_ptr<Value>> m_values;
};
