// ger-server import and export, run as an operator runs them: beside a serving server, on small
// files written here.

#include "methodsfixture.h"

#include <QFile>
#include <QTest>

#include <tuple>

using namespace Qt::StringLiterals;

class TstImportExport final : public QObject {
    Q_OBJECT

    struct Result {
        int Code = -1;
        QString Out, Err;
    };

    MethodsFixture m_fixture;

    Result Command(const QStringList &args, const QString &url = QString()) {
        QProcess p;
        p.start(ServerProcess::Executable(),
                args + QStringList{QStringLiteral("--db"), url.isEmpty() ? m_fixture.Url() : url});
        p.waitForFinished(120000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    QString Write(const QByteArray &bytes) {
        static int n = 0;
        const QString path = QStringLiteral("%1/in-%2.csv").arg(m_fixture.Server().Dir()).arg(++n);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }

    Result Import(const QString &kind, const QByteArray &bytes) {
        return Command({QStringLiteral("import"), kind, Write(bytes)});
    }

    QByteArray Export(const QString &kind) {
        const QString path = m_fixture.Server().Dir() + QStringLiteral("/out-") + kind;
        const Result r = Command({QStringLiteral("export"), kind, path});
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return r.Code == 0 ? f.readAll() : r.Err.toUtf8();
    }

private Q_SLOTS:
    void init() {
        QString error;
        QVERIFY2(m_fixture.Start(&error), qPrintable(error));
    }
    void cleanup() { m_fixture.Stop(); }

    void rows_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("refusal"); // empty: accepted

        const QByteArray b = "CDEMPRESA;DTSALDEMPR;CDCONTA;VRSALDODEB;VRSALDOCRED\n";
        const QByteArray l = "NRLANC;CDEMPRESA;DTLANC;CDCONTA;VRLANC;IDEVOLUIDO;IDRECALCFISC\n";
        QTest::newRow("company") << "empresas" << QByteArray("CDEMPRESA;NMEMPRESA\nZ1;Nova\n")
                                 << "";
        QTest::newRow("columns in any order, CRLF")
            << "empresas" << QByteArray("NMEMPRESA;CDEMPRESA\r\n\"Nova; S.A.\";Z1\r\n") << "";
        QTest::newRow("commas, decimal comma quoted, ISO date")
            << "saldos"
            << QByteArray("CDEMPRESA,DTSALDEMPR,CDCONTA,VRSALDODEB,VRSALDOCRED\n"
                          "01,2026-12-31,9.9,\"1.234,56\",0.5\n")
            << "";
        QTest::newRow("largest amount, negative")
            << "saldos" << b + "01;31/12/2026;9.9;9999999999999,99;-0,01\n"
            << "";
        QTest::newRow("entry") << "lancamentos" << l + "900;01;01/12/2026;9.9;10,5;S;N\n"
                               << "";
        QTest::newRow("one-character code")
            << "empresas" << QByteArray("CDEMPRESA;NMEMPRESA\n1;X\n") << "deve ter 2 caracteres";
        QTest::newRow("name too long")
            << "empresas" << QByteArray("CDEMPRESA;NMEMPRESA\nZ1;") + QByteArray(41, 'a') + "\n"
            << "tem 41 caracteres";
        QTest::newRow("control character")
            << "empresas" << QByteArray("CDEMPRESA;NMEMPRESA\nZ1;a\x01z\n")
            << "caracteres de controle";
        QTest::newRow("no such day") << "saldos" << b + "01;31/02/2026;9.9;1;1\n"
                                     << "coluna DTSALDEMPR: data inválida";
        QTest::newRow("amount over NUMERIC(15,2)")
            << "saldos" << b + "01;31/12/2026;9.9;10000000000000;1\n"
            << "coluna VRSALDODEB";
        QTest::newRow("three decimals") << "saldos" << b + "01;31/12/2026;9.9;1;1,005\n"
                                        << "coluna VRSALDOCRED";
        QTest::newRow("flag") << "lancamentos" << l + "900;01;01/12/2026;9.9;1;X;N\n"
                              << "coluna IDEVOLUIDO: esperado S ou N";
        QTest::newRow("unknown company") << "lancamentos" << l + "900;Z9;01/12/2026;9.9;1;S;N\n"
                                         << "'Z9' não cadastrada";
        QTest::newRow("unknown column")
            << "empresas" << QByteArray("CDEMPRESA;NMEMPRESA;CNPJ\nZ1;X;1\n")
            << "coluna desconhecida 'CNPJ'";
        QTest::newRow("missing column")
            << "saldos" << QByteArray("CDEMPRESA;DTSALDEMPR;CDCONTA;VRSALDODEB\n")
            << "falta a coluna VRSALDOCRED";
        QTest::newRow("quoted field cut off")
            << "empresas" << QByteArray("CDEMPRESA;NMEMPRESA\nZ1;\"Nova") << "linha 2: campo entre";
        QTest::newRow("field over 64 KiB")
            << "empresas"
            << QByteArray("CDEMPRESA;NMEMPRESA\nZ1;\"") + QByteArray(200000, 'a') + "\"\n"
            << "mais de 64 KiB";
        QTest::newRow("line number after a quoted line break")
            << "empresas" << QByteArray("CDEMPRESA;NMEMPRESA\nZ1;\"a\nb\"\n\nZ;x\n")
            << "linha 5, coluna CDEMPRESA";
    }

    void rows() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, file);
        QFETCH(QString, refusal);
        const QByteArray before = Export(kind);
        const Result r = Import(kind, file);
        if (refusal.isEmpty()) {
            QVERIFY2(r.Code == 0, qPrintable(r.Err));
            QVERIFY2(r.Out.contains(QStringLiteral(": 1 novas, 0 alteradas, 0 iguais")),
                     qPrintable(r.Out));
            return;
        }
        QCOMPARE(r.Code, 1);
        QVERIFY2(r.Err.contains(refusal), qPrintable(r.Err));
        QCOMPARE(Export(kind), before);
    }

    // Every field is read whole, in either encoding: a fault anywhere in it refuses the row with
    // its line and column; what is taken is stored as the file has it.
    void fieldFaults_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("refusal"); // the first error line; empty: accepted
        QTest::addColumn<QString>("stored");  // Z1's name once accepted

        const QList<std::tuple<const char *, QByteArray, QByteArray>> kinds{
            {"empresas", "CDEMPRESA;NMEMPRESA;REMOVER", "Z1;Nova;N"},
            {"saldos", "CDEMPRESA;DTSALDEMPR;CDCONTA;VRSALDODEB;VRSALDOCRED",
             "01;31/12/2026;9.9;1,5;2"},
            {"lancamentos", "NRLANC;CDEMPRESA;DTLANC;CDCONTA;VRLANC;IDEVOLUIDO;IDRECALCFISC",
             "5;01;01/12/2026;9.9;10,5;S;N"},
        };
        for (const auto &[kind, header, row] : kinds) {
            const QList<QByteArray> names = header.split(';');
            for (qsizetype c = 0; c < names.size(); ++c) {
                QList<QByteArray> fields = row.split(';');
                fields[c] = fields[c].left(1) + '\0' + "garbage";
                QTest::addRow("NUL in %s.%s", kind, names[c].constData())
                    << QString::fromLatin1(kind) << header + '\n' + fields.join(';') + '\n'
                    << u"linha 2, coluna %1: contém caracteres de controle (U+0000 no caractere "
                       "2)"_s.arg(QString::fromLatin1(names[c]))
                    << QString();
            }
        }
        const QByteArray l = "NRLANC;CDEMPRESA;DTLANC;CDCONTA;VRLANC;IDEVOLUIDO;IDRECALCFISC\n";
        for (const char *number : {"5x", "5 7", "5.0", "+5", "0", "2147483648", "99999999999"})
            QTest::addRow("number %s", number)
                << u"lancamentos"_s << l + number + ";01;01/12/2026;9.9;1;S;N\n"
                << u"linha 2, coluna NRLANC: número inválido '%1'"_s.arg(QLatin1String(number))
                << QString();
        QTest::newRow("number, largest")
            << u"lancamentos"_s << l + "2147483647;01;01/12/2026;9.9;1;S;N\n"
            << QString() << QString();

        const QByteArray e = "CDEMPRESA;NMEMPRESA\n";
        const auto refused = [](const char *code, int at) {
            return u"linha 2, coluna NMEMPRESA: contém caracteres de controle (U+%1 no caractere "
                   "%2)"_s.arg(QLatin1String(code))
                       .arg(at);
        };
        QTest::newRow("UTF-8 cut in its last character: Windows-1252")
            << u"empresas"_s << e + "Z1;A\xC3\xA7\xC3" << QString() << u"A\u00C3\u00A7\u00C3"_s;
        QTest::newRow("UTF-8 cut in a character midway: Windows-1252")
            << u"empresas"_s << e + "Z1;A\xE2\x82x\n"
            << QString() << u"A\u00E2\u201Ax"_s;
        QTest::newRow("U+FFFE starting a field")
            << u"empresas"_s << e + "Z1;\xEF\xBF\xBE" + "Cooperativa\n"
            << refused("FFFE", 1) << QString();
        QTest::newRow("U+FEFF inside a field")
            << u"empresas"_s << e + "Z1;Coop\xEF\xBB\xBF" "erativa\n"
            << refused("FEFF", 5) << QString();
        QTest::newRow("U+FFFF") << u"empresas"_s << e + "Z1;ab\xEF\xBF\xBF\n"
                                << refused("FFFF", 3) << QString();
        QTest::newRow("U+0085 in UTF-8") << u"empresas"_s << e + "Z1;Nova\xC2\x85\n"
                                         << refused("0085", 5) << QString();
        QTest::newRow("U+0081 in UTF-8") << u"empresas"_s << e + "Z1;\xC2\x81Nova\n"
                                         << refused("0081", 1) << QString();
        QTest::newRow("0x81 in Windows-1252 (unassigned)") << u"empresas"_s << e + "Z1;A\xE7\x81o\n"
                                                           << refused("0081", 3) << QString();
        QTest::newRow("0x85 in Windows-1252 (an ellipsis)")
            << u"empresas"_s << e + "Z1;A\xE7\x85o\n"
            << QString() << u"A\u00E7\u2026o"_s;
        QTest::newRow("U+00A0 is no control") << u"empresas"_s
                                              << e + "Z1;A\xC2\xA0"
                                                     "B\n"
                                              << QString() << u"A\u00A0B"_s;
    }
    void fieldFaults() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, file);
        QFETCH(QString, refusal);
        QFETCH(QString, stored);
        const QByteArray before = Export(kind);
        const Result r = Import(kind, file);
        if (!refusal.isEmpty()) {
            QCOMPARE(r.Code, 1);
            QVERIFY2(r.Err.startsWith(refusal), qPrintable(r.Err));
            QCOMPARE(Export(kind), before);
            return;
        }
        QVERIFY2(r.Code == 0, qPrintable(r.Err));
        if (!stored.isEmpty())
            QCOMPARE(m_fixture.Scalar(u"SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = 'Z1'"_s)
                         .toString(),
                     stored);
        // What was taken never stops the next start.
        const Result check = Command({u"check"_s});
        QVERIFY2(check.Code == 0, qPrintable(check.Out + check.Err));
    }

    // Only the bad row's line is listed, and the good rows before it are not written either.
    void refusedFileWritesNothing() {
        QByteArray file = "CDEMPRESA;NMEMPRESA\nZ1;Uma\nZ2;Duas\n";
        for (int i = 0; i < 150; ++i)
            file += "Z3;" + QByteArray(50, 'x') + "\n";
        const Result r = Import(QStringLiteral("empresas"), file);
        QCOMPARE(r.Code, 1);
        QVERIFY(r.Err.startsWith(QStringLiteral("linha 4, coluna NMEMPRESA: tem 50 caracteres")));
        QVERIFY2(r.Err.contains(QStringLiteral("... e mais 50 erros (150 no total)")),
                 qPrintable(r.Err));
        QCOMPARE(m_fixture
                     .Scalar(QStringLiteral("SELECT COUNT(*) FROM EMPRESA WHERE CDEMPRESA "
                                            "LIKE 'Z%'"))
                     .toInt(),
                 0);
    }

    void encodings_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("UTF-8") << QByteArray("CDEMPRESA;NMEMPRESA\nZ1;Açúcar\n");
        QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF"
                                                      "CDEMPRESA;NMEMPRESA\nZ1;Açúcar\n");
        QTest::newRow("Windows-1252") << QByteArray("CDEMPRESA;NMEMPRESA\nZ1;A\xE7\xFA"
                                                    "car\n");
    }
    void encodings() {
        QFETCH(QByteArray, file);
        const Result r = Import(QStringLiteral("empresas"), file);
        QVERIFY2(r.Code == 0, qPrintable(r.Err));
        QCOMPARE(m_fixture
                     .Scalar(QStringLiteral("SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = "
                                            "'Z1'"))
                     .toString(),
                 QStringLiteral("Açúcar"));
    }

    // An export imports back as it is, and a changed row is an update by its key.
    void roundTrip_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("rows");
        QTest::newRow("empresas") << "empresas" << 12;
        QTest::newRow("saldos") << "saldos" << 265;
        QTest::newRow("lancamentos") << "lancamentos" << 0;
    }
    void roundTrip() {
        QFETCH(QString, kind);
        QFETCH(int, rows);
        const QByteArray exported = Export(kind);
        const qsizetype lines = exported.count('\n') - 1;
        if (rows > 0)
            QCOMPARE(lines, rows);
        Result r = Import(kind, exported);
        QVERIFY2(r.Code == 0, qPrintable(r.Err));
        QVERIFY2(r.Out.endsWith(QStringLiteral(": 0 novas, 0 alteradas, %1 iguais\n").arg(lines)),
                 qPrintable(r.Out));
        QCOMPARE(Export(kind), exported);
        // The second data row changed in its last column: one update, nothing else.
        QList<QByteArray> all = exported.split('\n');
        QByteArray &row = all[2];
        row.chop(row.endsWith('\r') ? 1 : 0);
        const QByteArray replacement = kind == QStringLiteral("saldos")     ? "7,25"
                                       : kind == QStringLiteral("empresas") ? "Outro nome"
                                       : row.endsWith('S')                  ? "N"
                                                                            : "S";
        row = row.left(row.lastIndexOf(';') + 1) + replacement;
        const QString oneChanged =
            QStringLiteral(": 0 novas, 1 alteradas, %1 iguais\n").arg(lines - 1);
        const QString again = QStringLiteral(": 0 novas, 0 alteradas, %1 iguais\n").arg(lines);
        r = Import(kind, all.join('\n'));
        QVERIFY2(r.Out.endsWith(oneChanged), qPrintable(r.Out + r.Err));
        r = Import(kind, all.join('\n'));
        QVERIFY2(r.Out.endsWith(again), qPrintable(r.Out + r.Err));
    }

    void otherExports() {
        for (const char *kind : {"parametros", "paramgeral", "fechamentos", "historico"}) {
            const QByteArray out = Export(QString::fromLatin1(kind));
            QVERIFY2(out.startsWith("CD") || out.startsWith("ID"), out.constData());
        }
        QVERIFY(Export(QStringLiteral("parametros")).contains(";01/12/2026;31/12/2026;"));
    }

    void removal() {
        Result r = Import(QStringLiteral("empresas"),
                          "CDEMPRESA;NMEMPRESA;REMOVER\n10;;S\n01;;S\n05;;S\n");
        QCOMPARE(r.Code, 1);
        QVERIFY2(r.Err.contains(QStringLiteral("'01' não pode ser removida: há registros dela em "
                                               "CONTOPECTBL, SALDEMPR, LANCCONT")),
                 qPrintable(r.Err));
        QVERIFY2(r.Err.contains(QStringLiteral("'05' não pode ser removida: há registros dela em "
                                               "CONTOPECTBL\n")),
                 qPrintable(r.Err));
        r = Import(QStringLiteral("empresas"), "CDEMPRESA;NMEMPRESA;REMOVER\n10;;S\n11;X;N\n");
        QVERIFY2(r.Out.endsWith(QStringLiteral("2 empresas: 0 novas, 1 alteradas, 0 iguais, 1 "
                                               "removidas\n")),
                 qPrintable(r.Out + r.Err));
        QCOMPARE(m_fixture.Scalar(QStringLiteral("SELECT COUNT(*) FROM EMPRESA")).toInt(), 11);
    }

    // The first command on a new database creates its schema.
    void emptyDatabase() {
        QString error;
        const QString url = m_fixture.NewEmptyDatabase(&error);
        QVERIFY2(!url.isEmpty(), qPrintable(error));
        const Result r = Command({QStringLiteral("import"), QStringLiteral("empresas"),
                                  Write("CDEMPRESA;NMEMPRESA\nA1;Um\n")},
                                 url);
        QVERIFY2(r.Code == 0, qPrintable(r.Err));
        QCOMPARE(r.Out, QStringLiteral("1 empresas: 1 novas, 0 alteradas, 0 iguais\n"));
    }
};

QTEST_GUILESS_MAIN(TstImportExport)
#include "tst_importexport.moc"
