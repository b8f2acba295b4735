// The accounting-parameter screen and the package's entry points, against a real ger-server.
#include "components/adoibquery.h"
#include "components/application.h"
#include "components/btnpesquisa.h"
#include "components/dbcheckbox.h"
#include "components/dbdateeditplus.h"
#include "components/dbedit.h"
#include "components/dbgrid.h"
#include "components/dbnavigator.h"
#include "components/functions.h"
#include "components/menuitem.h"
#include "components/pagecontrol.h"
#include "components/toolbutton.h"
#include "dataset/clientdataset.h"
#include "dataset/datasource.h"
#include "dataset/datetime.h"
#include "dataset/exceptions.h"
#include "dataset/packet.h"
#include "package/pkg_ger09400.h"
#include "param_screen/frmparamcontab.h"
#include "rpc/netconnection.h"
#include "serverprocess.h"
#include "shared/paramctblclient.h"
#include "testhost.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QScopeGuard>
#include <QTabBar>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Passes everything on to the scripted host and notes the cursor shape at the moments the
// entry procedure hands control to the host: while the screen loads and when it is shown.
class CursorProbeHost final : public IHost {
public:
    explicit CursorProbeHost(TestHost &inner)
        : m_inner(inner) {}
    QStringList Cursors; // "busy:<shape>", "show:<shape>"; shape -1 = no override cursor

    static int Shape() {
        const QCursor *cursor = QGuiApplication::overrideCursor();
        return cursor ? int(cursor->shape()) : -1;
    }

    QWidget *MainForm() override { return m_inner.MainForm(); }
    void ShowChild(QWidget *form) override {
        Cursors << u"show:%1"_s.arg(Shape());
        m_inner.ShowChild(form);
    }
    int MessageDlg(const QString &text, TMsgDlgType type, int buttons, int context) override {
        return m_inner.MessageDlg(text, type, buttons, context);
    }
    void ShowBusy(int kind, const QString &text) override {
        Cursors << u"busy:%1"_s.arg(Shape());
        m_inner.ShowBusy(kind, text);
    }
    void HideBusy() override { m_inner.HideBusy(); }
    void ShowHelp(const QString &file, int context) override { m_inner.ShowHelp(file, context); }
    QString WebURL() override { return m_inner.WebURL(); }
    int WebPort() override { return m_inner.WebPort(); }
    QString Operador() override { return m_inner.Operador(); }
    void AtualizaLocalCache(const QStringList &tables) override {
        m_inner.AtualizaLocalCache(tables);
    }
    QSqlDatabase LocalDatabase() override { return m_inner.LocalDatabase(); }
    void HandleException(const std::exception &error) override { m_inner.HandleException(error); }

private:
    TestHost &m_inner;
};

const QString Wait = QString::number(int(Qt::WaitCursor));

int LiveScreens() {
    int count = 0;
    for (QWidget *widget : TApplication::Instance()->Owned())
        count += qobject_cast<TfrmParamContab *>(widget) ? 1 : 0;
    return count;
}

QVariant Day(int y, int m, int d) {
    return DateTimeUtil::EncodeDate(y, m, d);
}

} // namespace

class TstParamScreen final : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<ServerProcess> m_demo;
    std::unique_ptr<ServerProcess> m_empty;
    std::unique_ptr<TestHost> m_host;

    TfrmParamContab *Open(ServerProcess &server) {
        m_host->Port = server.Port();
        IniProc();
        Settle();
        return frmParamContab;
    }

    void CloseScreen() {
        if (bostCriado && frmParamContab)
            frmParamContab->close();
        Settle();
        SetCursorDefault();
    }

    static bool Enabled(QWidget *widget) { return widget->isEnabled(); }

private Q_SLOTS:
    // A reply must carry every field the table declares; extra ones do no harm.
    void loadRefusesAPacketLackingADeclaredField_data() {
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("failure"); // empty: loaded
        QTest::newRow("all of them") << QStringList{u"CDEMPRESA"_s, u"MAIORDATA"_s} << QString();
        QTest::newRow("one more, another case")
            << QStringList{u"cdempresa"_s, u"MAIORDATA"_s, u"OUTRO"_s} << QString();
        QTest::newRow("one missing")
            << QStringList{u"CDEMPRESA"_s}
            << u"Resposta do servidor inválida para cdsTeste: falta o campo MAIORDATA."_s;
    }

    void loadRefusesAPacketLackingADeclaredField() {
        QFETCH(QStringList, sent);
        QFETCH(QString, failure);
        TClientDataSet table;
        table.setObjectName(u"cdsTeste"_s);
        table.FieldDefs() = {{u"CDEMPRESA"_s, TFieldType::String, 2, false},
                             {u"MAIORDATA"_s, TFieldType::Date, 0, false}};
        TTablePacket packet;
        TRowValues row;
        for (const QString &name : sent) {
            packet.Fields.append({name, TFieldType::String, 10, false});
            row.append(u"x"_s);
        }
        packet.Rows.append(row);
        QString got;
        try {
            ParamCtblMethods::LoadPacket(table, Packet::ToJson(packet));
        } catch (const Exception &e) {
            got = e.Message();
        }
        QCOMPARE(got, failure);
    }

    void initTestCase() {
        m_demo = std::make_unique<ServerProcess>();
        m_empty = std::make_unique<ServerProcess>();
        const QStringList quiet{u"--log-level"_s, u"warn"_s};
        QVERIFY2(m_demo->Start(quiet, 0, u"demo"_s), m_demo->Output().constData());
        QVERIFY2(m_empty->Start(quiet, 0, QString()), m_empty->Output().constData());
        m_host = std::make_unique<TestHost>();
        Initialize();
    }

    void cleanupTestCase() {
        CloseScreen();
        Finalize();
        m_host.reset();
    }

    void cleanup() {
        CloseScreen();
        if (!m_host)
            return;
        m_host->Port = m_demo->Port();
        m_host->ClearRecords();
    }

    // --- entry points -------------------------------------------------------------------

    void secondCallRestoresTheSameScreen() {
        TfrmParamContab *first = Open(*m_demo);
        QVERIFY(first);
        QVERIFY(bostCriado);
        first->setWindowState(Qt::WindowMinimized);
        IniProc();
        Settle();
        QCOMPARE(frmParamContab, first);
        QCOMPARE(LiveScreens(), 1);
        QVERIFY(!(first->windowState() & Qt::WindowMinimized));
        QVERIFY(first->isVisible());
    }

    void reopeningAfterCloseCreatesNewScreenAndConnection() {
        QPointer<TfrmParamContab> first = Open(*m_demo);
        QVERIFY(first);
        QPointer<TNetConnection> firstNet = first->netParamCtbl;
        QVERIFY(firstNet->Connected());
        first->sbtFechar->Click();
        QVERIFY(!bostCriado);
        QVERIFY(firstNet.isNull() || !firstNet->Connected());
        Settle();
        QVERIFY(first.isNull()); // released by the close handling

        TfrmParamContab *second = Open(*m_demo);
        QVERIFY(second);
        QVERIFY(bostCriado);
        QVERIFY(second->netParamCtbl->Connected());
        QCOMPARE(LiveScreens(), 1);
        QVERIFY(!second->cdsContOpe->IsEmpty());
    }

    void hourglassWhileCreatingAndShowing() {
        CursorProbeHost probe(*m_host);
        RegisterHost(&probe);
        const auto restore = qScopeGuard([this] { RegisterHost(m_host.get()); });
        m_host->Port = m_demo->Port();
        IniProc(); // creates: loads under the busy indicator, then shows (which loads again)
        Settle();
        QVERIFY(probe.Cursors.contains(u"busy:"_s + Wait));
        QVERIFY(probe.Cursors.contains(u"show:"_s + Wait));
        for (const QString &seen : std::as_const(probe.Cursors))
            QVERIFY2(seen.endsWith(u':' + Wait), qPrintable(seen));
        QVERIFY(!QGuiApplication::overrideCursor());

        probe.Cursors.clear();
        IniProc(); // only restores: the hourglass still spans the call
        QCOMPARE(probe.Cursors, QStringList{u"show:"_s + Wait});
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void failedCreationLeavesHourglassAndTravelsOn() {
        m_host->Port = 1; // nothing listens there
        bool failed = false;
        try {
            IniProc();
        } catch (const std::exception &) {
            failed = true;
        }
        QVERIFY(failed);
        QVERIFY(!bostCriado);
        QVERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QVERIFY(m_host->BusyCalls.endsWith(u"hide"_s)); // the indicator never stays up
        SetCursorDefault();
    }

    void initialisationCountsUses() {
        stEmpresa = u"01,02"_s;
        Initialize(); // a second load of the package
        Finalize();   // ... and its unload: the first load still holds the state
        QCOMPARE(stEmpresa, u"01,02"_s);
        stEmpresa.clear();
    }

    // --- loading and period texts ------------------------------------------------------

    void loadsEveryRecordTwiceOnOpening() {
        TfrmParamContab *screen = Open(*m_demo);
        QVERIFY(screen);
        QVERIFY(screen->cdsContOpe->RecordCount() > 0);
        QCOMPARE(screen->cdsContOpe->FieldCount(), 38);
        QCOMPARE(screen->cdsParamGeral->FieldCount(), 1);
        // Created (kind 6) and shown (kind 6): two loads, each indicator hidden again.
        QCOMPARE(m_host->BusyCalls.count(u"show:6:"_s), 2);
        QCOMPARE(m_host->BusyCalls.count(u"hide"_s), 2);
        QCOMPARE(screen->pgcPadrao->ActivePage(), screen->tshFolhaDados);
        QCOMPARE(screen->edtNmEmpresa->text(),
                 screen->cdsContOpe->FieldByName(u"NMEMPRESA"_s)->AsString());

        m_host->ClearRecords();
        screen->sbtVerificar->Click();
        QCOMPARE(m_host->BusyCalls, (QStringList{u"show:6:"_s, u"hide"_s}));
    }

    void gridColumns() {
        TfrmParamContab *screen = Open(*m_demo);
        const QStringList titles{u"Código"_s,        u"Nome"_s,
                                 u"Per. Contábil"_s, u"Per. Lançamento"_s,
                                 u"Per. DFE"_s,      u"Per. DFS"_s,
                                 u"Per. FIN"_s,      u"Per. GPA"_s,
                                 u"Per. Fiscal"_s,   u"Per. Venda Extemporânea"_s};
        const QList<int> widths{39, 174, 150, 150, 150, 150, 150, 150, 150, 150};
        QAbstractItemModel *model = screen->dbgPadrao->model();
        QCOMPARE(model->columnCount(), titles.size());
        for (int i = 0; i < titles.size(); ++i) {
            QCOMPARE(model->headerData(i, Qt::Horizontal).toString(), titles[i]);
            QVERIFY(screen->dbgPadrao->columnWidth(i) >= widths[i]);
        }
        QCOMPARE(model->rowCount(), screen->cdsContOpe->RecordCount());
        // Nothing the grid shows is cut short.
        const QFontMetrics metrics(screen->dbgPadrao->font());
        for (int row = 0; row < model->rowCount(); ++row) {
            for (int column = 0; column < model->columnCount(); ++column) {
                const QString text = model->index(row, column).data().toString();
                QVERIFY2(metrics.horizontalAdvance(text) < screen->dbgPadrao->columnWidth(column),
                         qPrintable(text));
            }
        }
    }

    void periodTexts_data() {
        QTest::addColumn<QString>("firstField");
        QTest::addColumn<QString>("lastField");
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("first");
        QTest::addColumn<QVariant>("last");
        QTest::addColumn<QString>("expected");
        const QVariant none;
        const QVariant march1 = Day(2024, 3, 1), march31 = Day(2024, 3, 31);
        QTest::newRow("accounting") << u"DTINICCONT"_s << u"DTFINACONT"_s << 2 << march1 << march31
                                    << u"01/03/2024 a 31/03/2024"_s;
        QTest::newRow("accounting, time of day ignored")
            << u"DTINICCONT"_s << u"DTFINACONT"_s << 2 << QVariant(march1.toDouble() + 0.75)
            << march31 << u"01/03/2024 a 31/03/2024"_s;
        QTest::newRow("posting") << u"DTINICLANC"_s << u"DTFINALANC"_s << 3 << Day(2024, 1, 1)
                                 << Day(2024, 12, 31) << u"01/01/2024 a 31/12/2024"_s;
        QTest::newRow("DFE empty") << u"DTINIINTCONTDFE"_s << u"DTFININTCONTDFE"_s << 4 << none
                                   << none << u"30/12/1899 a 30/12/1899"_s;
        QTest::newRow("DFS last only") << u"DTINIINTCONTDFS"_s << u"DTFININTCONTDFS"_s << 5 << none
                                       << march31 << u"30/12/1899 a 31/03/2024"_s;
        QTest::newRow("finance empty") << u"DTINICCTBL"_s << u"DTFINACCTBL"_s << 6 << none << none
                                       << u"30/12/1899 a 30/12/1899"_s;
        QTest::newRow("GPA") << u"DTINIINTCONTGPA"_s << u"DTFININTCONTGPA"_s << 7 << march1
                             << march31 << u"01/03/2024 a 31/03/2024"_s;
        QTest::newRow("tax empty")
            << u"DTINIINTCONTFIS"_s << u"DTFININTCONTFIS"_s << 8 << none << none << QString();
        QTest::newRow("tax last only")
            << u"DTINIINTCONTFIS"_s << u"DTFININTCONTFIS"_s << 8 << none << march31 << QString();
        QTest::newRow("tax first only") << u"DTINIINTCONTFIS"_s << u"DTFININTCONTFIS"_s << 8
                                        << march1 << none << u"01/03/2024 a 30/12/1899"_s;
        QTest::newRow("late sales")
            << u"DTINIINTCONTVEXT"_s << u"DTFININTCONTVEXT"_s << 9 << Day(2024, 2, 1)
            << Day(2024, 2, 29) << u"01/02/2024 a 29/02/2024"_s;
        QTest::newRow("late sales empty") << u"DTINIINTCONTVEXT"_s << u"DTFININTCONTVEXT"_s << 9
                                          << none << Day(2024, 2, 29) << QString();
    }

    void periodTexts() {
        QFETCH(QString, firstField);
        QFETCH(QString, lastField);
        QFETCH(int, column);
        QFETCH(QVariant, first);
        QFETCH(QVariant, last);
        QFETCH(QString, expected);
        TfrmParamContab *screen = Open(*m_demo);
        QVERIFY(screen);
        TClientDataSet *table = screen->cdsContOpe;

        // One record as the server would send it, with the period under test.
        TTablePacket packet = table->GetData();
        packet.Rows.resize(1);
        TRowValues &row = packet.Rows[0];
        row[packet.FieldIndex(firstField)] = first;
        row[packet.FieldIndex(lastField)] = last;
        table->SetData(packet);

        TField *field = table->FieldByName(firstField);
        QCOMPARE(field->DisplayText(), expected);
        QCOMPARE(field->Text(), expected);
        QCOMPARE(screen->dbgPadrao->model()->index(0, column).data().toString(), expected);
    }

    void dataPeriodoFormats() {
        TfrmParamContab *screen = Open(*m_demo);
        QCOMPARE(screen->dataPeriodo(DateTimeUtil::EncodeDate(2024, 1, 1),
                                     DateTimeUtil::EncodeDate(2024, 12, 31)),
                 u"01/01/2024 a 31/12/2024"_s);
        QCOMPARE(screen->dataPeriodo(0, 0), u"30/12/1899 a 30/12/1899"_s);
    }

    void companyQueries_data() {
        QTest::addColumn<QVariant>("code");
        QTest::addColumn<QVariant>("all");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("all, whatever the code")
            << QVariant(u"02"_s) << QVariant(u"T"_s) << QStringList{u"01"_s, u"02"_s, u"10"_s};
        QTest::newRow("one company") << QVariant(u"10"_s) << QVariant() << QStringList{u"10"_s};
        QTest::newRow("unknown company") << QVariant(u"77"_s) << QVariant() << QStringList{};
    }

    // The company queries read the host's local copies.
    void companyQueries() {
        QFETCH(QVariant, code);
        QFETCH(QVariant, all);
        QFETCH(QStringList, expected);
        TfrmParamContab *s = Open(*m_demo);
        m_host->ExecLocal(
            {u"DROP TABLE IF EXISTS EMPRESA"_s,
             u"CREATE TABLE EMPRESA (CDEMPRESA TEXT, NMEMPRESA TEXT)"_s,
             u"INSERT INTO EMPRESA VALUES ('10', 'Dez'), ('01', 'Um'), ('02', 'Dois')"_s,
             u"DROP TABLE IF EXISTS CONTOPECTBL"_s, u"CREATE TABLE CONTOPECTBL (CDEMPRESA TEXT)"_s,
             u"INSERT INTO CONTOPECTBL VALUES ('02')"_s});
        TADOIBQuery *q = s->qryEmpresa;
        q->Close();
        q->ParamByName(u"P_CDEMPRESA"_s).SetValue(code);
        q->ParamByName(u"P_TCDEMPRESA"_s).SetValue(all);
        q->Open();
        QStringList codes;
        for (q->First(); !q->Eof(); q->Next())
            codes << q->FieldByName(u"CDEMPRESA"_s)->AsString();
        QCOMPARE(codes, expected);
        QCOMPARE(q->FieldByName(u"NMEMPRESA"_s)->DisplayLabel(), u"Nome"_s);

        TADOIBQuery *p = s->qryPesqParam;
        p->Close();
        p->ParamByName(u"P_CDEMPRESA"_s).SetAsString(code.toString());
        p->Open();
        QCOMPARE(!p->IsEmpty(), code.toString() == u"02"_s);
    }

    // --- enabling -----------------------------------------------------------------------

    void emptyServerDisablesPages() {
        TfrmParamContab *s = Open(*m_empty);
        QVERIFY(s);
        QVERIFY(s->cdsContOpe->Active());
        QVERIFY(s->cdsContOpe->IsEmpty());
        QCOMPARE(s->pgcPadrao->ActivePage(), s->tshFolhaDados);
        QVERIFY(!s->pgcPadrao->PageEnabled(s->tshFolhaDados));
        QVERIFY(!s->pgcPadrao->PageEnabled(s->tshFormulario));
        QVERIFY(!s->pgcPadrao->PageEnabled(s->tshControle));
        QVERIFY(!s->mnuFolhaDados->Enabled());
        QVERIFY(!s->mnuFormulario->Enabled());
        QVERIFY(!s->mnuControle->Enabled());
        for (QWidget *button : {s->sbtAlterar, s->sbtExcluir, s->sbtLocalizar, s->sbtVerificar})
            QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
        for (TMenuItem *item : {s->mnuAlterar, s->mnuExcluir, s->mnuLocalizar, s->mnuVerificar})
            QVERIFY2(!item->Enabled(), qPrintable(item->objectName()));
        QVERIFY(s->sbtIncluir->isEnabled());
        QVERIFY(s->sbtCadAuto->isEnabled());
    }

    void editStateOnFormPage() {
        TfrmParamContab *s = Open(*m_demo);
        s->mnuFormulario->Click();
        QCOMPARE(s->pgcPadrao->ActivePage(), s->tshFormulario);
        s->cdsContOpe->Edit();
        QVERIFY(s->sbtConfirmar->isEnabled());
        QVERIFY(s->sbtCancelar->isEnabled());
        QVERIFY(s->mnuConfirmar->Enabled());
        QVERIFY(s->mnuCancelar->Enabled());
        QVERIFY(!s->sbtIncluir->isEnabled());
        QVERIFY(!s->mnuIncluir->Enabled());
        QVERIFY(!s->sbtCadAuto->isEnabled());
        for (QWidget *button : {s->sbtAlterar, s->sbtExcluir, s->sbtLocalizar, s->sbtVerificar})
            QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
        for (TMenuItem *item : {s->mnuAlterar, s->mnuExcluir, s->mnuLocalizar, s->mnuVerificar})
            QVERIFY2(!item->Enabled(), qPrintable(item->objectName()));
        QVERIFY(!s->pgcPadrao->PageEnabled(s->tshFolhaDados));
        QVERIFY(!s->mnuFolhaDados->Enabled());
        QVERIFY(!s->dbnPadrao->isEnabled());
        QVERIFY(!s->dbeCdEmpresa->isEnabled()); // the company of a record never changes
        // ... yet it stays on the key fields' colour, enabled or not; its grey text says it.
        const auto background = [](QWidget *edit) {
            return edit->grab().toImage().pixelColor(edit->width() - 5, edit->height() / 2);
        };
        const QColor tooltip = QApplication::palette().color(QPalette::ToolTipBase);
        QCOMPARE(background(s->dbeCdEmpresa), tooltip);
        QVERIFY(background(s->edtNmEmpresa) != tooltip);
        QCOMPARE(s->dbeCdEmpresa->palette().color(QPalette::Disabled, QPalette::Text),
                 QApplication::palette().color(QPalette::Disabled, QPalette::Text));
        s->cdsContOpe->Cancel();
        s->sbtIncluir->Click();
        QCOMPARE(background(s->dbeCdEmpresa), tooltip);
        s->cdsContOpe->Cancel();
    }

    void browseOnListPage() {
        TfrmParamContab *s = Open(*m_demo);
        s->mnuControle->Click();
        s->cdsContOpe->Edit();
        s->cdsContOpe->Cancel();
        s->mnuFolhaDados->Click();
        QCOMPARE(s->pgcPadrao->ActivePage(), s->tshFolhaDados);
        QVERIFY(s->sbtIncluir->isEnabled());
        QVERIFY(s->sbtCadAuto->isEnabled());
        for (QWidget *button : {s->sbtAlterar, s->sbtExcluir, s->sbtLocalizar, s->sbtVerificar})
            QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));
        for (TMenuItem *item : {s->mnuAlterar, s->mnuExcluir, s->mnuLocalizar, s->mnuVerificar})
            QVERIFY2(item->Enabled(), qPrintable(item->objectName()));
        QVERIFY(s->pgcPadrao->PageEnabled(s->tshFolhaDados));
        QVERIFY(s->pgcPadrao->PageEnabled(s->tshFormulario));
        QVERIFY(s->pgcPadrao->PageEnabled(s->tshControle));
        QVERIFY(s->mnuControle->Enabled());
    }

    // Editing started from the list (the edit button) leaves the list unusable until the edit
    // ends, and the edit can be confirmed or cancelled from wherever the screen stands.
    void editStartedOnListPage() {
        TfrmParamContab *s = Open(*m_demo);
        s->sbtAlterar->Click();
        QCOMPARE(s->cdsContOpe->State(), TDataSetState::Edit);
        QVERIFY(!s->pgcPadrao->PageEnabled(s->tshFolhaDados));
        QVERIFY(!s->mnuFolhaDados->Enabled());
        QVERIFY(s->sbtCancelar->isEnabled());
        QVERIFY(m_host->ErrorTexts().isEmpty());
        s->cdsContOpe->Cancel();
        QVERIFY(s->pgcPadrao->PageEnabled(s->tshFolhaDados));
    }

    void listPageLeavesConfirmToBaseForm() {
        TfrmParamContab *s = Open(*m_demo);
        // Whatever the base form decided stays: Habilita does not touch them on the list.
        s->sbtConfirmar->setEnabled(true);
        s->mnuCancelar->SetEnabled(true);
        s->Habilita();
        QVERIFY(s->sbtConfirmar->isEnabled());
        QVERIFY(s->mnuCancelar->Enabled());
    }

    void stateChanges_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("panelEnabled");
        QTest::newRow("edit") << u"edit"_s << false;
        QTest::newRow("insert") << u"insert"_s << true;
        QTest::newRow("cancel edit") << u"cancel-edit"_s << false;
        QTest::newRow("cancel insert") << u"cancel-insert"_s << false;
        QTest::newRow("reload") << u"reload"_s << false;
    }

    // Printing is off after every state change; the company panel is usable only on insert.
    void stateChanges() {
        QFETCH(QString, operation);
        QFETCH(bool, panelEnabled);
        TfrmParamContab *s = Open(*m_demo);
        s->mnuFormulario->Click();
        TClientDataSet *t = s->cdsContOpe;
        if (operation == u"edit"_s) {
            t->Edit();
        } else if (operation == u"insert"_s) {
            t->Insert();
        } else if (operation == u"cancel-edit"_s) {
            t->Edit();
            t->Cancel();
        } else if (operation == u"cancel-insert"_s) {
            t->Insert();
            t->Cancel();
        } else {
            s->sbtVerificar->Click();
        }
        QVERIFY(!s->sbtImprimir->isEnabled());
        QVERIFY(!s->mnuListagem->Enabled());
        QVERIFY(!s->mnuConfigImpressora->Enabled());
        QCOMPARE(s->dbeCdEmpresa->isEnabled(), panelEnabled);
        QCOMPARE(s->btnEmpresa->isEnabled(), panelEnabled);
        QVERIFY(!s->edtNmEmpresa->isEnabled());
        if (t->State() != TDataSetState::Browse)
            t->Cancel();
    }

    // --- pages and menus ----------------------------------------------------------------

    void pageMenus_data() {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("listTicked");
        QTest::addColumn<bool>("formTicked");
        QTest::newRow("form") << u"mnuFormulario"_s << u"tshFormulario"_s << false << true;
        QTest::newRow("controls") << u"mnuControle"_s << u"tshControle"_s << false << false;
        QTest::newRow("list") << u"mnuFolhaDados"_s << u"tshFolhaDados"_s << true << false;
    }

    void pageMenus() {
        QFETCH(QString, menu);
        QFETCH(QString, page);
        QFETCH(bool, listTicked);
        QFETCH(bool, formTicked);
        TfrmParamContab *s = Open(*m_demo);
        // Start somewhere else than the target, so the handler has work to do.
        s->pgcPadrao->SetActivePage(page == u"tshControle"_s ? s->tshFormulario : s->tshControle);
        s->findChild<TMenuItem *>(menu)->Click();
        QCOMPARE(s->pgcPadrao->ActivePage()->objectName(), page);
        QCOMPARE(s->mnuFolhaDados->Checked(), listTicked);
        QCOMPARE(s->mnuFormulario->Checked(), formTicked);
        QVERIFY(!s->mnuControle->isCheckable() || !s->mnuControle->Checked());
    }

    void menuOfActivePageChangesNothing() {
        TfrmParamContab *s = Open(*m_demo);
        s->mnuFormulario->Click();
        // Marks that a page change (and so Habilita) would overwrite.
        s->sbtCadAuto->setEnabled(!s->sbtIncluir->isEnabled());
        s->mnuFolhaDados->SetChecked(true);
        s->mnuFormulario->Click();
        QCOMPARE(s->pgcPadrao->ActivePage(), s->tshFormulario);
        QCOMPARE(s->sbtCadAuto->isEnabled(), !s->sbtIncluir->isEnabled());
        QVERIFY(s->mnuFolhaDados->Checked());
    }

    void userTabClickRunsPageChange() {
        TfrmParamContab *s = Open(*m_demo);
        s->sbtCadAuto->setEnabled(!s->sbtIncluir->isEnabled());
        QTabBar *tabs = s->pgcPadrao->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QCOMPARE(s->pgcPadrao->ActivePage(), s->tshFormulario);
        QVERIFY(s->mnuFormulario->Checked());
        QVERIFY(!s->mnuFolhaDados->Checked());
        QCOMPARE(s->sbtCadAuto->isEnabled(), s->sbtIncluir->isEnabled()); // Habilita ran
    }

    // --- members and view ---------------------------------------------------------------

    void scrollShowsCompanyName() {
        TfrmParamContab *s = Open(*m_demo);
        QVERIFY(s->cdsContOpe->RecordCount() > 1);
        s->cdsContOpe->Last();
        QCOMPARE(s->edtNmEmpresa->text(), s->cdsContOpe->FieldByName(u"NMEMPRESA"_s)->AsString());
        QVERIFY(!s->edtNmEmpresa->text().isEmpty());
    }

    void helpAndConnectionSettings() {
        TfrmParamContab *s = Open(*m_demo);
        s->sbtAjuda->Click();
        QCOMPARE(m_host->HelpCalls, QStringList{u"Gerhelp.hlp#12409400"_s});
        QCOMPARE(s->netParamCtbl->ServerName(), u"Ger09400.rdmParamCtbl"_s);
        QVERIFY(!s->netParamCtbl->ThrowException());
        QCOMPARE(s->netParamCtbl->Port(), m_demo->Port());
        QCOMPARE(s->netParamCtbl->Host(), m_host->Url);
    }

    void toolbarOrder() {
        TfrmParamContab *s = Open(*m_demo);
        QVERIFY(s->sbtCadAuto->x() < s->sbtImprimir->x());
        QVERIFY(s->sbtImprimir->x() < s->sbtAjuda->x());
        QVERIFY(s->sbtAjuda->x() < s->sbtFechar->x());
        QCOMPARE(s->sbtCadAuto->Hint(), u"Confirmar"_s);
        const QList<QAction *> items = s->mnuOperacao->actions();
        QVERIFY(items.size() > 2);
        QCOMPARE(items.at(2), s->mnuControle);
        QCOMPARE(s->mnuControle->text(), u"Controles de Lançamentos"_s);
        QCOMPARE(s->mnuFormulario->text(), u"Períodos de Lançamentos"_s);
    }

    void controlChecks_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("field");
        const char16_t *rows[][3] = {
            {u"dbcCusto", u"Controla Centro de Custo", u"IDCONTGERE"},
            {u"dbcRatProd", u"Considera Rateio dos Encargos por Produto", u"IDCONSRATPROD"},
            {u"dbcComercial", u"Controla Conta Comercial", u"IDCONTCOME"},
            {u"dbcCustEstCont", u"Utiliza Custo do Estoque na Contabilização", u"IDUTCUSTESTCONT"},
            {u"dbcSugRateio", u"Sugere Rateio em Lançamentos Manuais", u"IDSUGRAT"},
            {u"dbcUtSaldoSoc", u"Utiliza Saldo Societário", u"IDUTSALDOSOC"},
            {u"dbcDbCrMsmConta", u"Permite Lançamentos de DB e CR na mesma Conta",
             u"IDMSMCONTADBCR"},
            {u"dbcCCustoRetirada", u"Prioriza o Centro de Custo do Setor nas Retiradas de Estoque",
             u"IDRETESTSETOR"},
            {u"dbcConsiteVND",
             u"Consiste a Consolidação de Vendas (VND) de acordo com Período de Integração do DFS",
             u"IDCONSVNDDFS"},
            {u"dbcUtDespTribDifal",
             u"Utiliza Conta \"Despesa Tributária\" para a partida de Diferencial de Alíquota",
             u"IDDESPTRIBDIFAL"},
            {u"dbcConsDtMoviRet",
             u"Considera \"Data da Movimentação\" na Contabilização das Retiradas",
             u"IDCONSDTMOVIRETEST"},
            {u"cdbcContabSinte", u"Contabilidade por Lote Sintetica na Integracao com Conciliador",
             u"IDCTBSINTETICO"},
            {u"dbcEstLancCont", u"Gera Estorno de Lançamento Contábil", u"IDGERESTLANCONT"},
            {u"dbcContaAjusDtComp", u"Contabiliza Ajuste Data de Competência", u"IDCONTAJUDTCOMP"},
            {u"dbcContaExclICMSSep", u"Contabiliza o valor de exclusão do ICMS separadamente",
             u"IDCONTVREXCICMSEP"},
            {u"dbcConGGF", u"Controla parte gerencial para contas vinculadas ao GGF",
             u"IDCONGERGGF"},
        };
        for (const auto &r : rows)
            QTest::newRow(QString::fromUtf16(r[0]).toUtf8().constData())
                << QString::fromUtf16(r[0]) << QString::fromUtf16(r[1]) << QString::fromUtf16(r[2]);
    }

    // Each box shows its own flag of the current record.
    void controlChecks() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, field);
        TfrmParamContab *s = Open(*m_demo);
        auto *box = s->findChild<TDBCheckBox *>(name);
        QVERIFY(box);
        QCOMPARE(box->text(), caption);
        QCOMPARE(box->DataField(), field);
        QCOMPARE(box->parentWidget(), static_cast<QWidget *>(s->grbControle));
        for (const QString &value : {u"S"_s, u"N"_s}) {
            s->cdsContOpe->Edit();
            s->cdsContOpe->FieldByName(field)->SetAsString(value);
            QCOMPARE(box->isChecked(), value == u"S"_s);
            s->cdsContOpe->Cancel();
        }
    }

    void keyboardOrder() {
        TfrmParamContab *s = Open(*m_demo);
        const auto follows = [](QWidget *from, QWidget *to) {
            // Walk the focus chain from `from`; `to` must be the next focusable widget.
            QWidget *w = from->nextInFocusChain();
            while (w != from && !(w->focusPolicy() & Qt::TabFocus))
                w = w->nextInFocusChain();
            return w == to;
        };
        QVERIFY(follows(s->ddeFinCont, s->ddeIniLanc));
        QVERIFY(follows(s->ddeFinLanc, s->ddeIniDocFisEntr));
        QVERIFY(follows(s->ddeFimInte, s->dtIniGpa));
        QVERIFY(follows(s->dbdFinVendExt, s->dbeCdEmpresa));
        QVERIFY(follows(s->dbcContaExclICMSSep, s->dbcRatProd));
        QVERIFY(follows(s->dbcRatProd, s->dbcConGGF));
        QVERIFY(follows(s->dbcCusto, s->dbcComercial));
        // Month-and-year edits for the two whole-month periods only.
        for (TDBDateEditPlus *edit : s->DateEdits()) {
            const bool monthly = edit == s->ddeIniCont || edit == s->ddeFinCont ||
                                 edit == s->ddeIniLanc || edit == s->ddeFinLanc;
            QCOMPARE(edit->ShowDia(), !monthly);
            QCOMPARE(edit->WeekDays().value(2), u"Terça"_s);
        }
    }
};

QTEST_MAIN(TstParamScreen)
#include "tst_paramscreen.moc"
