-- Tables and password functions of the shell's schema, Oracle edition.
-- Run as the schema's owner (the database account the shell connects as), for example with
-- SQL*Plus: @oracle.sql. The password functions need EXECUTE on SYS.DBMS_CRYPTO.

-- Employee accounts. PASSWORD_CODE holds FN_ZA010MS_01(password, key); U_DATE is the time of
-- the last password change, from which the password period counts; BACK_LOGIN_DATE is the
-- day of the last login as 'YYYYMMDD'.
CREATE TABLE ZA010MS (
    EMP_NO          VARCHAR2(20)  NOT NULL,
    EMP_NAME        VARCHAR2(50)  NOT NULL,
    PASSWORD_CODE   VARCHAR2(200),
    USE_YN          VARCHAR2(1)   DEFAULT 'Y' NOT NULL,
    U_DATE          DATE,
    U_EMP_NO        VARCHAR2(20),
    U_IP            VARCHAR2(40),
    MULTI_LOGIN_YN  VARCHAR2(1)   DEFAULT 'N' NOT NULL,
    BACK_LOGIN_DATE VARCHAR2(8),
    CONSTRAINT PK_ZA010MS PRIMARY KEY (EMP_NO)
);

-- One row per login. SEQ is numeric so that the latest login is the highest number, and the
-- key rejects a second login that computed the same number at the same moment.
-- LOGOUT_IP: NULL live, an address ended normally, '*' + address ended provisionally,
-- '강제종료' / '타PC강제종료' ended by a later login.
CREATE TABLE ZA010DT (
    EMP_NO      VARCHAR2(20)  NOT NULL,
    SEQ         NUMBER(10)    NOT NULL,
    LOGIN_TIME  DATE,
    LOGIN_IP    VARCHAR2(40),
    LOGOUT_TIME DATE,
    LOGOUT_IP   VARCHAR2(40),
    CONSTRAINT PK_ZA010DT PRIMARY KEY (EMP_NO, SEQ)
);

-- Projects. TEAM_ROLE: '0' none, '1' 사업장, '2' 팀, '3' 영업장.
CREATE TABLE ZA020MS (
    PROJECT_ID   VARCHAR2(20)  NOT NULL,
    PROJECT_NAME VARCHAR2(50),
    TEAM_ROLE    VARCHAR2(1)   DEFAULT '0' NOT NULL,
    CONSTRAINT PK_ZA020MS PRIMARY KEY (PROJECT_ID),
    CONSTRAINT CK_ZA020MS_TEAM_ROLE CHECK (TEAM_ROLE IN ('0', '1', '2', '3'))
);

-- The employee's level per project.
CREATE TABLE ZA130MS (
    EMP_NO        VARCHAR2(20) NOT NULL,
    PROJECT_ID    VARCHAR2(20) NOT NULL,
    PROJECT_LEVEL VARCHAR2(10) NOT NULL,
    CONSTRAINT PK_ZA130MS PRIMARY KEY (EMP_NO, PROJECT_ID)
);

-- Programs granted per project level.
CREATE TABLE ZA140MS (
    PROJECT_ID    VARCHAR2(20) NOT NULL,
    PROJECT_LEVEL VARCHAR2(10) NOT NULL,
    PROGRAM_ID    VARCHAR2(20) NOT NULL,
    CONSTRAINT PK_ZA140MS PRIMARY KEY (PROJECT_ID, PROJECT_LEVEL, PROGRAM_ID)
);

-- Programs added ('Y') or withdrawn ('N') for one employee.
CREATE TABLE ZA150MS (
    EMP_NO     VARCHAR2(20) NOT NULL,
    PROJECT_ID VARCHAR2(20) NOT NULL,
    PROGRAM_ID VARCHAR2(20) NOT NULL,
    ADD_YN     VARCHAR2(1)  NOT NULL,
    CONSTRAINT PK_ZA150MS PRIMARY KEY (EMP_NO, PROJECT_ID, PROGRAM_ID, ADD_YN),
    CONSTRAINT CK_ZA150MS_ADD_YN CHECK (ADD_YN IN ('Y', 'N'))
);

-- The employee's role codes per project; the shell reads them as integers.
CREATE TABLE ZA120MS (
    EMP_NO      VARCHAR2(20) NOT NULL,
    PROJECT_ID  VARCHAR2(20) NOT NULL,
    SAUP_CODE   VARCHAR2(10),
    TEAM_CODE   VARCHAR2(10),
    UPJANG_CODE VARCHAR2(10),
    CONSTRAINT CK_ZA120MS_CODES CHECK (TRANSLATE(SAUP_CODE, 'X0123456789', 'X') IS NULL
                                       AND TRANSLATE(TEAM_CODE, 'X0123456789', 'X') IS NULL
                                       AND TRANSLATE(UPJANG_CODE, 'X0123456789', 'X') IS NULL)
);

-- Code table. Z1002: password period in days; Z9999: database account -> environment name;
-- J0002: 사업장 codes; J0003: 팀 codes.
CREATE TABLE ZX010MS (
    HEAD        VARCHAR2(10)  NOT NULL,
    DETAIL      VARCHAR2(30)  NOT NULL,
    DETAIL_NAME VARCHAR2(100),
    CONSTRAINT PK_ZX010MS PRIMARY KEY (HEAD, DETAIL)
);

-- 영업장 names.
CREATE TABLE JA010MS (
    UPJANG_CODE VARCHAR2(10)  NOT NULL,
    UPJANG_NAME VARCHAR2(100) NOT NULL,
    CONSTRAINT PK_JA010MS PRIMARY KEY (UPJANG_CODE),
    CONSTRAINT CK_JA010MS_CODE CHECK (TRANSLATE(UPJANG_CODE, 'X0123456789', 'X') IS NULL)
);

-- The password code: AES-128 in CBC mode with a zero start vector and PKCS#5 padding over the
-- UTF-8 bytes of the password, keyed with the key text zero-padded to 16 bytes, as upper-case
-- hexadecimal: the same code as the PostgreSQL edition gives. FN_ZA010MS_02 turns it back.
CREATE OR REPLACE FUNCTION FN_ZA010MS_01(P_PASSWORD IN VARCHAR2, P_KEY IN VARCHAR2)
    RETURN VARCHAR2 DETERMINISTIC
IS
BEGIN
    IF P_PASSWORD IS NULL OR P_KEY IS NULL THEN
        RETURN NULL;
    END IF;
    RETURN RAWTOHEX(DBMS_CRYPTO.ENCRYPT(
        src => UTL_I18N.STRING_TO_RAW(P_PASSWORD, 'AL32UTF8'),
        typ => DBMS_CRYPTO.ENCRYPT_AES128 + DBMS_CRYPTO.CHAIN_CBC + DBMS_CRYPTO.PAD_PKCS5,
        key => UTL_RAW.SUBSTR(UTL_RAW.CONCAT(UTL_I18N.STRING_TO_RAW(P_KEY, 'AL32UTF8'),
                                             HEXTORAW('00000000000000000000000000000000')), 1, 16),
        iv  => HEXTORAW('00000000000000000000000000000000')));
END;
/

CREATE OR REPLACE FUNCTION FN_ZA010MS_02(P_CODE IN VARCHAR2, P_KEY IN VARCHAR2)
    RETURN VARCHAR2 DETERMINISTIC
IS
BEGIN
    IF P_CODE IS NULL OR P_KEY IS NULL THEN
        RETURN NULL;
    END IF;
    RETURN UTL_I18N.RAW_TO_CHAR(DBMS_CRYPTO.DECRYPT(
        src => HEXTORAW(P_CODE),
        typ => DBMS_CRYPTO.ENCRYPT_AES128 + DBMS_CRYPTO.CHAIN_CBC + DBMS_CRYPTO.PAD_PKCS5,
        key => UTL_RAW.SUBSTR(UTL_RAW.CONCAT(UTL_I18N.STRING_TO_RAW(P_KEY, 'AL32UTF8'),
                                             HEXTORAW('00000000000000000000000000000000')), 1, 16),
        iv  => HEXTORAW('00000000000000000000000000000000')), 'AL32UTF8');
END;
/
