// ger-server import and export, run as an operator runs them: beside a serving server, on small
// files written here.

#include "methodsfixture.h"

#include <QDir>
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
        QTest::newRow("code that lost its zero in a spreadsheet")
            << "saldos" << b + "4;31/01/2026;1.1;1,00;0\n"
            << "Código de empresa inválido: '4' (deve ter 2 caracteres). A planilha provavelmente "
               "tirou o zero à esquerda (era '04'?)";
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
            const QString counts = kind == u"empresas"_s ? u": 1 novas, 0 alteradas, 0 iguais"_s
                                                         : u": 1 novos, 0 alterados, 0 iguais"_s;
            QVERIFY2(r.Out.contains(counts), qPrintable(r.Out));
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
        QTest::newRow("U+FEFF inside a field") << u"empresas"_s
                                               << e + "Z1;Coop\xEF\xBB\xBF"
                                                      "erativa\n"
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
        const QString counts = kind == u"empresas"_s ? u": %1 novas, %2 alteradas, %3 iguais\n"_s
                                                     : u": %1 novos, %2 alterados, %3 iguais\n"_s;
        QVERIFY2(r.Out.endsWith(counts.arg(0).arg(0).arg(lines)), qPrintable(r.Out));
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
        const QString oneChanged = counts.arg(0).arg(1).arg(lines - 1);
        const QString again = counts.arg(0).arg(0).arg(lines);
        r = Import(kind, all.join('\n'));
        QVERIFY2(r.Out.endsWith(oneChanged), qPrintable(r.Out + r.Err));
        r = Import(kind, all.join('\n'));
        QVERIFY2(r.Out.endsWith(again), qPrintable(r.Out + r.Err));
    }

    // Files as Excel saves them, and keys a file repeats. A dry run says what the import then
    // does, and writes nothing.
    void fileForms_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("result"); // the summary line, or the first error line

        const QByteArray e = "CDEMPRESA;NMEMPRESA\n";
        const QByteArray b = "CDEMPRESA;DTSALDEMPR;CDCONTA;VRSALDODEB;VRSALDOCRED\n";
        const QString oneNew = u"1 empresas: 1 novas, 0 alteradas, 0 iguais"_s;
        QTest::newRow("sep= line") << u"empresas"_s << "sep=;\n" + e + "Z1;Nova\n" << oneNew;
        QTest::newRow("quoted sep= line naming the comma, CRLF")
            << u"empresas"_s
            << QByteArray("\"sep=,\"\r\nCDEMPRESA,NMEMPRESA\r\nZ1,\"Nova; S.A.\"\r\n") << oneNew;
        QTest::newRow("sep= line counts as line 1")
            << u"empresas"_s << QByteArray("sep=;\nCDEMPRESA;NOME\n")
            << u"linha 2: coluna desconhecida 'NOME'"_s;
        QTest::newRow("sep= with more after it is a header")
            << u"empresas"_s << QByteArray("sep=;x\nZ1;Nova\n")
            << u"linha 1: coluna desconhecida 'sep='"_s;
        QTest::newRow("trailing separator on every line")
            << u"empresas"_s << QByteArray("CDEMPRESA;NMEMPRESA;\r\nZ1;Nova;\r\n") << oneNew;
        QTest::newRow("unused columns and an empty sheet row")
            << u"empresas"_s << QByteArray("CDEMPRESA;NMEMPRESA;;\nZ1;Nova;;\n;;;\n") << oneNew;
        QTest::newRow("a field beyond the header with data")
            << u"empresas"_s << e + "Z1;Nova;x\n"
            << u"linha 2: 3 campos, o cabeçalho tem 2"_s;
        const QString utf16 = u"está em UTF-16 (o \"Texto Unicode\" do Excel), que a importação "
                              "não lê: salve-o no Excel como \"CSV UTF-8 (Delimitado por "
                              "vírgulas)\" e importe de novo"_s;
        const QString text = u"CDEMPRESA\tNMEMPRESA\r\nZ1\tAçúcar\r\n"_s;
        const QByteArray le(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
        QByteArray be = le;
        for (qsizetype i = 0; i + 1 < be.size(); i += 2)
            std::swap(be[i], be[i + 1]);
        QTest::newRow("UTF-16 LE with BOM") << u"empresas"_s << "\xFF\xFE" + le << utf16;
        QTest::newRow("UTF-16 BE with BOM") << u"empresas"_s << "\xFE\xFF" + be << utf16;
        QTest::newRow("UTF-16 LE without BOM") << u"empresas"_s << le << utf16;
        QTest::newRow("UTF-16 BE without BOM") << u"empresas"_s << be << utf16;
        QTest::newRow("key twice, new: the last row wins")
            << u"saldos"_s << b + "01;31/12/2026;9.9;1;1\n01;2026-12-31;9.9;2,5;2\n"
            << u"1 saldos: 1 novos, 0 alterados, 0 iguais"_s;
        QTest::newRow("key twice, unchanged then changed")
            << u"empresas"_s
            << e + "01;Comércio de Alimentos São João Ltda\n01;Outro nome\n02;Indústria Têxtil "
                   "Paraná S.A.\n"
            << u"2 empresas: 0 novas, 1 alteradas, 1 iguais"_s;
        QTest::newRow("key twice, both unchanged")
            << u"lancamentos"_s
            << QByteArray("NRLANC;CDEMPRESA;DTLANC;CDCONTA;VRLANC;IDEVOLUIDO;IDRECALCFISC\n"
                          "900;01;01/12/2026;9.9;1;S;N\n900;01;01/12/2026;9.9;1;S;N\n"
                          "901;01;01/12/2026;9.9;1;S;N\n")
            << u"2 lançamentos: 2 novos, 0 alterados, 0 iguais"_s;
    }
    void fileForms() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, file);
        QFETCH(QString, result);
        const bool accepted = !result.startsWith(u"linha"_s) && !result.startsWith(u"est"_s);
        const QByteArray before = Export(kind);
        const QString path = Write(file);
        const Result dry = Command({u"import"_s, kind, path, u"--dry-run"_s});
        QCOMPARE(Export(kind), before);
        const Result r = Command({u"import"_s, kind, path});
        if (!accepted) {
            QCOMPARE(dry.Code, 1);
            QCOMPARE(r.Code, 1);
            const QString first = r.Err.section(u'\n', 0, 0);
            QVERIFY2(first.startsWith(result) || first == path + u' ' + result, qPrintable(r.Err));
            QVERIFY(r.Err.endsWith(u"\nger-server: importação recusada: nada foi gravado\n"_s));
            QCOMPARE(dry.Err, r.Err);
            return;
        }
        QCOMPARE(dry.Code, 0);
        QCOMPARE(dry.Out, result + u" (--dry-run: nada foi gravado)\n"_s);
        QVERIFY2(r.Code == 0, qPrintable(r.Err));
        QCOMPARE(r.Out, result + u"\n"_s);
        if (kind == u"saldos"_s)
            QVERIFY(Export(kind).contains("01;31/12/2026;9.9;2,50;2,00\r\n"));
        if (QTest::currentDataTag() == QByteArrayLiteral("key twice, unchanged then changed"))
            QCOMPARE(m_fixture.Scalar(u"SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = '01'"_s)
                         .toString(),
                     u"Outro nome"_s);
    }

    // What an operator types wrong, and what is said: one line, in one form, and the exit status.
    void commandLine_data() {
        QTest::addColumn<QStringList>("args"); // @DB the database, @FILE a good companies file
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("first"); // stderr's first line, or stdout's when it exits 0

        QTest::newRow("options before the command")
            << QStringList{u"--db"_s, u"@DB"_s, u"import"_s, u"empresas"_s, u"@FILE"_s} << 0
            << u"1 empresas: 1 novas, 0 alteradas, 0 iguais"_s;
        QTest::newRow("options between the operands")
            << QStringList{u"import"_s, u"--dry-run"_s, u"empresas"_s,
                           u"--db"_s,   u"@DB"_s,       u"@FILE"_s}
            << 0 << u"1 empresas: 1 novas, 0 alteradas, 0 iguais (--dry-run: nada foi gravado)"_s;
        QTest::newRow("missing file")
            << QStringList{u"import"_s, u"empresas"_s, u"/nao/existe.csv"_s, u"--db"_s, u"@DB"_s}
            << 1 << u"ger-server: arquivo não encontrado: /nao/existe.csv"_s;
        QTest::newRow("--db without a value at the end")
            << QStringList{u"import"_s, u"empresas"_s, u"@FILE"_s, u"--db"_s} << 2
            << u"ger-server: a opção --db espera um valor"_s;
        QTest::newRow("--db followed by another option")
            << QStringList{u"check"_s, u"--db"_s, u"--log-level"_s, u"debug"_s} << 2
            << u"ger-server: a opção --db espera um valor"_s;
        QTest::newRow("--db= empty") << QStringList{u"check"_s, u"--db="_s} << 2
                                     << u"ger-server: a opção --db espera um valor"_s;
        QTest::newRow("unknown option")
            << QStringList{u"export"_s, u"empresas"_s, u"-"_s, u"--db"_s, u"@DB"_s, u"--tudo"_s}
            << 2 << u"ger-server: opção desconhecida: --tudo (veja ger-server --help)"_s;
        QTest::newRow("--dry-run is the import's")
            << QStringList{u"export"_s, u"empresas"_s, u"-"_s, u"--dry-run"_s, u"--db"_s, u"@DB"_s}
            << 2 << u"ger-server: opção desconhecida: --dry-run (veja ger-server --help)"_s;
        QTest::newRow("a value to a flag") << QStringList{u"--no-history=sim"_s} << 2
                                           << u"ger-server: a opção --no-history não leva valor"_s;
        QTest::newRow("unknown encoding")
            << QStringList{u"export"_s, u"empresas"_s, u"-"_s, u"--encoding"_s, u"latin1"_s} << 2
            << u"ger-server: --encoding espera utf8, utf8-bom ou cp1252; recebeu \"latin1\""_s;
        QTest::newRow("unknown kind") << QStringList{u"import"_s, u"pessoas"_s, u"@FILE"_s} << 2
                                      << u"ger-server: tipo desconhecido: pessoas"_s;
        QTest::newRow("no file") << QStringList{u"import"_s, u"empresas"_s} << 2
                                 << u"ger-server: falta o arquivo"_s;
        QTest::newRow("one operand too many")
            << QStringList{u"export"_s, u"empresas"_s, u"-"_s, u"mais"_s} << 2
            << u"ger-server: argumento inesperado: mais"_s;
        QTest::newRow("copy without --to") << QStringList{u"copy"_s, u"--db"_s, u"@DB"_s} << 2
                                           << u"ger-server: falta o destino (--to)"_s;
        QTest::newRow("check of a missing database")
            << QStringList{u"check"_s, u"--db"_s, u"sqlite:/nao/existe.db"_s} << 1
            << u"ger-server: arquivo não encontrado: /nao/existe.db"_s;
        QTest::newRow("check of a file that is no database")
            << QStringList{u"check"_s, u"--db"_s, u"sqlite:@FILE"_s} << 1
            << u"ger-server: não foi possível "_s;
        QTest::newRow("help lists check") << QStringList{u"--help"_s} << 0 << u"Uso: "_s;
        const QDate today = QDateTime::currentDateTimeUtc().date();
        QTest::newRow("prune without a date") << QStringList{u"prune-history"_s} << 2
                                              << u"ger-server: falta a data"_s;
        QTest::newRow("prune on a day that does not exist")
            << QStringList{u"prune-history"_s, u"31/02/2026"_s, u"h.csv"_s} << 2
            << u"ger-server: data inválida: 31/02/2026 (use dd/mm/aaaa ou aaaa-mm-dd)"_s;
        QTest::newRow("prune without a file")
            << QStringList{u"prune-history"_s, u"01/01/2026"_s, u"--db"_s, u"@DB"_s} << 2
            << u"ger-server: falta o arquivo"_s;
        QTest::newRow("prune after today")
            << QStringList{u"prune-history"_s, today.addDays(1).toString(u"dd/MM/yyyy"_s),
                           u"h.csv"_s}
            << 2
            << u"ger-server: a data %1 é depois de hoje (%2, em UTC): a poda levaria alterações "
               "de hoje"_s.arg(today.addDays(1).toString(u"dd/MM/yyyy"_s),
                              today.toString(u"dd/MM/yyyy"_s));
    }

    // A command that only reads, given a SQLite file that is not there (a path mistyped in a
    // nightly job): one line, exit 1, no database made and no file written over.
    void readersMakeNothing_data() {
        QTest::addColumn<QStringList>("args"); // @KEEP: last night's file
        QTest::newRow("export") << QStringList{u"export"_s, u"empresas"_s, u"@KEEP"_s};
        QTest::newRow("export to stdout") << QStringList{u"export"_s, u"historico"_s, u"-"_s};
        QTest::newRow("prune") << QStringList{u"prune-history"_s, u"01/01/2026"_s, u"@NEW"_s};
        QTest::newRow("import dry run")
            << QStringList{u"import"_s, u"empresas"_s, u"@KEEP"_s, u"--dry-run"_s};
        QTest::newRow("check") << QStringList{u"check"_s};
    }
    void readersMakeNothing() {
        QFETCH(QStringList, args);
        const QString dir = m_fixture.Server().Dir();
        const QString keep = Write("CDEMPRESA;NMEMPRESA\nZ1;de ontem\n");
        for (QString &a : args)
            a.replace(u"@KEEP"_s, keep).replace(u"@NEW"_s, dir + u"/novo.csv"_s);
        const Result r = Command(args, u"sqlite:%1/nao-existe.db"_s.arg(dir));
        QCOMPARE(r.Code, 1);
        QCOMPARE(r.Err, u"ger-server: arquivo não encontrado: %1/nao-existe.db\n"_s.arg(dir));
        QVERIFY(!QFile::exists(dir + u"/nao-existe.db"_s));
        QVERIFY(!QFile::exists(dir + u"/novo.csv"_s));
        QFile kept(keep);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("CDEMPRESA;NMEMPRESA\nZ1;de ontem\n"));
    }
    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, first);
        const QString file = Write("CDEMPRESA;NMEMPRESA\nZ1;Nova\n");
        for (QString &a : args)
            a.replace(u"@DB"_s, m_fixture.Url()).replace(u"@FILE"_s, file);
        QProcess p;
        p.start(ServerProcess::Executable(), args);
        QVERIFY(p.waitForFinished(60000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), code);
        QVERIFY2((code == 0 ? out : err).startsWith(first), qPrintable(out + err));
        if (code == 0 && args.constFirst() == u"--help"_s)
            QVERIFY2(out.contains(u"ger-server check:"_s), qPrintable(out));
        // Nothing but the one line, and how the command is used after a mistake in it.
        const QStringList lines = err.split(u'\n', Qt::SkipEmptyParts);
        if (code != 0)
            QVERIFY2(lines.size() == 1 || lines.value(1).startsWith(u"uso: ger-server "_s),
                     qPrintable(err));
    }

    // Excel reads UTF-8 only with a BOM, and older versions Windows-1252; a name Windows-1252
    // cannot hold is refused, and no half-written file is left behind.
    void exportEncodings_data() {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QByteArray>("name"); // Z1's name, in UTF-8
        QTest::addColumn<QByteArray>("head"); // the file's first bytes; empty: refused
        QTest::addColumn<QByteArray>("row");  // Z1's row as written, or the refusal

        QTest::newRow("utf8") << u"utf8"_s << QByteArray("Açúcar €") << QByteArray("CDEMPRESA;")
                              << QByteArray("Z1;Açúcar €\r\n");
        QTest::newRow("utf8-bom") << u"utf8-bom"_s << QByteArray("Açúcar")
                                  << QByteArray("\xEF\xBB\xBF"
                                                "CDEMPRESA;NMEMPRESA\r\n")
                                  << QByteArray("Z1;Açúcar\r\n");
        QTest::newRow("cp1252") << u"cp1252"_s << QByteArray("Açúcar € ŠÿÀ")
                                << QByteArray("CDEMPRESA;")
                                << QByteArray("Z1;A\xE7\xFA"
                                              "car \x80 \x8A\xFF\xC0\r\n");
        QTest::newRow("cp1252 lacks ł") << u"cp1252"_s << QByteArray("Łódź") << QByteArray()
                                        << QByteArray("linha 14, coluna NMEMPRESA: o caractere Ł "
                                                      "(U+0141) não existe em Windows-1252; "
                                                      "exporte com --encoding utf8-bom\n");
        QTest::newRow("cp1252 lacks an emoji")
            << u"cp1252"_s << QByteArray("Caf\xF0\x9F\x98\x80") << QByteArray()
            << QByteArray("(U+1F600) não existe em Windows-1252");
    }
    void exportEncodings() {
        QFETCH(QString, encoding);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, row);
        QCOMPARE(Import(u"empresas"_s, "CDEMPRESA;NMEMPRESA\nZ1;" + name + "\n").Code, 0);
        const QString path = m_fixture.Server().Dir() + u"/enc.csv"_s;
        // Last month's export, left readable by all: a refused export leaves it as it was, a
        // good one replaces it with a file of its owner's alone.
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("do mês passado\n");
        old.close();
        QVERIFY(old.setPermissions(old.permissions() | QFile::ReadOther | QFile::ReadGroup));
        const Result r = Command({u"export"_s, u"empresas"_s, path, u"--encoding"_s, encoding});
        QFile file(path);
        if (head.isEmpty()) {
            QCOMPARE(r.Code, 1);
            QVERIFY2(r.Err.contains(QString::fromUtf8(row)), qPrintable(r.Err));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("do mês passado\n"));
            QCOMPARE(QDir(m_fixture.Server().Dir()).entryList({u"enc.csv*"_s}),
                     QStringList{u"enc.csv"_s}); // nothing left beside it
            return;
        }
        QVERIFY2(r.Code == 0, qPrintable(r.Err));
        QCOMPARE(int(file.permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser)),
                 int(QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY2(bytes.startsWith(head), bytes.left(40).toHex().constData());
        QVERIFY2(bytes.endsWith(row), bytes.right(40).toHex().constData());
        QCOMPARE(bytes.startsWith("\xEF\xBB\xBF"), encoding == u"utf8-bom"_s);
        // What the import reads back: the BOM and Windows-1252 both.
        const Result back = Command({u"import"_s, u"empresas"_s, path});
        QVERIFY2(back.Out.endsWith(u"0 novas, 0 alteradas, 13 iguais\n"_s),
                 qPrintable(back.Out + back.Err));
    }

    // The demo's amounts hold two decimals, as their columns do: an export reads them whole.
    void demoAmountsTwoDecimals() {
        QCOMPARE(m_fixture
                     .Scalar(u"SELECT COUNT(*) FROM SALDEMPR WHERE "
                             "ABS(VRSALDODEB * 100 - ROUND(VRSALDODEB * 100)) > 0.001 OR "
                             "ABS(VRSALDOCRED * 100 - ROUND(VRSALDOCRED * 100)) > 0.001"_s)
                     .toInt(),
                 0);
        QVERIFY(Export(u"saldos"_s).contains(";4321,09;2160,54\r\n"));
    }

    void otherExports() {
        for (const char *kind : {"parametros", "paramgeral", "fechamentos", "historico"}) {
            const QByteArray out = Export(QString::fromLatin1(kind));
            QVERIFY2(out.startsWith("CD") || out.startsWith("ID") || out.startsWith("NRCADEIA;"),
                     out.constData());
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
