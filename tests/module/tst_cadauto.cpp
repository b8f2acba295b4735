// The bulk-registration screen against a real demo ger-server: its elements and enabling, the
// company choice and what both radio pairs show, the local checks in their order, the server's
// inconsistency list, and the apply checked in the database afterwards. Driven through the
// screen's own controls; the person at the desk is the scripted host and the list dialog script.
#include "bulk_screen/frmcadauto.h"
#include "components/btnpesquisa.h"
#include "components/dateeditplus.h"
#include "components/functions.h"
#include "components/pesquisalistadialog.h"
#include "components/toolbutton.h"
#include "dataset/clientdataset.h"
#include "package/pkg_ger09400.h"
#include "param_screen/frmparamcontab.h"
#include "rpc/netconnection.h"
#include "serverprocess.h"
#include "shared/paramctblclient.h"
#include "testhost.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QJsonArray>
#include <QMap>
#include <QPointer>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Today as a reset edit reads it: a month-only edit holds the month's first day.
QString Shown(const TDateEditPlus *edit) {
    const TDateTime today = DateTimeUtil::Today();
    return DateTimeUtil::FormatDate(edit->ShowDia() ? today : PriDiaMes(today));
}

// What the typing of a test leaves in the edits: "name=text" pairs.
using Typing = QStringList;

// A whole set of periods that passes every local check: 2027, posting in January.
const Typing Valid2027 = {
    u"depPerInicial=01/2027"_s,    u"depPerFinal=12/2027"_s,      u"depLancInicial=01/2027"_s,
    u"depLancFinal=01/2027"_s,     u"depDFEInicial=01/01/2027"_s, u"depDFEFinal=31/01/2027"_s,
    u"depDFSInicial=01/01/2027"_s, u"depDFSFinal=31/01/2027"_s,   u"depFINInicial=01/01/2027"_s,
    u"depFINFinal=31/01/2027"_s,   u"depGPAInicial=01/01/2027"_s, u"depGPAFinal=31/01/2027"_s,
    u"depFICALInicial="_s,         u"depFISCALFinal="_s,          u"depVENEXTInicial="_s,
    u"depVENEXTFinal="_s,
};

Typing With(Typing base, const Typing &changes) {
    for (const QString &change : changes) {
        const QString name = change.section(u'=', 0, 0);
        for (QString &entry : base)
            if (entry.section(u'=', 0, 0) == name)
                entry = change;
    }
    return base;
}

} // namespace

class TstCadAuto final : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<ServerProcess> m_server;
    std::unique_ptr<TestHost> m_host;
    std::unique_ptr<TNetConnection> m_other;
    QPointer<TfrmCadAuto> m_screen;

    void StartServer() {
        if (frmParamContab && bostCriado)
            frmParamContab->close();
        Settle();
        m_server = std::make_unique<ServerProcess>();
        QVERIFY2(m_server->Start({u"--log-level"_s, u"info"_s}, 0, u"demo"_s),
                 m_server->Output().constData());
        m_other = std::make_unique<TNetConnection>();
        m_other->SetPort(m_server->Port());
        m_other->SetServerName(u"Ger09400.rdmParamCtbl"_s);
        m_host->Port = m_server->Port();
        IniProc();
        Settle();
    }

    void ExecOnServer(const QString &statement) {
        QVERIFY2(m_server->ExecSql({statement}), qPrintable(statement));
    }

    // One column of every stored record, "code=value", as another user's client reads it.
    QStringList Stored(const QString &field) {
        TClientDataSet rows;
        ParamCtblMethods::LoadPacket(
            rows, CheckResultServ(ParamCtblMethods::GetContOpe(*m_other), true, 0).toArray().at(0));
        QStringList out;
        for (rows.First(); !rows.Eof(); rows.Next()) {
            TField *f = rows.FieldByName(field);
            out << rows.FieldByName(u"CDEMPRESA"_s)->AsString() + u'=' +
                       (f->IsNull() ? u"-"_s
                        : f->DataType() == TFieldType::Date
                            ? DateTimeUtil::FormatDate(f->AsDateTime())
                            : f->AsString());
        }
        return out;
    }

    QStringList Calls(qsizetype from) { return m_server->LoggedCalls(from); }

    TfrmCadAuto *OpenScreen() {
        m_screen = TfrmRotiGeral::Create<TfrmCadAuto>(Application());
        m_screen->show();
        Settle();
        QApplication::setActiveWindow(m_screen);
        return m_screen;
    }

    void Type(TfrmCadAuto *s, const Typing &typing) {
        for (const QString &entry : typing) {
            auto *edit = s->findChild<TDateEditPlus *>(entry.section(u'=', 0, 0));
            QVERIFY2(edit, qPrintable(entry));
            edit->setText(entry.section(u'=', 1));
        }
    }

    // Switches on as a person clicks them (their handlers run, and reset the dates).
    void Switch(TfrmCadAuto *s, bool periods, bool controls) {
        if (periods != s->ckcPeriodos->isChecked())
            s->ckcPeriodos->click();
        if (controls != s->ckcControle->isChecked())
            s->ckcControle->click();
    }

private Q_SLOTS:
    void initTestCase() {
        m_host = std::make_unique<TestHost>();
        Initialize();
        QStringList local{u"DROP TABLE IF EXISTS EMPRESA"_s,
                          u"CREATE TABLE EMPRESA (CDEMPRESA TEXT, NMEMPRESA TEXT)"_s};
        for (int n = 1; n <= 12; ++n)
            local << u"INSERT INTO EMPRESA VALUES ('%1', 'Empresa %1')"_s.arg(n, 2, 10,
                                                                              QChar(u'0'));
        m_host->ExecLocal(local);
        StartServer();
    }

    void cleanup() {
        if (m_screen)
            m_screen->close();
        Settle();
        PesquisaListaDialog::SetScript({});
        stEmpresa.clear();
        SetCursorDefault();
        m_host->ClearRecords();
    }

    void cleanupTestCase() {
        if (bostCriado && frmParamContab)
            frmParamContab->close();
        Settle();
        Finalize();
        m_host.reset();
    }

    // --- the screen as it opens -------------------------------------------------------------

    void opensAsBuilt() {
        TfrmCadAuto *s = OpenScreen();
        QCOMPARE(s->windowTitle(), u"Cadastramento Automático"_s);
        QCOMPARE(s->lblCodTela->text(), u"GER09410"_s);
        QCOMPARE(s->size(), QSize(616, 560));
        QCOMPARE(s->grbPeriodos->title(), u"Alteração de Periodos   "_s);
        QCOMPARE(s->grbControle->title(), u"Alteração dos Controles de Lançamentos  "_s);
        // The switches stand outside what they govern and are skipped by Tab.
        QCOMPARE(s->ckcPeriodos->parentWidget(), s);
        QCOMPARE(s->ckcControle->parentWidget(), s->grbDadosRel);
        for (QCheckBox *sw : {s->ckcPeriodos, s->ckcControle}) {
            QVERIFY(!(sw->focusPolicy() & Qt::TabFocus));
            QVERIFY(!sw->isChecked());
            // On the caption line, right of the caption's text.
            const QRect onScreen(sw->mapToGlobal(QPoint(0, 0)), sw->size());
            QGroupBox *group = sw == s->ckcPeriodos ? s->grbPeriodos : s->grbControle;
            const QPoint groupTop = group->mapToGlobal(QPoint(0, 0));
            QVERIFY(onScreen.left() > groupTop.x() + group->fontMetrics().horizontalAdvance(
                                                         group->title().trimmed()));
            QVERIFY(qAbs(onScreen.center().y() - groupTop.y()) < onScreen.height());
        }
        QVERIFY(s->rbtLista->isChecked() && !s->rbtTodas->isChecked());
        QVERIFY(s->btpEmpresa->isEnabled() && s->BtnPesquisa2->isEnabled());
        QCOMPARE(s->btpEmpresa->Hint(), u"Pesquisar"_s);

        // After the show: every date today, disabled, on the button face; boxes disabled.
        const QColor face = QApplication::palette().color(QPalette::Button);
        for (TDateEditPlus *edit : s->DateEdits()) {
            QCOMPARE(DateTimeUtil::FormatDate(edit->GetDate()) + edit->objectName(),
                     Shown(edit) + edit->objectName());
            QVERIFY(!edit->isEnabled());
            QCOMPARE(edit->palette().color(QPalette::Base), face);
        }
        for (QCheckBox *box : s->ControlChecks())
            QVERIFY(!box->isEnabled() && !box->isChecked());
        QVERIFY(s->grbPeriodos->isEnabled() && s->grbControle->isEnabled());
        // None of it is cut off: every element lies inside the window.
        for (QWidget *w : s->findChildren<QWidget *>()) {
            if (!w->isVisible() || w->objectName().isEmpty())
                continue;
            const QRect r(w->mapTo(s, QPoint(0, 0)), w->size());
            QVERIFY2(s->rect().contains(r), qPrintable(w->objectName()));
            if (auto *box = qobject_cast<QCheckBox *>(w); box && !box->text().isEmpty())
                QVERIFY2(box->width() >= box->sizeHint().width(),
                         qPrintable(box->text() + u" %1 %2 %3 %4"_s.arg(box->width())
                                                      .arg(box->sizeHint().width())
                                                      .arg(s->panMenu->width())
                                                      .arg(s->grbDadosRel->width())));
        }
    }

    void dateEditsAndBoxes_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<bool>("monthOnly");
        const QStringList rows = {
            u"depPerInicial|Data Inicial do Período Contábil|1"_s,
            u"depPerFinal|Data Final do Período Contábil|1"_s,
            u"depLancInicial|Data Inicial do Período de Lançamento|1"_s,
            u"depLancFinal|Data Final do Período de Lançamento|1"_s,
            u"depDFEInicial|Data Inicial da Integração do DFE|0"_s,
            u"depDFEFinal|Data Final da Integração do DFE|0"_s,
            u"depDFSInicial|Data Inicial da Integração do DFS|0"_s,
            u"depDFSFinal|Data Final da Integração do DFS|0"_s,
            u"depFINInicial|Data Inicial da Integração do Financeiro|0"_s,
            u"depFINFinal|Data Final da Integração do Financeiro|0"_s,
            u"depGPAInicial|Data Inicial da Integração do GPA|0"_s,
            u"depGPAFinal|Data Final da Integração do GPA|0"_s,
            u"depFICALInicial|Data Inicial da Integração do FISCAL|0"_s,
            u"depFISCALFinal|Data Final da Integração do FISCAL|0"_s,
            u"depVENEXTInicial|Data Inicial da Integração da Vendas Extemporâneas|0"_s,
            u"depVENEXTFinal|Data Final da Integração da Vendas Extemporâneas|0"_s,
        };
        for (int i = 0; i < rows.size(); ++i) {
            const QStringList c = rows[i].split(u'|');
            QTest::newRow(qPrintable(c[0])) << i << c[0] << c[1] << (c[2] == u"1"_s);
        }
    }

    void dateEditsAndBoxes() {
        QFETCH(int, index);
        QFETCH(QString, name);
        QFETCH(QString, hint);
        QFETCH(bool, monthOnly);
        TfrmCadAuto *s = OpenScreen();
        TDateEditPlus *edit = s->DateEdits().at(index);
        QCOMPARE(edit->objectName(), name);
        QCOMPARE(edit->Hint(), hint);
        QCOMPARE(edit->ShowDia(), !monthOnly);
        QCOMPARE(edit->EditStyle(),
                 monthOnly ? TDateEditPlus::desUpDown : TDateEditPlus::desNormal);
        QVERIFY(!edit->SaveTime());
        QCOMPARE(edit->ValidDateColor(), QColor(Qt::blue));
        if (index == 0) {
            QStringList captions;
            for (QCheckBox *box : s->ControlChecks())
                captions << box->objectName() + u' ' + box->text();
            QCOMPARE(captions.size(), 14);
            QCOMPARE(captions[0], u"ckcContCCus Controla Centro de Custo"_s);
            QCOMPARE(captions[9], u"ckcUtilizaCNT Utiliza Conta ''Despesa Tributária'' para a "
                                  "partida de Diferencial de Alíquota"_s);
            QCOMPARE(captions[13], u"ckcContVrExcICMSep Contabiliza o valor de exclusão do ICMS "
                                   "separadamente"_s);
        }
    }

    // --- switches ---------------------------------------------------------------------------

    void periodsSwitchResetsTheDates() {
        TfrmCadAuto *s = OpenScreen();
        s->ckcPeriodos->click();
        QVERIFY(s->grbPeriodos->isEnabled());
        const QColor info = QApplication::palette().color(QPalette::ToolTipBase);
        for (TDateEditPlus *edit : s->DateEdits())
            QVERIFY(edit->isEnabled() && edit->palette().color(QPalette::Base) == info);
        Type(s, Valid2027);
        s->ckcPeriodos->click(); // off
        QVERIFY(!s->grbPeriodos->isEnabled());
        QVERIFY(s->ckcPeriodos->isEnabled()); // its own switch stays usable
        s->ckcPeriodos->click();              // on again: the typed dates are gone
        for (TDateEditPlus *edit : s->DateEdits())
            QCOMPARE(DateTimeUtil::FormatDate(edit->GetDate()), Shown(edit));
    }

    void controlsSwitchKeepsTheChecks() {
        TfrmCadAuto *s = OpenScreen();
        s->ckcControle->click();
        s->ckcRatProd->click();
        s->ckcGeraEstorno->click();
        s->ckcControle->click(); // off
        QVERIFY(!s->grbControle->isEnabled() && !s->ckcRatProd->isEnabled());
        QVERIFY(s->ckcControle->isEnabled());
        QCOMPARE(s->RetornaValor(s->ckcRatProd), u"S"_s);
        QCOMPARE(s->RetornaValor(s->ckcGeraEstorno), u"S"_s);
        QCOMPARE(s->RetornaValor(s->ckcContCCus), u"N"_s);
    }

    void leavingADateOnlyChecksIt() {
        TfrmCadAuto *s = OpenScreen();
        s->ckcPeriodos->click();
        s->depDFEInicial->setFocus();
        s->depDFEInicial->setText(u"31/02/2027"_s);
        s->depDFEFinal->setFocus(); // the exit handler runs
        QCOMPARE(m_host->ErrorTexts(), QStringList{u"'31/02/2027' não é uma data válida."_s});
        // A valid date is left as typed: no month rounding, no comparison with its pair.
        m_host->ClearRecords();
        s->depLancFinal->setFocus();
        s->depLancFinal->setText(u"03/2020"_s);
        s->depPerInicial->setFocus();
        QCOMPARE(m_host->ErrorTexts(), QStringList{});
        QCOMPARE(s->depLancFinal->Text(), u"03/2020"_s);
    }

    // --- company choice ---------------------------------------------------------------------

    void companyChoice_data() {
        QTest::addColumn<QString>("before"); // stEmpresa when the screen opens
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first opening") << QString() << QStringList{} << QString();
        QTest::newRow("Todas") << QString() << QStringList{u"rbtTodas"_s} << u"T"_s;
        QTest::newRow("Todas then Lista")
            << QString() << QStringList{u"rbtTodas"_s, u"rbtLista"_s} << QString();
        QTest::newRow("a list, then Todas and Lista drop it")
            << QString() << QStringList{u"btpEmpresa:01,03"_s, u"rbtTodas"_s, u"rbtLista"_s}
            << QString();
        QTest::newRow("dialog list")
            << QString() << QStringList{u"btpEmpresa:01,03"_s} << u"01,03"_s;
        QTest::newRow("reopened after Todas shows Todas") << u"T"_s << QStringList{} << u"T"_s;
        QTest::newRow("reopened after a list") << u"02,04"_s << QStringList{} << u"02,04"_s;
        QTest::newRow("Filial Todas shows on both pairs")
            << QString() << QStringList{u"RadioButton1"_s} << u"T"_s;
        QTest::newRow("Filial Lista") << u"T"_s << QStringList{u"RadioButton2"_s} << QString();
        QTest::newRow("Filial search while Todas")
            << QString() << QStringList{u"rbtTodas"_s, u"BtnPesquisa2:05"_s} << u"05"_s;
        QTest::newRow("dialog cancelled keeps the choice")
            << u"T"_s << QStringList{u"BtnPesquisa2:cancel"_s} << u"T"_s;
    }

    void companyChoice() {
        QFETCH(QString, before);
        QFETCH(QStringList, clicks);
        QFETCH(QString, expected);
        stEmpresa = before;
        TfrmCadAuto *s = OpenScreen();
        for (const QString &click : clicks) {
            const QString name = click.section(u':', 0, 0);
            const QString answer = click.section(u':', 1);
            if (!answer.isEmpty()) {
                PesquisaListaDialog::SetScript([answer](PesquisaListaDialog &dialog) {
                    if (answer == u"cancel"_s)
                        return false;
                    dialog.UncheckAll();
                    for (const QString &code : answer.split(u','))
                        dialog.SetCheckedCode(code, true);
                    return true;
                });
            }
            auto *button = s->findChild<QAbstractButton *>(name);
            QVERIFY2(button, qPrintable(name));
            button->click();
        }
        QCOMPARE(stEmpresa, expected);
        // Both pairs show what a confirm would apply.
        const bool all = expected == u"T"_s;
        QCOMPARE(s->rbtTodas->isChecked(), all);
        QCOMPARE(s->rbtLista->isChecked(), !all);
        QCOMPARE(s->RadioButton1->isChecked(), all);
        QCOMPARE(s->RadioButton2->isChecked(), !all);
        QCOMPARE(s->btpEmpresa->isEnabled(), !all);
        QVERIFY(s->BtnPesquisa2->isEnabled());
        QCOMPARE(m_host->ErrorTexts(), QStringList{});
    }

    void dialogOffersTheCompaniesWithTheCurrentList() {
        stEmpresa = u"02,04"_s;
        TfrmCadAuto *s = OpenScreen();
        QString title, preselected;
        int rows = 0;
        PesquisaListaDialog::SetScript([&](PesquisaListaDialog &dialog) {
            title = dialog.windowTitle();
            preselected = dialog.CheckedList();
            rows = dialog.RowCount();
            return false;
        });
        s->btpEmpresa->click();
        QCOMPARE(title, u"Empresa"_s);
        QCOMPARE(preselected, u"02,04"_s);
        QCOMPARE(rows, 12);
    }

    void selectionEmptiedWhenTheModuleUnloads() {
        frmParamContab->close(); // the host unloads the package only with its screens closed
        Settle();
        stEmpresa = u"T"_s;
        Initialize(); // a nested load
        Finalize();
        QCOMPARE(stEmpresa, u"T"_s); // survives: the package is still loaded
        Finalize();                  // the last unload
        QVERIFY(stEmpresa.isEmpty());
        Initialize();
        IniProc();
        Settle();
    }

    // --- local checks -----------------------------------------------------------------------

    void localChecks_data() {
        QTest::addColumn<QString>("companies");
        QTest::addColumn<bool>("periods");
        QTest::addColumn<bool>("controls");
        QTest::addColumn<Typing>("typing");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus"); // "" = left where it was
        const QString inside = u" deve estar dentro do Período Contábil."_s;
        const QString order = u"Data final deve ser maior ou igual à data inicial."_s;
        QTest::newRow("no company comes first")
            << QString() << false << false << Typing{} << u"Empresa deve ser informada."_s
            << u"rbtLista"_s;
        QTest::newRow("no switch")
            << u"T"_s << false << false << Typing{}
            << u"Para alterar as parametrizações das empresas é necessário selecionar ao menos "
               "uma das opções (Períodos ou Controles de Lançamentos)."_s
            << QString();
        QTest::newRow("accounting start missing")
            << u"T"_s << true << false << With(Valid2027, {u"depPerInicial="_s})
            << u"Data Inicial do Período Contábil deve ser informada."_s << u"depPerInicial"_s;
        QTest::newRow("accounting end before start")
            << u"T"_s << true << false
            << With(Valid2027, {u"depPerInicial=05/2027"_s, u"depPerFinal=04/2027"_s}) << order
            << u"depPerFinal"_s;
        QTest::newRow("posting end missing before the finance checks")
            << u"T"_s << true << false << With(Valid2027, {u"depLancFinal="_s, u"depFINInicial="_s})
            << u"Data Final do Período de Lançamento deve ser informada."_s << u"depLancFinal"_s;
        QTest::newRow("posting one day before the period")
            << u"T"_s << true << false
            << With(Valid2027, {u"depPerInicial=02/2027"_s, u"depLancInicial=01/2027"_s})
            << u"Data Inicial do Período de Lançamento"_s + inside << u"depLancInicial"_s;
        QTest::newRow("order before inside")
            << u"T"_s << true << false
            << With(Valid2027, {u"depDFSInicial=10/02/2028"_s, u"depDFSFinal=09/02/2028"_s})
            << order << u"depDFSFinal"_s;
        QTest::newRow("finance end after the period")
            << u"T"_s << true << false << With(Valid2027, {u"depFINFinal=01/01/2028"_s})
            << u"Data Final da Integração do Financeiro"_s + inside << u"depFINFinal"_s;
        QTest::newRow("asset start not a date: the control's own words")
            << u"T"_s << true << false << With(Valid2027, {u"depGPAInicial=31/02/2027"_s})
            << u"'31/02/2027' não é uma data válida."_s << QString();
        QTest::newRow("tax outside the period passes; tax order checked")
            << u"T"_s << true << false
            << With(Valid2027, {u"depFICALInicial=01/01/2030"_s, u"depFISCALFinal=31/12/2029"_s})
            << order << u"depFISCALFinal"_s;
        QTest::newRow("late sales with only the end: the start is held")
            << u"T"_s << true << false << With(Valid2027, {u"depVENEXTFinal=31/01/2027"_s})
            << u"Data Inicial da Integração da Vendas Extemporâneas"_s + inside
            << u"depVENEXTInicial"_s;
        QTest::newRow("late sales after the period")
            << u"T"_s << true << false
            << With(Valid2027, {u"depVENEXTInicial=01/12/2027"_s, u"depVENEXTFinal=01/01/2028"_s})
            << u"Data Final da Integração da Vendas Extemporâneas"_s + inside
            << u"depVENEXTFinal"_s;
    }

    void localChecks() {
        QFETCH(QString, companies);
        QFETCH(bool, periods);
        QFETCH(bool, controls);
        QFETCH(Typing, typing);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        stEmpresa = companies;
        TfrmCadAuto *s = OpenScreen();
        Switch(s, periods, controls);
        Type(s, typing);
        s->sbtConfirma->setFocus();
        const qsizetype from = m_server->LogMark();
        s->sbtConfirma->click();
        QCOMPARE(m_host->ErrorTexts(), QStringList{message});
        QWidget *expected = focus.isEmpty() ? s->sbtConfirma : s->findChild<QWidget *>(focus);
        QCOMPARE(s->focusWidget(), expected);
        QCOMPARE(Calls(from), QStringList{});
        QCOMPARE(m_host->BusyCalls.value(m_host->BusyCalls.size() - 1), u"hide"_s);
    }

    void boundaryDatesPass() {
        // Posting from the period's first day to its last month's last day, start = end pairs,
        // a tax pair wholly outside the period: all accepted, and nothing inconsistent for 05.
        stEmpresa = u"05"_s;
        TfrmCadAuto *s = OpenScreen();
        Switch(s, true, false);
        Type(s, With(Valid2027, {u"depLancFinal=12/2027"_s, u"depDFEInicial=31/12/2027"_s,
                                 u"depDFEFinal=31/12/2027"_s, u"depFICALInicial=01/01/2020"_s,
                                 u"depFISCALFinal=31/12/2020"_s}));
        s->sbtConfirma->click();
        QCOMPARE(m_host->ErrorTexts().join(u"|"_s), QString());
        QCOMPARE(m_host->BoxTexts(),
                 QStringList{u"Cadastramento automático efetuado com sucesso!"_s});
        QCOMPARE(m_host->Boxes.last().Buttons, int(mbOK));
        QCOMPARE(m_host->Boxes.last().Type, TMsgDlgType::mtInformation);
        QVERIFY(Stored(u"DTFINALANC"_s).contains(u"05=31/12/2027"_s));
        QVERIFY(Stored(u"DTINIINTCONTFIS"_s).contains(u"05=01/01/2020"_s));
    }

    // --- the server's list of inconsistencies -------------------------------------------------

    void inconsistencies_data() {
        QTest::addColumn<QString>("companies");
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QStringList>("lines"); // after the sentence
        QTest::addColumn<int>("detailLines");   // 0: no details
        const QString recalc = u"Empresa %1 possui lançamentos pendentes de recálculo fiscal "
                               "desde %2."_s;
        const QString balance = u"Empresa %1 possui saldo com data superior à data informada "
                                "para final do Período Contábil."_s;
        QTest::newRow("one row") << u"3"_s << QStringList{}
                                 << QStringList{recalc.arg(u"03"_s, u"05/10/2026"_s)} << 0;
        QTest::newRow("kind 1 before kind 2 of the same company")
            << u"04"_s
            << QStringList{u"UPDATE LANCCONT SET IDRECALCFISC = 'S' WHERE CDEMPRESA = '04' AND "
                           "DTLANC = (SELECT MIN(DTLANC) FROM LANCCONT WHERE CDEMPRESA = '04')"_s,
                           u"INSERT INTO SALDEMPR VALUES ('04', '2028-03-31', '1.1', 1, 1)"_s}
            << QStringList{recalc.arg(u"04"_s, u"05/01/2026"_s), balance.arg(u"04"_s)} << 0;
        // Fifteen rows: kind 1 for every company with entries (01-09 but 05), kind 2 for 01-07.
        QStringList fifteen{u"UPDATE LANCCONT SET IDRECALCFISC = 'S' WHERE CDEMPRESA <= '09' "
                            "AND DTLANC >= '2026-01-01'"_s};
        for (int n = 1; n <= 7; ++n)
            fifteen << u"INSERT INTO SALDEMPR VALUES ('%1', '2028-03-31', '1.1', 1, 1)"_s.arg(
                n, 2, 10, QChar(u'0'));
        QStringList eleven;
        for (const QString &code : {u"01"_s, u"02"_s, u"03"_s, u"04"_s, u"05"_s, u"06"_s}) {
            if (code != u"05"_s)
                eleven << recalc.arg(code, u"05/01/2026"_s);
            eleven << balance.arg(code);
        }
        QTest::newRow("fifteen rows list eleven") << u"T"_s << fifteen << eleven << 15;
    }

    void inconsistencies() {
        QFETCH(QString, companies);
        QFETCH(QStringList, setup);
        QFETCH(QStringList, lines);
        QFETCH(int, detailLines);
        StartServer();
        for (const QString &statement : setup)
            ExecOnServer(statement);
        const QStringList before = Stored(u"DTFINACONT"_s);
        stEmpresa = companies;
        TfrmCadAuto *s = OpenScreen();
        Switch(s, true, true);
        Type(s, Valid2027);
        m_host->ClearRecords();
        const qsizetype from = m_server->LogMark();
        s->sbtConfirma->click();
        QCOMPARE(m_host->Boxes.size(), 1);
        const QString text = m_host->Boxes[0].Text;
        QCOMPARE(text.split(u'\r'),
                 QStringList{u"Foram encontadas inconsistências que deverão ser corrigidas antes "
                             "do cadastramento automático. Confira na lista abaixo!"_s} +
                     lines);
        QVERIFY(!text.contains(u'\n'));
        QCOMPARE(m_host->Boxes[0].Details.isEmpty() ? 0 : m_host->Boxes[0].Details.count(u'\n') + 1,
                 detailLines);
        QCOMPARE(m_host->BusyCalls.first(),
                 u"show:1:Realizando validações por empresa no servidor..."_s);
        QCOMPARE(m_host->BusyCalls.last(), u"hide"_s);
        QCOMPARE(Calls(from), QStringList{u"getErrosCadAuto"_s});
        QCOMPARE(Stored(u"DTFINACONT"_s), before); // nothing sent
        if (companies == u"3"_s)
            QCOMPARE(stEmpresa, u"03"_s); // what the server wrote back
        StartServer();
    }

    // --- apply ------------------------------------------------------------------------------

    void apply_data() {
        QTest::addColumn<QString>("companies");
        QTest::addColumn<bool>("periods");
        QTest::addColumn<bool>("controls");
        QTest::addColumn<QStringList>("changed"); // companies whose record changed
        const QStringList all{u"01"_s, u"02"_s, u"03"_s, u"04"_s, u"05"_s, u"06"_s,
                              u"07"_s, u"08"_s, u"09"_s, u"10"_s, u"11"_s, u"12"_s};
        const QStringList two{u"05"_s, u"10"_s};
        QTest::newRow("periods, all") << u"T"_s << true << false << all;
        QTest::newRow("controls, all") << u"T"_s << false << true << all;
        QTest::newRow("both, all") << u"T"_s << true << true << all;
        QTest::newRow("periods, list") << u"05,10"_s << true << false << two;
        QTest::newRow("controls, list") << u"05,10"_s << false << true << two;
        QTest::newRow("both, list") << u"05,10"_s << true << true << two;
    }

    void apply() {
        QFETCH(QString, companies);
        QFETCH(bool, periods);
        QFETCH(bool, controls);
        QFETCH(QStringList, changed);
        StartServer();
        // Nothing inconsistent with a 2027 period anywhere.
        ExecOnServer(u"UPDATE LANCCONT SET IDRECALCFISC = 'N'"_s);
        ExecOnServer(u"DELETE FROM SALDEMPR WHERE DTSALDEMPR > '2027-12-31'"_s);
        const QStringList endBefore = Stored(u"DTFINACONT"_s);
        const QStringList flagBefore = Stored(u"IDCONSRATPROD"_s);
        stEmpresa = companies;
        TfrmCadAuto *s = OpenScreen();
        Switch(s, periods, controls);
        if (periods)
            Type(s, Valid2027);
        if (controls)
            s->ckcRatProd->click(); // IDCONSRATPROD "S"
        const qsizetype from = m_server->LogMark();
        s->sbtConfirma->click();
        QCOMPARE(m_host->ErrorTexts(), QStringList{});
        QCOMPARE(Calls(from), periods ? (QStringList{u"getErrosCadAuto"_s, u"setCadAuto"_s})
                                      : QStringList{u"setCadAuto"_s});
        QVERIFY(m_host->BusyCalls.contains(u"show:1:Realizando cadastramento automático..."_s));
        QCOMPARE(m_host->BusyCalls.last(), u"hide"_s);

        const auto asMap = [](const QStringList &entries) {
            QMap<QString, QString> map;
            for (const QString &e : entries)
                map.insert(e.section(u'=', 0, 0), e.section(u'=', 1));
            return map;
        };
        const QMap<QString, QString> endWas = asMap(endBefore), flagWas = asMap(flagBefore);
        const QMap<QString, QString> endIs = asMap(Stored(u"DTFINACONT"_s));
        const QMap<QString, QString> flagIs = asMap(Stored(u"IDCONSRATPROD"_s));
        for (auto it = endIs.begin(); it != endIs.end(); ++it) {
            const QString &code = it.key();
            const bool target = changed.contains(code);
            const bool existed = endWas.contains(code);
            QVERIFY2(target || existed, qPrintable(code)); // no record for an untouched company
            const QString end = periods && target ? u"31/12/2027"_s : endWas.value(code);
            if (existed || periods)
                QCOMPARE(code + u'=' + it.value(), code + u'=' + end);
            const QString flag = controls && target ? u"S"_s : flagWas.value(code);
            if (existed || controls)
                QCOMPARE(code + u'=' + flagIs.value(code), code + u'=' + flag);
        }
        for (const QString &code : changed)
            QVERIFY2(endIs.contains(code), qPrintable(code));
        // The companies that got a record are in the local copies at once.
        QVERIFY(m_host->CacheRefreshes.contains(QStringList{u"EMPRESA"_s, u"CONTOPECTBL"_s}));
    }

    void requestRowAsSent() {
        // Periods off: the dates still travel, today's, with the two period ends widened.
        stEmpresa = u"05"_s;
        TfrmCadAuto *s = OpenScreen();
        Switch(s, false, true);
        s->ckcContCCus->click();
        s->sbtConfirma->click();
        QCOMPARE(m_host->ErrorTexts(), QStringList{});
        TClientDataSet *row = s->cdsCadAuto;
        QCOMPARE(row->RecordCount(), 1);
        QCOMPARE(row->FieldCount(), 30);
        QCOMPARE(row->Fields(0)->FieldName(), u"DTINIPER"_s);
        QCOMPARE(row->Fields(16)->FieldName(), u"IDCONTCCUS"_s);
        QCOMPARE(row->Fields(29)->FieldName(), u"IDCONSRATPROD"_s);
        const TDateTime today = DateTimeUtil::Today();
        QCOMPARE(row->FieldByName(u"DTINIPER"_s)->AsDateTime(), PriDiaMes(today));
        QCOMPARE(row->FieldByName(u"DTFINPER"_s)->AsDateTime(), UltimoDiaMes(today));
        QCOMPARE(row->FieldByName(u"DTFINLANC"_s)->AsDateTime(), UltimoDiaMes(today));
        QCOMPARE(row->FieldByName(u"DTFINDFE"_s)->AsDateTime(), today);
        QCOMPARE(row->FieldByName(u"IDCONTCCUS"_s)->AsString(), u"S"_s);
        QCOMPARE(row->FieldByName(u"IDGERAESTCONT"_s)->AsString(), u"N"_s);
        QVERIFY(Stored(u"IDCONTGERE"_s).contains(u"05=S"_s));
    }

    void emptyOptionalDatesAreStoredWithoutValue() {
        StartServer();
        ExecOnServer(u"DELETE FROM SALDEMPR WHERE DTSALDEMPR > '2027-12-31'"_s);
        stEmpresa = u"05,10"_s;
        TfrmCadAuto *s = OpenScreen();
        Switch(s, true, false);
        Type(s, Valid2027); // tax and late sales left empty
        s->sbtConfirma->click();
        QCOMPARE(m_host->ErrorTexts(), QStringList{});
        QVERIFY(s->cdsCadAuto->FieldByName(u"DTINIFIS"_s)->IsNull());
        for (const QString &field : {u"DTINIINTCONTFIS"_s, u"DTFININTCONTVEXT"_s}) {
            const QStringList stored = Stored(field);
            QVERIFY2(stored.contains(u"05=-"_s) && stored.contains(u"10=-"_s),
                     qPrintable(stored.join(u' ')));
        }
    }

    void failingApplyChangesNoCompany() {
        stEmpresa = u"01,ZZ"_s; // a company the server does not know
        TfrmCadAuto *s = OpenScreen();
        Switch(s, false, true);
        s->ckcContCCus->click();
        const QStringList before = Stored(u"IDCONTGERE"_s);
        s->sbtConfirma->click();
        QCOMPARE(m_host->ErrorTexts(), QStringList{u"Empresa 'ZZ' não cadastrada."_s});
        QVERIFY(!m_host->BoxTexts().contains(u"Cadastramento automático efetuado com sucesso!"_s));
        QCOMPARE(Stored(u"IDCONTGERE"_s), before);
        QCOMPARE(s->cdsCadAuto->RecordCount(), 1); // the request row stays
        QCOMPARE(m_host->BusyCalls.last(), u"hide"_s);
        QCOMPARE(stEmpresa, u"01,ZZ"_s);
    }

    void secondConfirmRunsEverythingAgain() {
        StartServer();
        ExecOnServer(u"DELETE FROM SALDEMPR WHERE DTSALDEMPR > '2027-12-31'"_s);
        stEmpresa = u"05"_s;
        TfrmCadAuto *s = OpenScreen();
        Switch(s, true, false);
        Type(s, Valid2027);
        const qsizetype from = m_server->LogMark();
        s->sbtConfirma->click();
        s->sbtConfirma->click();
        QCOMPARE(m_host->ErrorTexts(), QStringList{});
        QCOMPARE(Calls(from), (QStringList{u"getErrosCadAuto"_s, u"setCadAuto"_s,
                                           u"getErrosCadAuto"_s, u"setCadAuto"_s}));
        QCOMPARE(s->cdsCadAuto->RecordCount(), 1);
        QVERIFY(s->ckcPeriodos->isChecked()); // nothing reset after success
        QCOMPARE(s->depLancFinal->Text(), u"01/2027"_s);
    }

    // --- opening from the parameter screen, and closing ---------------------------------------

    void closesEvenWhenTheReloadFails() {
        TfrmCadAuto *s = OpenScreen();
        m_server->Stop();
        s->close();
        Settle();
        QVERIFY(!m_screen);                       // closed and released
        QCOMPARE(m_host->ErrorTexts().size(), 1); // the failed reload is reported
        StartServer();
    }

    void toolbarOpensModallyAndClosingReloads() {
        TfrmParamContab *p = frmParamContab;
        QVERIFY(p);
        QVERIFY(!p->sbtCadAuto->icon().isNull());
        QCOMPARE(p->sbtCadAuto->Hint(), u"Confirmar"_s);
        // Another user changes a record meanwhile; nothing is applied here.
        TClientDataSet rows;
        ParamCtblMethods::LoadPacket(
            rows, CheckResultServ(ParamCtblMethods::GetContOpe(*m_other), true, 0).toArray().at(0));
        rows.First();
        const QString code = rows.FieldByName(u"CDEMPRESA"_s)->AsString();
        rows.Edit();
        rows.FieldByName(u"IDCONGERGGF"_s)->SetAsString(u"S"_s);
        rows.Post();
        CheckResultServ(ParamCtblMethods::SetContOpe(*m_other, rows.GetDelta()), true, 0);

        QPointer<QWidget> seen;
        bool modal = false;
        QTimer::singleShot(50, p, [&] {
            seen = QApplication::activeModalWidget();
            modal = seen && seen == frmCadAuto;
            if (seen)
                seen->close();
        });
        p->sbtCadAuto->Click();
        Settle();
        QVERIFY(modal);
        QVERIFY(!seen); // released at close
        QVERIFY(!frmCadAuto);
        p->cdsContOpe->First();
        QCOMPARE(p->cdsContOpe->FieldByName(u"CDEMPRESA"_s)->AsString(), code);
        QCOMPARE(p->cdsContOpe->FieldByName(u"IDCONGERGGF"_s)->AsString(), u"S"_s);
    }
};

QTEST_MAIN(TstCadAuto)
#include "tst_cadauto.moc"
