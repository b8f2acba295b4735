// The parameter screen changing records for real: insert, save, cancel, delete and reload against
// a fresh demo ger-server per test, driven through the screen's own buttons and the scripted
// answers of the person at the desk. What the server holds is read back through a second client.
#include "components/dbcheckbox.h"
#include "components/dbdateeditplus.h"
#include "components/dbedit.h"
#include "components/functions.h"
#include "components/menuitem.h"
#include "components/messages.h"
#include "components/pagecontrol.h"
#include "components/toolbutton.h"
#include "dataset/clientdataset.h"
#include "dataset/datasource.h"
#include "package/pkg_ger09400.h"
#include "param_screen/frmparamcontab.h"
#include "rpc/netconnection.h"
#include "serverprocess.h"
#include "shared/paramctblclient.h"
#include "testhost.h"

#include <QApplication>
#include <QJsonArray>
#include <QLineEdit>
#include <QPointer>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

TDateTime Day(const QString &text) {
    return *DateTimeUtil::ParseDate(text);
}

bool GoTo(TClientDataSet *t, const QString &code) {
    for (t->First(); !t->Eof(); t->Next())
        if (t->FieldByName(u"CDEMPRESA"_s)->AsString() == code)
            return true;
    return false;
}

} // namespace

class TstParamSave final : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<ServerProcess> m_server;
    std::unique_ptr<TestHost> m_host;
    std::unique_ptr<TNetConnection> m_other; // another user's client

    TfrmParamContab *Open() {
        m_host->Port = m_server->Port();
        IniProc();
        Settle();
        TfrmParamContab *s = frmParamContab;
        (void)QTest::qWaitForWindowExposed(s);
        QApplication::setActiveWindow(s);
        return s;
    }

    // The server's rows as another user's client reads them.
    TClientDataSet *ServerRows() {
        static TClientDataSet rows;
        const QJsonValue payload = CheckResultServ(ParamCtblMethods::GetContOpe(*m_other), true, 0);
        ParamCtblMethods::LoadPacket(rows, payload.toArray().at(0));
        return &rows;
    }

    QVariant Stored(const QString &code, const QString &field) {
        TClientDataSet *rows = ServerRows();
        return GoTo(rows, code) ? rows->FieldByName(field)->Value() : QVariant(u"(sem registro)"_s);
    }

    // Another user changes one field of a company's record on the server.
    void OtherUserSets(const QString &code, const QString &field, const QString &value) {
        TClientDataSet *rows = ServerRows();
        QVERIFY(GoTo(rows, code));
        rows->Edit();
        rows->FieldByName(field)->SetAsString(value);
        rows->Post();
        CheckResultServ(ParamCtblMethods::SetContOpe(*m_other, rows->GetDelta()), true, 0);
    }

    QStringList Calls(qsizetype from) { return m_server->LoggedCalls(from); }

private Q_SLOTS:
    void initTestCase() {
        m_host = std::make_unique<TestHost>();
        Initialize();
    }

    void init() {
        m_server = std::make_unique<ServerProcess>();
        QVERIFY2(m_server->Start({u"--log-level"_s, u"info"_s}, 0, u"demo"_s),
                 m_server->Output().constData());
        m_other = std::make_unique<TNetConnection>();
        m_other->SetPort(m_server->Port());
        m_other->SetServerName(u"Ger09400.rdmParamCtbl"_s);
        QStringList local{u"DROP TABLE IF EXISTS EMPRESA"_s,
                          u"CREATE TABLE EMPRESA (CDEMPRESA TEXT, NMEMPRESA TEXT)"_s,
                          u"DROP TABLE IF EXISTS CONTOPECTBL"_s,
                          u"CREATE TABLE CONTOPECTBL (CDEMPRESA TEXT)"_s};
        for (int n = 1; n <= 12; ++n) {
            const QString code = u"%1"_s.arg(n, 2, 10, QLatin1Char('0'));
            local << u"INSERT INTO EMPRESA VALUES ('%1', 'Empresa %1')"_s.arg(code);
            if (n <= 9)
                local << u"INSERT INTO CONTOPECTBL VALUES ('%1')"_s.arg(code);
        }
        m_host->ExecLocal(local);
    }

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
        m_other.reset();
        m_server.reset();
    }

    void cleanupTestCase() {
        Finalize();
        m_host.reset();
    }

    // --- insert -----------------------------------------------------------------------------

    void newRecordStartsWithItsValues() {
        TfrmParamContab *s = Open();
        s->sbtIncluir->Click();
        TClientDataSet *t = s->cdsContOpe;
        QCOMPARE(t->State(), TDataSetState::Insert);
        QCOMPARE(s->pgcPadrao->ActivePage(), s->tshFormulario);
        QTRY_VERIFY(s->dbeCdEmpresa->hasFocus());
        const QStringList yes{u"IDRETESTSETOR"_s,  u"IDCTBSINTETICO"_s, u"IDSUGRAT"_s,
                              u"IDCONTGERE"_s,     u"IDCONTCOME"_s,     u"IDACUMVRCONT"_s,
                              u"IDUTCUSTESTCONT"_s};
        const QStringList no{u"IDUTSALDOSOC"_s,    u"IDMSMCONTADBCR"_s,     u"IDCONSVNDDFS"_s,
                             u"IDDESPTRIBDIFAL"_s, u"IDCONSDTMOVIRETEST"_s, u"IDCONTVREXCICMSEP"_s,
                             u"IDGERESTLANCONT"_s, u"IDCONSRATPROD"_s,      u"IDCONTAJUDTCOMP"_s,
                             u"IDCONGERGGF"_s};
        for (const QString &f : yes)
            QCOMPARE(t->FieldByName(f)->AsString() + f, u"S"_s + f);
        for (const QString &f : no)
            QCOMPARE(t->FieldByName(f)->AsString() + f, u"N"_s + f);
        QCOMPARE(t->FieldByName(u"IDSALDEMPR"_s)->AsString(), u"M"_s);
        for (TDBDateEditPlus *edit : s->DateEdits()) {
            QCOMPARE(t->FieldByName(edit->DataField())->AsDateTime(), DateTimeUtil::Today());
            QCOMPARE(edit->GetDate(), DateTimeUtil::Today()); // month-only edits keep the day
        }
        QVERIFY(t->FieldByName(u"CDEMPRESA"_s)->IsNull());
        QVERIFY(t->FieldByName(u"DTINICRELA"_s)->IsNull());
    }

    void insertedRecordReachesServerAndLocalCopies() {
        TfrmParamContab *s = Open();
        s->sbtIncluir->Click();
        s->dbeCdEmpresa->setText(u"10"_s);
        s->sbtConfirmar->click();
        QCOMPARE(m_host->ErrorTexts(), QStringList{});
        QCOMPARE(s->cdsContOpe->State(), TDataSetState::Browse);
        QCOMPARE(s->cdsContOpe->ChangeCount(), 0);
        QVERIFY(!Stored(u"10"_s, u"NMEMPRESA"_s).toString().isEmpty());
        QCOMPARE(Stored(u"10"_s, u"DTINICCONT"_s).toDouble(), PriDiaMes(DateTimeUtil::Today()));
        QCOMPARE(Stored(u"10"_s, u"DTFINACONT"_s).toDouble(), UltimoDiaMes(DateTimeUtil::Today()));
        QCOMPARE(m_host->CacheRefreshes,
                 QList<QStringList>{(QStringList{u"EMPRESA"_s, u"CONTOPECTBL"_s})});
        QVERIFY(m_host->BusyCalls.contains(u"show:1:"_s));
        QVERIFY(!s->ddeFinCont->ShowDia());
    }

    // --- save -------------------------------------------------------------------------------

    void saveMovesPeriodsToWholeMonths_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("savedFirst");
        QTest::addColumn<QString>("savedLast");
        QTest::newRow("mid-month bounds")
            << u"15/03/2024"_s << u"10/05/2024"_s << u"01/03/2024"_s << u"31/05/2024"_s;
        QTest::newRow("ends in a leap February")
            << u"01/01/2024"_s << u"10/02/2024"_s << u"01/01/2024"_s << u"29/02/2024"_s;
    }

    void saveMovesPeriodsToWholeMonths() {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, savedFirst);
        QFETCH(QString, savedLast);
        TfrmParamContab *s = Open();
        TClientDataSet *t = s->cdsContOpe;
        QVERIFY(GoTo(t, u"05"_s));
        s->sbtAlterar->Click();
        QCOMPARE(s->pgcPadrao->ActivePage(), s->tshFormulario); // edit brings the form forward
        for (const QString &f : {u"DTINICCONT"_s, u"DTINICLANC"_s})
            t->FieldByName(f)->SetAsDateTime(Day(first));
        for (const QString &f : {u"DTFINACONT"_s, u"DTFINALANC"_s})
            t->FieldByName(f)->SetAsDateTime(Day(last));
        for (TDBDateEditPlus *edit : s->DateEdits().mid(4, 8))
            edit->SetDate(Day(first) + 1);
        for (const QString &f :
             {u"DTINIINTCONTFIS"_s, u"DTFININTCONTFIS"_s, u"IDSUGRAT"_s, u"IDUTCUSTESTCONT"_s})
            t->FieldByName(f)->Clear();
        s->sbtConfirmar->click();
        QCOMPARE(m_host->ErrorTexts(), QStringList{});
        QCOMPARE(t->State(), TDataSetState::Browse);
        for (const auto &[field, expected] :
             {std::pair{u"DTINICCONT"_s, savedFirst}, std::pair{u"DTFINACONT"_s, savedLast},
              std::pair{u"DTINICLANC"_s, savedFirst}, std::pair{u"DTFINALANC"_s, savedLast},
              std::pair{u"DTINICRELA"_s, savedFirst}, std::pair{u"DTFINARELA"_s, savedLast}})
            QCOMPARE(DateTimeUtil::FormatDate(Stored(u"05"_s, field).toDouble()) + field,
                     expected + field);
        QCOMPARE(Stored(u"05"_s, u"IDSUGRAT"_s).toString(), u"N"_s);
        QCOMPARE(Stored(u"05"_s, u"IDUTCUSTESTCONT"_s).toString(), u"S"_s);
        // Left out, the tax period stays without a value everywhere.
        QVERIFY(Stored(u"05"_s, u"DTINIINTCONTFIS"_s).isNull());
        QVERIFY(t->FieldByName(u"DTFININTCONTFIS"_s)->IsNull());
    }

    void emptyOptionalDatesSurviveSaveReloadAndEdit() {
        TfrmParamContab *s = Open();
        TClientDataSet *t = s->cdsContOpe;
        QVERIFY(GoTo(t, u"05"_s));
        s->sbtAlterar->Click();
        s->dbdIniFiscal->SetDate(0);
        s->dbdFinFiscal->SetDate(0);
        s->sbtConfirmar->click();
        QCOMPARE(m_host->ErrorTexts(), QStringList{});
        s->sbtVerificar->Click();
        QVERIFY(GoTo(t, u"05"_s));
        QVERIFY(t->FieldByName(u"DTINIINTCONTFIS"_s)->IsNull());
        QCOMPARE(t->FieldByName(u"DTINIINTCONTFIS"_s)->DisplayText(), QString());
        QCOMPARE(s->dbdIniFiscal->Text(), QString());
        // A second edit of the same record saves without touching the tax period.
        s->sbtAlterar->Click();
        s->dbcCusto->click();
        s->sbtConfirmar->click();
        QCOMPARE(m_host->ErrorTexts(), QStringList{});
        QCOMPARE(t->State(), TDataSetState::Browse);
        QVERIFY(Stored(u"05"_s, u"DTFININTCONTFIS"_s).isNull());
    }

    void unevolvedEntriesQuestion_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("No") << int(mrNo);
        QTest::newRow("Yes") << int(mrYes);
    }

    // Company 02 has entries left out of its balances since 17/11/2025.
    void unevolvedEntriesQuestion() {
        QFETCH(int, answer);
        TfrmParamContab *s = Open();
        TClientDataSet *t = s->cdsContOpe;
        QVERIFY(GoTo(t, u"02"_s));
        const QVariant before = Stored(u"02"_s, u"IDCONGERGGF"_s);
        s->sbtAlterar->Click();
        s->mnuControle->Click();
        s->dbcConGGF->click();
        const qsizetype from = m_server->LogMark();
        m_host->QueueAnswer(answer);
        s->sbtConfirmar->click();
        QCOMPARE(m_host->Boxes.size(), 1);
        QCOMPARE(m_host->Boxes[0].Type, TMsgDlgType::mtWarning);
        QCOMPARE(m_host->Boxes[0].Buttons, int(mbYes | mbNo));
        QCOMPARE(m_host->Boxes[0].Text,
                 u"Atenção! Existem lançamentos não evoluídos a partir de 17/11/2025! Os saldos "
                 "mensais não irão considerar estes lançamentos. Deseja fechar o período assim "
                 "mesmo?"_s);
        QTRY_VERIFY(Calls(from).contains(u"getLancSemEvolucao"_s));
        if (answer == mrNo) {
            QCOMPARE(t->State(), TDataSetState::Edit);
            QVERIFY(s->ddeFinCont->ShowDia()); // what the pre-save did stays
            QCOMPARE(Calls(from), (QStringList{u"GetDataSaldEmpr"_s, u"getLancSemEvolucao"_s}));
            QCOMPARE(Stored(u"02"_s, u"IDCONGERGGF"_s), before);
        } else {
            QCOMPARE(t->State(), TDataSetState::Browse);
            QTRY_COMPARE(Calls(from),
                         (QStringList{u"GetDataSaldEmpr"_s, u"getLancSemEvolucao"_s,
                                      u"setUsuarioFechamentoPeriodo"_s, u"SetContOpe"_s}));
            QVERIFY(Stored(u"02"_s, u"IDCONGERGGF"_s) != before);
        }
    }

    void postWithoutChangesSendsNothing() {
        TfrmParamContab *s = Open();
        QVERIFY(GoTo(s->cdsContOpe, u"05"_s));
        s->sbtAlterar->Click();
        s->cdsContOpe->AfterPost(*s->cdsContOpe); // the post-save of a post that logged nothing
        QVERIFY(m_host->CacheRefreshes.isEmpty());
        QVERIFY(!m_host->BusyCalls.contains(u"show:1:"_s));
        QVERIFY(!s->ddeFinCont->ShowDia());
    }

    // --- refused sends ----------------------------------------------------------------------

    void refusedSendRestoresTheGrid_data() {
        QTest::addColumn<bool>("insert");
        QTest::newRow("edited row") << false;
        QTest::newRow("inserted row") << true;
    }

    void refusedSendRestoresTheGrid() {
        QFETCH(bool, insert);
        TfrmParamContab *s = Open();
        TClientDataSet *t = s->cdsContOpe;
        const int rows = t->RecordCount();
        if (insert) {
            // Another user creates the record of company 10 first.
            s->sbtIncluir->Click();
            s->dbeCdEmpresa->setText(u"10"_s);
            TChangeLog log{t->GetData().Fields, {}};
            TRowValues row(t->FieldCount());
            for (int i = 0; i < t->FieldCount(); ++i)
                row[i] = t->Fields(i)->Value();
            log.Changes = {{TChangeOp::Insert, {}, row}};
            CheckResultServ(ParamCtblMethods::SetContOpe(*m_other, log), true, 0);
        } else {
            QVERIFY(GoTo(t, u"05"_s));
            OtherUserSets(u"05"_s, u"IDCONGERGGF"_s, u"S"_s);
            s->sbtAlterar->Click();
            s->dbcCusto->click();
        }
        const QString flagBefore = t->FieldByName(u"IDCONTGERE"_s)->AsString();
        s->sbtConfirmar->click();
        QCOMPARE(m_host->ErrorTexts().size(), 1);
        QCOMPARE(t->State(), TDataSetState::Browse);
        QCOMPARE(t->ChangeCount(), 0);
        QCOMPARE(t->RecordCount(), rows);
        QCOMPARE(m_host->BusyCalls.last(), u"hide"_s);
        QVERIFY(m_host->CacheRefreshes.isEmpty());
        if (!insert) {
            QCOMPARE(t->FieldByName(u"CDEMPRESA"_s)->AsString(), u"05"_s);
            QVERIFY(t->FieldByName(u"IDCONTGERE"_s)->AsString() != flagBefore);
            QVERIFY(s->ddeFinCont->ShowDia()); // no post-save steps after the failure
        }
    }

    // --- cancel -----------------------------------------------------------------------------

    void cancel_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("No") << int(mrNo);
        QTest::newRow("Yes") << int(mrYes);
    }

    void cancel() {
        QFETCH(int, answer);
        TfrmParamContab *s = Open();
        TClientDataSet *t = s->cdsContOpe;
        QVERIFY(GoTo(t, u"05"_s));
        const QString before = t->FieldByName(u"IDCONTGERE"_s)->AsString();
        s->sbtAlterar->Click();
        s->dbcCusto->click();
        m_host->QueueAnswer(answer);
        s->sbtCancelar->Click();
        QCOMPARE(m_host->BoxTexts(), QStringList{u"Confirma cancelamento das alterações?"_s});
        QCOMPARE(t->State(), answer == mrYes ? TDataSetState::Browse : TDataSetState::Edit);
        QCOMPARE(t->FieldByName(u"IDCONTGERE"_s)->AsString() == before, answer == mrYes);
        if (answer == mrYes) {
            for (QWidget *b : {s->sbtAlterar, s->sbtExcluir, s->sbtLocalizar, s->sbtVerificar})
                QCOMPARE(b->isEnabled(), s->pgcPadrao->PageEnabled(s->tshFormulario));
        }
    }

    void cancellingTheOnlyInsertShowsTheList() {
        ServerProcess empty;
        QVERIFY(empty.Start({u"--log-level"_s, u"warn"_s}, 0, QString()));
        m_host->Port = empty.Port();
        IniProc();
        Settle();
        TfrmParamContab *s = frmParamContab;
        s->sbtIncluir->Click();
        QCOMPARE(s->pgcPadrao->ActivePage(), s->tshFormulario);
        m_host->QueueAnswer(mrYes);
        s->sbtCancelar->Click();
        QVERIFY(s->cdsContOpe->IsEmpty());
        QCOMPARE(s->pgcPadrao->ActivePage(), s->tshFolhaDados);
        s->close();
        Settle();
    }

    // --- delete -----------------------------------------------------------------------------

    void deleteRefusedWhenTheCompanyHasEntries() {
        TfrmParamContab *s = Open();
        QVERIFY(GoTo(s->cdsContOpe, u"01"_s));
        m_host->QueueAnswer(mrYes);
        s->sbtExcluir->click();
        QCOMPARE(m_host->BoxTexts(),
                 (QStringList{u"Confirma exclusão?"_s, u"Existem lançamentos contábeis "
                                                       "cadastrados para empresa informada."_s}));
        QCOMPARE(Stored(u"01"_s, u"CDEMPRESA"_s).toString(), u"01"_s);
    }

    void deleteThenReloadShowsOtherUsersChanges() {
        TfrmParamContab *s = Open();
        OtherUserSets(u"06"_s, u"IDCONGERGGF"_s, u"S"_s);
        QVERIFY(GoTo(s->cdsContOpe, u"05"_s));
        m_host->QueueAnswer(mrYes);
        s->sbtExcluir->click();
        QCOMPARE(m_host->ErrorTexts(), QStringList{});
        QCOMPARE(Stored(u"05"_s, u"CDEMPRESA"_s).toString(), u"(sem registro)"_s);
        QVERIFY(!GoTo(s->cdsContOpe, u"05"_s));
        QVERIFY(GoTo(s->cdsContOpe, u"06"_s));
        QCOMPARE(s->cdsContOpe->FieldByName(u"IDCONGERGGF"_s)->AsString(), u"S"_s);
        QCOMPARE(m_host->CacheRefreshes.size(), 1);
    }

    void deleteWhileEditingDoesNothing() {
        TfrmParamContab *s = Open();
        s->sbtAlterar->Click();
        s->sbtExcluir->Click();
        s->sbtExcluirClick();
        QVERIFY(m_host->Boxes.isEmpty());
        QCOMPARE(s->cdsContOpe->State(), TDataSetState::Edit);
    }

    // --- no pending edit posted or dropped by the way ------------------------------------------

    void otherButtonsLeaveAPendingEditAlone_data() {
        QTest::addColumn<QString>("button");
        QTest::newRow("Incluir") << u"sbtIncluir"_s;
        QTest::newRow("Verificar") << u"sbtVerificar"_s;
        QTest::newRow("Excluir") << u"sbtExcluir"_s;
        QTest::newRow("Alterar") << u"sbtAlterar"_s;
    }

    void otherButtonsLeaveAPendingEditAlone() {
        QFETCH(QString, button);
        for (bool inserting : {false, true}) {
            TfrmParamContab *s = Open();
            const int rows = s->cdsContOpe->RecordCount();
            if (inserting) {
                s->sbtIncluir->Click();
            } else {
                s->sbtAlterar->Click();
                s->dbcCusto->click();
            }
            const TDataSetState state = s->cdsContOpe->State();
            const qsizetype from = m_server->LogMark();
            s->findChild<TToolButton *>(button)->Click();
            QCOMPARE(s->cdsContOpe->State(), state);
            QCOMPARE(s->cdsContOpe->ChangeCount(), 0);
            QCOMPARE(s->cdsContOpe->RecordCount(), rows);
            QVERIFY(m_host->Boxes.isEmpty());
            QVERIFY(s->pgcPadrao->ActivePage() != s->tshFolhaDados);
            QCOMPARE(Calls(from), QStringList{});
            cleanup();
            init();
        }
    }

    void closingWhileEditingAsks_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("No keeps the screen") << int(mrNo);
        QTest::newRow("Yes closes it") << int(mrYes);
    }

    void closingWhileEditingAsks() {
        QFETCH(int, answer);
        QPointer<TfrmParamContab> s = Open();
        s->sbtAlterar->Click();
        m_host->QueueAnswer(answer);
        s->sbtFechar->Click();
        Settle();
        QCOMPARE(m_host->BoxTexts(),
                 QStringList{u"Existem alterações não confirmadas. Deseja fechar assim mesmo?"_s});
        QCOMPARE(s.isNull(), answer == mrYes);
        QCOMPARE(bostCriado, answer != mrYes);
    }
};

QTEST_MAIN(TstParamSave)
#include "tst_paramsave.moc"
