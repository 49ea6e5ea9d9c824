#include "db/statementcatalogue.h"

#include <iterator>

namespace {

// A statement in both dialects. The texts are written with line feeds and sent with carriage
// returns between the lines. No PostgreSQL text: the Oracle one runs there unchanged.
struct Statement
{
    StatementId id;
    const char *name;
    const char *oracle;
    const char *postgresql;
};

const Statement statements[] = {
    // start-up: the clock of the database server. SYSDATE on PostgreSQL is the
    // server's local time of the statement to whole seconds
    {StatementId::ServerTime, "ServerTime",
     R"sql(SELECT   SYSDATE
FROM     DUAL)sql",
     R"sql(SELECT   CAST(date_trunc('second', statement_timestamp()) AS timestamp(0)))sql"},
    // start-up: the environment name for the status row
    {StatementId::EnvironmentName, "EnvironmentName",
     R"sql(SELECT   DETAIL_NAME
FROM     ZX010MS
WHERE    HEAD   = 'Z9999'
  AND    DETAIL = UPPER(:P0))sql",
     R"sql(SELECT   DETAIL_NAME
FROM     ZX010MS
WHERE    HEAD   = 'Z9999'
  AND    DETAIL = UPPER(CAST(:P0 AS text)))sql"},
    // login: the employee and password check, with the password age. Oracle
    // takes the empty text for NULL, so an empty DETAIL is left out on PostgreSQL as well
    {StatementId::LoginEmployee, "LoginEmployee",
     R"sql(SELECT   FN_ZA010MS_02(A.PASSWORD_CODE, 'TeLa'),
         A.EMP_NO,
         A.EMP_NAME,
         DECODE(SIGN(B.DETAIL), 1, TRUNC(U_DATE + B.DETAIL) - TRUNC(SYSDATE), 1)
FROM     ZA010MS A,
        (SELECT   TO_NUMBER(NVL(DETAIL, '0')) DETAIL
         FROM     ZX010MS
         WHERE    HEAD    = 'Z1002'
           AND    DETAIL <> ' ') B
WHERE    A.EMP_NO = :P0
  AND    A.USE_YN = 'Y')sql",
     R"sql(SELECT   FN_ZA010MS_02(A.PASSWORD_CODE, 'TeLa'),
         A.EMP_NO,
         A.EMP_NAME,
         CASE WHEN SIGN(B.DETAIL) = 1
              THEN CAST(A.U_DATE + B.DETAIL * INTERVAL '1 day' AS date)
                   - CAST(statement_timestamp() AS date)
              ELSE 1
         END
FROM     ZA010MS A,
        (SELECT   CAST(COALESCE(DETAIL, '0') AS numeric) AS DETAIL
         FROM     ZX010MS
         WHERE    HEAD    = 'Z1002'
           AND    DETAIL <> ' '
           AND    DETAIL <> '') B
WHERE    A.EMP_NO = :P0
  AND    A.USE_YN = 'Y')sql"},
    // login: the projects the employee may use; a program withdrawn for the
    // employee (ADD_YN = 'N') is removed from both kinds of grant
    {StatementId::LoginProjectRights, "LoginProjectRights",
     R"sql(SELECT   PROJECT_ID,
         TEAM_ROLE
FROM     ZA020MS
WHERE    PROJECT_ID IN (SELECT   PROJECT_ID
                        FROM    (SELECT   PROJECT_ID,
                                          COUNT(*) CNT
                                 FROM    (SELECT   PROJECT_ID,
                                                   PROGRAM_ID
                                          FROM     ZA140MS
                                          WHERE   (PROJECT_ID,
                                                   PROJECT_LEVEL) IN (SELECT   PROJECT_ID,
                                                                               PROJECT_LEVEL
                                                                      FROM     ZA130MS
                                                                      WHERE    EMP_NO = :P0)
                                          UNION ALL
                                          SELECT   PROJECT_ID,
                                                   PROGRAM_ID
                                          FROM     ZA150MS
                                          WHERE    EMP_NO = :P0
                                            AND    ADD_YN = 'Y'
                                          MINUS
                                          SELECT   PROJECT_ID,
                                                   PROGRAM_ID
                                          FROM     ZA150MS
                                          WHERE    EMP_NO = :P0
                                            AND    ADD_YN = 'N')
                                 GROUP BY PROJECT_ID)
                        WHERE CNT > 0))sql",
     R"sql(SELECT   PROJECT_ID,
         TEAM_ROLE
FROM     ZA020MS
WHERE    PROJECT_ID IN (SELECT   PROJECT_ID
                        FROM    (SELECT   PROJECT_ID,
                                          COUNT(*) AS CNT
                                 FROM    (SELECT   PROJECT_ID,
                                                   PROGRAM_ID
                                          FROM     ZA140MS
                                          WHERE   (PROJECT_ID,
                                                   PROJECT_LEVEL) IN (SELECT   PROJECT_ID,
                                                                               PROJECT_LEVEL
                                                                      FROM     ZA130MS
                                                                      WHERE    EMP_NO = :P0)
                                          UNION ALL
                                          SELECT   PROJECT_ID,
                                                   PROGRAM_ID
                                          FROM     ZA150MS
                                          WHERE    EMP_NO = :P0
                                            AND    ADD_YN = 'Y'
                                          EXCEPT
                                          SELECT   PROJECT_ID,
                                                   PROGRAM_ID
                                          FROM     ZA150MS
                                          WHERE    EMP_NO = :P0
                                            AND    ADD_YN = 'N') G
                                 GROUP BY PROJECT_ID) C
                        WHERE CNT > 0))sql"},
    // login: the team-role choices per project
    {StatementId::LoginRoleChoices, "LoginRoleChoices",
     R"sql(SELECT   PROJECT_ID,
         CODE,
         NAME
FROM    (SELECT   PROJECT_ID,
                  CODE,
                  NAME
         FROM    (SELECT   PROJECT_ID,
                           SAUP_CODE CODE
                  FROM     ZA120MS
                  WHERE    EMP_NO = :P0
                    AND    PROJECT_ID IN (SELECT   PROJECT_ID
                                          FROM     ZA020MS
                                          WHERE    TEAM_ROLE = '1')) A,
                 (SELECT   DETAIL,
                           DETAIL_NAME NAME
                  FROM     ZX010MS
                  WHERE    HEAD = 'J0002') B
         WHERE    CODE = DETAIL
         UNION ALL
         SELECT   PROJECT_ID,
                  CODE,
                  NAME
         FROM    (SELECT   PROJECT_ID,
                           TEAM_CODE CODE
                  FROM     ZA120MS
                  WHERE    EMP_NO = :P0
                    AND    PROJECT_ID IN (SELECT   PROJECT_ID
                                          FROM     ZA020MS
                                          WHERE    TEAM_ROLE = '2')) A,
                 (SELECT   DETAIL,
                           DETAIL_NAME NAME
                  FROM     ZX010MS
                  WHERE    HEAD = 'J0003') B
         WHERE    CODE = DETAIL
         UNION ALL
         SELECT   PROJECT_ID,
                  CODE,
                  NAME
         FROM    (SELECT   PROJECT_ID,
                           UPJANG_CODE CODE
                  FROM     ZA120MS
                  WHERE    EMP_NO = :P0
                    AND    PROJECT_ID IN (SELECT   PROJECT_ID
                                          FROM     ZA020MS
                                          WHERE    TEAM_ROLE = '3')) A,
                 (SELECT   UPJANG_CODE DETAIL,
                           UPJANG_NAME NAME
                  FROM     JA010MS) B
         WHERE CODE = DETAIL))sql",
     R"sql(SELECT   PROJECT_ID,
         CODE,
         NAME
FROM    (SELECT   PROJECT_ID,
                  CODE,
                  NAME
         FROM    (SELECT   PROJECT_ID,
                           SAUP_CODE AS CODE
                  FROM     ZA120MS
                  WHERE    EMP_NO = :P0
                    AND    PROJECT_ID IN (SELECT   PROJECT_ID
                                          FROM     ZA020MS
                                          WHERE    TEAM_ROLE = '1')) A,
                 (SELECT   DETAIL,
                           DETAIL_NAME AS NAME
                  FROM     ZX010MS
                  WHERE    HEAD = 'J0002') B
         WHERE    CODE = DETAIL
         UNION ALL
         SELECT   PROJECT_ID,
                  CODE,
                  NAME
         FROM    (SELECT   PROJECT_ID,
                           TEAM_CODE AS CODE
                  FROM     ZA120MS
                  WHERE    EMP_NO = :P0
                    AND    PROJECT_ID IN (SELECT   PROJECT_ID
                                          FROM     ZA020MS
                                          WHERE    TEAM_ROLE = '2')) A,
                 (SELECT   DETAIL,
                           DETAIL_NAME AS NAME
                  FROM     ZX010MS
                  WHERE    HEAD = 'J0003') B
         WHERE    CODE = DETAIL
         UNION ALL
         SELECT   PROJECT_ID,
                  CODE,
                  NAME
         FROM    (SELECT   PROJECT_ID,
                           UPJANG_CODE AS CODE
                  FROM     ZA120MS
                  WHERE    EMP_NO = :P0
                    AND    PROJECT_ID IN (SELECT   PROJECT_ID
                                          FROM     ZA020MS
                                          WHERE    TEAM_ROLE = '3')) A,
                 (SELECT   UPJANG_CODE AS DETAIL,
                           UPJANG_NAME AS NAME
                  FROM     JA010MS) B
         WHERE CODE = DETAIL) R)sql"},
    // login: the latest login record and the multi-login flag. The order is
    // written out: the index hint alone does not promise which row comes first
    {StatementId::LoginLatestRecord, "LoginLatestRecord",
     R"sql(SELECT   A.*,
         B.MULTI_LOGIN_YN 
FROM    (SELECT   *
         FROM    (SELECT   /*+ INDEX_DESC (ZA010DT PK_ZA010DT) */
                           *
                  FROM     ZA010DT
                  WHERE    EMP_NO = :P0
                  ORDER BY SEQ DESC)
         WHERE    ROWNUM < 2) A,
         ZA010MS B 
WHERE    A.EMP_NO =  B.EMP_NO)sql",
     R"sql(SELECT   A.*,
         B.MULTI_LOGIN_YN 
FROM    (SELECT   *
         FROM     ZA010DT
         WHERE    EMP_NO = :P0
         ORDER BY SEQ DESC
         LIMIT    1) A,
         ZA010MS B 
WHERE    A.EMP_NO =  B.EMP_NO)sql"},
    // login: closes a record left open ("강제종료", "타PC강제종료")
    {StatementId::LoginCloseRecord, "LoginCloseRecord",
     R"sql(UPDATE   ZA010DT 
SET      LOGOUT_TIME = SYSDATE,
         LOGOUT_IP   = :P2 
WHERE    EMP_NO      = :P0 
  AND    SEQ         = :P1 
  AND    LOGOUT_IP  IS NULL)sql",
     R"sql(UPDATE   ZA010DT 
SET      LOGOUT_TIME = CAST(date_trunc('second', statement_timestamp()) AS timestamp(0)),
         LOGOUT_IP   = :P2 
WHERE    EMP_NO      = :P0 
  AND    SEQ         = :P1 
  AND    LOGOUT_IP  IS NULL)sql"},
    // login: the new login record
    {StatementId::LoginInsertRecord, "LoginInsertRecord",
     R"sql(INSERT
  INTO   ZA010DT 
(
  EMP_NO,
  SEQ,
  LOGIN_TIME,
  LOGIN_IP,
  LOGOUT_TIME,
  LOGOUT_IP 
) 
VALUES 
( 
  :P0,
  :P1,
  SYSDATE,
  :P2,
  NULL,
  NULL
))sql",
     R"sql(INSERT
  INTO   ZA010DT 
(
  EMP_NO,
  SEQ,
  LOGIN_TIME,
  LOGIN_IP,
  LOGOUT_TIME,
  LOGOUT_IP 
) 
VALUES 
( 
  :P0,
  :P1,
  CAST(date_trunc('second', statement_timestamp()) AS timestamp(0)),
  :P2,
  NULL,
  NULL
))sql"},
    // login: the date stamp of the last login
    {StatementId::LoginStampDate, "LoginStampDate",
     R"sql(UPDATE   ZA010MS
SET      BACK_LOGIN_DATE = TO_CHAR(SYSDATE, 'YYYYMMDD')
WHERE    EMP_NO = :P0)sql",
     R"sql(UPDATE   ZA010MS
SET      BACK_LOGIN_DATE = TO_CHAR(statement_timestamp(), 'YYYYMMDD')
WHERE    EMP_NO = :P0)sql"},
    // password change: the composition count. Each kind of character is
    // counted by removing it and measuring what is left, so a character never counts for a kind
    // it does not belong to, and a password of one kind only is counted correctly
    {StatementId::PasswordComposition, "PasswordComposition",
     R"sql(select num_cnt+special_cnt+eng_cnt as tot_cnt,
	      num_cnt,
       special_cnt,
       eng_cnt
  from (SELECT nvl(length(:P1),0)-nvl(length(TRANSLATE(:P1,'X0123456789','X')),0) as num_cnt,
               nvl(length(:P1),0)-nvl(length(TRANSLATE(:P1,'X!@#$%^&*()_+~','X')),0) as special_cnt,
               nvl(length(TRANSLATE(:P1,'X0123456789!@#$%^&*()_+~','X')),0) as eng_cnt
          FROM DUAL))sql",
     R"sql(SELECT   NUM_CNT + SPECIAL_CNT + ENG_CNT AS TOT_CNT,
         NUM_CNT,
         SPECIAL_CNT,
         ENG_CNT
FROM    (SELECT   LENGTH(P) - LENGTH(TRANSLATE(P, '0123456789', '')) AS NUM_CNT,
                  LENGTH(P) - LENGTH(TRANSLATE(P, '!@#$%^&*()_+~', '')) AS SPECIAL_CNT,
                  LENGTH(TRANSLATE(P, '0123456789!@#$%^&*()_+~', '')) AS ENG_CNT
         FROM    (SELECT   CAST(:P1 AS text) AS P) T) C)sql"},
    // password change: the password update
    {StatementId::PasswordUpdate, "PasswordUpdate",
     R"sql(UPDATE   ZA010MS
SET      PASSWORD_CODE = FN_ZA010MS_01(:P0, 'TeLa'),
         U_EMP_NO      = :P1,
         U_DATE        = SYSDATE,
         U_IP          = :P2
WHERE    EMP_NO        = :P1)sql",
     R"sql(UPDATE   ZA010MS
SET      PASSWORD_CODE = FN_ZA010MS_01(CAST(:P0 AS text), 'TeLa'),
         U_EMP_NO      = :P1,
         U_DATE        = CAST(date_trunc('second', statement_timestamp()) AS timestamp(0)),
         U_IP          = :P2
WHERE    EMP_NO        = :P1)sql"},
    // logout kind 1: the live records of this workstation are closed
    {StatementId::LogoutClose, "LogoutClose",
     R"sql(UPDATE   ZA010DT 
SET      LOGOUT_TIME = SYSDATE,
         LOGOUT_IP   = :P1 
WHERE    EMP_NO      = :P0 
  AND    LOGIN_IP    = :P1 
  AND    LOGOUT_IP  IS NULL)sql",
     R"sql(UPDATE   ZA010DT 
SET      LOGOUT_TIME = CAST(date_trunc('second', statement_timestamp()) AS timestamp(0)),
         LOGOUT_IP   = :P1 
WHERE    EMP_NO      = :P0 
  AND    LOGIN_IP    = :P1 
  AND    LOGOUT_IP  IS NULL)sql"},
    // logout kind 2: the same statement; the LOGOUT_IP written is "*" + IP
    {StatementId::LogoutProvisional, "LogoutProvisional",
     R"sql(UPDATE   ZA010DT 
SET      LOGOUT_TIME = SYSDATE,
         LOGOUT_IP   = :P1 
WHERE    EMP_NO      = :P0 
  AND    LOGIN_IP    = :P1 
  AND    LOGOUT_IP  IS NULL)sql",
     R"sql(UPDATE   ZA010DT 
SET      LOGOUT_TIME = CAST(date_trunc('second', statement_timestamp()) AS timestamp(0)),
         LOGOUT_IP   = :P1 
WHERE    EMP_NO      = :P0 
  AND    LOGIN_IP    = :P1 
  AND    LOGOUT_IP  IS NULL)sql"},
    // logout kind 3: "*IP" becomes "IP". PostgreSQL does not take NULL for the
    // empty text, so the star is replaced by the empty text there
    {StatementId::LogoutConfirm, "LogoutConfirm",
     R"sql(UPDATE   ZA010DT 
SET      LOGOUT_IP   = REPLACE(LOGOUT_IP, '*', NULL)
WHERE    EMP_NO      = :P0 
  AND    LOGIN_IP    = :P1 
  AND    LOGOUT_IP   LIKE '*%')sql",
     R"sql(UPDATE   ZA010DT 
SET      LOGOUT_IP   = REPLACE(LOGOUT_IP, '*', '')
WHERE    EMP_NO      = :P0 
  AND    LOGIN_IP    = :P1 
  AND    LOGOUT_IP   LIKE '*%')sql"},
    // logout kind 4: the provisional close is taken back
    {StatementId::LogoutTakeBack, "LogoutTakeBack",
     R"sql(UPDATE   ZA010DT 
SET      LOGOUT_TIME = NULL,
         LOGOUT_IP   = NULL 
WHERE    EMP_NO      = :P0 
  AND    LOGIN_IP    = :P1 
  AND    LOGOUT_IP   LIKE '*%')sql",
     nullptr},
};

const Statement *find(StatementId id)
{
    for (const Statement &s : statements) {
        if (s.id == id)
            return &s;
    }
    return nullptr;
}

QString stored(const char *text)
{
    QString sql = QString::fromUtf8(text);
    sql.replace(u'\n', u'\r');
    return sql;
}

}  // namespace

QList<StatementId> allStatements()
{
    QList<StatementId> ids;
    ids.reserve(qsizetype(std::size(statements)));
    for (const Statement &s : statements)
        ids.append(s.id);
    return ids;
}

QString statementName(StatementId id)
{
    const Statement *s = find(id);
    return s ? QString::fromLatin1(s->name) : QString();
}

QString statementText(StatementId id, SqlDialect dialect)
{
    const Statement *s = find(id);
    if (!s)
        return {};
    if (dialect == SqlDialect::PostgreSql && s->postgresql)
        return stored(s->postgresql);
    return stored(s->oracle);
}
