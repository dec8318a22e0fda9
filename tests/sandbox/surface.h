#pragma once
// The sandbox's surface: every construct it answers, each with the answer SQL Server gives, and
// the valid T-SQL it refuses with 40517 naming what it does not run. The same rows run through the
// engine (tst_sandbox_engine) and through the ODBC driver (tst_sandbox_flow).
//
// An answer lists, in order, what the batch's statements gave: a result as "<type> <first column
// of the first row>" (binary in hexadecimal, "(no rows)" for none) and an error as
// "error <number>: <text>"; counts and messages are left out. " ; " separates them.

namespace surface {

struct Row {
    const char *name;
    const char *sql;
    const char *answer;
    // FreeTDS's driver reads no further result of a batch once a query failed as it ran: such a
    // batch's later answers are checked through the engine (and its flow through the server's tests).
    bool throughDriver = true;
};

#define QEL_REFUSED(what)                                                                                    \
    "error 40517: Keyword or statement option '" what "' is not supported in this version of SQL Server."

inline constexpr Row kRows[] = {
    // ---- statements -----------------------------------------------------------------------------
    {"SELECT", "SELECT 1", "int 1"},
    {"SELECT FROM a table", "SELECT p32 FROM a_year WHERE id_a_year = 1", "varchar 2022/2023"},
    {"UNION", "SELECT 1 UNION SELECT 2 ORDER BY 1", "int 1"},
    {"CTE", "WITH y (n) AS (SELECT id_a_year FROM a_year) SELECT COUNT(*) FROM y", "int 4"},
    {"two statements", "SELECT 1 SELECT N'x'", "int 1 ; nvarchar x"},
    {"EXEC of a system procedure", "EXEC sp_datatype_info_100 -7", "nvarchar bit"},
    {"SET then SELECT", "SET NOCOUNT ON SELECT 2", "int 2"},
    {"USE", "USE qel SELECT 3", "int 3"},
    {"PRINT", "PRINT 'p' SELECT 4", "int 4"},
    {"@@VERSION", "SELECT CASE WHEN @@VERSION LIKE 'QEL 31%' THEN 1 ELSE 0 END", "int 1"},
    {"@@TRANCOUNT", "SELECT @@TRANCOUNT", "int 0"},

    // ---- conversions: one row per (from, to) pair kept, the pairs refused named -------------------
    {"varchar to int", "SELECT CAST('12' AS int)", "int 12"},
    {"varchar to tinyint", "SELECT CAST('12' AS tinyint)", "tinyint 12"},
    {"int to varchar", "SELECT CAST(12 AS varchar(5))", "varchar 12"},
    {"int to float", "SELECT CAST(2 AS float)", "float 2"},
    {"varchar to varbinary: its bytes", "SELECT CONVERT(VARBINARY(20), 'teo')", "varbinary 74656F"},
    {"varchar to varbinary(max): its bytes", "SELECT CONVERT(varbinary(max), '4142434445')",
     "varbinary 34313432343334343435"},
    {"nvarchar to varbinary: UTF-16LE", "SELECT CONVERT(varbinary(10), N'hi')", "varbinary 68006900"},
    {"varbinary cut to the width", "SELECT CAST(0x0102030405 AS varbinary(2))", "varbinary 0102"},
    {"varbinary to nvarchar: UTF-16LE", "SELECT CONVERT(NVARCHAR(20), 0x680069006A00)", "nvarchar hij"},
    {"varbinary to varchar: the code page's bytes", "SELECT CONVERT(varchar(20), 0x616263)", "varchar abc"},
    {"varbinary to int refused", "SELECT CONVERT(int, 0x0000010A)", QEL_REFUSED("CAST of binary to int")},
    {"int to varbinary refused", "SELECT CONVERT(varbinary(4), 266)",
     QEL_REFUSED("CAST of int to varbinary")},
    {"to text refused", "SELECT CONVERT(text, 'hi!')", QEL_REFUSED("CAST AS TEXT")},
    {"to ntext refused", "SELECT CONVERT(ntext, 'hi!')", QEL_REFUSED("CAST AS NTEXT")},

    // ---- errors that end their statement only, and those that end the batch ---------------------
    {"220 ends its statement", "SELECT CAST(300 AS tinyint) SELECT 2",
     "error 220: Arithmetic overflow error for data type tinyint, value = 300. ; int 2", false},
    {"8134 ends its statement", "SELECT 1/0 SELECT 2",
     "error 8134: Divide by zero error encountered. ; int 2", false},
    {"245 ends the batch", "SELECT CAST('x' AS int) SELECT 2",
     "error 245: Conversion failed when converting the varchar value 'x' to data type int."},

    // ---- valid T-SQL outside the surface: refused by name -----------------------------------------
    {"WAITFOR", "WAITFOR DELAY '00:00:00.010'", QEL_REFUSED("WAITFOR")},
    {"WAITFOR after a statement", "SELECT 1 WAITFOR DELAY '00:00:00.010'", QEL_REFUSED("WAITFOR")},
    {"UNION of a query in parentheses", "SELECT 1 UNION (SELECT 2)", QEL_REFUSED("UNION (SELECT ...)")},
    {"OPTION", "SELECT 1 OPTION (MAXDOP 1)", QEL_REFUSED("OPTION")},
    {"FOR XML", "SELECT 1 AS a FOR XML RAW", QEL_REFUSED("FOR")},
    {"CREATE PROCEDURE", "CREATE PROCEDURE p @a int AS SELECT @a", QEL_REFUSED("CREATE PROCEDURE")},
    {"CREATE VIEW", "CREATE VIEW v AS SELECT 1 AS a", QEL_REFUSED("CREATE VIEW")},
    {"@@TEXTSIZE", "SELECT @@TEXTSIZE", QEL_REFUSED("@@TEXTSIZE")},
    {"DECLARE", "DECLARE @x int", QEL_REFUSED("DECLARE")},
    {"IF", "IF 1 = 1 SELECT 1", QEL_REFUSED("IF")},
    {"BEGIN TRAN", "BEGIN TRAN", QEL_REFUSED("BEGIN")},
    {"PIVOT", "SELECT * FROM a_year PIVOT (COUNT(id_a_year) FOR p32 IN ([x])) AS p", QEL_REFUSED("PIVOT")},

    // ---- invalid T-SQL: SQL Server's own numbers ----------------------------------------------------
    {"doubled operator", "SELECT 1 FROM a_year WHERE id_a_year = = 1",
     "error 102: Incorrect syntax near '='."},
    {"statement ends early", "SELECT 1 FROM a_year WHERE", "error 102: Incorrect syntax near 'WHERE'."},
    {"stray character", "SELECT 1 !", "error 102: Incorrect syntax near '!'."},
    {"misspelt verb later", "SELECT 1; SELEC 1", "error 102: Incorrect syntax near 'SELEC'."},
    {"misspelt verb opening a batch", "SELEC 1", "error 2812: Could not find stored procedure 'SELEC'."},
    {"undeclared variable", "SELECT @x", "error 137: Must declare the scalar variable \"@x\"."},
    {"unknown global variable", "SELECT @@NOSUCH",
     "error 137: Must declare the scalar variable \"@@NOSUCH\"."},
    {"unknown function", "SELECT nofunc(1)",
     "error 195: 'nofunc' is not a recognized built-in function name."},
    {"unknown table", "SELECT * FROM nowhere", "error 208: Invalid object name 'nowhere'."},
    {"UNION of unequal lists", "SELECT 1 UNION SELECT 1, 2",
     "error 205: All queries combined using a UNION, INTERSECT or EXCEPT operator must have an equal number "
     "of "
     "expressions in their target lists."},
    {"values that do not fit the table", "INSERT INTO a_year VALUES (9)",
     "error 213: Column name or number of supplied values does not match table definition."},
    {"a table that exists", "CREATE TABLE a_year (x int)",
     "error 2714: There is already an object named 'a_year' in the database."},
};

#undef QEL_REFUSED

} // namespace surface
