// ger-server copy between SQLite and PostgreSQL, run as an operator moves a group: the service
// stopped, the whole database copied into an empty one and checked on both sides.

#include "methodsfixture.h"
#include "serverprocess.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QUrl>

class TstCopy final : public QObject {
    Q_OBJECT

    struct Result {
        int Code = -1;
        QString Out, Err;
    };

    ServerProcess m_seeded; // the demo seed with planted rows; each test copies its file
    int m_count = 0;

    static Result Run(const QStringList &args) {
        QProcess p;
        p.start(ServerProcess::Executable(), args);
        p.waitForFinished(300000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    static Result Copy(const QString &from, const QString &to) {
        return Run(
            {QStringLiteral("copy"), QStringLiteral("--db"), from, QStringLiteral("--to"), to});
    }

    QString Source() {
        const QString path = QStringLiteral("%1/src-%2.db").arg(m_seeded.Dir()).arg(++m_count);
        QFile::copy(m_seeded.DbPath(), path);
        return path;
    }

    QString NewPostgres() {
        const QString name =
            QStringLiteral("ger_copy_%1_%2").arg(QCoreApplication::applicationPid()).arg(++m_count);
        QSqlQuery(Direct(qEnvironmentVariable("GER_TEST_PG_URL")))
            .exec(QStringLiteral("CREATE DATABASE ") + name);
        QUrl url(qEnvironmentVariable("GER_TEST_PG_URL"));
        url.setPath(QLatin1Char('/') + name);
        return url.toString();
    }

    static QSqlDatabase Direct(const QString &url) {
        return MethodsFixture::Direct(url, QStringLiteral("direct-") + url);
    }

    // Every table of the database with its row count (not SQLite's own statistics).
    static QStringList State(const QString &url) {
        QSqlDatabase db = Direct(url);
        QStringList out;
        QStringList tables = db.tables().filter(QRegularExpression(QStringLiteral("^(?!sqlite_)")));
        tables.sort(Qt::CaseInsensitive);
        for (const QString &t : std::as_const(tables)) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT COUNT(*) FROM ") + t);
            out << t.toUpper() + QLatin1Char('=') + (q.next() ? q.value(0).toString() : QString());
        }
        return out;
    }

    // The database as an operator reads it: every export, one after another.
    static QByteArray Exports(const QString &url) {
        QByteArray out;
        for (const char *kind : {"empresas", "saldos", "lancamentos", "parametros", "paramgeral",
                                 "fechamentos", "historico"}) {
            const Result r = Run({QStringLiteral("export"), QString::fromLatin1(kind),
                                  QStringLiteral("-"), QStringLiteral("--db"), url});
            out += QByteArray("== ") + kind + '\n' + r.Out.toUtf8() + r.Err.toUtf8();
        }
        return out;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(!qEnvironmentVariableIsEmpty("GER_TEST_PG_URL"),
                 "runs with the throwaway PostgreSQL cluster (ctest -R tst_copy)");
        QVERIFY2(m_seeded.Start(), m_seeded.Output().constData());
        m_seeded.Stop();
        // What the demo seed lacks: history, a closing, entries, text the CSV has to quote, a
        // point in time with its milliseconds.
        QVERIFY(m_seeded.ExecSql(
            {QStringLiteral("INSERT INTO HISTALTERACAO VALUES ('a-1', 1, "
                            "'2026-03-01T12:34:56.789Z', 'José', 'S', 'SetContOpe', 'A', '01', "
                            "'DTINICCONT', 'date', '2026-01-01', NULL, 1, 'a1')"),
             QStringLiteral("INSERT INTO HISTALTERACAO VALUES ('a-1', 2, "
                            "'2026-03-01T12:34:56.789Z', 'José', 'N', 'SetContOpe', 'A', '01', "
                            "'NMCAMPO', 'string', 'Ação; \"x\"', 'b', NULL, NULL)"),
             QStringLiteral("INSERT INTO FECHAPERIODO VALUES ('01', '12/2026', 'maria', "
                            "'2026-12-31 18:00:00.250')"),
             QStringLiteral("INSERT INTO ENCERRAMENTO VALUES ('02', '2025-12-31', 'ECD; \"2025\"', "
                            "'José', '2026-01-10T10:00:00.000Z')"),
             QStringLiteral("INSERT INTO EXCECAO VALUES (1, '01', 'LANC', '2026-11-01', "
                            "'2026-11-30', '2026-12-20T18:00:00Z', 'nota', 'erp', 'José', "
                            "'2026-12-01T10:00:00Z', NULL, NULL, NULL)"),
             QStringLiteral("INSERT INTO LANCCONT VALUES (900001, '01', '2026-12-01', '1.1', "
                            "1.01, 'S', 'N'), (900002, '02', '2026-12-02', '1.2', -0.5, 'N', 'S')"),
             QStringLiteral("UPDATE SALDEMPR SET VRSALDODEB = 1234.56 WHERE rowid = "
                            "(SELECT MIN(rowid) FROM SALDEMPR)")}));
    }

    // There and back: every export the same as before, the schema version with it.
    void moveAndBack() {
        const QString from = QStringLiteral("sqlite:") + Source();
        QUrl withPassword(NewPostgres());
        withPassword.setPassword(QStringLiteral("segredo"));
        const QString postgres = withPassword.toString();
        const QString back = QStringLiteral("sqlite:%1/back.db").arg(m_seeded.Dir());
        const QByteArray before = Exports(from);
        QVERIFY(before.contains("José;N;SetContOpe;A;01;NMCAMPO;string;\"Ação; \"\"x\"\"\";b"));

        Result r = Copy(from, postgres);
        QVERIFY2(r.Code == 0, qPrintable(r.Out + r.Err));
        for (const char *line :
             {"EMPRESA: 12 linhas, soma ok\n", "PARAMGERAL: 1 linha, soma ok\n",
              "HISTALTERACAO: 2 linhas, soma ok\n", "HISTCADEIA: 1 linha, soma ok\n",
              "ENCERRAMENTO: 1 linha, soma ok\n", "EXCECAO: 1 linha, soma ok\n",
              "cópia conferida: 10 tabelas"})
            QVERIFY2(r.Out.contains(QString::fromUtf8(line)), qPrintable(r.Out));
        QVERIFY2(!(r.Out + r.Err).contains(QStringLiteral("segredo")), qPrintable(r.Out));
        QVERIFY((r.Out + r.Err).contains(QStringLiteral(":***@")));

        r = Copy(postgres, back);
        QVERIFY2(r.Code == 0, qPrintable(r.Out + r.Err));
        QCOMPARE(Exports(postgres), before);
        QCOMPARE(Exports(back), before);
        const QStringList state = State(from);
        QCOMPARE(State(back), state);
        QCOMPARE(State(postgres), state);
    }

    void refused_data() {
        QTest::addColumn<QStringList>("source"); // run on the SQLite source first
        QTest::addColumn<QString>("targetRow");  // planted in the target's schema first
        QTest::addColumn<QString>("message");

        QTest::newRow("target with a row in its last table")
            << QStringList()
            << "INSERT INTO HISTALTERACAO VALUES ('z', 1, '2026-01-01', 'x', 'S', 'm', 'I', "
               "NULL, 'c', 't', NULL, NULL)"
            << "cópia recusada: o destino não está vazio: a tabela HISTALTERACAO tem linhas";
        QTest::newRow("source of a newer schema")
            << QStringList{QStringLiteral("INSERT INTO SCHEMA_VERSION VALUES (99, '2030-01-01')")}
            << ""
            << "a origem está na versão 99 do esquema, mais nova";
        QTest::newRow("source of an older schema")
            << QStringList{QStringLiteral("DELETE FROM SCHEMA_VERSION WHERE VERSION = "
                                          "(SELECT MAX(VERSION) FROM SCHEMA_VERSION)")}
            << ""
            << "mais antiga";
        QTest::newRow("a column this version does not copy")
            << QStringList{QStringLiteral("ALTER TABLE EMPRESA ADD COLUMN CNPJ VARCHAR(14)")} << ""
            << "a tabela EMPRESA da origem tem as colunas CDEMPRESA, CNPJ, NMEMPRESA";
        // SQLite does not hold text to its declared size; PostgreSQL refuses it in the last
        // table, after every other table went in.
        // PostgreSQL rounds a third decimal to the column's two: the sums, taken on the values
        // as stored, then differ.
        QTest::newRow("a third decimal the target rounds")
            << QStringList{QStringLiteral("UPDATE SALDEMPR SET VRSALDODEB = 1234.565 WHERE rowid "
                                          "= (SELECT MIN(rowid) FROM SALDEMPR)")}
            << ""
            << "o destino não confere com a origem: a cópia foi desfeita";
        QTest::newRow("entries of a company EMPRESA lacks")
            << QStringList{QStringLiteral("PRAGMA foreign_keys = OFF"),
                           QStringLiteral("INSERT INTO LANCCONT VALUES (990001, '99', "
                                          "'2026-01-02', '1.1', 1, 'N', 'N')")}
            << ""
            << "cópia recusada: a origem tem registros de empresas que EMPRESA não tem (LANCCONT "
               "da empresa \"99\"), que o banco de destino recusaria";
        QTest::newRow("value too long for the target")
            << QStringList{QStringLiteral("UPDATE HISTALTERACAO SET VLNOVO = '%1' WHERE NRSEQ = 2")
                               .arg(QString(61, QLatin1Char('v')))}
            << ""
            << "a cópia falhou, nada foi gravado no destino";
    }

    void refused() {
        QFETCH(QStringList, source);
        QFETCH(QString, targetRow);
        QFETCH(QString, message);
        const QString path = Source();
        QVERIFY(ExecSqlite(path, source));
        const QString target = NewPostgres();
        if (!targetRow.isEmpty()) {
            QVERIFY(Run({QStringLiteral("export"), QStringLiteral("empresas"), QStringLiteral("-"),
                         QStringLiteral("--db"), target})
                        .Code == 0);
            QVERIFY(QSqlQuery(Direct(target)).exec(targetRow));
        }
        const QStringList before = State(target);
        const Result r = Copy(QStringLiteral("sqlite:") + path, target);
        QCOMPARE(r.Code, 1);
        QVERIFY2(r.Err.contains(message), qPrintable(r.Err));
        if (QTest::currentDataTag() == QByteArrayLiteral("a third decimal the target rounds"))
            QVERIFY2(r.Out.contains(QStringLiteral("SALDEMPR: 265 linhas na origem, 265 linhas no "
                                                   "destino, soma difere\n")),
                     qPrintable(r.Out));
        const QStringList after = State(target);
        if (before.isEmpty()) // at most the empty schema, which a new copy accepts
            QVERIFY2(std::all_of(after.begin(), after.end(),
                                 [](const QString &t) {
                                     return t.endsWith(QStringLiteral("=0")) ||
                                            t.startsWith(QStringLiteral("SCHEMA_VERSION=")) ||
                                            t == QStringLiteral("HISTCADEIA=1");
                                 }),
                     qPrintable(after.join(u' ')));
        else
            QCOMPARE(after, before);
    }
};

QTEST_GUILESS_MAIN(TstCopy)
#include "tst_copy.moc"
