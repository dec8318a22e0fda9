#pragma once
// What the driver manager and the driver say about a call: the one reader of a handle's diagnostic
// records, the one reading of them (the first error, with the server's number; all the messages),
// the one rule for which handle is asked when a call fails, and what the words say about the link.
//
// Internal to the layer: its sources only.

#include "databaseerror.h"
#include "odbcapi.h"

#include <QList>

#include <optional>

namespace odbc {

// One diagnostic record as the driver manager or the driver gives it.
struct DiagRecord {
    QString state;  // the SQLSTATE; class 01 is a warning (an INFO message of the server among them)
    QString text;   // with the driver manager's "[vendor][component]" prefixes
    int number = 0; // the server's error number; the driver's own messages have none
};

// SQLGetDiagRecW, of the driver manager or of a driver's own library.
using DiagRecFunction = SQLRETURN(SQL_API *)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLWCHAR *, SQLINTEGER *,
                                             SQLWCHAR *, SQLSMALLINT, SQLSMALLINT *);

// Every record of the handle, in order, read through the given entry point.
QList<DiagRecord> diagRecords(SQLSMALLINT handleType, SQLHANDLE handle,
                              DiagRecFunction read = &SQLGetDiagRecW);

// The first record that is not a warning, as the error the user is shown; nullopt when there is none.
std::optional<DatabaseError> firstError(const QList<DiagRecord> &records);
// Every message joined, warnings too: the state and number of the first error among them, else of the
// first message. nullopt when there is none.
std::optional<DatabaseError> allMessages(const QList<DiagRecord> &records);

// Why a call on the statement failed. The statement's first error names it alone, without the
// server's INFO messages; the driver tells of a link that broke under a statement on the connection
// instead, and FreeTDS reports some failures with warnings only. When nobody says anything, the
// call's name stands in the text.
DatabaseError callFailure(SQLHSTMT statement, SQLHDBC connection, const char *call);

// Why the connection failed to open: the driver's and the server's messages in order; and whether it
// failed in the driver's own setting up of the link (the encryption's handshake among the causes), as
// opposed to a server that refused the login or could not be reached at all.
struct ConnectFailure {
    DatabaseError error;
    bool inSetup = false;
};
ConnectFailure connectFailure(SQLHDBC connection);

// Whether the error says that the link to the server is gone: SQLSTATE class 08, or one of FreeTDS's
// own numbers for a server that went away, which it reports under warning or general states. A
// command cut off by the time limit is not among them: the driver cancels it and the connection goes
// on; when the server never confirms the cancel the driver gives the connection up, and
// connectionDead() says so.
bool saysLinkLost(const DatabaseError &error);

// Whether the driver's record of a lost link says nothing of its cause: a general error without a
// number (FreeTDS's "Unknown error" for a socket that was reset).
bool saysNoCause(const DatabaseError &error);

// Whether the driver has given up on the connection. Asking costs no round trip.
bool connectionDead(SQLHDBC connection);

} // namespace odbc
