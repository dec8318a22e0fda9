#pragma once
// The rest of an answer whose first result was an error.
//
// At the server an error ends its statement, not the batch or the procedure: what follows it still
// runs and its tokens follow the error. FreeTDS's driver reports the error from SQLExecDirect and
// keeps the rest to be read with SQLMoreResults, but the driver manager (unixODBC) takes a failed
// SQLExecDirect for the end of the statement and answers SQLMoreResults with "no more results"
// itself, without asking the driver. Letting the statement go then makes the driver cancel what is
// left (ATTENTION), which stops what the server had not yet done.
//
// So, after a failed SQLExecDirect only, the rest of the answer is read through the driver's own
// SQLMoreResults on the driver's own statement handle, which the driver manager gives out for this
// purpose (SQLGetInfo with SQL_DRIVER_HSTMT); the driver's records are read through the driver's own
// SQLGetDiagRecW and read as every other record is (diagnostics.h). The driver's entry points are
// those of the library the driver manager loaded for the connection (driverlibrary.h).
//
// Where they cannot be found, the driver manager's own SQLMoreResults is tried: a driver manager that
// passes it on to the driver reads the rest as well. Where that gives nothing either, the rest is left
// unread and one line says so (the driver's name and why) on the program's diagnostic output.

#include "diagnostics.h"

#include <optional>

namespace odbc {

struct RestOfAnswer {
    // The first error among the rest (the server's, with its number), if any.
    std::optional<DatabaseError> error;
    // True when the driver said there is no more: nothing is left to cancel. False when the rest
    // could not be read to its end: the driver could not be reached, or failed itself.
    bool complete = false;
};

// Reads every remaining result of the statement on the connection after SQLExecDirect failed. Rows
// are passed over: the statement has failed already.
RestOfAnswer readRestAfterFailedExecute(SQLHDBC connection, SQLHSTMT statement);

} // namespace odbc
