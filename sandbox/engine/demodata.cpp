#include "sandbox/engine/demodata.h"

#include "common/md5.h"
#include "sandbox/engine/sqlitedb.h"

#include <QStringList>

#include <cstdint>

namespace sandbox::demo {

namespace {

// A small deterministic generator (splitmix64): the same sequence on every machine and run.
class Random {
public:
    explicit Random(std::uint64_t seed) : state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return int(next() % std::uint64_t(n)); }
    template <typename T> const T &pick(const QList<T> &list) { return list.at(below(int(list.size()))); }

private:
    std::uint64_t state;
};

struct Speciality {
    const char *code;
    int groupsPerYear;
};

struct Faculty {
    int id;
    const char *name;
    int sortKey;
    const char *shortName;
    QList<Speciality> specialities;
};

const QList<Faculty> &faculties()
{
    static const QList<Faculty> list = {
        {1, "Факультет информационных технологий", 30, "ФИТ", {{"ИВТ", 2}, {"ПИ", 1}, {"ИБ", 1}}},
        {2, "Экономический факультет", 10, "ЭФ", {{"ЭК", 2}, {"МН", 1}, {"БУ", 1}}},
        {3, "Юридический факультет", 20, "ЮФ", {{"ЮР", 2}, {"ПД", 1}}},
        {4, "Филологический факультет", 50, "ФФ", {{"ФЛ", 1}, {"ЖР", 1}, {"ПР", 1}}},
        {5, "Механико-математический факультет", 40, "ММФ", {{"МТ", 1}, {"ПМ", 2}, {"МХ", 1}}},
        {6, "Химико-биологический факультет", 60, "ХБФ", {{"ХМ", 1}, {"БЛ", 1}}},
    };
    return list;
}

// Academic years 2022/2023 .. 2025/2026 with ids 1..4; groups admitted 2019..2025 study four.
constexpr int kFirstYear = 2022;
constexpr int kYears = 4;
constexpr int kFirstAdmission = 2019;
constexpr int kLastAdmission = 2025;
constexpr int kStudyYears = 4;

QStringList split(const char *words)
{
    return QString::fromUtf8(words).split(u' ', Qt::SkipEmptyParts);
}

const QStringList &surnames()
{
    static const QStringList list = split(
        "Иванов Смирнов Кузнецов Попов Васильев Петров Соколов Михайлов Новиков Фёдоров Морозов Волков "
        "Алексеев Лебедев Семёнов Егоров Павлов Козлов Степанов Николаев Орлов Андреев Макаров Никитин "
        "Захаров Зайцев Соловьёв Борисов Яковлев Григорьев Романов Воробьёв Сергеев Кузьмин Фролов "
        "Александров Дмитриев Королёв Гусев Киселёв Ильин Максимов Поляков Сорокин Виноградов Ковалёв "
        "Белов Медведев Антонов Тарасов Жуков Баранов Филиппов Комаров Давыдов Беляев Герасимов Богданов "
        "Осипов Сидоров Матвеев Титов Марков Миронов Крылов Куликов Карпов Власов Мельников Денисов "
        "Гаврилов Тихонов Казаков Афанасьев Данилов Савельев Тимофеев Фомин Чернов Абрамов Мартынов "
        "Ефимов Федотов Щербаков Назаров Калинин Исаев Чернышёв Быков Маслов Родионов Коновалов Лазарев "
        "Воронин Климов Филатов Пономарёв Голубев Кудрявцев Прохоров Наумов Потапов Журавлёв Овчинников "
        "Трофимов Леонов Соболев Ермаков Колесников Гончаров Емельянов Никифоров Грачёв Котов Гришин "
        "Ефремов Архипов Громов Кириллов Малышев Панов Моисеев Румянцев Акимов Кондратьев Бирюков "
        "Горбунов Анисимов Ерёмин Тихомиров Галкин Лукьянов Михеев Скворцов Юдин Белоусов Нестеров "
        "Симонов Прокофьев Харитонов Князев Цветков Левин Митрофанов Воронов Аксёнов Мальцев Логинов "
        "Горшков Савин Краснов Майоров Демидов Елисеев Рыбаков Сафонов Плотников Дёмин Хохлов Жданов "
        "Островский Вишневский Покровский Троицкий Шевченко Бондаренко Ким Черных Седых Гордиенко");
    return list;
}

const QStringList &maleNames()
{
    static const QStringList list =
        split("Александр Алексей Андрей Артём Владимир Дмитрий Евгений Иван Илья Кирилл Максим Михаил Никита "
              "Николай Павел Роман Сергей Степан Тимофей Фёдор Ярослав Егор Даниил Матвей Глеб Денис Антон "
              "Константин Георгий Лев Марк Олег Виктор Григорий Вадим Арсений Богдан Тимур");
    return list;
}

const QStringList &femaleNames()
{
    static const QStringList list = split(
        "Анастасия Анна Алина Валерия Вероника Виктория Дарья Диана Екатерина Елена Елизавета Ксения "
        "Мария Марина Милана Наталья Ольга Полина Софья София Татьяна Юлия Ульяна Варвара Алёна Кристина "
        "Арина Ирина Светлана Яна Василиса Вера Надежда Любовь Евгения Таисия");
    return list;
}

const QStringList &patronymics()
{
    static const QStringList list =
        split("Александрович Алексеевич Андреевич Владимирович Дмитриевич Евгеньевич Иванович Игоревич "
              "Михайлович Николаевич Олегович Павлович Петрович Сергеевич Викторович Юрьевич Анатольевич "
              "Борисович Васильевич Геннадьевич Григорьевич Константинович Романович Станиславович Фёдорович "
              "Вадимович Валерьевич Максимович Артёмович Денисович");
    return list;
}

QString femaleSurname(const QString &male)
{
    if (male.endsWith(QStringLiteral("ский")) || male.endsWith(QStringLiteral("цкий")))
        return male.chopped(2) + QStringLiteral("ая");
    for (const char *ending : {"ов", "ев", "ёв", "ин", "ын"})
        if (male.endsWith(QString::fromUtf8(ending)))
            return male + QStringLiteral("а");
    return male; // Шевченко, Ким, Черных: the same for both
}

QString femalePatronymic(const QString &male)
{
    return male.chopped(2) + QStringLiteral("на");
}

QString fullName(Random &rnd)
{
    const bool female = rnd.below(2) == 1;
    const QString surname = rnd.pick(surnames());
    const QString patronymic = rnd.pick(patronymics());
    if (female)
        return femaleSurname(surname) + u' ' + rnd.pick(femaleNames()) + u' ' + femalePatronymic(patronymic);
    return surname + u' ' + rnd.pick(maleNames()) + u' ' + patronymic;
}

struct DemoLogin {
    int id;
    const char *login;
    int daysSinceChange; // with a lifetime of 180 days
    const char *blocked;
    const char *mustUpdate;
    const char *account;
    const char *accountPassword; // Cyrillic letters and a character that a connection string must quote
    QList<int> faculties;
};

constexpr int kLifetime = 180;

const QList<DemoLogin> &demoLogins()
{
    static const QList<DemoLogin> list = {
        {12, "demo", 0, nullptr, nullptr, "qel_demo", "Группа=17;демо", {1, 2, 3}},
        {13, "expiring", kLifetime - 9, nullptr, nullptr, "qel_expiring", "Срок;истекает}9", {4}},
        {14, "expired", kLifetime + 10, nullptr, nullptr, "qel_expired", "Пароль=устарел;", {5}},
        {15,
         "blocked",
         0,
         "Учётная запись заблокирована. Обратитесь к администратору.",
         nullptr,
         "qel_blocked",
         "Закрыт;вход}",
         {6}},
        {16, "outdated", 0, nullptr, "QEL 31", "qel_outdated", "Обнови=версию;31", {1}},
        {17, "nofaculty", 0, nullptr, nullptr, "qel_nofaculty", "Без;факультета=0", {}},
    };
    return list;
}

Value text(const char *s)
{
    return s ? Value(QString::fromUtf8(s)) : Value();
}

// The students of the marked group, with their CreateStarasta marks.
struct MarkedStudent {
    int id;
    const char *name;
    const char *rule; // nullptr: none
};

const QList<MarkedStudent> &markedStudents()
{
    static const QList<MarkedStudent> list = {
        {kMarkedGroupMonitor, "Ёлкин Пётр Семёнович", nullptr},
        {kStoreThenErrorStudent, "Соловьёва Дарья Андреевна", "store-then-error"},
        {kInfoThenSuccessStudent, "Королёв Артём Фёдорович", "info-then-success"},
        {kInfoThenErrorStudent, "Воробьёва Алёна Игоревна", "info-then-error"},
        {kLongNameStudent,
         "Салтыков-Щедрин-Римский-Корсаков-Голенищев-Кутузов-Муравьёв-Апостол-Толстой Ростислав "
         "Константинович",
         nullptr},
        {kLongNameStudentFemale,
         "Бестужева-Рюмина-Воронцова-Дашкова-Мусина-Пушкина-Сухово-Кобылина-Лёвшина-Ёлкина Алёна "
         "Святославовна",
         nullptr},
        {kMarkedGroupMonitor + 6, "Ежов Егор Ильич", nullptr},
        {kMarkedGroupMonitor + 7, "Елисеева Ева Олеговна", nullptr},
        {kErrorThenStoreStudent, "Щербаков Илья Вадимович", "error-then-store"},
    };
    return list;
}

} // namespace

void fill(sqlite3 *db, const QDate &today)
{
    db::exec(db, QStringLiteral("BEGIN"));
    try {
        Random rnd(0x51E1C0DE2025ULL);

        for (const Faculty &f : faculties()) {
            db::query(db,
                      QStringLiteral("INSERT INTO faculty (id_faculty, \"p23-1\", \"p23-2\", \"p23-3\") "
                                     "VALUES (?, ?, ?, ?)"),
                      {qint64(f.id), text(f.name), qint64(f.sortKey), text(f.shortName)});
        }
        for (int y = 0; y < kYears; ++y) {
            db::query(db, QStringLiteral("INSERT INTO a_year (id_a_year, p32) VALUES (?, ?)"),
                      {qint64(y + 1), QStringLiteral("%1/%2").arg(kFirstYear + y).arg(kFirstYear + y + 1)});
        }

        db::Statement addGroup(
            db, QStringLiteral("INSERT INTO \"group\" (id_group, p20, id_faculty) VALUES (?, ?, ?)"));
        db::Statement addYear(db, QStringLiteral("INSERT INTO g_r_y (id_group, id_a_year) VALUES (?, ?)"));
        db::Statement addName(db, QStringLiteral("INSERT INTO s_fio (id_student, s_fio) VALUES (?, ?)"));
        db::Statement addMember(db, QStringLiteral("INSERT INTO s_g (id_student, id_group) VALUES (?, ?)"));
        db::Statement addMonitor(
            db, QStringLiteral("INSERT INTO QELStudent (id_group, id_student) VALUES (?, ?)"));
        const auto run = [](db::Statement &st, const QList<Value> &values) {
            st.reset();
            st.bind(values);
            st.step();
        };

        qint64 groupId = 0;
        qint64 studentId = 0;
        for (const Faculty &f : faculties()) {
            for (const Speciality &s : f.specialities) {
                for (int admission = kFirstAdmission; admission <= kLastAdmission; ++admission) {
                    for (int number = 1; number <= s.groupsPerYear; ++number) {
                        ++groupId;
                        const QString name = QStringLiteral("%1-%2-%3")
                                                 .arg(QString::fromUtf8(s.code))
                                                 .arg(admission % 100, 2, 10, QLatin1Char('0'))
                                                 .arg(number);
                        run(addGroup, {groupId, name, qint64(f.id)});
                        for (int y = 0; y < kYears; ++y) {
                            const int start = kFirstYear + y;
                            if (start >= admission && start < admission + kStudyYears)
                                run(addYear, {groupId, qint64(y + 1)});
                        }
                        const int size = 18 + rnd.below(10);
                        const qint64 firstStudent = studentId + 1;
                        for (int k = 0; k < size; ++k) {
                            ++studentId;
                            run(addName, {studentId, fullName(rnd)});
                            run(addMember, {studentId, groupId});
                        }
                        if (rnd.below(4) != 0) {
                            run(addMonitor, {groupId, firstStudent + rnd.below(size)});
                        }
                    }
                }
            }
        }

        // The marked group: students for whom CreateStarasta answers in its particular ways, and the
        // longest names s_fio holds.
        run(addGroup, {qint64(kMarkedGroup), QString::fromUtf8(kMarkedGroupName), qint64(1)});
        run(addYear, {qint64(kMarkedGroup), qint64(kYears)});
        for (const MarkedStudent &m : markedStudents()) {
            run(addName, {qint64(m.id), text(m.name)});
            run(addMember, {qint64(m.id), qint64(kMarkedGroup)});
            if (m.rule)
                db::query(
                    db, QStringLiteral("INSERT INTO sandbox_starasta_rule (id_student, rule) VALUES (?, ?)"),
                    {qint64(m.id), text(m.rule)});
        }
        run(addMonitor, {qint64(kMarkedGroup), qint64(kMarkedGroupMonitor)});

        const auto addAccount = [&](const QString &name, const QString &password, const char *role) {
            db::query(db,
                      QStringLiteral("INSERT INTO sandbox_account (name, password, role) VALUES (?, ?, ?)"),
                      {name, password, text(role)});
        };
        addAccount(QStringLiteral("qel_gate"), QStringLiteral("gate"), "gate");
        addAccount(QStringLiteral("qel_admin"), QStringLiteral("admin"), "admin");
        const QString digest = Md5Hex(QStringLiteral("demo"));
        for (const DemoLogin &l : demoLogins()) {
            addAccount(QString::fromUtf8(l.account), QString::fromUtf8(l.accountPassword), "user");
            db::query(
                db,
                QStringLiteral("INSERT INTO sandbox_login (id_login, login, password_md5, password_changed, "
                               "password_lifetime, blocked_message, must_update_program, db_account) "
                               "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                {qint64(l.id), text(l.login), digest, today.addDays(-l.daysSinceChange).toString(Qt::ISODate),
                 qint64(kLifetime), text(l.blocked), text(l.mustUpdate), text(l.account)});
            for (int faculty : l.faculties)
                db::query(db, QStringLiteral("INSERT INTO user_faculty (id_login, faculty) VALUES (?, ?)"),
                          {qint64(l.id), qint64(faculty)});
        }
        db::exec(db, QStringLiteral("COMMIT"));
    } catch (...) {
        try {
            db::exec(db, QStringLiteral("ROLLBACK"));
        } catch (...) {
        }
        throw;
    }
}

} // namespace sandbox::demo
