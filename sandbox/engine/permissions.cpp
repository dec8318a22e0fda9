#include "sandbox/engine/permissions.h"

#include "sandbox/engine/schema.h"
#include "sandbox/engine/sqlerrors.h"

#include <sqlite3.h>

namespace sandbox::permissions {

Role roleFromText(const QString &text)
{
    const QString r = text.trimmed().toLower();
    if (r == QLatin1String("gate"))
        return Role::Gate;
    if (r == QLatin1String("user"))
        return Role::User;
    if (r == QLatin1String("admin"))
        return Role::Admin;
    return Role::None;
}

bool mayExecute(Role role, const QString &procedure)
{
    const auto is = [&](const char *name) {
        return procedure.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };
    if (is("sp_datatype_info_100") || is("sp_datatype_info"))
        return true;
    if (role == Role::Admin)
        return true;
    if (is("GET_USER"))
        return role == Role::Gate;
    if (is("CreateStarasta"))
        return role == Role::User;
    return false;
}

void Authorizer::install(sqlite3 *db)
{
    sqlite3_set_authorizer(db, &Authorizer::callback, this);
}

void Authorizer::checkFor(Role role)
{
    m_role = role;
    m_checking = true;
    m_permission.clear();
    m_object.clear();
}

void Authorizer::allowAll()
{
    m_checking = false;
}

std::optional<Message> Authorizer::denial(int line) const
{
    if (m_permission.isEmpty())
        return std::nullopt;
    if (m_object.isEmpty())
        return sqlerr::databasePermissionDenied(m_permission, line);
    return sqlerr::permissionDenied(m_permission, m_object, line);
}

int Authorizer::callback(void *self, int action, const char *a, const char *b, const char *, const char *)
{
    return static_cast<Authorizer *>(self)->decide(action, a, b);
}

int Authorizer::decide(int action, const char *a, const char *)
{
    if (!m_checking || m_role == Role::Admin)
        return SQLITE_OK;
    const QString object = QString::fromUtf8(a ? a : "");
    const auto deny = [&](const QString &permission, const QString &on) {
        if (m_permission.isEmpty()) {
            m_permission = permission;
            m_object = on;
        }
        return SQLITE_DENY;
    };
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_READ:
        if (m_role == Role::User && schema::registrationTables().contains(object, Qt::CaseInsensitive))
            return SQLITE_OK;
        return deny(QStringLiteral("SELECT"), object);
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
        // A definition writes the schema table first; the definition's own check decides.
        if (object.startsWith(QLatin1String("sqlite_")) && object.endsWith(QLatin1String("master")))
            return SQLITE_OK;
        if (action == SQLITE_INSERT)
            return deny(QStringLiteral("INSERT"), object);
        if (action == SQLITE_UPDATE)
            return deny(QStringLiteral("UPDATE"), object);
        return deny(QStringLiteral("DELETE"), object);
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_TEMP_TABLE:
        return deny(QStringLiteral("CREATE TABLE"), QString());
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TEMP_INDEX:
        return deny(QStringLiteral("CREATE INDEX"), QString());
    case SQLITE_CREATE_VIEW:
    case SQLITE_CREATE_TEMP_VIEW:
        return deny(QStringLiteral("CREATE VIEW"), QString());
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_TEMP_TRIGGER:
        return deny(QStringLiteral("CREATE TRIGGER"), QString());
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_TEMP_TABLE:
        return deny(QStringLiteral("DROP TABLE"), QString());
    case SQLITE_ALTER_TABLE:
        return deny(QStringLiteral("ALTER TABLE"), QString());
    default:
        return deny(QStringLiteral("ALTER"), QString());
    }
}

} // namespace sandbox::permissions
