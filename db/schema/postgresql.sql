-- Tables and password functions of the shell's schema, PostgreSQL edition.
-- Run as the owner of the schema (the database account the shell connects as).

CREATE EXTENSION IF NOT EXISTS pgcrypto;

-- Employee accounts. PASSWORD_CODE holds FN_ZA010MS_01(password, key); U_DATE is the time of
-- the last password change, from which the password period counts; BACK_LOGIN_DATE is the
-- day of the last login as 'YYYYMMDD'.
CREATE TABLE ZA010MS (
    EMP_NO          varchar(20)  NOT NULL,
    EMP_NAME        varchar(50)  NOT NULL,
    PASSWORD_CODE   varchar(200),
    USE_YN          varchar(1)   DEFAULT 'Y' NOT NULL,
    U_DATE          timestamp(0),
    U_EMP_NO        varchar(20),
    U_IP            varchar(40),
    MULTI_LOGIN_YN  varchar(1)   DEFAULT 'N' NOT NULL,
    BACK_LOGIN_DATE varchar(8),
    CONSTRAINT PK_ZA010MS PRIMARY KEY (EMP_NO)
);

-- One row per login. SEQ is numeric so that the latest login is the highest number, and the
-- key rejects a second login that computed the same number at the same moment.
-- LOGOUT_IP: NULL live, an address ended normally, '*' + address ended provisionally,
-- '강제종료' / '타PC강제종료' ended by a later login.
CREATE TABLE ZA010DT (
    EMP_NO      varchar(20)  NOT NULL,
    SEQ         numeric(10)  NOT NULL,
    LOGIN_TIME  timestamp(0),
    LOGIN_IP    varchar(40),
    LOGOUT_TIME timestamp(0),
    LOGOUT_IP   varchar(40),
    CONSTRAINT PK_ZA010DT PRIMARY KEY (EMP_NO, SEQ)
);

-- Projects. TEAM_ROLE: '0' none, '1' 사업장, '2' 팀, '3' 영업장.
CREATE TABLE ZA020MS (
    PROJECT_ID   varchar(20)  NOT NULL,
    PROJECT_NAME varchar(50),
    TEAM_ROLE    varchar(1)   DEFAULT '0' NOT NULL,
    CONSTRAINT PK_ZA020MS PRIMARY KEY (PROJECT_ID),
    CONSTRAINT CK_ZA020MS_TEAM_ROLE CHECK (TEAM_ROLE IN ('0', '1', '2', '3'))
);

-- The employee's level per project.
CREATE TABLE ZA130MS (
    EMP_NO        varchar(20) NOT NULL,
    PROJECT_ID    varchar(20) NOT NULL,
    PROJECT_LEVEL varchar(10) NOT NULL,
    CONSTRAINT PK_ZA130MS PRIMARY KEY (EMP_NO, PROJECT_ID)
);

-- Programs granted per project level.
CREATE TABLE ZA140MS (
    PROJECT_ID    varchar(20) NOT NULL,
    PROJECT_LEVEL varchar(10) NOT NULL,
    PROGRAM_ID    varchar(20) NOT NULL,
    CONSTRAINT PK_ZA140MS PRIMARY KEY (PROJECT_ID, PROJECT_LEVEL, PROGRAM_ID)
);

-- Programs added ('Y') or withdrawn ('N') for one employee.
CREATE TABLE ZA150MS (
    EMP_NO     varchar(20) NOT NULL,
    PROJECT_ID varchar(20) NOT NULL,
    PROGRAM_ID varchar(20) NOT NULL,
    ADD_YN     varchar(1)  NOT NULL,
    CONSTRAINT PK_ZA150MS PRIMARY KEY (EMP_NO, PROJECT_ID, PROGRAM_ID, ADD_YN),
    CONSTRAINT CK_ZA150MS_ADD_YN CHECK (ADD_YN IN ('Y', 'N'))
);

-- The employee's role codes per project; the shell reads them as integers.
CREATE TABLE ZA120MS (
    EMP_NO      varchar(20) NOT NULL,
    PROJECT_ID  varchar(20) NOT NULL,
    SAUP_CODE   varchar(10),
    TEAM_CODE   varchar(10),
    UPJANG_CODE varchar(10),
    CONSTRAINT CK_ZA120MS_CODES CHECK (SAUP_CODE ~ '^[0-9]+$' AND TEAM_CODE ~ '^[0-9]+$'
                                       AND UPJANG_CODE ~ '^[0-9]+$')
);

-- Code table. Z1002: password period in days; Z9999: database account -> environment name;
-- J0002: 사업장 codes; J0003: 팀 codes.
CREATE TABLE ZX010MS (
    HEAD        varchar(10)  NOT NULL,
    DETAIL      varchar(30)  NOT NULL,
    DETAIL_NAME varchar(100),
    CONSTRAINT PK_ZX010MS PRIMARY KEY (HEAD, DETAIL)
);

-- 영업장 names.
CREATE TABLE JA010MS (
    UPJANG_CODE varchar(10)  NOT NULL,
    UPJANG_NAME varchar(100) NOT NULL,
    CONSTRAINT PK_JA010MS PRIMARY KEY (UPJANG_CODE),
    CONSTRAINT CK_JA010MS_CODE CHECK (UPJANG_CODE ~ '^[0-9]+$')
);

-- The password code: AES in CBC mode with a zero start vector and PKCS padding, keyed with the
-- key text (zero-padded to 16 bytes), as upper-case hexadecimal. The same password and key
-- always give the same code, and FN_ZA010MS_02 turns it back.
--
-- The empty text counts as NULL, as everywhere on Oracle: an account whose code is empty has no
-- password (the login reports the employee number as not registered), and an empty password
-- has no code.
CREATE OR REPLACE FUNCTION FN_ZA010MS_01(p_password text, p_key text) RETURNS text
    LANGUAGE sql IMMUTABLE STRICT
    SET search_path = public
AS $$
    SELECT upper(encode(encrypt(convert_to(NULLIF(p_password, ''), 'UTF8'),
                                convert_to(NULLIF(p_key, ''), 'UTF8'),
                                'aes-cbc/pad:pkcs'), 'hex'))
$$;

CREATE OR REPLACE FUNCTION FN_ZA010MS_02(p_code text, p_key text) RETURNS text
    LANGUAGE sql IMMUTABLE STRICT
    SET search_path = public
AS $$
    SELECT convert_from(decrypt(decode(NULLIF(p_code, ''), 'hex'),
                                convert_to(NULLIF(p_key, ''), 'UTF8'),
                                'aes-cbc/pad:pkcs'), 'UTF8')
$$;
