#pragma once
// Who may do what. Each server account has one of three roles:
//   gate   the account of the client's settings file: may run GET_USER and nothing that touches a
//          table. SET, USE and sp_datatype_info_100 (sent by the driver itself) are open to all.
//   user   a login's own account: may SELECT the registration tables and run CreateStarasta;
//          it may not change any table directly nor read the sandbox's own tables.
//   admin  may do anything, procedures and SQL of every kind; meant for tests and tools.
// An account that is not in the accounts table has no rights at all.
//
// Table access is checked by SQLite's authorizer while a statement is prepared, so every table a
// statement touches (joins, subqueries, views) is checked, not just the first one named.

#include "sandbox/engine/types.h"

#include <optional>

struct sqlite3;

namespace sandbox::permissions {

enum class Role { None, Gate, User, Admin };

Role roleFromText(const QString &text);
bool mayExecute(Role role, const QString &procedure);

class Authorizer {
public:
    void install(sqlite3 *db);
    // Checks what the statements prepared from now on touch, for the role.
    void checkFor(Role role);
    // Internal work of the engine and its procedures: everything allowed.
    void allowAll();
    // The refusal behind the last SQLITE_AUTH failure, as the server words it.
    std::optional<Message> denial(int line) const;

private:
    static int callback(void *self, int action, const char *a, const char *b, const char *database,
                        const char *trigger);
    int decide(int action, const char *a, const char *b);

    Role m_role = Role::Admin;
    bool m_checking = false;
    QString m_permission; // "SELECT", "INSERT", ... or a database permission such as "CREATE TABLE"
    QString m_object;     // empty for a database permission
};

} // namespace sandbox::permissions
