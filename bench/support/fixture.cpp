#include "fixture.h"

#include "db/connectionproperties.h"
#include "figures.h"
#include "signin/settingsfile.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QStringList>

namespace {

// Names in the shape of the demo's: surname, first name, patronymic.
const QStringList kSurnames = {
    QStringLiteral("Иванов"),  QStringLiteral("Смирнов"),  QStringLiteral("Кузнецов"),
    QStringLiteral("Попов"),   QStringLiteral("Васильев"), QStringLiteral("Петров"),
    QStringLiteral("Соколов"), QStringLiteral("Михайлов"), QStringLiteral("Новиков"),
    QStringLiteral("Фёдоров"), QStringLiteral("Морозов"),  QStringLiteral("Волков")};
const QStringList kNames = {QStringLiteral("Александр"), QStringLiteral("Алексей"), QStringLiteral("Андрей"),
                            QStringLiteral("Артём"),     QStringLiteral("Дмитрий"), QStringLiteral("Евгений"),
                            QStringLiteral("Иван"),      QStringLiteral("Кирилл"),  QStringLiteral("Максим"),
                            QStringLiteral("Михаил")};
const QStringList kPatronymics = {QStringLiteral("Александрович"), QStringLiteral("Алексеевич"),
                                  QStringLiteral("Андреевич"),     QStringLiteral("Владимирович"),
                                  QStringLiteral("Дмитриевич"),    QStringLiteral("Евгеньевич"),
                                  QStringLiteral("Иванович"),      QStringLiteral("Игоревич")};

QString studentName(int i)
{
    return kSurnames[i % kSurnames.size()] + QLatin1Char(' ') + kNames[(i / 12) % kNames.size()] +
           QLatin1Char(' ') + kPatronymics[(i / 120) % kPatronymics.size()];
}

} // namespace

BenchServer::BenchServer() : m_server(std::make_unique<sandbox::SandboxServer>(QString(), true))
{
    QString error;
    if (!m_server->start(QStringLiteral("127.0.0.1"), 0, &error))
        benchFailure(QStringLiteral("the sandbox server did not start: %1").arg(error));
}

BenchServer::~BenchServer() = default;

FixtureGroup BenchServer::addGroup(qint32 id, int students)
{
    sandbox::Engine &engine = m_server->engine();
    FixtureGroup group;
    group.id = id;
    group.students = students;
    const qint64 first = qint64(id) * 100000;
    group.monitor = qint32(first + students / 2);
    engine.sqlite(QStringLiteral("BEGIN"));
    for (int i = 0; i < students; ++i) {
        const QString name = studentName(i);
        engine.sqlite(QStringLiteral("INSERT INTO s_fio (id_student, s_fio) VALUES (?, ?)"),
                      {first + i, name});
        engine.sqlite(QStringLiteral("INSERT INTO s_g (id_student, id_group) VALUES (?, ?)"),
                      {first + i, qint64(id)});
        group.rawBytes += 4 + 2 * name.size();
    }
    engine.sqlite(QStringLiteral("INSERT INTO QELStudent (id_group, id_student) VALUES (?, ?)"),
                  {qint64(id), qint64(group.monitor)});
    engine.sqlite(QStringLiteral("COMMIT"));
    return group;
}

QString BenchServer::address() const
{
    return QStringLiteral("127.0.0.1,%1").arg(m_server->port());
}

QString BenchServer::driverConnectionString(const QString &user, const QString &password) const
{
    ConnectionProperties p;
    p.provider = QStringLiteral("SQLOLEDB.1");
    p.user = user;
    p.password = password;
    p.database = demo::kDatabase;
    p.dataSource = address();
    return odbcConnectionString(p, 30);
}

void BenchServer::openPlain(QSqlDatabase &db, const QString &user, const QString &password) const
{
    db.setDatabaseName(driverConnectionString(user, password));
    db.setConnectOptions(QStringLiteral("SQL_ATTR_ODBC_VERSION=SQL_OV_ODBC3;SQL_ATTR_LOGIN_TIMEOUT=15"));
    if (!db.open())
        benchFailure(db.lastError().text());
}

QString BenchServer::programFolder()
{
    if (!m_programFolder) {
        m_programFolder = std::make_unique<QTemporaryDir>();
        const QString data = m_programFolder->path() + QStringLiteral("/Data");
        QDir().mkpath(data);
        QFile settings(SettingsFilePath(m_programFolder->path()));
        if (!settings.open(QIODevice::WriteOnly))
            benchFailure(QStringLiteral("cannot write %1").arg(settings.fileName()));
        settings.write(
            EncodeFirstConnectInfo({demo::kGateAccount, demo::kGatePassword, demo::kDatabase, address()}));
    }
    return m_programFolder->path();
}
