#pragma once
#include <QString>

// The four values that open the first database connection of a sign-in attempt.
// The record order (user, password, database, server) is not the settings file's order.
struct TFirstConnectInfo {
    QString User;
    QString Password;
    QString Database;
    QString Server;

    friend bool operator==(const TFirstConnectInfo &, const TFirstConnectInfo &) = default;
};
