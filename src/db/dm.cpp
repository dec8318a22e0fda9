#include "db/dm.h"

TDM_MB *DM_MB = nullptr;

TDM_MB::TDM_MB(QObject *parent)
    : QObject(parent), ADOCon(this), ADOQ_Faculty(&ADOCon, this), ADOQ_Year(&ADOCon, this),
      ADOQ_group(&ADOCon, this), ADOQ_Students(&ADOCon, this), ADOQ_Starasta(&ADOCon, this),
      ADOQ_Exec(&ADOCon, this), DS_Faculty(&ADOQ_Faculty, this), DS_Year(&ADOQ_Year, this),
      DS_group(&ADOQ_group, this), DS_Students(&ADOQ_Students, this), DS_Starasta(&ADOQ_Starasta, this)
{
    setObjectName(QStringLiteral("DM_MB"));
    ADOCon.setObjectName(QStringLiteral("ADOCon"));
    ADOQ_Faculty.setObjectName(QStringLiteral("ADOQ_Faculty"));
    ADOQ_Year.setObjectName(QStringLiteral("ADOQ_Year"));
    ADOQ_group.setObjectName(QStringLiteral("ADOQ_group"));
    ADOQ_Students.setObjectName(QStringLiteral("ADOQ_Students"));
    ADOQ_Starasta.setObjectName(QStringLiteral("ADOQ_Starasta"));
    ADOQ_Exec.setObjectName(QStringLiteral("ADOQ_Exec"));
    DS_Faculty.setObjectName(QStringLiteral("DS_Faculty"));
    DS_Year.setObjectName(QStringLiteral("DS_Year"));
    DS_group.setObjectName(QStringLiteral("DS_group"));
    DS_Students.setObjectName(QStringLiteral("DS_Students"));
    DS_Starasta.setObjectName(QStringLiteral("DS_Starasta"));

    // The lines are sent as they stand, trailing blanks included.
    ADOQ_Year.setSQL({QStringLiteral("SELECT id_a_year, p32 FROM a_year")});
    ADOQ_group.setSQL({
        QStringLiteral("SELECT g_r_y.id_group,"),
        QStringLiteral("       [group].p20"),
        QStringLiteral("  FROM g_r_y,"),
        QStringLiteral("       [group]"),
        QStringLiteral(" WHERE g_r_y.id_group = [group].id_group AND"),
        QStringLiteral("       g_r_y.id_a_year =:id_a_year AND"),
        QStringLiteral("       [group].id_faculty =:id_faculty"),
        QStringLiteral("ORDER BY [group].p20"),
    });
    ADOQ_Students.setSQL({
        QStringLiteral("SELECT s_g.id_student,"),
        QStringLiteral("       s_fio.s_fio  "),
        QStringLiteral("  FROM s_g,"),
        QStringLiteral("       s_fio"),
        QStringLiteral("WHERE s_g.id_student = s_fio.id_student AND"),
        QStringLiteral("      s_g.id_group =:id_group"),
    });
    ADOQ_Starasta.setSQL({
        QStringLiteral("SELECT TOP 1 QELStudent.id_student,"),
        QStringLiteral("       s_fio.s_fio  "),
        QStringLiteral("  FROM QELStudent,"),
        QStringLiteral("       s_fio"),
        QStringLiteral("WHERE QELStudent.id_student = s_fio.id_student AND"),
        QStringLiteral("      QELStudent.id_group =:id_group"),
    });
    DM_MB = this;
}

TDM_MB::~TDM_MB()
{
    if (DM_MB == this)
        DM_MB = nullptr;
}

QString userFacultiesStatement(qint32 loginId)
{
    return QStringLiteral("SELECT faculty.* FROM  faculty INNER JOIN user_faculty ON faculty.id_faculty = "
                          "user_faculty.faculty WHERE user_faculty.id_login = ") +
           QString::number(loginId) + QStringLiteral("Order by [p23-2]");
}

void TDM_MB::LoadUserFaculties(qint32 loginId)
{
    ADOQ_Faculty.setSQL({userFacultiesStatement(loginId)});
    ADOQ_Faculty.Open();
    ADOQ_Year.Open();
}
