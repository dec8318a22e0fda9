#pragma once
// Faults a test injects into the server: an error instead of running a statement, a delay
// before answering, a connection dropped before the answer or in the middle of a result.

#include "sandbox/engine/engine.h"

#include <QRegularExpression>

namespace sandbox {

struct Fault {
    enum class Action {
        Error,            // answer with `error` instead of running the statement
        Delay,            // wait `delayMs` before running and answering
        DropBeforeAnswer, // close the connection without answering
        DropMidResult,    // send the first result's metadata and `rowsBeforeDrop` rows, then close
        Hold,             // wait until SandboxServer::releaseHeld() (or stop) before running
    };
    Action action = Action::Error;
    // Matched against the text of batches and RPCs (Event::text()); with matchLogins also
    // against the login name of a login.
    QRegularExpression pattern;
    bool matchLogins = false;
    Message error;
    int delayMs = 0;
    int rowsBeforeDrop = 0;
    int times = -1; // how many matching requests it hits; -1: every one until cleared
};

} // namespace sandbox
