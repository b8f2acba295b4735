// The desktop host: options, local copies, module loading, help and the headless jobs.
#include "components/hostinterface.h"
#include "dataset/clientdataset.h"
#include "dataset/datetime.h"
#include "dataset/exceptions.h"
#include "dataset/packet.h"
#include "desktophost.h"
#include "helpwindow.h"
#include "historywindow.h"
#include "hostapplication.h"
#include "hostoptions.h"
#include "localdatabase.h"
#include "mainwindow.h"
#include "moduleloader.h"
#include "rpc/netconnection.h"
#include "serverprocess.h"
#include "testhost.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QScrollBar>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

TTablePacket Companies(const QList<QPair<QString, QString>> &rows) {
    TTablePacket packet;
    packet.Fields = {{u"CDEMPRESA"_s, TFieldType::String, 2, true},
                     {u"NMEMPRESA"_s, TFieldType::String, 40, false}};
    for (const auto &[code, name] : rows)
        packet.Rows.append({code, name});
    return packet;
}

QStringList Column(const QSqlDatabase &db, const QString &sql) {
    QStringList values;
    QSqlQuery q(db);
    if (!q.exec(sql))
        return {u"<erro>"_s};
    while (q.next())
        values << q.value(0).toString();
    return values;
}

} // namespace

Q_DECLARE_METATYPE(TTablePacket)

class TstHost final : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<ServerProcess> m_server;

    QProcess *RunHost(const QStringList &args, QTemporaryDir &dir, const QString &url = {}) {
        auto *process = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.remove(u"GER_TOKEN_FILE"_s);
        process->setProcessEnvironment(env);
        process->start(QDir(ServerProcess::BinDir()).absoluteFilePath(u"ger-host"_s),
                       QStringList{u"--server"_s, url.isEmpty() ? m_server->Url() : url,
                                   u"--local-db"_s, dir.filePath(u"local.db"_s)} +
                           args);
        process->waitForFinished(60000);
        return process;
    }

    // The options of a host on `url` (the suite's server by default) with its local copies in
    // `dir`.
    HostOptions OptionsFor(const QTemporaryDir &dir, const QString &url = {}) {
        HostOptions options;
        QString error;
        if (!HostOptions::Parse({u"ger-host"_s, u"--server"_s,
                                 url.isEmpty() ? m_server->Url() : url, u"--local-db"_s,
                                 dir.filePath(u"l.db"_s)},
                                options, &error))
            qFatal("%s", qPrintable(error));
        return options;
    }

    static bool WriteFile(const QString &path, const QByteArray &content) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }

private Q_SLOTS:
    void initTestCase() {
        m_server = std::make_unique<ServerProcess>();
        QVERIFY2(m_server->Start({u"--log-level"_s, u"info"_s}, 0, u"demo"_s),
                 m_server->Output().constData());
    }

    void options_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("page");
        QTest::newRow("defaults") << QStringList{} << true << u"127.0.0.1"_s << 9400 << 0;
        QTest::newRow("server") << QStringList{u"--server"_s, u"ws://10.1.2.3:9500"_s} << true
                                << u"10.1.2.3"_s << 9500 << 0;
        QTest::newRow("no port") << QStringList{u"--server"_s, u"ws://srv"_s} << true << u"srv"_s
                                 << 9400 << 0;
        QTest::newRow("page") << QStringList{u"--screenshot"_s, u"a.png"_s, u"--page"_s, u"2"_s}
                              << true << u"127.0.0.1"_s << 9400 << 2;
        QTest::newRow("bad scheme")
            << QStringList{u"--server"_s, u"http://x:1"_s} << false << QString() << 0 << 0;
        QTest::newRow("history page")
            << QStringList{u"--screenshot"_s, u"a.png"_s, u"--page"_s, u"4"_s} << true
            << u"127.0.0.1"_s << 9400 << 4;
        QTest::newRow("bad page") << QStringList{u"--page"_s, u"5"_s} << false << QString() << 0
                                  << 0;
        QTest::newRow("negative page")
            << QStringList{u"--page"_s, u"-1"_s} << false << QString() << 0 << 0;
        QTest::newRow("both jobs") << QStringList{u"--list"_s, u"--screenshot"_s, u"a.png"_s}
                                   << false << QString() << 0 << 0;
        QTest::newRow("stray argument") << QStringList{u"extra"_s} << false << QString() << 0 << 0;
    }

    void options() {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(int, page);
        HostOptions options;
        QString error;
        QCOMPARE(HostOptions::Parse(QStringList{u"ger-host"_s} + args, options, &error), ok);
        if (!ok) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QCOMPARE(options.ServerHost, host);
        QCOMPARE(options.ServerPort, port);
        QCOMPARE(options.Page, page);
        QVERIFY(!options.Operator.isEmpty());
        QVERIFY(!options.LocalDbPath.isEmpty());
    }

    void tokenAndCertificateOptions_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QByteArray>("tokenFile"); // "-" for no option, "missing" for no file
        QTest::addColumn<bool>("caFile");
        QTest::addColumn<QString>("error"); // empty when accepted
        QTest::newRow("token trimmed")
            << u"ws://srv:1"_s << QByteArray("  abc\n") << false << QString();
        QTest::newRow("the server's line, name after the token")
            << u"ws://srv:1"_s << QByteArray("# maria\nabc maria.souza\n") << false << QString();
        QTest::newRow("name after a tab")
            << u"ws://srv:1"_s << QByteArray("abc\tjoao\n") << false << QString();
        QTest::newRow("no token file") << u"ws://srv:1"_s << QByteArray("missing") << false
                                       << u"Não foi possível ler o arquivo do token"_s;
        QTest::newRow("empty token")
            << u"ws://srv:1"_s << QByteArray(" \n") << false << u"O arquivo do token está vazio"_s;
        QTest::newRow("ca for wss") << u"wss://srv:1"_s << QByteArray("-") << true << QString();
        QTest::newRow("ca for ws") << u"ws://srv:1"_s << QByteArray("-") << true
                                   << u"--ca-file vale para servidores wss://"_s;
    }

    void tokenAndCertificateOptions() {
        QFETCH(QString, server);
        QFETCH(QByteArray, tokenFile);
        QFETCH(bool, caFile);
        QFETCH(QString, error);
        QTemporaryDir dir;
        if (caFile && !MakeThrowawayCertificate(dir.path()))
            QSKIP("openssl is not available");
        QStringList args{u"ger-host"_s, u"--server"_s, server};
        if (tokenFile != "-") {
            const QString path = dir.filePath(u"token"_s);
            if (tokenFile != "missing")
                QVERIFY(WriteFile(path, tokenFile));
            args << u"--token-file"_s << path;
        }
        if (caFile)
            args << u"--ca-file"_s << dir.filePath(u"cert.pem"_s);
        HostOptions options;
        QString message;
        QCOMPARE(HostOptions::Parse(args, options, &message), error.isEmpty());
        QVERIFY2(message.startsWith(error), qPrintable(message));
        if (tokenFile != "-" && error.isEmpty())
            QCOMPARE(options.Token, QByteArray("abc"));
    }

    // Help and version are printed and the program ends, even with no display to open.
    void helpAndVersionNeedNoDisplay_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("expected");
        QTest::newRow("help") << u"--help"_s << u"--token-file <arquivo>"_s;
        QTest::newRow("short help") << u"-h"_s << u"--ca-file <arquivo>"_s;
        QTest::newRow("version") << u"--version"_s << u"ger-host "_s;
    }

    void helpAndVersionNeedNoDisplay() {
        QFETCH(QString, option);
        QFETCH(QString, expected);
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s); // would abort if a window were made
        env.remove(u"DISPLAY"_s);
        env.remove(u"WAYLAND_DISPLAY"_s);
        process.setProcessEnvironment(env);
        process.start(QDir(ServerProcess::BinDir()).absoluteFilePath(u"ger-host"_s), {option});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        QVERIFY2(out.contains(expected), qPrintable(out));
    }

    // The desktop program reaches a server that asks for a token over TLS with a private CA,
    // and says in plain words why it cannot when the token or the certificate is wrong.
    void securedServer() {
        if (QStandardPaths::findExecutable(u"openssl"_s).isEmpty())
            QSKIP("openssl is not installed");
        QTemporaryDir dir;
        QVERIFY(MakeThrowawayCertificate(dir.path()));
        const QString token = dir.filePath(u"token"_s), wrong = dir.filePath(u"wrong"_s);
        QVERIFY(WriteFile(token, QByteArray(40, 'k') + '\n'));
        QVERIFY(QFile::setPermissions(token, QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(WriteFile(wrong, QByteArray(40, 'w')));
        ServerProcess server;
        QVERIFY2(server.Start({u"--tls-cert"_s, dir.filePath(u"cert.pem"_s), u"--tls-key"_s,
                               dir.filePath(u"key.pem"_s), u"--token-file"_s, token}),
                 server.Output().constData());
        const QString url = u"wss://127.0.0.1:%1"_s.arg(server.Port());
        const QString ca = dir.filePath(u"cert.pem"_s);

        QProcess *host =
            RunHost({u"--list"_s, u"--token-file"_s, token, u"--ca-file"_s, ca}, dir, url);
        QVERIFY2(host->exitCode() == 0, host->readAllStandardError().constData());
        QVERIFY(!host->readAllStandardOutput().isEmpty());

        host = RunHost({u"--list"_s, u"--token-file"_s, wrong, u"--ca-file"_s, ca}, dir, url);
        QVERIFY(host->exitCode() != 0);
        QVERIFY(QString::fromUtf8(host->readAllStandardError())
                    .contains(u"recusou a conexão: token inválido"_s));

        host = RunHost({u"--list"_s, u"--token-file"_s, token}, dir, url);
        QVERIFY(host->exitCode() != 0);
        QVERIFY(
            QString::fromUtf8(host->readAllStandardError()).contains(u"autoridade confiável"_s));
    }

    void replaceTableSwapsWholeContent() {
        QTemporaryDir dir;
        LocalDatabase db;
        db.Open(dir.filePath(u"l.db"_s));
        db.ReplaceTable(u"EMPRESA"_s, Companies({{u"02"_s, u"Beta"_s}, {u"01"_s, u"Ação"_s}}));
        QCOMPARE(Column(db.Connection(), u"SELECT NMEMPRESA FROM EMPRESA ORDER BY CDEMPRESA"_s),
                 (QStringList{u"Ação"_s, u"Beta"_s}));
        db.ReplaceTable(u"EMPRESA"_s, Companies({{u"03"_s, u"Gama"_s}}));
        QCOMPARE(Column(db.Connection(), u"SELECT CDEMPRESA FROM EMPRESA"_s), QStringList{u"03"_s});

        // A packet that cannot be stored leaves the previous copy whole.
        TTablePacket bad = Companies({{u"04"_s, u"Delta"_s}});
        bad.Fields[1].Name = u"NM EMPRESA; DROP"_s;
        QVERIFY_THROWS_EXCEPTION(Exception, db.ReplaceTable(u"EMPRESA"_s, bad));
        QVERIFY_THROWS_EXCEPTION(Exception, db.ReplaceTable(u"EMP RESA"_s, Companies({})));
        QCOMPARE(Column(db.Connection(), u"SELECT CDEMPRESA FROM EMPRESA"_s), QStringList{u"03"_s});
    }

    // The packet a copy was last made from leaves the copy alone (a mark written into it
    // survives); any difference of values or shape replaces it.
    void replaceTableSkipsTheSamePacket_data() {
        QTest::addColumn<TTablePacket>("next");
        QTest::addColumn<bool>("replaced");
        const TTablePacket base = Companies({{u"01"_s, u"Ação"_s}, {u"02"_s, u"Beta"_s}});
        QTest::newRow("same") << base << false;
        TTablePacket name = base;
        name.Rows[1][1] = u"Beta "_s;
        QTest::newRow("one value") << name << true;
        TTablePacket none = base;
        none.Rows[1][1] = QVariant();
        TTablePacket blank = base;
        blank.Rows[1][1] = u""_s;
        QTest::newRow("no value") << none << true;
        QTest::newRow("empty text") << blank << true;
        TTablePacket renamed = base;
        renamed.Fields[1].Name = u"NOME"_s;
        QTest::newRow("field name") << renamed << true;
        QTest::newRow("one row fewer") << Companies({{u"01"_s, u"Ação"_s}}) << true;
        QTest::newRow("rows split otherwise")
            << Companies({{u"01"_s, u"AçãoBeta"_s}, {u"02"_s, u""_s}}) << true;
    }

    void replaceTableSkipsTheSamePacket() {
        QFETCH(TTablePacket, next);
        QFETCH(bool, replaced);
        QTemporaryDir dir;
        LocalDatabase db;
        db.Open(dir.filePath(u"l.db"_s));
        db.ReplaceTable(u"EMPRESA"_s, Companies({{u"01"_s, u"Ação"_s}, {u"02"_s, u"Beta"_s}}));
        QSqlQuery mark(db.Connection());
        QVERIFY(mark.exec(u"INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES ('99', 'marca')"_s));
        db.ReplaceTable(u"EMPRESA"_s, next);
        QCOMPARE(Column(db.Connection(), u"SELECT COUNT(*) FROM EMPRESA WHERE CDEMPRESA = '99'"_s),
                 QStringList{replaced ? u"0"_s : u"1"_s});
    }

    void refreshCopiesServerTables() {
        QTemporaryDir dir;
        LocalDatabase db;
        db.Open(dir.filePath(u"l.db"_s));
        TNetConnection cache;
        cache.SetServerName(u"Host.Cache"_s);
        cache.SetPort(m_server->Port());
        db.Refresh(LocalDatabase::CachedTables(), cache);
        const QStringList companies = Column(db.Connection(), u"SELECT CDEMPRESA FROM EMPRESA"_s);
        const QStringList records = Column(db.Connection(), u"SELECT CDEMPRESA FROM CONTOPECTBL"_s);
        QVERIFY(!companies.isEmpty());
        QVERIFY(!records.isEmpty());
        QVERIFY(records.size() <= companies.size());
        for (const QString &code : records)
            QVERIFY(companies.contains(code));
    }

    void unreachableServerIsAnError() {
        QTemporaryDir dir;
        LocalDatabase db;
        db.Open(dir.filePath(u"l.db"_s));
        TNetConnection cache;
        cache.SetServerName(u"Host.Cache"_s);
        cache.SetPort(1);
        QVERIFY_THROWS_EXCEPTION(Exception, db.Refresh({u"EMPRESA"_s}, cache));
        QCOMPARE(Column(db.Connection(), u"SELECT COUNT(*) FROM EMPRESA"_s), QStringList{u"0"_s});
    }

    void headlessBoxesTakeTheSafeAnswer_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("answer");
        QTest::newRow("yes/no") << int(mbYes | mbNo) << int(mrNo);
        QTest::newRow("ok") << int(mbOK) << int(mrOk);
        QTest::newRow("ok/cancel") << int(mbOK | mbCancel) << int(mrCancel);
    }

    void headlessBoxesTakeTheSafeAnswer() {
        QFETCH(int, buttons);
        QFETCH(int, answer);
        HostOptions options;
        MainWindow window;
        DesktopHost host(options, &window);
        host.SetInteractive(false);
        QCOMPARE(host.MessageDlg(u"Confirma?"_s, TMsgDlgType::mtConfirmation, buttons, 0), answer);
    }

    void messageBoxesSpeakPortuguese_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("press");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("result");
        QTest::newRow("question, no")
            << int(TMsgDlgType::mtConfirmation) << int(mbYes | mbNo) << int(QMessageBox::No)
            << QStringList{u"Não"_s, u"Sim"_s} << int(QMessageBox::Question) << int(mrNo);
        QTest::newRow("warning, yes")
            << int(TMsgDlgType::mtWarning) << int(mbYes | mbNo) << int(QMessageBox::Yes)
            << QStringList{u"Não"_s, u"Sim"_s} << int(QMessageBox::Warning) << int(mrYes);
        QTest::newRow("information")
            << int(TMsgDlgType::mtInformation) << int(mbOK) << int(QMessageBox::Ok)
            << QStringList{u"OK"_s} << int(QMessageBox::Information) << int(mrOk);
        QTest::newRow("error") << int(TMsgDlgType::mtError) << int(mbOK) << int(QMessageBox::Ok)
                               << QStringList{u"OK"_s} << int(QMessageBox::Critical) << int(mrOk);
    }

    // The real box, answered by pressing its button as a person would.
    void messageBoxesSpeakPortuguese() {
        QFETCH(int, type);
        QFETCH(int, buttons);
        QFETCH(int, press);
        QFETCH(QStringList, texts);
        QFETCH(int, icon);
        QFETCH(int, result);
        QVERIFY(HostApplication::InstallTranslations());
        HostOptions options;
        MainWindow window;
        DesktopHost host(options, &window);
        QStringList seen;
        int seenIcon = -1;
        QString seenText;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            for (QAbstractButton *button : box->buttons())
                seen << button->text().remove(u'&');
            seenIcon = int(box->icon());
            seenText = box->text();
            box->button(QMessageBox::StandardButton(press))->click();
        });
        QCOMPARE(host.MessageDlg(u"Confirma exclusão?"_s, TMsgDlgType(type), buttons, 0), result);
        seen.sort();
        QCOMPARE(seen, texts);
        QCOMPARE(seenIcon, icon);
        QCOMPARE(seenText, u"Confirma exclusão?"_s);
    }

    void helpPageForScreenContext() {
        HelpWindow help;
        QVERIFY(help.ShowContext(12409400));
        QVERIFY(help.CurrentSource().endsWith(u"ger09400.html"_s));
        QFile page(u":/help/ger09400.html"_s);
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(page.readAll());
        for (const QString &topic : {u"Venda Extemporânea"_s, u"Todas"_s, u"Lista"_s,
                                     u"Deseja fechar o período assim mesmo?"_s,
                                     u"Controla parte gerencial para contas vinculadas ao GGF"_s})
            QVERIFY2(text.contains(topic), qPrintable(topic));
        QVERIFY(!help.ShowContext(1)); // unknown context: the index page, reported
    }

    // The About box names the server and the database it reports, or says why it could not.
    void aboutNamesServerAndDatabase_data() {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<QString>("database");
        QTest::newRow("server up") << true << u"Banco de dados: SQLite (servidor %1)"_s;
        QTest::newRow("server down") << false
                                     << u"Banco de dados: não informado (Não foi possível "
                                        "conectar"_s;
    }

    void aboutNamesServerAndDatabase() {
        QFETCH(bool, reachable);
        QFETCH(QString, database);
        QTemporaryDir dir;
        const QString url = reachable ? m_server->Url() : u"ws://127.0.0.1:1"_s;
        HostApplication app(OptionsFor(dir, url));
        const QString text = app.AboutText();
        QVERIFY2(text.contains(u"Versão "_s + QStringLiteral(GER_VERSION)), qPrintable(text));
        QVERIFY2(text.contains(u"Servidor de aplicação: "_s + url), qPrintable(text));
        const QString expected =
            database.contains(u"%1"_s) ? database.arg(QStringLiteral(GER_VERSION)) : database;
        QVERIFY2(text.contains(expected), qPrintable(text));
    }

    // F1 anywhere opens the help of the screen in front: the parameter screen's page, or the
    // bulk registration's section while that modal screen is up.
    void f1OpensTheHelpOfTheScreenInFront() {
        QTemporaryDir dir;
        HostApplication app(OptionsFor(dir));
        app.Host()->SetInteractive(false);
        app.Start();
        app.Window()->show();
        QWidget *screen = app.OpenParamContab();
        QVERIFY(screen);
        QTest::keyClick(screen->focusWidget() ? screen->focusWidget() : screen, Qt::Key_F1);
        QVERIFY(app.Host()->Help());
        QVERIFY(app.Host()->Help()->isVisible());
        QVERIFY(app.Host()->Help()->CurrentSource().endsWith(u"ger09400.html"_s));

        {
            QDialog modal; // as the bulk registration screen is shown over the parameter screen
            modal.setProperty(HelpContextProperty, 12409410);
            modal.setModal(true);
            modal.show();
            QTRY_COMPARE(QApplication::activeModalWidget(), &modal);
            QTest::keyClick(&modal, Qt::Key_F1);
            QVERIFY2(app.Host()->Help()->CurrentSource().endsWith(u"ger09400.html#cadauto"_s),
                     qPrintable(app.Host()->Help()->CurrentSource()));
        }
        app.Shutdown();
    }

    // Clicks in the real host window, on the widgets: NAME clicks it, "tab:PAGE" a page's tab,
    // "keys:NAME:TEXT" types over a field; "bulk" opens the bulk screen and goes on inside it.
    // Then the boxes and lists seen, the page and the focus; and no server call was made.
    void clicksInsideTheHost_data() {
        QTest::addColumn<bool>("companies"); // false: the local company table emptied
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("seen");
        QTest::addColumn<QString>("ends");
        const QString empty = u"Empresa deve ser informada."_s,
                      code = u"tshFormulario dbeCdEmpresa"_s;
        const QString date = u"sbtIncluir keys:dbeCdEmpresa:10 keys:ddeIniDocFisEntr:31022026 "_s;
        QTest::newRow("cancel at once, after clicks on no field")
            << true
            << u"sbtIncluir lblEmpresa panEmpresa scbFormularioConteudo frmParamContab_janela sbtCancelar"_s
            << u"Confirma cancelamento das alterações?"_s << code;
        QTest::newRow("search, code empty")
            << true << u"sbtIncluir btnEmpresa"_s << u"[Empresa]"_s << code;
        QTest::newRow("search, no company")
            << false << u"sbtIncluir btnEmpresa"_s << u"Não há empresa cadastrada."_s << code;
        QTest::newRow("tab, code empty")
            << true << u"sbtIncluir tab:tshControle"_s << empty << code;
        QTest::newRow("tab, valid code")
            << true << u"sbtIncluir keys:dbeCdEmpresa:10 tab:tshControle"_s << QString()
            << u"tshControle qt_tabwidget_tabbar"_s;
        QTest::newRow("tab, bad date")
            << true << date + u"tab:tshControle"_s << u"'31/02/2026' não é uma data válida."_s
            << u"tshFormulario ddeIniDocFisEntr"_s;
        QTest::newRow("toolbar, bad date")
            << true << date + u"sbtCancelar"_s << u"Confirma cancelamento das alterações?"_s
            << u"tshFormulario ddeIniDocFisEntr"_s;
        QTest::newRow("another field")
            << true << u"sbtIncluir keys:ddeIniDocFisEntr:"_s << empty << code;
        const QString registered = u"Parâmetro contábil já cadastrado para esta empresa."_s;
        QTest::newRow("menu, registered company")
            << true << u"sbtIncluir btnEmpresa=02 menu:mnuControle"_s
            << u"[Empresa]|"_s + registered << code;
        QTest::newRow("menu, code empty")
            << true << u"sbtIncluir menu:mnuControle"_s << empty << code;
        QTest::newRow("menu, valid code")
            << true << u"sbtIncluir keys:dbeCdEmpresa:10 menu:mnuControle"_s << QString()
            << u"tshControle dbcCusto"_s;
        // Another desk registers 10 while this one is on the controls page.
        QTest::newRow("confirm over the controls page, company registered meanwhile")
            << true
            << u"sbtIncluir keys:dbeCdEmpresa:10 tab:tshControle dbcCusto taken:10 sbtConfirmar"_s
            << registered << code;
        QTest::newRow("bulk: search, then confirm over a bad date")
            << true
            << u"bulk rbtTodas ckcPeriodos keys:depGPAInicial:31022027 BtnPesquisa2 sbtConfirma"_s
            << u"[Empresa]|'31/02/2027' não é uma data válida."_s << u" depGPAInicial"_s;
    }

    void clicksInsideTheHost() {
        QFETCH(bool, companies);
        QFETCH(QString, steps);
        QFETCH(QString, seen);
        QFETCH(QString, ends);
        // The person at the desk: notes each message box and list dialog ("[title]"), answers a
        // question with `answer` and closes a list; the screens (the bulk one is modal) stay.
        QStringList boxes;
        QMessageBox::StandardButton answer = QMessageBox::No;
        QString pick; // the code to choose in the next search list
        QTimer desk;  // outlives the host, whose closing asks about the record left unsaved
        desk.callOnTimeout([&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                boxes << box->text();
                box->button(box->button(answer) ? answer : QMessageBox::Ok)->click();
            } else if (modal && modal->objectName() != u"frmCadAuto"_s) {
                boxes << u"["_s + modal->windowTitle() + u"]"_s;
                // A row asked for is double-clicked, as a person picks it; else the list closes.
                auto *view = modal->findChild<QTableView *>();
                const QModelIndexList rows =
                    view && !pick.isEmpty()
                        ? view->model()->match(view->model()->index(0, 0), Qt::DisplayRole, pick)
                        : QModelIndexList();
                pick.clear();
                if (rows.isEmpty()) {
                    modal->close();
                } else {
                    view->scrollTo(rows.first());
                    const QPoint at = view->visualRect(rows.first()).center();
                    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
                    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
                }
            }
        });
        desk.start(10);
        QTemporaryDir dir;
        HostApplication app(OptionsFor(dir));
        app.Start();
        if (!companies)
            QSqlQuery(app.Host()->LocalDatabase()).exec(u"DELETE FROM EMPRESA"_s);
        app.Window()->show();
        QWidget *screen = app.OpenParamContab();
        QVERIFY(screen);
        auto *pages = screen->findChild<QTabWidget *>(u"pgcPadrao"_s);
        const qsizetype mark = m_server->LogMark();
        QString end;
        const QStringList list = steps.split(u' ');
        std::function<void(qsizetype)> run = [&](qsizetype from) {
            for (qsizetype i = from; i < list.size(); ++i) {
                Settle();
                QWidget *front = QApplication::activeModalWidget();
                front = front ? front : app.Window(); // back in front, as a window manager does
                front->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(front));
                QStringList step = list[i].split(u':');
                if (step[0].contains(u'=')) { // "btnEmpresa=02": search, and pick 02
                    pick = step[0].section(u'=', 1);
                    step[0] = step[0].section(u'=', 0, 0);
                }
                if (step[0] == u"taken"_s) { // the local copies, refreshed after another desk
                    QSqlQuery(app.Host()->LocalDatabase())
                        .exec(u"INSERT INTO CONTOPECTBL (CDEMPRESA) VALUES ('%1')"_s.arg(step[1]));
                    continue;
                }
                auto *target = front->findChild<QWidget *>(step.value(1, step[0]));
                QPoint at;
                if (step[0] == u"menu"_s) {
                    // Through the screen's menu bar, as a person opens a menu and picks an item.
                    auto *bar = screen->findChild<QMenuBar *>(u"mnuMenu"_s);
                    auto *item = screen->findChild<QAction *>(step[1]);
                    QVERIFY2(bar && item, qPrintable(list[i]));
                    QMenu *menu = nullptr;
                    for (QAction *title : bar->actions())
                        if (title->menu() && title->menu()->actions().contains(item))
                            menu = title->menu();
                    QVERIFY2(menu, qPrintable(list[i]));
                    QTest::mouseClick(bar, Qt::LeftButton, {},
                                      bar->actionGeometry(menu->menuAction()).center());
                    QTRY_VERIFY(menu->isVisible());
                    QTest::mouseClick(menu, Qt::LeftButton, {},
                                      menu->actionGeometry(item).center());
                    continue;
                }
                if (step[0] == u"bulk"_s) {
                    QTimer::singleShot(100, [&, i] {
                        run(i + 1);
                        QApplication::activeModalWidget()->close();
                    });
                    target = screen->findChild<QWidget *>(u"sbtCadAuto"_s);
                } else if (step[0] == u"tab"_s) {
                    at = pages->tabBar()->tabRect(pages->indexOf(target)).center();
                    target = pages->tabBar();
                }
                QVERIFY2(target, qPrintable(list[i]));
                QTest::mouseClick(target, Qt::LeftButton, {}, at);
                if (step[0] == u"bulk"_s)
                    return;
                if (step[0] == u"keys"_s) {
                    QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
                    QTest::keyClicks(target, step[2]);
                }
            }
            QWidget *modal = QApplication::activeModalWidget();
            end = (modal ? QString() : pages->currentWidget()->objectName()) + u' ' +
                  (modal ? modal : app.Window())->focusWidget()->objectName();
            QCOMPARE(m_server->LoggedCalls(mark), QStringList{});
        };
        run(0);
        QCOMPARE(boxes.join(u'|'), seen);
        QCOMPARE(end, ends);
        answer = QMessageBox::Yes;
    }

    void moduleLoadsAndOpensScreen() {
        TestHost host;
        host.Port = m_server->Port();
        ModuleLoader loader(
            QDir(ServerProcess::BinDir()).absoluteFilePath(u"libPkg_ger09400.so"_s));
        loader.Load();
        QVERIFY(loader.IsLoaded());
        auto *created = reinterpret_cast<bool *>(loader.Resolve("bostCriado"));
        QVERIFY(created);
        QVERIFY(!*created);
        loader.Call("IniProc");
        QVERIFY(*created);
        QCOMPARE(host.ShownChildren.size(), 1);
        QWidget *screen = host.ShownChildren.first();
        QCOMPARE(screen->objectName(), u"frmParamContab"_s);
        screen->close();
        QVERIFY(!*created);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(host.ShownChildren.first().isNull());
        loader.Unload();
        QVERIFY(!loader.IsLoaded());
        QVERIFY_THROWS_EXCEPTION(Exception, ModuleLoader(u"/nao/existe.so"_s).Load());
    }

    // The shell as a person uses it: the menu opens the screen inside the MDI area, a second
    // opening restores it, closing the shell releases the screen and unloads the package.
    void shellOpensRestoresAndShutsDown() {
        QTemporaryDir dir;
        HostApplication app(OptionsFor(dir));
        app.Host()->SetInteractive(false); // no person here to answer a box
        app.Start();
        QVERIFY(!Column(app.Host()->LocalDatabase(), u"SELECT CDEMPRESA FROM EMPRESA"_s).isEmpty());
        app.Window()->resize(1920, 1080); // the most common desktop
        app.Window()->show();

        app.Window()->ParamContabAction()->trigger();
        QMdiArea *area = app.Window()->MdiArea();
        QCOMPARE(area->subWindowList().size(), 1);
        QMdiSubWindow *frame = area->subWindowList().first();
        QPointer<QWidget> screen = frame->widget();
        QCOMPARE(screen->objectName(), u"frmParamContab"_s);
        QVERIFY(!HostApplication::GridLines(screen).isEmpty());
        // It fills the main window, and there every column of the list shows whole.
        QVERIFY(frame->isMaximized());
        auto *grid = screen->findChild<QAbstractScrollArea *>(u"dbgPadrao"_s);
        QVERIFY(grid);
        QTRY_COMPARE(grid->horizontalScrollBar()->maximum(), 0);

        frame->showMinimized();
        QCOMPARE(app.OpenParamContab(), screen.data());
        QCOMPARE(area->subWindowList().size(), 1);
        QVERIFY(!frame->isMinimized());
        QVERIFY(frame->isMaximized());
        QCOMPARE(app.Host()->FailureCount(), 0);

        app.Shutdown();
        QVERIFY(screen.isNull());
        QVERIFY(area->subWindowList().isEmpty());
    }

    // A screen that cannot open reaches the host's error handling, which gives the cursor back.
    void failedOpeningGoesToErrorHandling() {
        QTemporaryDir dir;
        HostOptions options;
        QString error;
        QVERIFY(HostOptions::Parse({u"ger-host"_s, u"--server"_s, u"ws://127.0.0.1:1"_s,
                                    u"--local-db"_s, dir.filePath(u"l.db"_s)},
                                   options, &error));
        HostApplication app(options);
        app.Host()->SetInteractive(false);
        app.Start();
        QCOMPARE(app.OpenParamContab(), nullptr);
        QCOMPARE(app.Host()->FailureCount(), 1);
        QVERIFY(!QGuiApplication::overrideCursor());
        QVERIFY(app.Window()->MdiArea()->subWindowList().isEmpty());
        app.Shutdown();
    }

    void listPrintsEveryRecord() {
        QTemporaryDir dir;
        QProcess *host = RunHost({u"--list"_s}, dir);
        QCOMPARE(host->exitStatus(), QProcess::NormalExit);
        QVERIFY2(host->exitCode() == 0, host->readAllStandardError().constData());
        const QStringList lines =
            QString::fromUtf8(host->readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);

        // As many lines as the server holds records, each with the ten grid columns.
        TNetConnection net;
        net.SetServerName(u"Host.Cache"_s);
        net.SetPort(m_server->Port());
        const TResultEnvelope records = net.Call(u"GetTabela"_s, {u"CONTOPECTBL"_s});
        QVERIFY(records.Ok);
        QCOMPARE(lines.size(), records.Payload[u"rows"_s].toArray().size());
        for (const QString &line : lines) {
            const QStringList cells = line.split(u" | "_s);
            QCOMPARE(cells.size(), 10);
            QCOMPARE(cells[0].size(), 2);
            QVERIFY(cells[2].contains(u" a "_s));
        }
    }

    // The history window and --history show the same rows, as a person reads them.
    void historyWindowAndCommandAgree() {
        TNetConnection net;
        net.SetServerName(u"Ger09400.rdmParamCtbl"_s);
        net.SetPort(m_server->Port());
        net.SetOperator(u"maria.teste"_s);
        TChangeLog log;
        log.Fields = {{u"IDCONTAJUDTCOMP"_s, TFieldType::String, 1, false}};
        for (const auto &[from, to] : {std::pair{u"N"_s, u"S"_s}, std::pair{u"S"_s, u"N"_s}}) {
            log.Changes = {{TChangeOp::Update, {from}, {to}}};
            QVERIFY(net.Call(u"SetParamGeral"_s, {Packet::ToJson(log)}).Ok);
        }

        QTemporaryDir dir;
        QProcess *command = RunHost({u"--history"_s, u"T"_s}, dir);
        QVERIFY2(command->exitCode() == 0, command->readAllStandardError().constData());
        const QStringList printed =
            QString::fromUtf8(command->readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(printed.size(), 2);
        QVERIFY2(printed.at(0).contains(u" | maria.teste (não verificado) | (geral) | Alteração | "
                                        "Contabiliza Ajuste Data de Competência | Sim | Não"_s),
                 qPrintable(printed.at(0)));

        HostApplication app(OptionsFor(dir));
        app.Host()->SetInteractive(false);
        app.Start();
        app.Window()->show();
        HistoryWindow *window = app.OpenHistory();
        QVERIFY(window);
        QStringList shown;
        for (int r = 0; r < window->Table()->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < window->Table()->columnCount(); ++c)
                cells << window->Table()->item(r, c)->text();
            shown << cells.join(u" | "_s);
        }
        QCOMPARE(shown, printed);
        QCOMPARE(window->Status(), u"2 alteração(ões)."_s);
        app.Shutdown();
    }

    void screenshotsOfEachPage_data() {
        QTest::addColumn<int>("page");
        QTest::newRow("list") << 0;
        QTest::newRow("form") << 1;
        QTest::newRow("controls") << 2;
        QTest::newRow("bulk registration") << 3;
        QTest::newRow("change history") << 4;
    }

    void screenshotsOfEachPage() {
        QFETCH(int, page);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"p.png"_s);
        QProcess *host =
            RunHost({u"--screenshot"_s, file, u"--page"_s, QString::number(page)}, dir);
        QVERIFY2(host->exitCode() == 0, host->readAllStandardError().constData());
        const QImage image(file);
        QVERIFY(!image.isNull());
        if (page == 3) // the bulk screen alone, at its fixed size
            QCOMPARE(image.size() / image.devicePixelRatio(), QSize(616, 560));
        else
            QVERIFY(image.width() > 600 && image.height() > 400);
    }
};

QTEST_MAIN(TstHost)
#include "tst_host.moc"
