#pragma once
// One round trip to the server: a statement text with positional parameters, run at once (a batch
// without parameters, sp_executesql with them) so that the server keeps no cursor and no prepared
// statement for it, its answer read to its end and the statement finished before the call returns.
// Several row sets can thus be held on the one connection.
//
// What to do about the answer (raise its error, open the connection again after a lost link, set
// the session's options again) is the connection's business (adoconnection.h), not this file's.

#include "databaseerror.h"
#include "odbchandles.h"
#include "parameters.h"
#include "rowset.h"

#include <optional>

// What the server said to one statement.
struct StatementAnswer {
    // The rows of its first result set; none when it had none, or when it failed before them.
    RowSet rows;
    // Its first error: the server's (with its number), the driver's, or the layer's own refusal of a
    // parameter. The rest of the answer was read before it was kept, wherever the link allowed.
    std::optional<DatabaseError> error;
    // The driver has lost the link to the server (or given the connection up): nothing more can run
    // on it.
    bool linkLost = false;
    // The rest of the answer after the error could not be read, and what the server had still to do
    // may have been cut short by the statement's end (the reason is on the diagnostic output).
    bool restUnread = false;
};

// Runs text on the open ODBC connection. With parameters, each '?' of text takes the next value; a null
// QVariant of a type travels as SQL NULL of that type. Without parameters the text is sent unchanged
// as a batch. The answer is read to its end whatever it holds: at the server an error ends only its
// own statement (most do), the batch or the procedure goes on and its tokens arrive after the error,
// and a statement let go of with results pending would be cancelled. Never throws DatabaseError.
StatementAnswer runStatement(odbc::Connection connection, const QString &text,
                             const QList<QVariant> &parameters);
