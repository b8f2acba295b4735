// The Backend in-process: opening, migrating and seeding a database, and the per-thread
// connections that concurrent calls use.

#include "backend.h"
#include "envelope.h"

#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {

RemoteObject *Object(const Backend &backend, const QString &name) {
    for (RemoteObject *o : backend.Objects()) {
        if (o->Name() == name)
            return o;
    }
    return nullptr;
}

int RowsOf(const CallOutcome &outcome, int packet = -1) {
    const QJsonValue payload = packet < 0 ? outcome.Result.PayloadValue()
                                          : outcome.Result.PayloadValue().toArray().at(packet);
    return int(payload.toObject().value(u"rows"_s).toArray().size());
}

int GerConnections() {
    int n = 0;
    for (const QString &name : QSqlDatabase::connectionNames())
        n += name.startsWith(u"ger-db"_s) ? 1 : 0;
    return n;
}

} // namespace

class TstMethodsBackend final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void openRefuses_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown scheme") << u"mysql://x/y"_s << u"não reconhecido"_s;
        QTest::newRow("unknown scheme with parameters")
            << u"mysql://x/y?sslmode=disable"_s << u"não reconhecido"_s;
        QTest::newRow("sqlite without path") << u"sqlite:"_s << u"Caminho"_s;
        QTest::newRow("postgres with an unknown parameter")
            << u"postgresql://u@127.0.0.1:1/db?sslmod=require"_s << u"inválido"_s;
        QTest::newRow("postgres not listening")
            << u"postgresql://u@127.0.0.1:1/db"_s << u"Não foi possível abrir"_s;
        QTest::newRow("sqlite in a missing folder")
            << u"sqlite:/nonexistent/dir/x.db"_s << u"Não foi possível abrir"_s;
    }

    void openRefuses() {
        QFETCH(QString, url);
        QFETCH(QString, message);
        QString error;
        QVERIFY(!Backend::Open(url, &error));
        QVERIFY2(error.contains(message), qPrintable(error));
    }

    // An operator set the general parameter before any company existed: both seeds keep it.
    void seedKeepsAGeneralParameterAlreadyThere_data() {
        QTest::addColumn<QString>("seed");
        // The large seed shares the row's code; it is left out here for its five million entries.
        QTest::newRow("demo") << u"demo"_s;
    }

    void seedKeepsAGeneralParameterAlreadyThere() {
        QFETCH(QString, seed);
        const QString path =
            m_dir.filePath(u"general-%1.db"_s.arg(QLatin1StringView(QTest::currentDataTag())));
        QString error;
        auto backend = Backend::Open(u"sqlite:"_s + path, &error);
        QVERIFY2(backend, qPrintable(error));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"plant"_s);
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(u"INSERT INTO PARAMGERAL (IDPARAMGERAL, IDCONTAJUDTCOMP) "
                                       "VALUES (1, 'S')"_s));
            db.close();
        }
        QSqlDatabase::removeDatabase(u"plant"_s);
        QVERIFY2(backend->Seed(seed, &error), qPrintable(error));
        RemoteObject *param = Object(*backend, u"Ger09400.rdmParamCtbl"_s);
        const QJsonArray general = param->Invoke(u"GetContOpe"_s, {})
                                       .Result.PayloadValue()
                                       .toArray()
                                       .at(1)
                                       .toObject()
                                       .value(u"rows"_s)
                                       .toArray();
        QCOMPARE(general, (QJsonArray{QJsonArray{u"S"_s}}));
        QVERIFY(RowsOf(Object(*backend, u"Host.Cache"_s)->Invoke(u"GetTabela"_s, {u"EMPRESA"_s})) >
                0);
    }

    void reopenKeepsSchemaAndSeedsOnlyEmpty() {
        const QString url = u"sqlite:"_s + m_dir.filePath(u"reopen.db"_s);
        QString error;
        {
            auto backend = Backend::Open(url, &error);
            QVERIFY2(backend, qPrintable(error));
            QVERIFY2(backend->Seed(u"demo"_s, &error), qPrintable(error));
            RemoteObject *param = Object(*backend, u"Ger09400.rdmParamCtbl"_s);
            QVERIFY(param);
            QCOMPARE(RowsOf(param->Invoke(u"GetContOpe"_s, {}), 0), 9);
        }
        auto again = Backend::Open(url, &error);
        QVERIFY2(again, qPrintable(error));
        // Seeding a database that already holds companies changes nothing.
        QVERIFY2(again->Seed(u"large:3"_s, &error), qPrintable(error));
        RemoteObject *cache = Object(*again, u"Host.Cache"_s);
        QCOMPARE(RowsOf(cache->Invoke(u"GetTabela"_s, {u"EMPRESA"_s})), 12);
        QVERIFY(!again->Seed(u"huge"_s, &error));
        QVERIFY(!again->Seed(u"large:5000"_s, &error));
        QVERIFY(error.contains(u"large:N"_s));

        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"check"_s);
        db.setDatabaseName(url.mid(7));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(u"SELECT COUNT(*), MAX(VERSION) FROM SCHEMA_VERSION"_s) && q.next());
        QCOMPARE(q.value(0).toInt(), q.value(1).toInt()); // each migration recorded once
        q.finish();
        db.close();
        db = {};
        QSqlDatabase::removeDatabase(u"check"_s);
    }

    void protocolFaultsAreNotEnvelopes() {
        QString error;
        auto backend = Backend::Open(u"sqlite:"_s + m_dir.filePath(u"faults.db"_s), &error);
        QVERIFY2(backend, qPrintable(error));
        RemoteObject *param = Object(*backend, u"Ger09400.rdmParamCtbl"_s);
        QVERIFY(param->HasMethod(u"setCadAuto"_s));
        QVERIFY(!param->HasMethod(u"setcadauto"_s));
        const CallOutcome wrongKind = param->Invoke(u"SetContOpe"_s, {QJsonArray{}});
        QVERIFY(wrongKind.ProtocolError);
        QCOMPARE(wrongKind.ProtocolError->Code, -32602);
        const CallOutcome wrongCount = param->Invoke(u"getErrosCadAuto"_s, {u"T"_s});
        QCOMPARE(wrongCount.ProtocolError->Code, -32602);
        const CallOutcome fine = param->Invoke(u"GetPescLanc"_s, {u"01"_s});
        QVERIFY(!fine.ProtocolError);
        QVERIFY(fine.Result.Ok);
        QCOMPARE(fine.Company, u"01"_s);
    }

    void connectionsFollowTheirThreads() {
        QString error;
        auto backend = Backend::Open(u"sqlite:"_s + m_dir.filePath(u"threads.db"_s), &error);
        QVERIFY2(backend, qPrintable(error));
        QVERIFY(backend->Seed(u"demo"_s, &error));
        RemoteObject *param = Object(*backend, u"Ger09400.rdmParamCtbl"_s);
        const int before = GerConnections();
        QAtomicInt failures = 0;
        QVector<QThread *> threads;
        for (int t = 0; t < 4; ++t) {
            threads.append(QThread::create([&] {
                for (int i = 0; i < 20; ++i) {
                    if (!param->Invoke(u"GetDataSaldEmpr"_s, {u"04"_s}).Result.Ok)
                        failures.ref();
                }
            }));
        }
        for (QThread *t : threads)
            t->start();
        for (QThread *t : threads) {
            QVERIFY(t->wait(60000));
            delete t;
        }
        QCOMPARE(failures.loadRelaxed(), 0);
        // Each worker's connection goes away with its thread (its last act, after wait()).
        QTRY_COMPARE(GerConnections(), before);
        backend.reset();
        QCOMPARE(GerConnections(), 0);
    }
};

QTEST_GUILESS_MAIN(TstMethodsBackend)
#include "tst_methods_backend.moc"
