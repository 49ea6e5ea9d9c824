-- Demo data of the shell, PostgreSQL edition. Loading it again restores the same state:
-- every table is emptied first. Dates are relative to the moment of loading.
--
-- Employees (number / password):
--   1001 김민준  orsa1001!  regular
--   1002 이서연  1002       new: the password is still the employee number
--   1003 박지호  orsa1003!  password changed 100 days ago: expired (period 90 days)
--   1004 최유나  orsa1004!  may be logged in on several workstations at once
--   1005 정하준  orsa1005!  not in use

TRUNCATE ZA010DT, ZA010MS, ZA020MS, ZA130MS, ZA140MS, ZA150MS, ZA120MS, ZX010MS, JA010MS;

INSERT INTO ZA010MS (EMP_NO, EMP_NAME, PASSWORD_CODE, USE_YN, U_DATE, U_EMP_NO, U_IP,
                     MULTI_LOGIN_YN, BACK_LOGIN_DATE)
VALUES ('1001', '김민준', FN_ZA010MS_01('orsa1001!', 'TeLa'), 'Y',
        LOCALTIMESTAMP(0) - INTERVAL '10 days', '1001', '127.0.0.1', 'N',
        TO_CHAR(LOCALTIMESTAMP(0) - INTERVAL '2 days', 'YYYYMMDD')),
       ('1002', '이서연', FN_ZA010MS_01('1002', 'TeLa'), 'Y',
        LOCALTIMESTAMP(0) - INTERVAL '1 day', 'ADMIN', '127.0.0.1', 'N', NULL),
       ('1003', '박지호', FN_ZA010MS_01('orsa1003!', 'TeLa'), 'Y',
        LOCALTIMESTAMP(0) - INTERVAL '100 days', '1003', '127.0.0.1', 'N', NULL),
       ('1004', '최유나', FN_ZA010MS_01('orsa1004!', 'TeLa'), 'Y',
        LOCALTIMESTAMP(0) - INTERVAL '5 days', '1004', '127.0.0.1', 'Y', NULL),
       ('1005', '정하준', FN_ZA010MS_01('orsa1005!', 'TeLa'), 'N',
        LOCALTIMESTAMP(0) - INTERVAL '10 days', '1005', '127.0.0.1', 'N', NULL);

-- Two earlier logins of 1001, both ended normally.
INSERT INTO ZA010DT (EMP_NO, SEQ, LOGIN_TIME, LOGIN_IP, LOGOUT_TIME, LOGOUT_IP)
VALUES ('1001', 1, LOCALTIMESTAMP(0) - INTERVAL '3 days', '127.0.0.1',
        LOCALTIMESTAMP(0) - INTERVAL '3 days' + INTERVAL '8 hours', '127.0.0.1'),
       ('1001', 2, LOCALTIMESTAMP(0) - INTERVAL '2 days', '127.0.0.1',
        LOCALTIMESTAMP(0) - INTERVAL '2 days' + INTERVAL '9 hours', '127.0.0.1');

-- One project per team-role type.
INSERT INTO ZA020MS (PROJECT_ID, PROJECT_NAME, TEAM_ROLE)
VALUES ('ORSA_A', '프런트', '0'),
       ('ORSA_B', '객실관리', '1'),
       ('ORSA_C', '식음료', '2'),
       ('ORSA_D', '회계', '3');

INSERT INTO ZA140MS (PROJECT_ID, PROJECT_LEVEL, PROGRAM_ID)
VALUES ('ORSA_A', '1', 'A001'), ('ORSA_A', '1', 'A002'),
       ('ORSA_B', '1', 'B001'),
       ('ORSA_C', '1', 'C001'), ('ORSA_C', '1', 'C002'),
       ('ORSA_D', '1', 'D001'), ('ORSA_D', '2', 'D002');

INSERT INTO ZA130MS (EMP_NO, PROJECT_ID, PROJECT_LEVEL)
VALUES ('1001', 'ORSA_A', '1'), ('1001', 'ORSA_B', '1'), ('1001', 'ORSA_C', '1'),
       ('1002', 'ORSA_A', '1'),
       ('1003', 'ORSA_A', '1'), ('1003', 'ORSA_C', '1'),
       ('1004', 'ORSA_A', '1'), ('1004', 'ORSA_B', '1'),
       ('1005', 'ORSA_A', '1');

-- 1001: 회계 only by an added program, and one of the two 식음료 programs withdrawn (the project
-- stays). 1004: the only 객실관리 program withdrawn, although both the level and an added
-- grant give it, so 객실관리 is gone.
INSERT INTO ZA150MS (EMP_NO, PROJECT_ID, PROGRAM_ID, ADD_YN)
VALUES ('1001', 'ORSA_D', 'D001', 'Y'),
       ('1001', 'ORSA_C', 'C002', 'N'),
       ('1004', 'ORSA_B', 'B001', 'Y'),
       ('1004', 'ORSA_B', 'B001', 'N');

-- Role codes. The row of 프런트 gives nothing (no team role), and 사업장 30 has no name and is
-- not offered.
INSERT INTO ZA120MS (EMP_NO, PROJECT_ID, SAUP_CODE, TEAM_CODE, UPJANG_CODE)
VALUES ('1001', 'ORSA_A', '10', '110', '1001'),
       ('1001', 'ORSA_B', '10', NULL, NULL),
       ('1001', 'ORSA_B', '20', NULL, NULL),
       ('1001', 'ORSA_B', '30', NULL, NULL),
       ('1001', 'ORSA_C', NULL, '110', NULL),
       ('1001', 'ORSA_C', NULL, '120', NULL),
       ('1001', 'ORSA_D', NULL, NULL, '1001'),
       ('1001', 'ORSA_D', NULL, NULL, '1002'),
       ('1003', 'ORSA_C', NULL, '130', NULL),
       ('1004', 'ORSA_B', '20', NULL, NULL);

INSERT INTO ZX010MS (HEAD, DETAIL, DETAIL_NAME)
VALUES ('Z1002', ' ', '비밀번호 변경주기 (미사용)'),
       ('Z1002', '90', '비밀번호 변경주기'),
       ('Z9999', 'ORSA_DEMO', '데모 환경'),
       ('Z9999', 'ORTEST', '테스트 환경'),
       ('J0002', '10', '리조트 본관'),
       ('J0002', '20', '골프클럽'),
       ('J0002', '40', '워터파크'),
       ('J0003', '110', '식음료1팀'),
       ('J0003', '120', '식음료2팀'),
       ('J0003', '130', '객실팀');

INSERT INTO JA010MS (UPJANG_CODE, UPJANG_NAME)
VALUES ('1001', '한식당 수라'),
       ('1002', '양식당 라벨'),
       ('1003', '로비 라운지');
