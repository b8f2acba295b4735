#include "components/errors.h"
#include "components/frmpadrao.h"
#include "components/frmrotigeral.h"
#include "components/functions.h"
#include "testhost.h"

#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// A screen built the way derived screens are: members in the constructor, work in FormCreate.
class TfrmTeste final : public TfrmPadrao {
public:
    TfrmTeste() {
        setObjectName(u"frmTeste"_s);
        cds.setObjectName(u"cdsTeste"_s);
        dtsPadrao->SetDataSet(&cds);
        tshFormulario = new QWidget;
        tshFormulario->setObjectName(u"tshFormulario"_s);
        AddPage(tshFormulario, u"Formulário"_s);
        sbtCadAuto = new TToolButton(u"sbtCadAuto"_s, u"Cad"_s, nullptr);
        InsertToolButton(sbtCadAuto);
        mnuControle = new TMenuItem(u"mnuControle"_s, u"Controles"_s, this);
        InsertOperacaoItem(mnuControle);
    }
    void FormCreate() override {
        TfrmPadrao::FormCreate();
        log.append(u"create"_s);
        TTablePacket packet;
        packet.Fields = {{u"CDEMPRESA"_s, TFieldType::String, 2}};
        packet.Rows = {{u"01"_s}};
        cds.SetData(packet);
    }
    void FormShow() override { log.append(u"show"_s); }
    void FormActivate() override { log.append(u"activate"_s); }
    void FormClose(TCloseAction &action) override {
        TfrmPadrao::FormClose(action);
        log.append(u"close"_s);
        if (keepOpen)
            action = caNone;
    }
    void sbtVerificarClick() override { log.append(u"verificar"_s); }

    TClientDataSet cds;
    QWidget *tshFormulario;
    TToolButton *sbtCadAuto;
    TMenuItem *mnuControle;
    QStringList log;
    bool keepOpen = false;
};

class TfrmFalha final : public TfrmPadrao {
public:
    void FormCreate() override {
        TfrmPadrao::FormCreate();
        MensErro(u"Servidor fora do ar."_s);
    }
};

class TfrmRotina final : public TfrmRotiGeral {
public:
    void FormClose(TCloseAction &action) override {
        TfrmRotiGeral::FormClose(action);
        ++closes;
        if (keepOpen)
            action = caNone;
    }
    int closes = 0;
    bool keepOpen = false;
};

} // namespace

class TstComponentForms final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void baseFormLayoutAndOrder();
    void baseFormStateHandling();
    void baseFormCloseReleases();
    void mdiFrameActivatesAndCloses();
    void failedCreationReleasesTheForm();
    void routineFormCloseRunsOnce();
};

void TstComponentForms::baseFormLayoutAndOrder() {
    TestHost host;
    auto *form = TfrmPadrao::Create<TfrmTeste>(Application());
    QCOMPARE(form->log, QStringList{u"create"_s});
    QStringList buttons;
    for (QObject *child : form->panMenu->children())
        if (auto *button = qobject_cast<TToolButton *>(child))
            buttons.append(button->objectName());
    // Children are listed in creation order; the layout decides the order shown.
    QStringList shown;
    auto *layout = form->panMenu->layout();
    for (int i = 0; i < layout->count(); ++i)
        if (auto *button = qobject_cast<TToolButton *>(layout->itemAt(i)->widget()))
            shown.append(button->objectName());
    QCOMPARE(shown,
             (QStringList{u"sbtIncluir"_s, u"sbtAlterar"_s, u"sbtExcluir"_s, u"sbtLocalizar"_s,
                          u"sbtVerificar"_s, u"sbtConfirmar"_s, u"sbtCancelar"_s, u"sbtCadAuto"_s,
                          u"sbtImprimir"_s, u"sbtAjuda"_s, u"sbtFechar"_s}));
    QStringList items;
    for (QAction *action : form->mnuOperacao->actions())
        items.append(action->isSeparator() ? u"-"_s : action->objectName());
    QCOMPARE(items.mid(0, 4),
             (QStringList{u"mnuFolhaDados"_s, u"mnuFormulario"_s, u"mnuControle"_s, u"-"_s}));
    QCOMPARE(items.last(), u"mnuConfigImpressora"_s);
    QCOMPARE(form->pgcPadrao->ActivePage(), form->tshFolhaDados);
    QVERIFY(form->findChild<QWidget *>(u"dbgPadrao"_s));
    QCOMPARE(form->msgMensagensPadroes->Msg(u"excl"_s), u"Confirma exclusão?"_s);

    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    form->hide();
    form->show();
    QCOMPARE(form->log.count(u"show"_s), 1); // FormShow once
    QCOMPARE(form->log.mid(0, 2), (QStringList{u"create"_s, u"show"_s}));
    form->mnuVerificar->trigger();
    QCOMPARE(form->log.last(), u"verificar"_s);
    delete form;
}

void TstComponentForms::baseFormStateHandling() {
    TestHost host;
    auto *form = TfrmPadrao::Create<TfrmTeste>(nullptr);
    QVERIFY(form->sbtIncluir->isEnabled());
    QVERIFY(form->sbtExcluir->isEnabled());
    QVERIFY(!form->sbtConfirmar->isEnabled());
    form->sbtIncluir->click();
    QCOMPARE(form->cds.State(), TDataSetState::Insert);
    QVERIFY(form->sbtConfirmar->isEnabled());
    QVERIFY(form->mnuCancelar->isEnabled());
    QVERIFY(!form->sbtIncluir->isEnabled());
    QVERIFY(!form->sbtVerificar->isEnabled());
    QVERIFY(!form->dbnPadrao->isEnabled());

    host.QueueAnswer(mrNo);
    form->sbtCancelar->click();
    QCOMPARE(form->cds.State(), TDataSetState::Insert);
    host.QueueAnswer(mrYes);
    form->mnuCancelar->trigger();
    QCOMPARE(form->cds.State(), TDataSetState::Browse);
    QCOMPARE(host.BoxTexts(), (QStringList{u"Confirma cancelamento das alterações?"_s,
                                           u"Confirma cancelamento das alterações?"_s}));

    host.QueueAnswer(mrYes);
    form->sbtExcluir->click();
    QVERIFY(form->cds.IsEmpty());
    QCOMPARE(host.BoxTexts().last(), u"Confirma exclusão?"_s);
    // The buttons follow state changes: a new load of the empty table disables the record ones.
    form->cds.SetData(form->cds.GetData());
    QVERIFY(!form->sbtExcluir->isEnabled());
    QVERIFY(form->sbtIncluir->isEnabled());
    delete form;
}

void TstComponentForms::baseFormCloseReleases() {
    TestHost host;
    QPointer<TfrmTeste> form = TfrmPadrao::Create<TfrmTeste>(Application());
    form->show();
    form->sbtFechar->click();
    QCOMPARE(form->log.last(), u"close"_s);
    QTRY_VERIFY(form.isNull());
}

void TstComponentForms::mdiFrameActivatesAndCloses() {
    TestHost host;
    QMdiArea area;
    area.resize(800, 600);
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));
    QPointer<TfrmTeste> form = TfrmPadrao::Create<TfrmTeste>(Application());
    QPointer<QMdiSubWindow> frame = area.addSubWindow(form);
    frame->show();
    area.setActiveSubWindow(frame);
    QTRY_VERIFY(form->log.contains(u"activate"_s));

    form->keepOpen = true;
    form->sbtFechar->click();
    QVERIFY(frame->isVisible()); // caNone: the close was refused
    form->keepOpen = false;
    form->sbtFechar->click();
    QCOMPARE(form->log.count(u"close"_s), 2);
    QTRY_VERIFY(frame.isNull());
    QVERIFY(form.isNull());
}

void TstComponentForms::failedCreationReleasesTheForm() {
    TestHost host;
    const auto before = Application()->Owned().size();
    QVERIFY_THROWS_EXCEPTION(EUserError, TfrmPadrao::Create<TfrmFalha>(Application()));
    QCOMPARE(Application()->Owned().size(), before);
    QVERIFY(host.Boxes.isEmpty()); // the caller decides how to report it
}

void TstComponentForms::routineFormCloseRunsOnce() {
    TestHost host;
    QPointer<TfrmRotina> dialog = TfrmRotiGeral::Create<TfrmRotina>(Application());
    QVERIFY(dialog->sbtConfirma->autoRaise());
    dialog->keepOpen = true;
    dialog->show();
    dialog->reject();
    QVERIFY(dialog->isVisible());
    dialog->keepOpen = false;
    dialog->close();
    QCOMPARE(dialog->closes, 2);
    QVERIFY(!dialog->isVisible());
    QTRY_VERIFY(dialog.isNull());
}

QTEST_MAIN(TstComponentForms)
#include "tst_componentforms.moc"
