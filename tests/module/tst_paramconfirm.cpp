// The parameter screen's company choice and its checks on confirm, against a real ger-server and
// the host's local copies, with real widgets: what the user sees (message, page, focus) for each
// rule, the order in which rules meet, and the balance rule on the server.
#include "components/adoibquery.h"
#include "components/btnpesquisa.h"
#include "components/dbcheckbox.h"
#include "components/dbdateeditplus.h"
#include "components/dbedit.h"
#include "components/functions.h"
#include "components/messages.h"
#include "components/pagecontrol.h"
#include "components/toolbutton.h"
#include "dataset/clientdataset.h"
#include "dataset/datasource.h"
#include "package/pkg_ger09400.h"
#include "param_screen/frmparamcontab.h"
#include "serverprocess.h"
#include "testhost.h"

#include "dataset/exceptions.h"

#include <QApplication>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTabBar>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

TDateTime Day(const QString &text) {
    return *DateTimeUtil::ParseDate(text);
}

// A record whose every period lies inside the 2026 accounting year; tax and late sales left out.
const QList<std::pair<QString, QString>> BaseRecord = {
    {u"DTINICCONT"_s, u"01/01/2026"_s},      {u"DTFINACONT"_s, u"31/12/2026"_s},
    {u"DTINICLANC"_s, u"01/12/2026"_s},      {u"DTFINALANC"_s, u"31/12/2026"_s},
    {u"DTINIINTCONTDFE"_s, u"01/12/2026"_s}, {u"DTFININTCONTDFE"_s, u"31/12/2026"_s},
    {u"DTINIINTCONTDFS"_s, u"01/12/2026"_s}, {u"DTFININTCONTDFS"_s, u"31/12/2026"_s},
    {u"DTINICCTBL"_s, u"01/12/2026"_s},      {u"DTFINACCTBL"_s, u"31/12/2026"_s},
    {u"DTINIINTCONTGPA"_s, u"01/12/2026"_s}, {u"DTFININTCONTGPA"_s, u"31/12/2026"_s},
    {u"DTINIINTCONTFIS"_s, QString()},       {u"DTFININTCONTFIS"_s, QString()},
    {u"DTINIINTCONTVEXT"_s, QString()},      {u"DTFININTCONTVEXT"_s, QString()},
};

} // namespace

class TstParamConfirm final : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<ServerProcess> m_demo;
    std::unique_ptr<ServerProcess> m_empty;
    std::unique_ptr<TestHost> m_host;

    TfrmParamContab *Open(ServerProcess &server) {
        m_host->Port = server.Port();
        IniProc();
        Settle();
        TfrmParamContab *s = frmParamContab;
        (void)QTest::qWaitForWindowExposed(s);
        s->activateWindow();
        QApplication::setActiveWindow(s);
        return s;
    }

    // The local copies as the host keeps them: the demo's twelve companies, records for 01-09.
    void FillLocalCopies(bool withCompanies = true) {
        QStringList statements{u"DROP TABLE IF EXISTS EMPRESA"_s,
                               u"CREATE TABLE EMPRESA (CDEMPRESA TEXT, NMEMPRESA TEXT)"_s,
                               u"DROP TABLE IF EXISTS CONTOPECTBL"_s,
                               u"CREATE TABLE CONTOPECTBL (CDEMPRESA TEXT)"_s};
        if (withCompanies) {
            for (int n = 1; n <= 12; ++n) {
                const QString code = u"%1"_s.arg(n, 2, 10, QLatin1Char('0'));
                statements << u"INSERT INTO EMPRESA VALUES ('%1', 'Empresa %1')"_s.arg(code);
                if (n <= 9)
                    statements << u"INSERT INTO CONTOPECTBL VALUES ('%1')"_s.arg(code);
            }
        }
        m_host->ExecLocal(statements);
    }

    // Puts the screen on company `code`'s record, editing, with the base periods in its fields.
    TfrmParamContab *EditRecord(const QString &code) {
        TfrmParamContab *s = Open(*m_demo);
        TClientDataSet *t = s->cdsContOpe;
        for (t->First(); !t->Eof(); t->Next())
            if (t->FieldByName(u"CDEMPRESA"_s)->AsString() == code)
                break;
        s->mnuControle->Click();
        t->Edit();
        for (const auto &[field, value] : BaseRecord) {
            if (value.isEmpty())
                t->FieldByName(field)->Clear();
            else
                t->FieldByName(field)->SetAsDateTime(Day(value));
        }
        return s;
    }

    // "ddeIniCont:03/2026" types a control's text ("" empties it); "DTINICCONT=15/12/2026" sets a
    // field, as a record loaded from the server would carry it.
    static void Apply(TfrmParamContab *s, const QStringList &changes) {
        for (const QString &change : changes) {
            const qsizetype typed = change.indexOf(u':');
            if (typed > 0) {
                auto *edit = s->findChild<TDBDateEditPlus *>(change.left(typed));
                QVERIFY2(edit, qPrintable(change));
                edit->setText(change.mid(typed + 1));
            } else {
                const qsizetype set = change.indexOf(u'=');
                s->cdsContOpe->FieldByName(change.left(set))
                    ->SetAsDateTime(Day(change.mid(set + 1)));
            }
        }
    }

    void Confirm(TfrmParamContab *s) {
        s->sbtConfirmar->Click(); // from code, so it runs the handler through no guard
    }

    // Runs the confirm as the toolbar does: failures become the boxes the user sees.
    void ConfirmAsUser(TfrmParamContab *s) {
        QVERIFY(s->sbtConfirmar->isEnabled());
        s->sbtConfirmar->click();
        Settle();
    }

    // Test set-up straight into a server's database, beside the running server.
    static void ExecOnServer(ServerProcess &server, const QString &statement) {
        QVERIFY2(server.ExecSql({statement}), qPrintable(statement));
    }

private Q_SLOTS:
    void initTestCase() {
        m_demo = std::make_unique<ServerProcess>();
        m_empty = std::make_unique<ServerProcess>();
        QVERIFY2(m_demo->Start({u"--log-level"_s, u"warn"_s}, 0, u"demo"_s),
                 m_demo->Output().constData());
        QVERIFY2(m_empty->Start({u"--log-level"_s, u"info"_s}, 0, QString()),
                 m_empty->Output().constData());
        // Company 06 closed one day into 2027: its balance lies just after a 2026 period.
        ExecOnServer(*m_demo, u"INSERT INTO SALDEMPR (CDEMPRESA, DTSALDEMPR, CDCONTA, VRSALDODEB, "
                              "VRSALDOCRED) VALUES ('06', '2027-01-01', '1.1.01.001', 1, 1)"_s);
        // The empty server knows one company, without a record.
        ExecOnServer(*m_empty, u"INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) "
                               "VALUES ('10', 'Empresa 10')"_s);
        m_host = std::make_unique<TestHost>();
        Initialize();
    }

    void cleanupTestCase() {
        if (bostCriado && frmParamContab)
            frmParamContab->close();
        Settle();
        Finalize();
        m_host.reset();
    }

    void init() { FillLocalCopies(); }

    void cleanup() {
        if (bostCriado && frmParamContab) {
            TClientDataSet *t = frmParamContab->cdsContOpe;
            if (t->State() != TDataSetState::Browse)
                t->Cancel();
            frmParamContab->close();
        }
        Settle();
        SetCursorDefault();
        m_host->ClearRecords();
    }

    // --- rules 1 to 30 --------------------------------------------------------------------

    void eachRule_data() {
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<bool>("formPage");
        const struct {
            const char *Tag;
            QStringList Changes;
            const char16_t *Key;
            const char16_t *Focus;
            bool Page;
        } rows[] = {
            {"1 accounting start", {u"ddeIniCont:"_s}, u"DtIniPerCont", u"ddeIniCont", true},
            {"2 accounting end", {u"ddeFinCont:"_s}, u"DtFimPerCont", u"ddeFinCont", true},
            {"3 posting start", {u"ddeIniLanc:"_s}, u"DtIniPerLanc", u"ddeIniLanc", true},
            {"4 posting end", {u"ddeFinLanc:"_s}, u"DtFimPerLanc", u"ddeFinLanc", true},
            {"5 DFE start", {u"ddeIniDocFisEntr:"_s}, u"DFEINI_DEV", u"ddeIniDocFisEntr", false},
            {"6 DFE end", {u"ddeFinDocFisEntr:"_s}, u"DFEFIN_DEV", u"ddeFinDocFisEntr", false},
            {"7 DFS start", {u"ddeIniDocFisSaid:"_s}, u"DFSINI_DEV", u"ddeIniDocFisSaid", false},
            {"8 DFS end", {u"ddeFinDocFisSaid:"_s}, u"DFSFIN_DEV", u"ddeFinDocFisSaid", false},
            {"9 FIN start", {u"ddeIniInte:"_s}, u"FININI_DEV", u"ddeIniInte", false},
            {"10 FIN end", {u"ddeFimInte:"_s}, u"FINFIN_DEV", u"ddeFimInte", false},
            {"11 GPA start", {u"dtIniGpa:"_s}, u"GPAINI_DEV", u"dtIniGpa", false},
            {"12 GPA end", {u"dtFinGpa:"_s}, u"GPAFIN_DEV", u"dtFinGpa", false},
            {"13 accounting start after end",
             {u"ddeIniCont:12/2026"_s, u"ddeFinCont:11/2026"_s},
             u"DtiniMaior",
             u"ddeIniCont",
             true},
            {"14 posting start after end",
             {u"ddeIniLanc:12/2026"_s, u"ddeFinLanc:11/2026"_s},
             u"DtMaiorContFim",
             u"ddeIniLanc",
             true},
            {"15 posting before accounting",
             {u"ddeIniLanc:12/2025"_s},
             u"DtMaiorCont",
             u"ddeIniLanc",
             true},
            {"16 posting after accounting",
             {u"ddeFinLanc:01/2027"_s},
             u"DtMaiorContMaior",
             u"ddeFinLanc",
             true},
            {"17 DFE end before start",
             {u"ddeIniDocFisEntr:20/12/2026"_s, u"ddeFinDocFisEntr:10/12/2026"_s},
             u"DtMenorDFEMaior",
             u"ddeIniDocFisEntr",
             true},
            {"18 DFS end before start",
             {u"ddeIniDocFisSaid:20/12/2026"_s, u"ddeFinDocFisSaid:10/12/2026"_s},
             u"DtMenorDFSMaior",
             u"ddeIniDocFisSaid",
             true},
            {"19 DFE before accounting",
             {u"ddeIniDocFisEntr:30/12/2025"_s},
             u"DtDFEMaior",
             u"ddeIniDocFisEntr",
             true},
            {"20 DFS after accounting",
             {u"ddeFinDocFisSaid:01/01/2027"_s},
             u"DtDFSMaior",
             u"ddeIniDocFisSaid",
             true},
            {"21 FIN after accounting",
             {u"ddeFimInte:01/01/2027"_s},
             u"DtInteMaior",
             u"ddeIniInte",
             true},
            {"22 FIN end before start",
             {u"ddeIniInte:20/12/2026"_s, u"ddeFimInte:19/12/2026"_s},
             u"DtMenorInte",
             u"ddeIniInte",
             true},
            {"23 GPA end month before start month",
             {u"dtIniGpa:01/12/2026"_s, u"dtFinGpa:30/11/2026"_s},
             u"DtMenorGPAMaior",
             u"dtIniGpa",
             true},
            {"24 GPA after accounting",
             {u"dtFinGpa:31/01/2027"_s},
             u"DtGPAMaior",
             u"dtIniGpa",
             true},
            {"25 tax end alone",
             {u"dbdFinFiscal:31/12/2026"_s},
             u"IntervFISVaz",
             u"dbdIniFiscal",
             true},
            {"26 tax end before start",
             {u"dbdIniFiscal:20/12/2026"_s, u"dbdFinFiscal:10/12/2026"_s},
             u"DtMenorFISMaior",
             u"dbdIniFiscal",
             true},
            {"27 tax before accounting",
             {u"dbdIniFiscal:31/12/2025"_s, u"dbdFinFiscal:31/12/2026"_s},
             u"DtFISMaior",
             u"dbdIniFiscal",
             true},
            {"28 late sales start alone",
             {u"dbdIniVendExt:01/12/2026"_s},
             u"IntervEXTVaz",
             u"dbdIniVendExt",
             true},
            {"29 late sales end before start",
             {u"dbdIniVendExt:20/12/2026"_s, u"dbdFinVendExt:10/12/2026"_s},
             u"DtMenorEXTMaior",
             u"dbdIniVendExt",
             true},
            {"30 late sales after accounting",
             {u"dbdIniVendExt:01/12/2026"_s, u"dbdFinVendExt:01/01/2027"_s},
             u"DtEXTMaior",
             u"dbdIniVendExt",
             true},
        };
        for (const auto &r : rows)
            QTest::newRow(r.Tag) << r.Changes << QString::fromUtf16(r.Key)
                                 << QString::fromUtf16(r.Focus) << r.Page;
    }

    // Each record breaks one rule (alone wherever the rules allow it); the confirm starts on the
    // controls page, so a rule that brings the form forward is told from one that does not.
    void eachRule() {
        QFETCH(QStringList, changes);
        QFETCH(QString, key);
        QFETCH(QString, focus);
        QFETCH(bool, formPage);
        TfrmParamContab *s = EditRecord(u"05"_s);
        Apply(s, changes);
        const TTablePacket before = s->cdsContOpe->GetData();
        ConfirmAsUser(s);

        QVERIFY(s->msgPadrao->HasKey(key));
        QCOMPARE(m_host->ErrorTexts(), QStringList{s->msgPadrao->Msg(key)});
        QCOMPARE(s->pgcPadrao->ActivePage(), formPage ? s->tshFormulario : s->tshControle);
        auto *target = s->findChild<TDBDateEditPlus *>(focus);
        if (!formPage)
            s->mnuFormulario->Click(); // the focus waits on the form page
        QTRY_VERIFY2(target->hasFocus(), qPrintable(QApplication::focusWidget()
                                                        ? QApplication::focusWidget()->objectName()
                                                        : u"nothing"_s));
        // Nothing posted: the record stays in editing, the stored rows as they were.
        QCOMPARE(s->cdsContOpe->State(), TDataSetState::Edit);
        QCOMPARE(s->cdsContOpe->GetData().Rows, before.Rows);
    }

    // --- how the rules meet ---------------------------------------------------------------

    void ruleOrder_data() {
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QString>("key"); // empty: every rule passes
        QTest::newRow("base record passes") << QStringList{} << QString();
        QTest::newRow("accounting 15/12 to 10/12: same month")
            << QStringList{u"DTINICCONT=15/12/2026"_s, u"DTFINACONT=10/12/2026"_s} << QString();
        QTest::newRow("posting from 01/12, accounting from 20/12: same month")
            << QStringList{u"DTINICCONT=20/12/2026"_s, u"DTINICLANC=01/12/2026"_s} << QString();
        QTest::newRow("posting ends on a later day of accounting's last month")
            << QStringList{u"DTFINACONT=10/12/2026"_s, u"DTFINALANC=31/12/2026"_s} << QString();
        // The screen compares months and saves; the server reads the days and refuses.
        QTest::newRow("GPA 20/12 to 10/12: months compared, the server refuses")
            << QStringList{u"dtIniGpa:20/12/2026"_s, u"dtFinGpa:10/12/2026"_s}
            << u"!Empresa '05': Data de início de integração Gestão de Ativos deve ser menor que "
               "data final de integração Gestão de Ativos."_s;
        QTest::newRow("DFE of one day")
            << QStringList{u"ddeIniDocFisEntr:15/12/2026"_s, u"ddeFinDocFisEntr:15/12/2026"_s}
            << QString();
        QTest::newRow("FIN of one day")
            << QStringList{u"ddeIniInte:15/12/2026"_s, u"ddeFimInte:15/12/2026"_s} << QString();
        QTest::newRow("periods on the accounting bounds")
            << QStringList{u"ddeIniDocFisEntr:01/01/2026"_s, u"ddeFimInte:31/12/2026"_s}
            << QString();
        QTest::newRow("empty DFE start before a posting period outside")
            << QStringList{u"ddeIniDocFisEntr:"_s, u"ddeIniLanc:01/2025"_s} << u"DFEINI_DEV"_s;
        QTest::newRow("empty GPA end before an accounting period upside down")
            << QStringList{u"dtFinGpa:"_s, u"ddeIniCont:12/2026"_s, u"ddeFinCont:01/2026"_s}
            << u"GPAFIN_DEV"_s;
        QTest::newRow("FIN outside and upside down: inside comes first")
            << QStringList{u"ddeIniInte:20/12/2025"_s, u"ddeFimInte:10/12/2025"_s}
            << u"DtInteMaior"_s;
        QTest::newRow("DFE outside and upside down: order comes first")
            << QStringList{u"ddeIniDocFisEntr:20/12/2025"_s, u"ddeFinDocFisEntr:10/12/2025"_s}
            << u"DtMenorDFEMaior"_s;
        QTest::newRow("tax end after the accounting period")
            << QStringList{u"dbdIniFiscal:01/12/2026"_s, u"dbdFinFiscal:31/03/2027"_s} << QString();
        QTest::newRow("tax start alone")
            << QStringList{u"dbdIniFiscal:01/12/2026"_s} << u"IntervFISVaz"_s;
        QTest::newRow("late sales start before the accounting period")
            << QStringList{u"dbdIniVendExt:31/12/2025"_s, u"dbdFinVendExt:31/12/2026"_s}
            << u"DtEXTMaior"_s;
        QTest::newRow("late sales inside")
            << QStringList{u"dbdIniVendExt:01/01/2026"_s, u"dbdFinVendExt:31/12/2026"_s}
            << QString();
        QTest::newRow("posting month before accounting month, same day numbers")
            << QStringList{u"DTINICCONT=01/02/2026"_s, u"DTINICLANC=28/01/2026"_s}
            << u"DtMaiorCont"_s;
        QTest::newRow("late-sales text no date: not exited, caught by the post")
            << QStringList{u"dbdIniVendExt:31/02/2026"_s, u"dbdFinVendExt:31/12/2026"_s}
            << u"!'31/02/2026' não é uma data válida."_s;
    }

    void ruleOrder() {
        QFETCH(QStringList, changes);
        QFETCH(QString, key);
        TfrmParamContab *s = EditRecord(u"05"_s);
        Apply(s, changes);
        ConfirmAsUser(s);
        if (key.isEmpty()) {
            QCOMPARE(m_host->ErrorTexts(), QStringList{});
            QCOMPARE(s->cdsContOpe->State(), TDataSetState::Browse);
        } else {
            const QString text = key.startsWith(u'!') ? key.mid(1) : s->msgPadrao->Msg(key);
            QCOMPARE(m_host->ErrorTexts(), QStringList{text});
            // The server's refusals name the company; they come after the post.
            QCOMPARE(s->cdsContOpe->State(),
                     text.startsWith(u"Empresa '"_s) ? TDataSetState::Browse : TDataSetState::Edit);
        }
    }

    // --- the exit handlers ------------------------------------------------------------------

    void exitData_data() {
        QTest::addColumn<bool>("editing");
        QTest::addColumn<QString>("stored");   // field value before
        QTest::addColumn<QString>("typed");    // control text, "-" for untouched
        QTest::addColumn<QVariant>("written"); // field value after
        QTest::addColumn<QString>("error");
        const QVariant none;
        const QVariant noon = Day(u"15/12/2026"_s) + 0.5;
        QTest::newRow("browse: time of day stays")
            << false << u"noon"_s << u"-"_s << noon << QString();
        QTest::newRow("edit: time of day goes")
            << true << u"noon"_s << u"-"_s << QVariant(Day(u"15/12/2026"_s)) << QString();
        QTest::newRow("edit: empty stays empty")
            << true << QString() << u"-"_s << none << QString();
        QTest::newRow("edit: emptied by the user")
            << true << u"noon"_s << QString() << none << QString();
        QTest::newRow("edit: typed date")
            << true << QString() << u"03/11/2026"_s << QVariant(Day(u"03/11/2026"_s)) << QString();
        QTest::newRow("edit: text that is no date is reported, not emptied")
            << true << u"noon"_s << u"31/11/2026"_s << noon
            << u"'31/11/2026' não é uma data válida."_s;
    }

    void exitData() {
        QFETCH(bool, editing);
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(QVariant, written);
        QFETCH(QString, error);
        TfrmParamContab *s = Open(*m_demo);
        TClientDataSet *t = s->cdsContOpe;
        TField *field = t->FieldByName(u"DTINIINTCONTDFE"_s);
        // The stored value is planted in the table only: the server would refuse a record
        // without this date, and what is under test is the exit, not the save.
        const auto afterPost = t->AfterPost;
        t->AfterPost = nullptr;
        t->Edit();
        if (stored.isEmpty())
            field->Clear();
        else
            field->SetAsDateTime(Day(u"15/12/2026"_s) + 0.5);
        t->Post();
        t->MergeChangeLog();
        t->AfterPost = afterPost;
        if (editing)
            t->Edit();
        if (typed != u"-"_s)
            s->ddeIniDocFisEntr->setText(typed);
        try {
            s->ddeIniDocFisEntrExit();
            QVERIFY(error.isEmpty());
        } catch (const Exception &failure) {
            QCOMPARE(failure.Message(), error);
        }
        QCOMPARE(field->Value(), written);
        if (written.isNull() && error.isEmpty())
            QCOMPARE(s->ddeIniDocFisEntr->Text(), QString()); // never 30/12/1899
    }

    // --- the balance rule -------------------------------------------------------------------

    void balanceRule_data() {
        QTest::addColumn<QString>("company");
        QTest::addColumn<QString>("lastMonth");
        QTest::addColumn<bool>("passes");
        // 04 closed on 31/01/2027; 06 on 01/01/2027; 05 has no balance at all.
        QTest::newRow("balance on the period's last day") << u"04"_s << u"01/2027"_s << true;
        QTest::newRow("balance a month after") << u"04"_s << u"12/2026"_s << false;
        QTest::newRow("balance inside the last month") << u"06"_s << u"01/2027"_s << true;
        QTest::newRow("balance one day after") << u"06"_s << u"12/2026"_s << false;
        QTest::newRow("no balance") << u"05"_s << u"12/2026"_s << true;
    }

    void balanceRule() {
        QFETCH(QString, company);
        QFETCH(QString, lastMonth);
        QFETCH(bool, passes);
        TfrmParamContab *s = EditRecord(company);
        Apply(s, {u"ddeFinCont:"_s + lastMonth});
        ConfirmAsUser(s);
        if (passes) {
            QCOMPARE(m_host->ErrorTexts(), QStringList{});
            QCOMPARE(s->cdsContOpe->State(), TDataSetState::Browse);
            return;
        }
        QCOMPARE(m_host->ErrorTexts(), QStringList{u"Existe saldo com data superior a informada "
                                                   "no final do período contábil."_s});
        QCOMPARE(s->pgcPadrao->ActivePage(), s->tshControle); // the page stays
        s->mnuFormulario->Click();
        QTRY_VERIFY(s->ddeIniCont->hasFocus());
        QCOMPARE(s->cdsContOpe->State(), TDataSetState::Edit);
    }

    void firstRecordOfAnEmptyTableAsksForBalances() {
        TfrmParamContab *s = Open(*m_empty);
        QVERIFY(s->cdsContOpe->IsEmpty());
        s->sbtIncluir->Click();
        QVERIFY(!s->cdsContOpe->IsEmpty()); // the row being inserted counts
        QVERIFY(s->pgcPadrao->PageEnabled(s->tshFormulario));
        s->dbeCdEmpresa->setText(u"10"_s);
        for (const auto &[field, value] : BaseRecord)
            if (!value.isEmpty())
                s->cdsContOpe->FieldByName(field)->SetAsDateTime(Day(value));
        const qsizetype logged = m_empty->LogMark();
        ConfirmAsUser(s);
        QCOMPARE(m_host->ErrorTexts().join(u'\n'), QString());
        QTRY_VERIFY(m_empty->Output().mid(logged).contains("GetDataSaldEmpr empresa=10"));
        QCOMPARE(s->cdsContOpe->State(), TDataSetState::Browse);
    }

    // --- the rest of the confirm ------------------------------------------------------------

    void generalParameterPostedOnlyWhenEdited() {
        for (bool edited : {false, true}) {
            TfrmParamContab *s = EditRecord(u"05"_s);
            if (edited) {
                s->cdsParamGeral->Edit();
                s->cdsParamGeral->FieldByName(u"IDCONTAJUDTCOMP"_s)->SetAsString(u"S"_s);
            }
            int posts = 0;
            s->cdsParamGeral->BeforePost = [&](TClientDataSet &) {
                ++posts;
            };
            QWidget *page = s->pgcPadrao->ActivePage();
            s->mnuFolhaDados->SetChecked(true); // the page change handler sets it right
            Confirm(s);
            QCOMPARE(posts, edited ? 1 : 0);
            QCOMPARE(s->cdsParamGeral->State(), TDataSetState::Browse);
            QCOMPARE(s->pgcPadrao->ActivePage(), page);
            QVERIFY(!s->mnuFolhaDados->Checked());
            QVERIFY(s->sbtIncluir->isEnabled());
            cleanup();
        }
    }

    void confirmInBrowseChecksStoredRecord() {
        TfrmParamContab *s = Open(*m_demo);
        s->qryEmpresa->Close();
        Confirm(s); // demo record 01 passes every rule, the exits and company check do nothing
        QVERIFY(!s->qryEmpresa->Active());
        QCOMPARE(s->cdsContOpe->State(), TDataSetState::Browse);
    }

    // --- choosing the company -----------------------------------------------------------

    void companyOnExit_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("code"); // as left in the edit
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << u""_s << u"Empresa deve ser informada."_s << u""_s << u""_s;
        QTest::newRow("blank") << u" "_s << u"Empresa deve ser informada."_s << u" "_s << u""_s;
        QTest::newRow("unknown") << u"77"_s << u"Empresa não cadastrada."_s << u"77"_s << u""_s;
        QTest::newRow("one digit, has a record")
            << u"1"_s << u"Parâmetro contábil já cadastrado para esta empresa."_s << u"01"_s
            << u""_s;
        QTest::newRow("new company") << u"10"_s << QString() << u"10"_s << u"Empresa 10"_s;
        QTest::newRow("one digit and a blank, has a record")
            << u"9 "_s << u"Parâmetro contábil já cadastrado para esta empresa."_s << u"09"_s
            << u""_s;
    }

    void companyOnExit() {
        QFETCH(QString, typed);
        QFETCH(QString, error);
        QFETCH(QString, code);
        QFETCH(QString, name);
        TfrmParamContab *s = Open(*m_demo);
        s->sbtIncluir->Click();
        // A valid code lets the focus leave for the other page; the one under test comes after.
        s->dbeCdEmpresa->setText(u"10"_s);
        s->mnuControle->Click();
        QCOMPARE(s->pgcPadrao->ActivePage(), s->tshControle);
        s->dbeCdEmpresa->setText(typed);
        try {
            s->dbeCdEmpresaExit();
            QVERIFY2(error.isEmpty(), qPrintable(error));
        } catch (const Exception &failure) {
            QCOMPARE(failure.Message(), error);
            QCOMPARE(s->pgcPadrao->ActivePage(), s->tshFormulario);
            QTRY_VERIFY(s->dbeCdEmpresa->hasFocus());
        }
        QCOMPARE(s->dbeCdEmpresa->text(), code);
        QCOMPARE(s->cdsContOpe->FieldByName(u"CDEMPRESA"_s)->AsString(), code);
        QCOMPARE(s->edtNmEmpresa->text(), name);
        QCOMPARE(s->cdsContOpe->State(), TDataSetState::Insert);
    }

    void emptyCodeAndTabClickBringsFormBack() {
        TfrmParamContab *s = Open(*m_demo);
        s->mnuFormulario->Click();
        s->sbtIncluir->Click();
        s->dbeCdEmpresa->setFocus();
        QTRY_VERIFY(s->dbeCdEmpresa->hasFocus());
        QTabBar *tabs = s->pgcPadrao->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {},
                          tabs->tabRect(s->pgcPadrao->indexOf(s->tshControle)).center());
        QCOMPARE(s->pgcPadrao->ActivePage(), s->tshFormulario);
        QTRY_VERIFY(s->dbeCdEmpresa->hasFocus());
        QCOMPARE(m_host->ErrorTexts(), QStringList{u"Empresa deve ser informada."_s});
    }

    void existingCompanyChosenBySearchIsReportedOnConfirm() {
        TfrmParamContab *s = Open(*m_demo);
        s->sbtIncluir->Click();
        TBtnPesquisa::SetChooseHook([](TBtnPesquisa &button, TClientDataSet &table) {
            return button.Title() == u"Empresa"_s ? table.RecordCount() >= 3 ? 3 : 0 : 0;
        });
        const auto unhook = qScopeGuard([] { TBtnPesquisa::SetChooseHook({}); });
        s->btnEmpresa->click();
        QCOMPARE(s->dbeCdEmpresa->text(), u"03"_s);
        QCOMPARE(s->edtNmEmpresa->text(), u"Empresa 03"_s);
        QCOMPARE(m_host->ErrorTexts(), QStringList{});

        // Leaving the code for the controls page reports it and brings the form back; so does a
        // confirm from there.
        const QString duplicate = u"Parâmetro contábil já cadastrado para esta empresa."_s;
        QTRY_VERIFY(s->dbeCdEmpresa->hasFocus());
        QTabBar *tabs = s->pgcPadrao->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {},
                          tabs->tabRect(s->pgcPadrao->indexOf(s->tshControle)).center());
        QCOMPARE(m_host->ErrorTexts(), QStringList{duplicate});
        QCOMPARE(s->pgcPadrao->ActivePage(), s->tshFormulario);
        QTRY_VERIFY(s->dbeCdEmpresa->hasFocus());
        m_host->ClearRecords();
        ConfirmAsUser(s);
        QCOMPARE(m_host->ErrorTexts(), QStringList{duplicate});
        QTRY_VERIFY(s->dbeCdEmpresa->hasFocus());
        QCOMPARE(s->cdsContOpe->State(), TDataSetState::Insert);
    }

    void searchWithNoCompanyShowsItsMessage() {
        FillLocalCopies(false);
        TfrmParamContab *s = Open(*m_demo);
        s->sbtIncluir->Click();
        s->dbeCdEmpresa->setText(u"07"_s);
        int chosen = 0;
        TBtnPesquisa::SetChooseHook([&](TBtnPesquisa &, TClientDataSet &) { return ++chosen; });
        const auto unhook = qScopeGuard([] { TBtnPesquisa::SetChooseHook({}); });
        s->btnEmpresa->click();
        QCOMPARE(m_host->ErrorTexts(), QStringList{u"Não há empresa cadastrada."_s});
        QCOMPARE(chosen, 0);
        QCOMPARE(s->dbeCdEmpresa->text(), u"07"_s);
        QCOMPARE(s->btnEmpresa->Hint(), u"Pesquisar"_s);
        QCOMPARE(s->btnEmpresa->Associate(), static_cast<QWidget *>(s->dbeCdEmpresa));
    }

    void editedRecordShowsItsOwnName() {
        TfrmParamContab *s = EditRecord(u"05"_s);
        s->edtNmEmpresa->clear();
        Confirm(s);
        QCOMPARE(s->edtNmEmpresa->text(), u"Empresa 05"_s);
        QVERIFY(m_host->ErrorTexts().isEmpty());
    }

    void codeChangeEmptiesTheName() {
        TfrmParamContab *s = Open(*m_demo);
        s->sbtIncluir->Click();
        s->dbeCdEmpresa->setText(u"10"_s);
        s->dbeCdEmpresaExit();
        QCOMPARE(s->edtNmEmpresa->text(), u"Empresa 10"_s);
        s->dbeCdEmpresa->setFocus();
        QTRY_VERIFY(s->dbeCdEmpresa->hasFocus());
        QTest::keyClick(s->dbeCdEmpresa, Qt::Key_Backspace);
        QCOMPARE(s->edtNmEmpresa->text(), QString());
        s->cdsContOpe->Cancel();
        // A row change loads the code first (name emptied), then the scroll shows the name.
        s->cdsContOpe->Last();
        QCOMPARE(s->edtNmEmpresa->text(), s->cdsContOpe->FieldByName(u"NMEMPRESA"_s)->AsString());
    }

    void browseExitQueriesNothing() {
        TfrmParamContab *s = Open(*m_demo);
        s->qryEmpresa->Close();
        s->qryPesqParam->Close();
        s->dbeCdEmpresaExit();
        QVERIFY(!s->qryEmpresa->Active());
        QVERIFY(!s->qryPesqParam->Active());
    }
};

QTEST_MAIN(TstParamConfirm)
#include "tst_paramconfirm.moc"
