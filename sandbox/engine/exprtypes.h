#pragma once
// The types of T-SQL expressions, as the server gives them, for the columns of a result that are
// not plain table columns:
//   'abc'                 varchar(3)              N'abc'       nvarchar(3)
//   12                    int (bigint beyond)     1.5          float
//   NULL                  int                     a column     its declared type
//   @P1                   the parameter's declared type
//   x + y of text         the sum of the widths: varchar(n + m) up to 8000, nvarchar when either
//                         is Unicode (up to 4000), (max) when either is (max)
//   CAST(x AS t)          t; varchar and nvarchar without a width are 30
//   UPPER LOWER LTRIM RTRIM TRIM SUBSTRING LEFT RIGHT REVERSE ISNULL COALESCE MIN MAX
//                         the type of their first argument
//   COUNT LEN DATALENGTH CHARINDEX DAY MONTH YEAR  int
// Anything else is unknown here and takes its type from its values.

#include "sandbox/engine/tsqllexer.h"

#include <QHash>

#include <functional>

namespace sandbox::tsql {

// The declared types of a table's columns by lower-case column name; empty for an unknown table.
using TableColumns = QHash<QString, QString>;
using Catalog = std::function<TableColumns(const QString &table)>;
// Declared types of parameters by lower-case name without the '@'.
using ParameterTypes = QHash<QString, QString>;

class ExpressionTypes {
public:
    // The statement's tokens; the tables it reads (after FROM, JOIN, UPDATE, INTO) give the
    // columns that names refer to.
    ExpressionTypes(const QList<Token> &statement, Catalog catalog, ParameterTypes parameters = {});

    // The declaration of the expression's type ("varchar(3)", "nvarchar(max)", "int"), or empty.
    QString typeOf(const QList<Token> &expression) const;
    // The same for tokens [from, to) of the statement.
    QString typeOf(qsizetype from, qsizetype to) const { return typeOf(m_tokens.mid(from, to - from)); }

    // The types of the items of the statement's select list, in order; empty when the statement
    // is no SELECT or its list holds a *.
    QStringList selectList() const;
    // The names the server gives the same items: the alias, a column's own name, or empty for an
    // expression without an alias.
    QStringList selectNames() const;

    // For each item of the select list, whether it can never be NULL: a literal other than NULL,
    // ISNULL with such a second argument, COALESCE of such arguments, CASE with an ELSE whose
    // results are all such. Any other expression may be NULL, as on the server,
    // where an overflow could make it so.
    QList<bool> selectNotNull() const;

    // For each item of the select list, whether it is an aggregate (COUNT, SUM, ...): the server
    // announces those as columns that may hold NULL, without the computed flag.
    QList<bool> selectAggregates() const;

    static bool isText(const QString &declaration);

private:
    QString columnType(const QString &qualifier, const QString &column) const;
    bool neverNull(QList<Token> expression) const;
    QString functionType(const QString &name, const QList<QList<Token>> &arguments) const;
    // The type that values of the expressions meet in (CASE's results, COALESCE's arguments): the
    // highest in the server's precedence, the widest text; empty when one is unknown or text meets
    // a number.
    QString dominant(const QList<QList<Token>> &expressions) const;
    // The select list's items, each as its expression and its alias (empty when none); empty when
    // the statement is no SELECT or its list holds a *.
    QList<std::pair<QList<Token>, QString>> selectItems() const;

    QList<Token> m_tokens;
    Catalog m_catalog;
    ParameterTypes m_parameters;
    QList<std::pair<QString, QString>> m_sources; // alias (or the table's own name), table
    QHash<QString, TableColumns> m_derived;       // common table expressions and derived tables
};

} // namespace sandbox::tsql
