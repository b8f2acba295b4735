// The real server and the operator's commands on a SQLite file whose write lock another
// connection holds for longer than SQLite's usual five seconds, as a long import does: writers
// wait their turn, readers and starts go on, and a writer past its wait is told the database is
// busy.

#include "datetime.h"
#include "jsonrpcmessage.h"
#include "methodsfixture.h"
#include "serveroptions.h"

#include <QDate>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocket>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// SQLite's write lock, held from a thread of the test's own by BEGIN IMMEDIATE until the time is
// up or Release is called.
class WriteLockHolder final {
public:
    ~WriteLockHolder() { Release(); }

    // `statements` run once the lock is held, and are committed with the release.
    bool Hold(const QString &path, int ms, const QStringList &statements = {}) {
        m_thread = std::thread([this, path, ms, statements] {
            const QString name = u"holder"_s;
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
                db.setDatabaseName(path);
                QSqlQuery q(db);
                bool held = db.open() && q.exec(u"BEGIN IMMEDIATE"_s);
                for (const QString &statement : statements)
                    held = held && q.exec(statement);
                m_state = held ? Holding : Failed;
                if (held) {
                    std::unique_lock lock(m_lock);
                    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop; });
                    m_state = Committing;
                    lock.unlock();
                    q.exec(u"COMMIT"_s);
                }
            }
            QSqlDatabase::removeDatabase(name);
        });
        for (int waited = 0; m_state == Starting && waited < 10000; waited += 10)
            QTest::qWait(10);
        return m_state == Holding;
    }

    // Whether the commit has begun: whatever finished before it never had the lock.
    bool Releasing() const { return m_state == Committing; }

    void Release() {
        {
            std::lock_guard lock(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    enum State { Starting, Holding, Failed, Committing };
    std::thread m_thread;
    std::atomic<State> m_state{Starting};
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
};

// Longer than SQLite's usual busy timeout, which every writer used to give up at.
constexpr int HoldMs = 7000;

TDateTime Date(int y, int m, int d) {
    return DateTimeUtil::FromQDate(QDate(y, m, d));
}

// A bulk apply's request: the periods of 2026, every control "S".
QJsonObject BulkRequest() {
    TTablePacket request;
    TRowValues row;
    for (const char *name : {"DTINIPER", "DTFINPER", "DTINILANC", "DTFINLANC", "DTINIDFE",
                             "DTFINDFE", "DTINIDFS", "DTFINDFS", "DTINIFIN", "DTFINFIN", "DTINIGPA",
                             "DTFINGPA", "DTINIFIS", "DTFINFIS", "DTINIVEN", "DTFINVEN"}) {
        const QString d = QString::fromLatin1(name);
        request.Fields.append({d, TFieldType::Date, 0, false});
        if (d == u"DTINIPER"_s || d == u"DTFINPER"_s)
            row.append(d == u"DTINIPER"_s ? Date(2026, 1, 1) : Date(2026, 12, 31));
        else if (d.endsWith(u"FIS"_s) || d.endsWith(u"VEN"_s))
            row.append(0.0);
        else
            row.append(d.startsWith(u"DTINI"_s) ? Date(2026, 12, 1) : Date(2026, 12, 31));
    }
    for (const char *name :
         {"IDCONTCCUS", "IDCONCOME", "IDUTCUSTEST", "IDSUGRATMANU", "IDUTSALDOSOC", "IDMSMCONTA",
          "IDPRIOCCUSTSET", "IDCONSVNDDFS", "IDULTDESPTRIB", "IDCONSDATARET", "IDCONTLOTESIT",
          "IDGERAESTCONT", "IDCONTVREXCICMSEP", "IDCONSRATPROD"}) {
        request.Fields.append({QString::fromLatin1(name), TFieldType::String, 1, false});
        row.append(u"S"_s);
    }
    request.Rows.append(row);
    return Packet::ToJson(request);
}

struct CommandRun {
    int Code = -1;
    QString Out, Err;
    bool FinishedWhileHeld = false;
};

} // namespace

class TstWriteLock final : public QObject {
    Q_OBJECT

    MethodsFixture m_fx;

    CommandRun Command(const QStringList &args, const WriteLockHolder &holder) {
        QProcess p;
        p.start(ServerProcess::Executable(), args + QStringList{u"--db"_s, m_fx.Url()});
        p.waitForFinished(120000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError()), !holder.Releasing()};
    }

    int Closings() { return m_fx.Scalar(u"SELECT COUNT(*) FROM FECHAPERIODO"_s).toInt(); }

    // A save of the parameter screen: company 01's last control turned over.
    QJsonArray SaveArgs(TNetConnection &c, QString *stored) {
        const TResultEnvelope r = c.Call(u"GetContOpe"_s, {});
        TTablePacket records;
        QString error;
        if (!r.Ok || !Packet::FromJson(r.Payload.toArray().at(0), records, &error))
            return {};
        const int field = records.FieldIndex(u"IDCONGERGGF"_s);
        const int key = records.FieldIndex(u"CDEMPRESA"_s);
        for (const TRowValues &row : std::as_const(records.Rows)) {
            if (row.at(key).toString() != u"01"_s)
                continue;
            TRowValues values = row;
            *stored = row.at(field).toString() == u"S"_s ? u"N"_s : u"S"_s;
            values[field] = *stored;
            TChangeLog log;
            log.Fields = records.Fields;
            log.Changes = {{TChangeOp::Update, row, values}};
            return {Packet::ToJson(log)};
        }
        return {};
    }

private Q_SLOTS:
    void init() {
        QString error;
        QVERIFY2(m_fx.Start(&error), qPrintable(error));
    }
    void cleanup() { m_fx.Stop(); }

    // A writer waits for the holder as long as the server's wait allows: past the hold it
    // writes, short of it the call fails as busy and writes nothing.
    void writerWaitsItsTurn_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<int>("writeWait"); // seconds; 0: the default
        QTest::addColumn<QString>("code");  // empty: saved
        QTest::newRow("save, default wait") << u"SetContOpe"_s << 0 << QString();
        QTest::newRow("closing, default wait")
            << u"setUsuarioFechamentoPeriodo"_s << 0 << QString();
        QTest::newRow("save, wait shorter than the hold") << u"SetContOpe"_s << 1 << u"busy"_s;
        QTest::newRow("closing, wait shorter than the hold")
            << u"setUsuarioFechamentoPeriodo"_s << 1 << u"busy"_s;
        QTest::newRow("bulk apply, default wait") << u"setCadAuto"_s << 0 << QString();
        QTest::newRow("bulk apply, wait shorter than the hold")
            << u"setCadAuto"_s << 1 << u"busy"_s;
    }
    void writerWaitsItsTurn() {
        QFETCH(QString, method);
        QFETCH(int, writeWait);
        QFETCH(QString, code);
        QString error;
        if (writeWait > 0) {
            m_fx.Server().Stop();
            QVERIFY2(
                m_fx.Server().Start({u"--write-wait"_s, QString::number(writeWait)}, 0, QString()),
                m_fx.ServerOutput().constData());
        }
        TNetConnection &c = m_fx.Client();
        QString stored;
        QJsonArray args{u"01"_s, u"17/11/2025"_s, u"ANA"_s};
        if (method == u"SetContOpe"_s)
            args = SaveArgs(c, &stored);
        if (method == u"setCadAuto"_s) {
            // The apply turns company 01's first control on.
            QVERIFY2(m_fx.Exec(u"UPDATE CONTOPECTBL SET IDCONTGERE = 'N' WHERE CDEMPRESA = "
                               "'01'"_s,
                               &error),
                     qPrintable(error));
            args = {u"01"_s, u"N"_s, u"S"_s, BulkRequest()};
            stored = u"S"_s;
        }
        QVERIFY(!args.isEmpty());
        const QString probe = method == u"setCadAuto"_s
                                  ? u"SELECT IDCONTGERE FROM CONTOPECTBL WHERE CDEMPRESA = '01'"_s
                                  : u"SELECT IDCONGERGGF FROM CONTOPECTBL WHERE CDEMPRESA = '01'"_s;
        const QVariant before = m_fx.Scalar(probe);
        const int closings = Closings();

        WriteLockHolder holder;
        QVERIFY(holder.Hold(m_fx.Server().DbPath(), HoldMs));
        const TResultEnvelope r = c.Call(method, args);
        const bool answeredWhileHeld = !holder.Releasing();
        holder.Release();

        if (code.isEmpty()) {
            QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
            QVERIFY(!answeredWhileHeld);
        } else {
            QVERIFY(!r.Ok);
            QCOMPARE(r.ErrorCode, code);
            QCOMPARE(r.ErrorMessage, u"O banco de dados está ocupado com outra gravação (uma "
                                     "importação, por exemplo). Tente novamente em instantes."_s);
            QVERIFY(answeredWhileHeld);
        }
        const QVariant after = m_fx.Scalar(probe);
        const bool saved = code.isEmpty();
        if (method != u"setUsuarioFechamentoPeriodo"_s)
            QCOMPARE(after.toString(), saved ? stored : before.toString());
        else
            QCOMPARE(Closings(), closings + (saved ? 1 : 0));
        // The server says why in its log: the call's line ends in its code.
        const QByteArray line = "rdmParamCtbl." + method.toUtf8() + " empresa=01 ";
        QTRY_VERIFY_WITH_TIMEOUT(m_fx.ServerOutput().contains(line), 5000);
        const QByteArray log = m_fx.ServerOutput();
        const QByteArray logged = log.mid(log.lastIndexOf(line)).split('\n').constFirst();
        QVERIFY2(saved ? logged.endsWith(" ms ok")
                       : logged.endsWith(" ms busy operador=- perfil=contador de=127.0.0.1"),
                 logged.constData());
    }

    // More writers than the pool has threads, all waiting: reads on another connection are
    // still answered while the lock is held, and every writer gets its turn after.
    void readsGoOnWhileWritersWait() {
        auto open = [this](QWebSocket &socket) {
            QSignalSpy connected(&socket, &QWebSocket::connected);
            socket.open(QUrl(u"ws://127.0.0.1:%1"_s.arg(m_fx.Port())));
            return connected.wait(5000);
        };
        QWebSocket writers[2], reader;
        for (QWebSocket &w : writers)
            QVERIFY(open(w));
        QVERIFY(open(reader));
        const int closings = Closings();
        QList<QJsonObject> written, read;
        int readWhileHeld = 0;
        WriteLockHolder holder;
        for (QWebSocket &w : writers)
            connect(&w, &QWebSocket::textMessageReceived, this, [&](const QString &text) {
                written.append(QJsonDocument::fromJson(text.toUtf8()).object());
            });
        connect(&reader, &QWebSocket::textMessageReceived, this, [&](const QString &text) {
            read.append(QJsonDocument::fromJson(text.toUtf8()).object());
            readWhileHeld += holder.Releasing() ? 0 : 1;
        });
        QVERIFY(holder.Hold(m_fx.Server().DbPath(), HoldMs));
        constexpr int Writers = 10; // the pool has at most 8 threads of its own
        for (int n = 0; n < Writers; ++n)
            writers[n % 2].sendTextMessage(QString::fromUtf8(
                JsonRpc::EncodeRequest(n, u"Ger09400.rdmParamCtbl.setUsuarioFechamentoPeriodo"_s,
                                       {u"01"_s, u"17/11/2025"_s, u"W%1"_s.arg(n)})));
        // Long enough for every writer to be waiting on the lock.
        QTest::qWait(1000);
        reader.sendTextMessage(QString::fromUtf8(
            JsonRpc::EncodeRequest(100, u"Ger09400.rdmParamCtbl.GetContOpe"_s, {})));
        reader.sendTextMessage(
            QString::fromUtf8(JsonRpc::EncodeRequest(101, u"Host.Cache.GetServidor"_s, {})));
        reader.sendTextMessage(QString::fromUtf8(JsonRpc::EncodeRequest(102, u"ping"_s, {})));
        QTRY_COMPARE_WITH_TIMEOUT(read.size(), 3, 20000);
        QCOMPARE(readWhileHeld, 3);
        QVERIFY(written.isEmpty());
        QCOMPARE(read.at(0).value(u"result"_s).toObject().value(u"ok"_s), QJsonValue(true));
        QTRY_COMPARE_WITH_TIMEOUT(written.size(), Writers, 40000);
        for (const QJsonObject &answer : std::as_const(written))
            QVERIFY2(answer.value(u"result"_s).toObject().value(u"ok"_s).toBool(),
                     QJsonDocument(answer).toJson().constData());
        QCOMPARE(Closings(), closings + Writers);
    }

    // A start on a current schema, an export and a check take no write lock: each is done
    // while the holder still holds it.
    void noWriteLockToStart() {
        m_fx.Server().Stop();
        WriteLockHolder holder;
        QVERIFY(holder.Hold(m_fx.Server().DbPath(), HoldMs));
        QString error;
        const bool started = m_fx.Restart(&error);
        const bool startedWhileHeld = !holder.Releasing();
        holder.Release();
        QVERIFY2(started, qPrintable(error));
        QVERIFY(startedWhileHeld);
        QVERIFY(m_fx.Client().Call(u"GetContOpe"_s, {}).Ok);
    }

    void commandsThatOnlyRead_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("output"); // the start of stdout
        QTest::newRow("export") << QStringList{u"export"_s, u"empresas"_s, u"-"_s}
                                << u"CDEMPRESA;NMEMPRESA\r\n01;"_s;
        QTest::newRow("check") << QStringList{u"check"_s} << u"nada encontrado"_s;
    }
    void commandsThatOnlyRead() {
        QFETCH(QStringList, args);
        QFETCH(QString, output);
        WriteLockHolder holder;
        QVERIFY(holder.Hold(m_fx.Server().DbPath(), HoldMs));
        const CommandRun run = Command(args, holder);
        holder.Release();
        QVERIFY2(run.Code == 0, qPrintable(run.Err));
        QVERIFY2(run.Out.startsWith(output), qPrintable(run.Out));
        QVERIFY(run.FinishedWhileHeld);
    }

    // A second import waits for the first one's write, saying so, and then writes.
    void importWaitsItsTurn() {
        const QString path = m_fx.Server().Dir() + u"/empresas.csv"_s;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("CDEMPRESA;NMEMPRESA\nZ1;Nova\n");
        file.close();
        WriteLockHolder holder;
        QVERIFY(holder.Hold(m_fx.Server().DbPath(), HoldMs));
        const CommandRun run = Command({u"import"_s, u"empresas"_s, path}, holder);
        holder.Release();
        QVERIFY2(run.Code == 0, qPrintable(run.Err));
        QVERIFY(!run.FinishedWhileHeld);
        QCOMPARE(run.Out, u"1 empresas: 1 novas, 0 alteradas, 0 iguais\n"_s);
        QCOMPARE(run.Err.count(u"esta importação aguarda a vez de gravar"_s), 1);
        QVERIFY2(run.Err.contains(u"importação gravada em "_s), qPrintable(run.Err));
        QCOMPARE(m_fx.Scalar(u"SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = 'Z1'"_s),
                 QVariant(u"Nova"_s));
    }

    // What changed while the import waited to write is checked again: a company gone from under
    // its entries, a company to remove that got rows. Nothing is written.
    void writingPassChecksAgain_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("change"); // made, uncommitted, while the import reads
        QTest::addColumn<QString>("refusal");
        QTest::newRow("company removed")
            << u"lancamentos"_s
            << QByteArray("NRLANC;CDEMPRESA;DTLANC;CDCONTA;VRLANC;IDEVOLUIDO;IDRECALCFISC\n"
                          "900;01;01/12/2026;9.9;1;S;N\n901;Z5;01/12/2026;9.9;1;S;N\n")
            << u"DELETE FROM EMPRESA WHERE CDEMPRESA = 'Z5'"_s
            << u"linha 3, coluna CDEMPRESA: empresa 'Z5' não cadastrada"_s;
        QTest::newRow("company to remove got a closing")
            << u"empresas"_s << QByteArray("CDEMPRESA;NMEMPRESA;REMOVER\nZ6;Seis;N\nZ5;;S\n")
            << u"INSERT INTO FECHAPERIODO (CDEMPRESA, DSDATA, NMOPERADOR, DTREGISTRO) "
               "VALUES ('Z5', '17/11/2025', 'ANA', '2025-11-17T10:00:00')"_s
            << u"linha 3, coluna REMOVER: a empresa 'Z5' não pode ser removida: há registros "
               "dela em FECHAPERIODO"_s;
    }
    void writingPassChecksAgain() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, file);
        QFETCH(QString, change);
        QFETCH(QString, refusal);
        QString error;
        QVERIFY2(m_fx.Exec(u"INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES ('Z5', 'Cinco')"_s,
                           &error),
                 qPrintable(error));
        const QString path = m_fx.Server().Dir() + u"/in.csv"_s;
        QFile csv(path);
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write(file);
        csv.close();
        const QStringList before = m_fx.Column(u"SELECT CDEMPRESA || COUNT(*) FROM LANCCONT "
                                               "GROUP BY CDEMPRESA UNION ALL SELECT CDEMPRESA "
                                               "FROM EMPRESA ORDER BY 1"_s);
        WriteLockHolder holder;
        QVERIFY(holder.Hold(m_fx.Server().DbPath(), HoldMs, {change}));
        const CommandRun run = Command({u"import"_s, kind, path}, holder);
        holder.Release();
        QCOMPARE(run.Code, 1);
        QVERIFY2(run.Err.contains(refusal + u'\n'), qPrintable(run.Err));
        QVERIFY(run.Err.contains(u"importação recusada: nada foi gravado"_s));
        QVERIFY(run.Out.isEmpty());
        QStringList after = before;
        if (kind == u"lancamentos"_s)
            after.removeAll(u"Z5"_s); // the holder's own removal
        QCOMPARE(m_fx.Column(u"SELECT CDEMPRESA || COUNT(*) FROM LANCCONT GROUP BY CDEMPRESA "
                             "UNION ALL SELECT CDEMPRESA FROM EMPRESA ORDER BY 1"_s),
                 after);
    }

    void writeWaitOption_data() {
        QTest::addColumn<QByteArray>("config"); // empty: no configuration file
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("seconds"); // -1: refused
        QTest::newRow("default") << QByteArray() << QStringList{} << 25;
        QTest::newRow("one") << QByteArray() << QStringList{u"--write-wait"_s, u"1"_s} << 1;
        QTest::newRow("an hour") << QByteArray() << QStringList{u"--write-wait"_s, u"3600"_s}
                                 << 3600;
        QTest::newRow("zero") << QByteArray() << QStringList{u"--write-wait"_s, u"0"_s} << -1;
        QTest::newRow("over an hour")
            << QByteArray() << QStringList{u"--write-wait"_s, u"3601"_s} << -1;
        QTest::newRow("not a number")
            << QByteArray() << QStringList{u"--write-wait"_s, u"x"_s} << -1;
        QTest::newRow("from the file") << QByteArray("write-wait = 5\n") << QStringList{} << 5;
        QTest::newRow("command line over the file")
            << QByteArray("write-wait = 5\n") << QStringList{u"--write-wait"_s, u"7"_s} << 7;
    }
    void writeWaitOption() {
        QFETCH(QByteArray, config);
        QFETCH(QStringList, args);
        QFETCH(int, seconds);
        QStringList command{u"ger-server"_s};
        if (!config.isEmpty()) {
            const QString path = m_fx.Server().Dir() + u"/ger-server.conf"_s;
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(config);
            file.close();
            command << u"--config"_s << path;
        }
        ServerOptions options;
        QString error, text;
        const bool ok = ServerOptions::Parse(command + args, options, &error, &text);
        QCOMPARE(ok, seconds >= 0);
        if (ok)
            QCOMPARE(options.WriteWaitSeconds, seconds);
        else
            QVERIFY2(error.startsWith(u"--write-wait espera segundos de 1 a 3600"_s),
                     qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TstWriteLock)
#include "tst_writelock.moc"
