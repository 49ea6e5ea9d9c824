#include "db/sqlquery.h"
#include "db/statementcatalogue.h"

#include <QRegularExpression>
#include <QSet>
#include <QtTest>

Q_DECLARE_METATYPE(SqlDialect)
Q_DECLARE_METATYPE(StatementId)

class tst_StatementRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rewriting_data();
    void rewriting();
    void catalogueTexts_data();
    void catalogueTexts();
};

void tst_StatementRunner::rewriting_data()
{
    QTest::addColumn<SqlDialect>("dialect");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");

    const SqlDialect ora = SqlDialect::Oracle;
    const SqlDialect pg = SqlDialect::PostgreSql;
    auto s = [](const char *text) { return QString::fromUtf8(text); };

    QTest::newRow("one name, oracle") << ora << s("WHERE A = :P0") << s("WHERE A = :1")
                                      << QStringList{s("P0")};
    QTest::newRow("one name, postgresql") << pg << s("WHERE A = :P0") << s("WHERE A = $1")
                                          << QStringList{s("P0")};
    QTest::newRow("repeated name, one placeholder each")
        << pg << s("A = :P1 AND B = :P1 AND C = :P0") << s("A = $1 AND B = $2 AND C = $3")
        << QStringList{s("P1"), s("P1"), s("P0")};
    QTest::newRow("names are not case-sensitive")
        << ora << s(":p0 || :P0") << s(":1 || :2") << QStringList{s("P0"), s("P0")};
    QTest::newRow("name inside a literal")
        << pg << s("X = ':P0' AND Y = :P0") << s("X = ':P0' AND Y = $1") << QStringList{s("P0")};
    QTest::newRow("doubled quote stays inside the literal")
        << ora << s("'it''s :P0' || :P1") << s("'it''s :P0' || :1") << QStringList{s("P1")};
    QTest::newRow("unterminated literal swallows the rest")
        << ora << s(":P0 || 'open :P1") << s(":1 || 'open :P1") << QStringList{s("P0")};
    QTest::newRow("quoted identifier")
        << pg << s("\":P0\" = :P0") << s("\":P0\" = $1") << QStringList{s("P0")};
    QTest::newRow("line comment kept for oracle")
        << ora << s("-- :P0 here\rSELECT :P1") << s("-- :P0 here\rSELECT :1")
        << QStringList{s("P1")};
    QTest::newRow("line comment dropped for postgresql")
        << pg << s("-- :P0 here\rSELECT :P1") << s(" \rSELECT $1") << QStringList{s("P1")};
    QTest::newRow("optimizer hint kept")
        << ora << s("SELECT /*+ INDEX_DESC (T :PK) */ * FROM T WHERE A = :P0")
        << s("SELECT /*+ INDEX_DESC (T :PK) */ * FROM T WHERE A = :1") << QStringList{s("P0")};
    QTest::newRow("nested block comment on postgresql")
        << pg << s("/* a /* :P0 */ :P1 */ :P2") << s("  $1") << QStringList{s("P2")};
    QTest::newRow("block comments do not nest on oracle")
        << ora << s("/* a /* :P0 */ :P1 */") << s("/* a /* :P0 */ :1 */") << QStringList{s("P1")};
    QTest::newRow("cast after a parameter")
        << pg << s(":P0::text || x::timestamp") << s("$1::text || x::timestamp")
        << QStringList{s("P0")};
    QTest::newRow("cast of a literal") << pg << s("'7'::int + :P0") << s("'7'::int + $1")
                                       << QStringList{s("P0")};
    QTest::newRow("escape string literal")
        << pg << s("E'\\' :P0' || :P1") << s("E'\\' :P0' || $1") << QStringList{s("P1")};
    QTest::newRow("name ending in E before a literal is no escape prefix")
        << pg << s("TYPE'\\' || :P0") << s("TYPE'\\' || $1") << QStringList{s("P0")};
    QTest::newRow("dollar-quoted text")
        << pg << s("$x$ :P0 $x$ || $$:P1$$ || :P2") << s("$x$ :P0 $x$ || $$:P1$$ || $1")
        << QStringList{s("P2")};
    QTest::newRow("alternative quoting on oracle")
        << ora << s("q'[it's :P0]' || :P1") << s("q'[it's :P0]' || :1") << QStringList{s("P1")};
    QTest::newRow("colons that are no parameters")
        << ora << s("a := b : c") << s("a := b : c") << QStringList{};
    QTest::newRow("carriage returns between lines")
        << ora << s("A = :P0\r  AND B = :P10") << s("A = :1\r  AND B = :2")
        << QStringList{s("P0"), s("P10")};
    QTest::newRow("parameter at the very end") << pg << s("X=:P2") << s("X=$1")
                                               << QStringList{s("P2")};
    QTest::newRow("korean text around") << pg << s("'강제종료' || :P0 || 이름")
                                        << s("'강제종료' || $1 || 이름") << QStringList{s("P0")};
}

void tst_StatementRunner::rewriting()
{
    QFETCH(SqlDialect, dialect);
    QFETCH(QString, sql);
    QFETCH(QString, text);
    QFETCH(QStringList, names);

    const PositionalStatement statement = toPositionalStatement(sql, dialect);
    QCOMPARE(statement.text, text);
    QCOMPARE(statement.names, names);
}

void tst_StatementRunner::catalogueTexts_data()
{
    QTest::addColumn<StatementId>("id");
    for (StatementId id : allStatements())
        QTest::newRow(qPrintable(statementName(id))) << id;
}

// The stored form of every statement: lines separated by carriage returns only, parameters
// named P0 to P2, and the same parameters in both dialects.
void tst_StatementRunner::catalogueTexts()
{
    QFETCH(StatementId, id);

    QSet<QString> namesPerDialect[2];
    int index = 0;
    for (SqlDialect dialect : {SqlDialect::Oracle, SqlDialect::PostgreSql}) {
        const QString text = statementText(id, dialect);
        QVERIFY(!text.isEmpty());
        QVERIFY2(!text.contains(u'\n'), "lines must be separated by carriage returns");
        const PositionalStatement statement = toPositionalStatement(text, dialect);
        for (const QString &name : statement.names) {
            QVERIFY2(QRegularExpression(QStringLiteral("^P[0-2]$")).match(name).hasMatch(),
                     qPrintable(name));
            namesPerDialect[index].insert(name);
        }
        ++index;
    }
    QCOMPARE(namesPerDialect[1], namesPerDialect[0]);
}

QTEST_GUILESS_MAIN(tst_StatementRunner)
#include "tst_statementrunner.moc"
