#pragma once
// The data module: the one connection, the six queries and the five data sources of the client.
// Created once at start-up before any window and kept until the end; everything here is used on the
// GUI thread. It catches no error: database failures reach its callers.

#include "db/adoconnection.h"
#include "db/adoquery.h"

#include <QObject>

class TDM_MB : public QObject {
    Q_OBJECT
public:
    explicit TDM_MB(QObject *parent = nullptr);
    ~TDM_MB() override;

    // Fills the faculty list with the login's faculties and opens the year list (which, once open,
    // is not read again).
    void LoadUserFaculties(qint32 loginId);

    TADOConnection ADOCon;
    TADOQuery ADOQ_Faculty;
    TADOQuery ADOQ_Year;
    TADOQuery ADOQ_group;
    TADOQuery ADOQ_Students;
    TADOQuery ADOQ_Starasta;
    TADOQuery ADOQ_Exec;
    TDataSource DS_Faculty;
    TDataSource DS_Year;
    TDataSource DS_group;
    TDataSource DS_Students;
    TDataSource DS_Starasta;
};

// The faculty statement of a login.
QString userFacultiesStatement(qint32 loginId);

// The single instance, set while it exists.
extern TDM_MB *DM_MB;
