// The guide's and the protocol's samples, run against the demo data as an operator types them:
// each fragment a row names must be in the document (blanks and line breaks as one blank) and in
// what the product prints, so a sample cannot drift from the product unseen.

#include "methodsfixture.h"

#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

using namespace Qt::StringLiterals;

class TstDocSamples final : public QObject {
    Q_OBJECT

    MethodsFixture m_fx;

    static QString Document(const QString &name) {
        QFile f(QStringLiteral(GER_SOURCE_DIR) + u'/' + name);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        static const QRegularExpression blanks(u"\\s+"_s);
        return QString::fromUtf8(f.readAll()).replace(blanks, u" "_s);
    }

    // What the command prints, standard output and errors together. `@DB` is the database,
    // `@SERVER` the server's address, `@DIR` its folder, `@SRC` the source tree.
    QString Output(QStringList command) {
        for (QString &word : command)
            word.replace(u"@DB"_s, m_fx.Url())
                .replace(u"@SERVER"_s, u"ws://127.0.0.1:%1"_s.arg(m_fx.Port()))
                .replace(u"@DIR"_s, m_fx.Server().Dir())
                .replace(u"@SRC"_s, QStringLiteral(GER_SOURCE_DIR));
        if (command.constFirst() == u"GET"_s) {
            QTcpSocket socket;
            socket.connectToHost(u"127.0.0.1"_s, m_fx.Port());
            if (!socket.waitForConnected(5000))
                return socket.errorString();
            socket.write("GET " + command.at(1).toLatin1() + " HTTP/1.1\r\nHost: x\r\n\r\n");
            QByteArray answer;
            while (socket.waitForReadyRead(2000) && !answer.contains("}"))
                answer += socket.readAll();
            return QString::fromUtf8(answer);
        }
        const QString program = command.takeFirst();
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program.startsWith(u'/') ? program : ServerProcess::BinDir() + u'/' + program,
                command);
        p.waitForFinished(60000);
        return QString::fromUtf8(p.readAll());
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_fx.Start(&error), qPrintable(error));
    }
    void cleanupTestCase() { m_fx.Stop(); }

    // In order: the close comes after its dry run, the history after the close.
    void samples_data() {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QStringList>("fragments");
        const QString consulta = u"ger-consulta"_s;
        QTest::newRow("gate, allowed")
            << u"README.md"_s
            << QStringList{consulta, u"--server"_s, u"@SERVER"_s, u"05"_s, u"FIN"_s, u"15/12/2026"_s}
            << QStringList{u"05 FIN 15/12/2026: permitido (janela 01/11/2026 a 31/12/2026)"_s};
        QTest::newRow("gate, refused")
            << u"README.md"_s
            << QStringList{consulta, u"--server"_s, u"@SERVER"_s, u"02"_s, u"FIS"_s, u"15/12/2026"_s}
            << QStringList{u"02 FIS 15/12/2026: recusado: Sem período de integração Fiscal "
                           "informado."_s};
        QTest::newRow("gate, refused, ISO day")
            << u"docs/protocol.md"_s
            << QStringList{consulta, u"--server"_s, u"@SERVER"_s, u"02"_s, u"FIS"_s, u"2026-12-15"_s}
            << QStringList{u"02 FIS 2026-12-15: recusado: Sem período de integração Fiscal "
                           "informado."_s};
        QTest::newRow("close tried")
            << u"docs/protocol.md"_s
            << QStringList{consulta,    u"--server"_s,    u"@SERVER"_s, u"encerrar"_s,
                           u"--dry-run"_s, u"T"_s, u"31/12/2025"_s}
            << QStringList{u"nada impede o encerramento até 31/12/2025: 12 empresa(s) (--dry-run: "
                           "nada foi encerrado)"_s};
        QTest::newRow("close")
            << u"README.md"_s
            << QStringList{consulta,      u"--server"_s, u"@SERVER"_s, u"encerrar"_s,
                           u"T"_s,        u"31/12/2025"_s, u"Entrega da ECD 2025"_s}
            << QStringList{u"encerrado até 31/12/2025: 12 empresa(s)"_s};
        QTest::newRow("gate after the close")
            << u"docs/operations.md"_s
            << QStringList{consulta, u"--server"_s, u"@SERVER"_s, u"01"_s, u"LANC"_s, u"31/12/2025"_s}
            << QStringList{u"recusado: Data dentro do encerramento definitivo da empresa (até "
                           "31/12/2025)."_s};
        QTest::newRow("health") << u"docs/operations.md"_s << QStringList{u"GET"_s, u"/health"_s}
                                << QStringList{u"\"schemaVersion\":6,\"status\":\"ok\""_s};
        QTest::newRow("copy")
            << u"docs/operations.md"_s
            << QStringList{u"ger-server"_s, u"copy"_s, u"--db"_s, u"@DB"_s, u"--to"_s,
                           u"sqlite:@DIR/copia.db"_s}
            << QStringList{u"EMPRESA: "_s, u"HISTCADEIA: 1 linha, soma ok"_s,
                           u"cópia conferida: 10 tabelas, "_s, u", esquema na versão 6 ("_s};
        QTest::newRow("history export")
            << u"docs/operations.md"_s
            << QStringList{u"ger-server"_s, u"export"_s, u"historico"_s, u"@DIR/historico.csv"_s,
                           u"--db"_s, u"@DB"_s}
            << QStringList{u" linhas exportadas (historico)"_s,
                           u"cadeia do histórico: começa após a linha 0 (hash "_s,
                           u") e termina na linha "_s};
        QTest::newRow("history verified")
            << u"docs/operations.md"_s
            << QStringList{u"@SRC/scripts/verify-history"_s, u"@DIR/historico.csv"_s}
            << QStringList{u"começa após a linha 0 da cadeia, hash "_s,
                           u" linhas conferem; último hash "_s};
        QTest::newRow("check")
            << u"docs/operations.md"_s << QStringList{u"ger-server"_s, u"check"_s, u"--db"_s, u"@DB"_s}
            << QStringList{u"histórico: cadeia íntegra, "_s, u" linhas conferidas; fim da cadeia "
                                                             "na linha "_s};
    }
    void samples() {
        QFETCH(QString, document);
        QFETCH(QStringList, command);
        QFETCH(QStringList, fragments);
        const QString text = Document(document);
        QVERIFY2(!text.isEmpty(), qPrintable(document));
        const QString out = Output(command);
        for (const QString &fragment : fragments) {
            QVERIFY2(text.contains(fragment),
                     qPrintable(u"%1 não tem: %2"_s.arg(document, fragment)));
            QVERIFY2(out.contains(fragment), qPrintable(u"a saída não tem: %1\n%2"_s.arg(fragment, out)));
        }
    }
};

QTEST_GUILESS_MAIN(TstDocSamples)
#include "tst_docsamples.moc"
