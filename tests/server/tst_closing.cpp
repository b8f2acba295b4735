// The definitive close through the real server: every path that writes tried against it, the
// close itself refused back, over open periods and for a list with one bad company, the gate's
// answer on either side of it, and who may close.

#include "datetime.h"
#include "methodsfixture.h"

#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// Companies 01 and 02 open on 01/03/2026; 01 holds a balance of 31/01/2026 and entry 9999 of
// 15/01/2026.
const QStringList Reset{
    u"DELETE FROM LANCCONT WHERE NRLANC IN (9999, 990001)"_s,
    u"INSERT INTO LANCCONT (NRLANC, CDEMPRESA, DTLANC, CDCONTA, VRLANC, IDEVOLUIDO, IDRECALCFISC) "
    "VALUES (9999, '01', '2026-01-15', '9.9', 5, 'N', 'N')"_s,
    u"DELETE FROM ENCERRAMENTO"_s,
    u"DELETE FROM EXCECAO"_s,
    u"DELETE FROM SALDEMPR WHERE CDEMPRESA = '01' AND CDCONTA = '9.9'"_s,
    u"INSERT INTO SALDEMPR (CDEMPRESA, DTSALDEMPR, CDCONTA, VRSALDODEB, VRSALDOCRED) VALUES "
    "('01', '2026-01-31', '9.9', 10, 0)"_s,
    u"UPDATE CONTOPECTBL SET DTINICCONT = '2026-03-01', DTFINACONT = '2026-12-31', DTINICRELA = "
    "'2026-03-01', DTFINARELA = '2026-12-31', DTINICLANC = '2026-12-01', DTFINALANC = "
    "'2026-12-31', DTINIINTCONTDFE = '2026-11-01', DTFININTCONTDFE = '2026-11-30', "
    "DTINIINTCONTDFS = '2026-11-15', DTFININTCONTDFS = '2026-12-15', DTINICCTBL = '2026-12-01', "
    "DTFINACCTBL = '2026-12-31', DTINIINTCONTGPA = '2026-10-01', DTFININTCONTGPA = '2026-12-31', "
    "DTINIINTCONTFIS = NULL, DTFININTCONTFIS = NULL, DTINIINTCONTVEXT = NULL, "
    "DTFININTCONTVEXT = NULL WHERE CDEMPRESA IN ('01', '02')"_s,
    // 04: its accounting period starts after the close's day, one window before it.
    u"UPDATE CONTOPECTBL SET DTINICCONT = '2026-03-01', DTINICLANC = '2026-12-01', "
    "DTINIINTCONTDFE = '2026-02-01', DTINIINTCONTDFS = '2026-12-01', DTINICCTBL = '2026-12-01', "
    "DTINIINTCONTGPA = '2026-12-01', DTINIINTCONTFIS = NULL, DTINIINTCONTVEXT = NULL WHERE "
    "CDEMPRESA = '04'"_s,
};

// What any path could have written, to tell that a refusal wrote nothing.
const QStringList Written{
    u"SELECT CDEMPRESA || DTENCERRAMENTO FROM ENCERRAMENTO ORDER BY CDEMPRESA"_s,
    u"SELECT CDEMPRESA || DTINICCONT || DTINICLANC FROM CONTOPECTBL ORDER BY CDEMPRESA"_s,
    u"SELECT COUNT(*) || '/' || SUM(VRSALDODEB) FROM SALDEMPR"_s,
    u"SELECT COUNT(*) FROM LANCCONT"_s,
    u"SELECT CDEMPRESA || ' ' || DTLANC FROM LANCCONT WHERE NRLANC = 9999"_s,
    u"SELECT COUNT(*) FROM FECHAPERIODO"_s,
    u"SELECT COUNT(*) FROM HISTALTERACAO"_s,
};

} // namespace

class TstClosing final : public QObject {
    Q_OBJECT

    MethodsFixture m_fx;
    ServerProcess m_tokens; // one token per role, each naming its operator
    std::vector<std::unique_ptr<TNetConnection>> m_tokenClients;

    TNetConnection &TokenClient(const QString &role) {
        if (!m_tokens.Running()) {
            QFile file(m_tokens.Dir() + u"/tokens"_s);
            if (file.open(QIODevice::WriteOnly)) {
                for (const char *line : {"ctb contador", "aud auditor", "erp integracao"})
                    file.write(QByteArray(40, line[0]) + ' ' + line + '\n');
                file.close();
                file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
            }
            if (!m_tokens.Start({u"--token-file"_s, file.fileName()}))
                qWarning("%s", m_tokens.Output().constData());
        }
        auto c = std::make_unique<TNetConnection>();
        c->SetHost(u"127.0.0.1"_s);
        c->SetPort(m_tokens.Port());
        c->SetServerName(u"Ger09400.Periodo"_s);
        c->SetToken(QString(40, role == u"integracao"_s ? u'e' : role.at(0)));
        m_tokenClients.push_back(std::move(c));
        return *m_tokenClients.back();
    }

    // "" when the call went through, else "code: message".
    static QString Outcome(const TResultEnvelope &r) {
        return r.Ok ? QString() : r.ErrorCode + u": "_s + r.ErrorMessage;
    }
    // Ten days ahead, at 18:00 UTC, as the exceptions keep it.
    static QString Expiry() {
        return QDateTime(QDate::currentDate().addDays(10), QTime(18, 0), Qt::UTC)
            .toString(u"yyyy-MM-dd'T'HH:mm:ss'Z'"_s);
    }
    // One check through the gate, its answer's fields joined.
    QString Ask(const QStringList &check) {
        QJsonArray checks;
        checks.append(QJsonArray::fromStringList(check));
        const TResultEnvelope r =
            m_fx.Client(u"Ger09400.Periodo"_s).Call(u"Consulta"_s, {QJsonValue(checks)});
        if (!r.Ok)
            return r.ErrorMessage;
        QStringList got;
        for (const QJsonValue &v : r.PayloadValue().toArray().at(0).toArray())
            got << (v.isNull() ? u"null"_s : v.toString());
        return got.join(u'|');
    }
    QString Close(const QString &companies, const QString &day, const QString &reason = u"SPED"_s) {
        return Outcome(
            m_fx.Client(u"Ger09400.Periodo"_s).Call(u"Encerrar"_s, {companies, day, reason}));
    }
    QStringList Snapshot() {
        QStringList out;
        for (const QString &sql : Written)
            out << m_fx.Column(sql);
        return out;
    }
    QString Import(const QString &kind, const QByteArray &rows, const QString &flag = {}) {
        const QString path = m_fx.Server().Dir() + u"/in.csv"_s;
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(rows) != rows.size())
            return u"no file"_s;
        f.close();
        QProcess p;
        QStringList args{u"import"_s, kind, path, u"--db"_s, m_fx.Url()};
        if (!flag.isEmpty())
            args << flag;
        p.start(ServerProcess::Executable(), args);
        p.waitForFinished(120000);
        return p.exitCode() == 0 ? QString() : QString::fromUtf8(p.readAllStandardError());
    }
    // SetContOpe of one field of company 01, from what Reset left to `value`.
    QString SetField(const QString &field, const QString &was, const QString &value) {
        const TFieldDefs fields{{u"CDEMPRESA"_s, TFieldType::String, 2, false},
                                {field, TFieldType::Date, 0, false}};
        const auto day = [](const QString &iso) {
            return QVariant(DateTimeUtil::FromQDate(QDate::fromString(iso, Qt::ISODate)));
        };
        const TChangeLog log{fields,
                             {{TChangeOp::Update, {u"01"_s, day(was)}, {u"01"_s, day(value)}}}};
        return Outcome(m_fx.Client().Call(u"SetContOpe"_s, {Packet::ToJson(log)}));
    }
    // A bulk apply of the accounting period from `start` with every window in December.
    QString Bulk(const QString &companies, const QString &start, bool controlsOnly = false) {
        QJsonArray fields, row;
        for (const char *pair : {"PER", "LANC", "DFE", "DFS", "FIN", "GPA", "FIS", "VEN"}) {
            for (const char *end : {"DTINI", "DTFIN"}) {
                fields.append(
                    QJsonObject{{u"name"_s, QLatin1StringView(end) + QLatin1StringView(pair)},
                                {u"type"_s, u"date"_s}});
                const bool first = end[2] == 'I';
                if (qstrcmp(pair, "FIS") == 0 || qstrcmp(pair, "VEN") == 0)
                    row.append(QJsonValue::Null);
                else if (qstrcmp(pair, "PER") == 0)
                    row.append(first ? start : u"2026-12-31"_s);
                else
                    row.append(first ? u"2026-12-01"_s : u"2026-12-31"_s);
            }
        }
        for (const char *flag :
             {"IDCONTCCUS", "IDCONCOME", "IDUTCUSTEST", "IDSUGRATMANU", "IDUTSALDOSOC",
              "IDMSMCONTA", "IDPRIOCCUSTSET", "IDCONSVNDDFS", "IDULTDESPTRIB", "IDCONSDATARET",
              "IDCONTLOTESIT", "IDGERAESTCONT", "IDCONTVREXCICMSEP", "IDCONSRATPROD"}) {
            fields.append(QJsonObject{
                {u"name"_s, QLatin1StringView(flag)}, {u"type"_s, u"string"_s}, {u"size"_s, 1}});
            row.append(u"N"_s);
        }
        return Outcome(m_fx.Client().Call(
            u"setCadAuto"_s, {companies, controlsOnly ? u"N"_s : u"S"_s,
                              controlsOnly ? u"S"_s : u"N"_s,
                              QJsonObject{{u"fields"_s, fields}, {u"rows"_s, QJsonArray{row}}}}));
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_fx.Start(&error), qPrintable(error));
    }
    void init() {
        QString error;
        for (const QString &sql : Reset)
            QVERIFY2(m_fx.Exec(sql, &error), qPrintable(error));
    }
    void cleanupTestCase() {
        m_tokenClients.clear();
        m_tokens.Stop();
        m_fx.Stop();
    }

    void refusals_data() {
        QTest::addColumn<QString>("closeAt"); // company 01's close, made first; "" none
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("refusal"); // "" when it goes through
        QTest::addColumn<bool>("writes");

        const QString closed = u"A empresa '01' está encerrada definitivamente até 28/02/2026"_s;
        const auto row = [](const char *name, const QString &at, const char *path,
                            const QStringList &args, const QString &refusal) {
            QTest::newRow(name) << at << QString::fromLatin1(path) << args << refusal
                                << (refusal.isEmpty() && !QByteArray(name).contains("unchanged") &&
                                    !QByteArray(path).endsWith("dry-run"));
        };
        row("close the day before the periods", u""_s, "close", {u"01,02"_s, u"28/02/2026"_s},
            u""_s);
        row("close on the periods' first day", u""_s, "close", {u"01"_s, u"2026-03-01"_s},
            u"refused: A empresa '01' tem períodos que começam em 01/03/2026 ou antes: período "
            "contábil. Avance-os antes de encerrar (GER09400 ou GER09410). Nada foi encerrado."_s);
        row("close moved back", u"28/02/2026"_s, "close", {u"01"_s, u"27/02/2026"_s},
            u"refused: A empresa '01' já está encerrada definitivamente até 28/02/2026: o "
            "encerramento só avança (data informada 27/02/2026). Nada foi encerrado."_s);
        row("close on the same day", u"28/02/2026"_s, "close", {u"01"_s, u"28/02/2026"_s},
            u"refused: A empresa '01' já está encerrada definitivamente até 28/02/2026: o "
            "encerramento só avança (data informada 28/02/2026). Nada foi encerrado."_s);
        // Every company that blocks the close is named, each with its periods.
        row("companies of the list open", u""_s, "close", {u"T"_s, u"2026-02-28"_s},
            u"refused: 7 empresas têm períodos que começam em 28/02/2026 ou antes: '03' (período "
            "contábil); '04' (período de integração Doc. Fiscais Entrada); '05' (período "
            "contábil); '06' (período contábil); '07' (período contábil); '08' (período "
            "contábil); '09' (período contábil). Avance-os antes de encerrar (GER09400 ou "
            "GER09410). Nada foi encerrado."_s);
        row("a window open before the close", u""_s, "close", {u"04"_s, u"2026-02-28"_s},
            u"refused: A empresa '04' tem períodos que começam em 28/02/2026 ou antes: período "
            "de integração Doc. Fiscais Entrada. Avance-os antes de encerrar (GER09400 ou "
            "GER09410). Nada foi encerrado."_s);
        row("a window open on the close's day", u""_s, "close", {u"04"_s, u"2026-02-01"_s},
            u"refused: A empresa '04' tem períodos que começam em 01/02/2026 ou antes: período "
            "de integração Doc. Fiscais Entrada. Avance-os antes de encerrar (GER09400 ou "
            "GER09410). Nada foi encerrado."_s);
        row("the day before a window", u""_s, "close", {u"04"_s, u"2026-01-31"_s}, u""_s);
        row("unknown company in the list", u""_s, "close", {u"01,99"_s, u"2026-02-28"_s},
            u"not_found: Empresa '99' não cadastrada. Nada foi encerrado."_s);
        row("close on the calendar's first day", u""_s, "close", {u"01"_s, u"30/12/1899"_s},
            u"invalid_argument: Data de encerramento inválida: use dd/mm/aaaa ou aaaa-mm-dd."_s);
        row("no reason", u""_s, "close", {u"01"_s, u"2026-02-28"_s, u"  "_s},
            u"invalid_argument: Informe o motivo do encerramento."_s);
        row("SetContOpe onto the close", u"28/02/2026"_s, "field",
            {u"DTINICCONT"_s, u"2026-03-01"_s, u"2026-02-28"_s},
            u"refused: "_s + closed +
                u": nenhum período pode começar nessa data ou antes (período contábil)."_s);
        row("SetContOpe the day after", u"28/02/2026"_s, "field",
            {u"DTINICCONT"_s, u"2026-03-01"_s, u"2026-03-02"_s}, u""_s);
        row("setCadAuto onto the close", u"28/02/2026"_s, "bulk", {u"01,02"_s, u"2026-02-28"_s},
            u"refused: "_s + closed +
                u": nenhum período pode começar nessa data ou antes (período contábil)."_s);
        row("setCadAuto the day after", u"28/02/2026"_s, "bulk", {u"01"_s, u"2026-03-01"_s}, u""_s);
        row("closing before the close", u"28/02/2026"_s, "closing", {u"27/02/2026"_s},
            u"refused: "_s + closed + u": não é possível registrar fechamento em 27/02/2026."_s);
        row("closing on the close", u"28/02/2026"_s, "closing", {u"28/02/2026"_s}, u""_s);
        const QString balances = u"CDEMPRESA;DTSALDEMPR;CDCONTA;VRSALDODEB;VRSALDOCRED\n"_s;
        const QString refusedBalance =
            u"linha 2, coluna DTSALDEMPR: a empresa '01' está encerrada definitivamente até "
            "28/02/2026; saldos novos ou alterados com data até esse dia não são aceitos"_s;
        row("balance changed in the close", u"28/02/2026"_s, "saldos",
            {balances + u"01;31/01/2026;9.9;11,00;0\n"_s}, refusedBalance);
        row("balance new on the close", u"28/02/2026"_s, "saldos",
            {balances + u"01;28/02/2026;9.9;1,00;0\n"_s}, refusedBalance);
        row("balance unchanged in the close", u"28/02/2026"_s, "saldos",
            {balances + u"01;31/01/2026;9.9;10,00;0\n"_s}, u""_s);
        row("balance the day after", u"28/02/2026"_s, "saldos",
            {balances + u"01;01/03/2026;9.9;1,00;0\n"_s}, u""_s);
        row("entry new in the close", u"28/02/2026"_s, "lancamentos",
            {u"NRLANC;CDEMPRESA;DTLANC;CDCONTA;VRLANC;IDEVOLUIDO;IDRECALCFISC\n"
             "990001;01;2026-02-28;9.9;5,00;N;N\n"_s},
            u"linha 2, coluna DTLANC: a empresa '01' está encerrada definitivamente até "
            "28/02/2026; lançamentos novos ou alterados com data até esse dia não são aceitos"_s);
        // A stored entry inside the close may not leave it, by its day or its company: the row
        // stored is judged, not only the row read.
        const QString entries =
            u"NRLANC;CDEMPRESA;DTLANC;CDCONTA;VRLANC;IDEVOLUIDO;IDRECALCFISC\n"_s;
        const QString storedInside =
            u"linha 3, coluna NRLANC: o lançamento 9999 gravado é de 15/01/2026 e a empresa '01' "
            "está encerrada definitivamente até 28/02/2026; lançamentos com data até esse dia não "
            "podem ser alterados nem mudar de data ou de empresa"_s;
        const QString fresh = u"990001;02;2026-03-02;9.9;1,00;N;N\n"_s;
        for (const char *path : {"lancamentos", "lancamentos --dry-run"}) {
            const bool dry = QByteArray(path).endsWith("dry-run");
            row(dry ? "entry moved out of the close, dry run" : "entry moved out of the close",
                u"28/02/2026"_s, path, {entries + fresh + u"9999;01;2026-03-15;9.9;5,00;N;N\n"_s},
                storedInside);
            row(dry ? "entry moved to an open company, dry run" : "entry moved to an open company",
                u"28/02/2026"_s, path, {entries + fresh + u"9999;02;15/01/2026;9.9;5,00;N;N\n"_s},
                storedInside);
        }
        row("entry unchanged in the close", u"28/02/2026"_s, "lancamentos",
            {entries + u"9999;01;15/01/2026;9.9;5,00;N;N\n"_s}, u""_s);
        row("entry moved without a close", u""_s, "lancamentos",
            {entries + u"9999;01;2026-03-15;9.9;5,00;N;N\n"_s}, u""_s);
        row("entry of the day after moved into the close", u"14/01/2026"_s, "lancamentos",
            {entries + u"9999;01;2026-01-14;9.9;5,00;N;N\n"_s},
            u"linha 2, coluna DTLANC: a empresa '01' está encerrada definitivamente até "
            "14/01/2026"_s);
        row("entry of the day after moved out", u"14/01/2026"_s, "lancamentos",
            {entries + u"9999;01;2026-03-15;9.9;5,00;N;N\n"_s}, u""_s);
    }
    void refusals() {
        QFETCH(QString, closeAt);
        QFETCH(QString, path);
        QFETCH(QStringList, args);
        QFETCH(QString, refusal);
        QFETCH(bool, writes);
        if (!closeAt.isEmpty())
            QCOMPARE(Close(u"01"_s, closeAt), QString());
        const QStringList before = Snapshot();
        QString got;
        if (path == u"close"_s)
            got = Close(args.at(0), args.at(1), args.value(2, u"SPED"_s));
        else if (path == u"field"_s)
            got = SetField(args.at(0), args.at(1), args.at(2));
        else if (path == u"bulk"_s)
            got = Bulk(args.at(0), args.at(1));
        else if (path == u"closing"_s)
            got = Outcome(m_fx.Client().Call(u"setUsuarioFechamentoPeriodo"_s,
                                             {u"01"_s, args.at(0), u"ana"_s}));
        else
            got = Import(path.section(u' ', 0, 0), args.at(0).toUtf8(), path.section(u' ', 1));
        if (path.startsWith(u"saldos"_s) || path.startsWith(u"lancamentos"_s))
            QVERIFY2(refusal.isEmpty() ? got.isEmpty() : got.contains(refusal), qPrintable(got));
        else
            QCOMPARE(got, refusal);
        QCOMPARE(Snapshot() != before, writes);
    }

    // A day another program stored with a time of day (SQLite keeps any text) is still the day:
    // a bulk apply of controls alone keeps that period inside the close, and is refused.
    void foreignDayInsideClose() {
        if (MethodsFixture::OnPostgres())
            QSKIP("PostgreSQL's date columns hold days only");
        QCOMPARE(Close(u"01"_s, u"28/02/2026"_s), QString());
        QString error;
        QVERIFY2(m_fx.Exec(u"UPDATE CONTOPECTBL SET DTINICCONT = '2026-02-28 00:00:00' WHERE "
                           "CDEMPRESA = '01'"_s,
                           &error),
                 qPrintable(error));
        QCOMPARE(Bulk(u"01"_s, u"2026-03-01"_s, true),
                 u"refused: A empresa '01' está encerrada definitivamente até 28/02/2026: nenhum "
                 "período pode começar nessa data ou antes (período contábil)."_s);
    }

    // Every row a close refuses is told in the same pass as the file's other faults, dry run
    // or not, and nothing is written.
    void everyClosedRowListed() {
        QCOMPARE(Close(u"01"_s, u"28/02/2026"_s), QString());
        const QByteArray file = "NRLANC;CDEMPRESA;DTLANC;CDCONTA;VRLANC;IDEVOLUIDO;IDRECALCFISC\n"
                                "990001;01;2026-02-28;9.9;5,00;N;N\n"
                                "9999;02;2026-01-15;9.9;5,00;N;N\n"
                                "990002;02;31/02/2026;9.9;5,00;N;N\n"
                                "990003;01;2026-01-02;9.9;5,00;N;N\n";
        const QStringList before = Snapshot();
        for (const QString &flag : {QString(), u"--dry-run"_s}) {
            const QString got = Import(u"lancamentos"_s, file, flag);
            for (const QString &fault :
                 {u"linha 2, coluna DTLANC: a empresa '01' está encerrada definitivamente até "
                  "28/02/2026"_s,
                  u"linha 3, coluna NRLANC: o lançamento 9999 gravado é de 15/01/2026"_s,
                  u"linha 4, coluna DTLANC: data inválida"_s,
                  u"linha 5, coluna DTLANC: a empresa '01' está encerrada"_s})
                QVERIFY2(got.contains(fault), qPrintable(got));
            QCOMPARE(Snapshot(), before);
        }
    }

    // A close that PostgreSQL makes start over (another session changed its row meanwhile)
    // answers what the attempt that committed did: one company, one history row.
    void retriedCloseAnswersOnce() {
        if (!MethodsFixture::OnPostgres())
            QSKIP("SQLite takes its write lock up front: a close never starts over there");
        QCOMPARE(Close(u"01"_s, u"27/02/2026"_s), QString());
        const QString closes =
            u"SELECT COUNT(*) FROM HISTALTERACAO WHERE NMCAMPO = 'ENCERRAMENTO'"_s;
        const int closesBefore = m_fx.Scalar(closes).toInt();
        QSqlDatabase holder = MethodsFixture::Direct(m_fx.Url(), u"holder"_s);
        QSqlQuery hold(holder);
        QVERIFY2(hold.exec(u"BEGIN"_s) && hold.exec(u"UPDATE HISTCADEIA SET NRULTIMO = NRULTIMO"_s),
                 qPrintable(hold.lastError().text()));
        // Let go while the close, its company written, waits for the history's head: taking it
        // then fails to serialize, and the whole close starts over.
        const QString waiting = u"SELECT COUNT(*) FROM pg_stat_activity WHERE wait_event_type = "
                                "'Lock' AND datname = current_database()"_s;
        QTimer release;
        bool released = false;
        QObject::connect(&release, &QTimer::timeout, [&] {
            if (m_fx.Scalar(waiting).toInt() > 0) {
                release.stop();
                released = true;
                QSqlQuery(holder).exec(u"COMMIT"_s);
            }
        });
        release.start(20);
        const TResultEnvelope r = m_fx.Client(u"Ger09400.Periodo"_s)
                                      .Call(u"Encerrar"_s, {u"01"_s, u"28/02/2026"_s, u"SPED"_s});
        release.stop();
        QVERIFY(released);
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        QCOMPARE(r.PayloadValue().toInt(), 1);
        QCOMPARE(m_fx.Column(u"SELECT DTENCERRAMENTO || ' ' || DSMOTIVO FROM ENCERRAMENTO"_s),
                 QStringList{u"2026-02-28 SPED"_s});
        QCOMPARE(m_fx.Scalar(closes).toInt(), closesBefore + 1);
    }

    // Who closed, when, why, on the table and in the history; a later close follows the first.
    void closeRecorded() {
        QCOMPARE(Close(u"1"_s, u"2026-02-27"_s, u"  Entrega da ECD 2025  "_s), QString());
        QCOMPARE(Close(u"01"_s, u"28/02/2026"_s, QString(70, u'x')), QString());
        QCOMPARE(m_fx.Column(u"SELECT DSMOTIVO FROM ENCERRAMENTO"_s),
                 QStringList{QString(70, u'x')});
        const QString who = m_fx.Scalar(u"SELECT NMOPERADOR FROM ENCERRAMENTO"_s).toString();
        QVERIFY(!who.isEmpty());
        QCOMPARE(m_fx.Column(u"SELECT IDOPERACAO || '|' || COALESCE(VLANTERIOR, '-') || '|' || "
                             "VLNOVO || '|' || NMOPERADOR FROM HISTALTERACAO WHERE NMCAMPO = "
                             "'ENCERRAMENTO' ORDER BY NRCADEIA DESC LIMIT 2"_s),
                 (QStringList{u"A|2026-02-27|2026-02-28 ("_s + QString(48, u'x') + u'|' + who,
                              u"I|-|2026-02-27 (Entrega da ECD 2025)|"_s + who}));
        QString error;
        QVERIFY2(m_fx.Check(&error), qPrintable(error));
    }

    // The close before the windows, after the client's own mistakes; a company without a record
    // may be closed too.
    void gate_data() {
        QTest::addColumn<QStringList>("check");
        QTest::addColumn<QString>("answer");
        const QString closed =
            u"N|encerrado|Data dentro do encerramento definitivo da empresa (até "
            "28/02/2026).|null|2026-02-28"_s;
        QTest::newRow("last closed day")
            << QStringList{u"01"_s, u"LANC"_s, u"28/02/2026"_s} << closed;
        QTest::newRow("day after the close")
            << QStringList{u"01"_s, u"LANC"_s, u"2026-03-01"_s}
            << u"N|fora_da_janela|Data fora do período de lançamento (01/12/2026 a 31/12/2026).|"
               "2026-12-01|2026-12-31"_s;
        QTest::newRow("no record, closed")
            << QStringList{u"10"_s, u"FIN"_s, u"2026-01-01"_s} << closed;
        QTest::newRow("no record, after the close")
            << QStringList{u"10"_s, u"FIN"_s, u"2026-03-01"_s}
            << u"N|sem_parametro|Empresa sem parâmetro contábil cadastrado.|null|null"_s;
        QTest::newRow("unknown module first")
            << QStringList{u"01"_s, u"XYZ"_s, u"2026-01-01"_s}
            << u"N|modulo_desconhecido|Módulo desconhecido: use LANC, DFE, DFS, FIN, GPA, FIS ou "
               "VEXT.|null|null"_s;
        QTest::newRow("company never closed")
            << QStringList{u"02"_s, u"LANC"_s, u"2026-12-01"_s}
            << u"S|ok|Data dentro do período de lançamento (01/12/2026 a 31/12/2026).|"
               "2026-12-01|2026-12-31"_s;
    }
    void gate() {
        QFETCH(QStringList, check);
        QFETCH(QString, answer);
        QCOMPARE(Close(u"01,10"_s, u"28/02/2026"_s), QString());
        QCOMPARE(Ask(check), answer);
    }

    // An exception opens only what the windows refuse, inside its span, while in force, to its
    // client; the grant's own refusals.
    void exceptions_data() {
        QTest::addColumn<QStringList>("grant"); // module, first, last, client, then what follows
        QTest::addColumn<QStringList>("check");
        QTest::addColumn<QString>("answer");
        const QString granted =
            u"S|excecao|Permitido pela exceção nº 1: nota atrasada.|null|null"_s;
        const QString outside = u"N|fora_da_janela|Data fora do período de lançamento (01/12/2026 "
                                "a 31/12/2026).|2026-12-01|2026-12-31"_s;
        const QStringList nov{u"LANC"_s, u"2026-11-01"_s, u"30/11/2026"_s, u""_s};
        QTest::newRow("in force, first day")
            << nov << QStringList{u"LANC"_s, u"2026-11-01"_s} << granted;
        QTest::newRow("in force, last day")
            << nov << QStringList{u"lanc"_s, u"2026-11-30"_s} << granted;
        QTest::newRow("day before its span")
            << nov << QStringList{u"LANC"_s, u"2026-10-31"_s} << outside;
        QTest::newRow("a day the window allows")
            << QStringList{u"LANC"_s, u"2026-11-01"_s, u"2026-12-31"_s, u""_s}
            << QStringList{u"LANC"_s, u"2026-12-01"_s}
            << u"S|ok|Data dentro do período de lançamento (01/12/2026 a 31/12/2026).|"
               "2026-12-01|2026-12-31"_s;
        QTest::newRow("another module") << (QStringList{u"DFE"_s} + nov.mid(1))
                                        << QStringList{u"LANC"_s, u"2026-11-10"_s} << outside;
        QTest::newRow("every module, an empty window")
            << (QStringList{u""_s} + nov.mid(1)) << QStringList{u"FIS"_s, u"2026-11-10"_s}
            << granted;
        QTest::newRow("expired") << (nov + QStringList{u"expire"_s})
                                 << QStringList{u"LANC"_s, u"2026-11-10"_s} << outside;
        QTest::newRow("a reason that ends its sentence")
            << (nov + QStringList{u"nota atrasada."_s}) << QStringList{u"LANC"_s, u"2026-11-10"_s}
            << granted;
        QTest::newRow("revoked") << (nov + QStringList{u"revoke"_s})
                                 << QStringList{u"LANC"_s, u"2026-11-10"_s} << outside;
        QTest::newRow("for another client")
            << QStringList{u"LANC"_s, u"2026-11-01"_s, u"2026-11-30"_s, u"erp"_s}
            << QStringList{u"LANC"_s, u"2026-11-10"_s} << outside;
        QTest::newRow("starting inside the close")
            << QStringList{u"LANC"_s, u"2026-02-28"_s, u"2026-03-31"_s, u""_s} << QStringList()
            << u"refused: A empresa '01' está encerrada definitivamente até 28/02/2026: a exceção "
               "não pode começar nessa data ou antes. Nada foi concedido."_s;
        // Each bound of the grant's texts, on both sides.
        QTest::newRow("a one-day span")
            << QStringList{u"LANC"_s, u"2026-11-10"_s, u"10/11/2026"_s, u""_s}
            << QStringList{u"LANC"_s, u"2026-11-10"_s} << granted;
        QTest::newRow("a span to the last day of 9999")
            << QStringList{u"LANC"_s, u"2026-11-01"_s, u"31/12/9999"_s, u""_s}
            << QStringList{u"LANC"_s, u"2026-11-10"_s} << granted;
        QTest::newRow("a span from the first day of the calendar")
            << QStringList{u"LANC"_s, u"30/12/1899"_s, u"2026-11-30"_s, u""_s} << QStringList()
            << u"invalid_argument: Data inválida em início: use dd/mm/aaaa ou aaaa-mm-dd."_s;
        QTest::newRow("a reason of 200 characters")
            << QStringList{u"LANC"_s, u"2026-11-01"_s, u"2026-11-30"_s, u""_s,
                           u"motivo="_s + QString(200, u'm')}
            << QStringList{u"LANC"_s, u"2026-11-10"_s}
            << u"S|excecao|Permitido pela exceção nº 1: %1.|null|null"_s.arg(QString(200, u'm'));
        QTest::newRow("a reason of 201 characters")
            << QStringList{u"LANC"_s, u"2026-11-01"_s, u"2026-11-30"_s, u""_s,
                           u"motivo="_s + QString(201, u'm')}
            << QStringList() << u"invalid_argument: Motivo longo demais: no máximo 200 caracteres."_s;
        QTest::newRow("an expiry without its time")
            << QStringList{u"LANC"_s, u"2026-11-01"_s, u"2026-11-30"_s, u""_s,
                           u"validade="_s +
                               QDate::currentDate().addDays(10).toString(Qt::ISODate)}
            << QStringList()
            << u"invalid_argument: Validade inválida: use aaaa-mm-ddThh:mm ou dd/mm/aaaa hh:mm."_s;
        const QString tenDays = QDate::currentDate().addDays(10).toString(Qt::ISODate);
        QTest::newRow("an expiry of 30 characters")
            << QStringList{u"LANC"_s, u"2026-11-01"_s, u"2026-11-30"_s, u""_s,
                           u"validade="_s + tenDays + u"T18:00:00.0000+00:00"_s}
            << QStringList{u"LANC"_s, u"2026-11-10"_s} << granted;
        QTest::newRow("an expiry of 31 characters")
            << QStringList{u"LANC"_s, u"2026-11-01"_s, u"2026-11-30"_s, u""_s,
                           u"validade="_s + tenDays + u"T18:00:00.00000+00:00"_s}
            << QStringList()
            << u"invalid_argument: Validade inválida: use aaaa-mm-ddThh:mm ou dd/mm/aaaa hh:mm."_s;
        QTest::newRow("expiry past 31 days")
            << QStringList{u"LANC"_s, u"2026-11-01"_s, u"2026-11-30"_s, u""_s, u"32"_s}
            << QStringList()
            << u"invalid_argument: Validade fora do prazo: depois de agora e até 31 dias "
               "adiante."_s;
    }
    void exceptions() {
        QFETCH(QStringList, grant);
        QFETCH(QStringList, check);
        QFETCH(QString, answer);
        QCOMPARE(Close(u"01"_s, u"28/02/2026"_s), QString());
        // The fifth item: a reason ("nota..." or "motivo=TEXT"), an expiry ("validade=TEXT",
        // "32" days ahead), or what to do after the grant.
        const QString extra = grant.value(4);
        QString expiry = QDateTime::currentDateTimeUtc()
                             .addDays(extra == u"32"_s ? 32 : 30)
                             .toString(Qt::ISODate);
        QString reason = u"nota atrasada"_s;
        if (extra.startsWith(u"nota"_s))
            reason = extra;
        else if (extra.startsWith(u"motivo="_s))
            reason = extra.mid(7);
        else if (extra.startsWith(u"validade="_s))
            expiry = extra.mid(9);
        const TResultEnvelope r =
            m_fx.Client(u"Ger09400.Periodo"_s)
                .Call(u"ConcederExcecao"_s,
                      {u"01"_s, grant.at(0), grant.at(1), grant.at(2), expiry, reason, grant.at(3)});
        if (check.isEmpty()) {
            QCOMPARE(Outcome(r), answer);
            QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM EXCECAO"_s).toInt(), 0);
            return;
        }
        QCOMPARE(Outcome(r), QString());
        QCOMPARE(r.PayloadValue().toInteger(), 1);
        QString error;
        if (grant.value(4) == u"expire"_s)
            QVERIFY2(
                m_fx.Exec(u"UPDATE EXCECAO SET DTEXPIRA = '%1'"_s.arg(
                              QDateTime::currentDateTimeUtc().addSecs(-1).toString(Qt::ISODate)),
                          &error),
                qPrintable(error));
        if (grant.value(4) == u"revoke"_s)
            QCOMPARE(Outcome(m_fx.Client(u"Ger09400.Periodo"_s)
                                 .Call(u"RevogarExcecao"_s, {u"1"_s, u"lançada"_s})),
                     QString());
        QCOMPARE(Ask({u"01"_s, check.at(0), check.at(1)}), answer);
    }

    // The expiry is kept to the second, a fraction rounded up: never an exception that ends
    // before the moment it was granted to.
    void expiryKeptToTheSecond_data() {
        QTest::addColumn<QString>("asked"); // the time of day, ten days ahead, UTC
        QTest::addColumn<QString>("kept");
        QTest::newRow("whole second") << u"18:00:00.000"_s << u"18:00:00"_s;
        QTest::newRow("a millisecond past") << u"18:00:00.001"_s << u"18:00:01"_s;
        QTest::newRow("a quarter second") << u"18:00:00.250"_s << u"18:00:01"_s;
        QTest::newRow("into the next minute") << u"18:00:59.999"_s << u"18:01:00"_s;
    }
    void expiryKeptToTheSecond() {
        QFETCH(QString, asked);
        QFETCH(QString, kept);
        const QString day = QDate::currentDate().addDays(10).toString(Qt::ISODate);
        const TResultEnvelope r =
            m_fx.Client(u"Ger09400.Periodo"_s)
                .Call(u"ConcederExcecao"_s, {u"01"_s, u"LANC"_s, u"01/11/2026"_s, u"30/11/2026"_s,
                                            day + u'T' + asked + u'Z', u"nota atrasada"_s, u""_s});
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        QCOMPARE(m_fx.Scalar(u"SELECT DTEXPIRA FROM EXCECAO"_s).toString(),
                 day + u'T' + kept + u'Z');
    }

    // The number a revoke names: its digits, blanks around them dropped, at most nine.
    void revokeNumbers_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("plain") << u"1"_s << QString();
        QTest::newRow("nine digits, blanks around") << u" 000000001 "_s << QString();
        QTest::newRow("ten digits") << u"0000000001"_s
                                    << u"invalid_argument: Número de exceção inválido: "
                                       "'0000000001'."_s;
        QTest::newRow("zero") << u"0"_s
                              << u"invalid_argument: Número de exceção inválido: '0'."_s;
        QTest::newRow("negative") << u"-1"_s
                                  << u"invalid_argument: Número de exceção inválido: '-1'."_s;
        QTest::newRow("not a number") << u"sete"_s
                                      << u"invalid_argument: Número de exceção inválido: "
                                         "'sete'."_s;
        QTest::newRow("one that does not exist") << u"2"_s
                                                 << u"not_found: A exceção nº 2 não existe."_s;
    }
    void revokeNumbers() {
        QFETCH(QString, number);
        QFETCH(QString, outcome);
        TNetConnection &c = m_fx.Client(u"Ger09400.Periodo"_s);
        QCOMPARE(Outcome(c.Call(u"ConcederExcecao"_s,
                                {u"01"_s, u"LANC"_s, u"01/11/2026"_s, u"2026-11-30"_s, Expiry(),
                                 u"nota atrasada"_s, u""_s})),
                 QString());
        QCOMPARE(Outcome(c.Call(u"RevogarExcecao"_s, {number, u"lançada"_s})), outcome);
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM EXCECAO WHERE DTREVOGACAO IS NULL"_s).toInt(),
                 outcome.isEmpty() ? 0 : 1);
    }

    // Every exception listed with its state; a revoke is recorded and happens once.
    void listed() {
        const QString expiry = Expiry();
        for (int i = 0; i < 3; ++i)
            QCOMPARE(Outcome(m_fx.Client(u"Ger09400.Periodo"_s)
                                 .Call(u"ConcederExcecao"_s,
                                       {i == 0 ? u"01,02"_s : u"01"_s, i == 1 ? u""_s : u"FIN"_s,
                                        u"01/11/2026"_s, u"2026-11-30"_s, expiry,
                                        u"nota atrasada"_s, i == 2 ? u"erp"_s : u""_s})),
                     QString());
        TNetConnection &c = m_fx.Client(u"Ger09400.Periodo"_s);
        QCOMPARE(Outcome(c.Call(u"RevogarExcecao"_s, {u"2"_s, u"lançada"_s})), QString());
        QCOMPARE(Outcome(c.Call(u"RevogarExcecao"_s, {u"2"_s, u"de novo"_s})),
                 u"refused: A exceção nº 2 já foi revogada."_s);
        QCOMPARE(Outcome(c.Call(u"RevogarExcecao"_s, {u"9"_s, u"x"_s})),
                 u"not_found: A exceção nº 9 não existe."_s);
        QString error;
        QVERIFY2(m_fx.Exec(u"UPDATE EXCECAO SET DTEXPIRA = '2020-01-01T00:00:00Z' WHERE "
                           "NREXCECAO = 3"_s,
                           &error),
                 qPrintable(error));
        const TResultEnvelope r = c.Call(u"Excecoes"_s, {u"01"_s});
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        QStringList rows;
        for (const QJsonValue &row : r.PayloadValue()[u"rows"_s].toArray()) {
            QStringList fields;
            for (const QJsonValue &v : row.toArray())
                fields << (v.isNull() ? u"-"_s : v.toVariant().toString());
            fields[9] = fields[9].size() == 20 ? u"when"_s : fields[9];
            fields[11] = fields[11].size() == 20 ? u"when"_s : fields[11];
            rows << fields.join(u'|');
        }
        const QString who = m_fx.Scalar(u"SELECT MIN(NMOPERADOR) FROM EXCECAO"_s).toString();
        QCOMPARE(rows,
                 (QStringList{u"1|01|FIN|2026-11-01|2026-11-30|"_s + expiry +
                                  u"|nota atrasada|-|"_s + who + u"|when|em vigor|-|-|-"_s,
                              u"2|01|-|2026-11-01|2026-11-30|"_s + expiry + u"|nota atrasada|-|"_s +
                                  who + u"|when|revogada|when|"_s + who + u"|lançada"_s,
                              u"3|01|FIN|2026-11-01|2026-11-30|2020-01-01T00:00:00Z|nota atrasada|"
                              "erp|"_s +
                                  who + u"|when|expirada|-|-|-"_s}));
        QCOMPARE(m_fx.Column(u"SELECT IDOPERACAO || '|' || CDEMPRESA || '|' || VLNOVO FROM "
                             "HISTALTERACAO WHERE NMCAMPO = 'EXCECAO' AND VLNOVO LIKE 'nº 2 %' "
                             "ORDER BY NRCADEIA"_s),
                 (QStringList{u"I|01|nº 2 todos 01/11/2026 a 30/11/2026 (nota atrasada)"_s,
                              u"A|01|nº 2 revogada (lançada)"_s}));
    }

    // The controller's commands of ger-consulta, each after one grant when `granted`.
    void commands_data() {
        QTest::addColumn<bool>("granted");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");
        const QString expiry = Expiry();
        QTest::newRow("close") << false
                               << QStringList{u"encerrar"_s, u"01,02"_s, u"28/02/2026"_s, u"ECD"_s}
                               << 0 << u"encerrado até 28/02/2026: 2 empresa(s)\n"_s;
        QTest::newRow("close refused")
            << false << QStringList{u"encerrar"_s, u"01"_s, u"01/03/2026"_s, u"ECD"_s} << 1
            << u"recusado: A empresa '01' tem períodos que começam em 01/03/2026 ou antes: período "
               "contábil. Avance-os antes de encerrar (GER09400 ou GER09410). Nada foi "
               "encerrado.\n"_s;
        QTest::newRow("grant") << false
                               << QStringList{u"conceder"_s,   u"01"_s, u"LANC"_s, u"2026-11-01"_s,
                                              u"2026-11-30"_s, expiry,  u"nota"_s}
                               << 0 << u"exceção nº 1 concedida\n"_s;
        QTest::newRow("list") << true << QStringList{u"excecoes"_s, u"T"_s} << 0
                              << u"nº 1 01 LANC 01/11/2026 a 30/11/2026 para erp, validade %1, em "
                                 "vigor: nota\n"_s.arg(expiry);
        QTest::newRow("revoke") << true << QStringList{u"revogar"_s, u"1"_s, u"lançada"_s} << 0
                                << u"exceção nº 1 revogada\n"_s;
        QTest::newRow("revoke without a reason")
            << true << QStringList{u"revogar"_s, u"1"_s} << 2
            << u"ger-consulta: Uso: ger-consulta revogar NUMERO MOTIVO\n"_s;
        // A close tried first: what would block it, or how many it would close, nothing closed.
        QTest::newRow("close tried")
            << false << QStringList{u"encerrar"_s, u"--dry-run"_s, u"01,02"_s, u"28/02/2026"_s}
            << 0
            << u"nada impede o encerramento até 28/02/2026: 2 empresa(s) (--dry-run: nada foi "
               "encerrado)\n"_s;
        QTest::newRow("close tried, refused")
            << false << QStringList{u"encerrar"_s, u"T"_s, u"01/03/2026"_s, u"--dry-run"_s} << 1
            << u"recusado: 9 empresas têm períodos que começam em 01/03/2026 ou antes: '01' "
               "(período contábil); '02' (período contábil); '03' (período contábil); '04' "
               "(período contábil, período de integração Doc. Fiscais Entrada); '05' (período "
               "contábil); '06' (período contábil); '07' (período contábil); '08' (período "
               "contábil); '09' (período contábil). Avance-os antes de encerrar (GER09400 ou "
               "GER09410). Nada foi encerrado.\n"_s;
        QTest::newRow("dry run of a grant")
            << false << QStringList{u"revogar"_s, u"--dry-run"_s, u"1"_s, u"x"_s} << 2
            << u"ger-consulta: --dry-run vale só para encerrar\n"_s;
    }
    void commands() {
        QFETCH(bool, granted);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, out);
        if (granted)
            QCOMPARE(Outcome(m_fx.Client(u"Ger09400.Periodo"_s)
                                 .Call(u"ConcederExcecao"_s,
                                       {u"01"_s, u"LANC"_s, u"2026-11-01"_s, u"2026-11-30"_s,
                                        Expiry(), u"nota"_s, u"erp"_s})),
                     QString());
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(ServerProcess::BinDir() + u"/ger-consulta"_s,
                QStringList{u"--server"_s, u"ws://127.0.0.1:%1"_s.arg(m_fx.Port())} + args);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(p.readAll()), out);
        QCOMPARE(p.exitCode(), code);
        if (args.contains(u"--dry-run"_s))
            QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM ENCERRAMENTO"_s).toInt(), 0);
    }

    // Only an accountant's token closes, grants or revokes; an auditor's lists.
    void roles_data() {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("code");
        for (const char *method : {"Encerrar", "ConferirEncerramento", "ConcederExcecao",
                                   "RevogarExcecao", "Excecoes"})
            for (const char *role : {"contador", "auditor", "integracao"}) {
                const bool allowed =
                    qstrcmp(role, "contador") == 0 ||
                    (qstrcmp(role, "auditor") == 0 && qstrcmp(method, "Excecoes") == 0) ||
                    qstrcmp(method, "ConferirEncerramento") == 0;
                QTest::addRow("%s %s", role, method)
                    << QString::fromLatin1(role) << QString::fromLatin1(method)
                    << (allowed ? QString() : u"forbidden"_s);
            }
    }
    void roles() {
        QFETCH(QString, role);
        QFETCH(QString, method);
        QFETCH(QString, code);
        QJsonArray args{u"01"_s};
        if (method == u"Encerrar"_s)
            args = {u"10"_s, u"2025-12-31"_s, u"SPED"_s};
        else if (method == u"ConferirEncerramento"_s)
            args = {u"10"_s, u"2026-01-31"_s}; // after the close just made
        else if (method == u"ConcederExcecao"_s)
            args = {u"01"_s,
                    u"LANC"_s,
                    u"2026-11-01"_s,
                    u"2026-11-30"_s,
                    QDateTime::currentDateTimeUtc().addDays(5).toString(Qt::ISODate),
                    u"nota"_s,
                    u""_s};
        else if (method == u"RevogarExcecao"_s)
            args = {u"1"_s, u"lançada"_s};
        const TResultEnvelope r = TokenClient(role).Call(method, args);
        QCOMPARE(r.Ok ? QString() : r.ErrorCode, code);
    }

    // An exception for a named client opens the day to that client's token only.
    void namedClient() {
        const TResultEnvelope granted =
            TokenClient(u"contador"_s)
                .Call(u"ConcederExcecao"_s,
                      {u"05"_s, u"LANC"_s, u"2026-11-01"_s, u"2026-11-30"_s,
                       QDateTime::currentDateTimeUtc().addDays(5).toString(Qt::ISODate), u"nota"_s,
                       u"erp"_s});
        QVERIFY2(granted.Ok, qPrintable(granted.ErrorMessage));
        QJsonArray check;
        check.append(QJsonArray{u"05"_s, u"LANC"_s, u"2026-11-10"_s});
        const auto ask = [&](const QString &role) {
            const TResultEnvelope r = TokenClient(role).Call(u"Consulta"_s, {QJsonValue(check)});
            const QJsonArray answer = r.PayloadValue().toArray().at(0).toArray();
            return answer.at(1).toString() + u' ' + answer.at(2).toString();
        };
        QCOMPARE(ask(u"integracao"_s), u"excecao Permitido pela exceção nº %1: nota."_s.arg(
                                           granted.PayloadValue().toInteger()));
        QCOMPARE(ask(u"contador"_s),
                 u"fora_da_janela Data fora do período de lançamento (01/12/2026 a 31/12/2026)."_s);
    }
};

QTEST_GUILESS_MAIN(TstClosing)
#include "tst_closing.moc"
