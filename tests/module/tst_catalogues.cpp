// The screens' message catalogues against the texts users know, entry by entry and in order.
#include "components/messages.h"
#include "rules/catalogues.h"
#include "rules/confirmrules.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Entry {
    const char16_t *Key;
    const char16_t *Text;
};

// Typed from the screens' stored catalogues, not from the catalogue source.
const Entry ParamContab[] = {
    {u"Excl", u"Confirma exclusão?"},
    {u"DtiniMaior",
     u"Data do período contábil inicial deve ser menor ou igual a data do período contábil final."},
    {u"DtMaiorCont",
     u"Data do período de lançamento inicial deve estar dentro do período contábil."},
    {u"DtMaiorContMaior",
     u"Data do período de lançamento final deve estar dentro do período contábil."},
    {u"DtMaiorContFim", u"Data do período de lançamento inicial deve ser menor ou igual a data do "
                        u"período de lançamento final."},
    {u"Pict_Inv", u"Máscara da conta contábil deve ser informada."},
    {u"DtMenorContRel", u"Data do período de relatório inicial deve ser menor ou igual a data do "
                        u"período de relatório final."},
    {u"EMPRESA_Inv", u"Empresa não cadastrada."},
    {u"EMPRESA_Vaz", u"Empresa deve ser informada."},
    {u"EXCONTABPER", u"Existe saldo com data superior a informada no final do período contábil."},
    {u"ContReg", u"Existe conta contábil com a máscara atual."},
    {u"EMPRESA_EX", u"Parâmetro contábil já cadastrado para esta empresa."},
    {u"DtPerMaiorContFim",
     u"Data do período de lançamento final deve estar dentro do período contábil."},
    {u"DtIniPerCont", u"Data do período contábil inicial deve ser informada."},
    {u"DtFimPerCont", u"Data do período contábil final deve ser informada."},
    {u"DtIniPerLanc", u"Data do período de lançamento inicial deve ser informada."},
    {u"DtFimPerLanc", u"Data do período de lançamento final deve ser informada."},
    {u"DtIniPerRel", u"Data do período de relatório inicial deve ser informada."},
    {u"DtFimPerRel", u"Data do período de relatório final deve ser informada."},
    {u"DtIniInte", u"Data do período de integração inicial deve ser informada."},
    {u"DtFimInte", u"Data do período de integração final deve ser informada."},
    {u"DtMenorInte", u"Data do período de integração inicial deve ser menor ou igual a data do "
                     u"perído de integração final."},
    {u"DtInteMaior", u"Data do período de integração deve estar dentro do período contábil."},
    {u"DtIniPer_DtAnterior", u"Data inicial do período contábil não deve ser alterada para uma "
                             u"data maior que a data atual."},
    {u"Exist_LancEmpr", u"Existem lançamentos contábeis cadastrados para empresa informada."},
    {u"DtMenorDFEMaior", u"Data de início de integração Doc. Fiscais Entrada deve ser menor que "
                         u"data final de integração Doc. Fiscais Entrada."},
    {u"DtMenorDFSMaior", u"Data de início de integração Doc. Fiscais Saída deve ser menor que data "
                         u"final de integração Doc. Fiscais Saída."},
    {u"DtDFEMaior",
     u"Data do período de integração Doc. Fiscais Entrada deve estar dentro do período contábil."},
    {u"DtDFSMaior",
     u"Data do período de integração Doc. Fiscais Saída deve estar dentro do período contábil."},
    {u"OPER_AGE", u"Parâmetro utilizado somente na rotina de Agendamento de Eventos. "},
    {u"DtGPAMaior",
     u"Data do período de integração Gestão de Ativos deve estar dentro do período contábil."},
    {u"dtMenorGPAMaior", u"Data de início de integração Gestão de Ativos deve ser menor que data "
                         u"final de integração Gestão de Ativos."},
    {u"DFEFIN_DEV", u"Data final de Integração de Doc. Fiscais de Entrada deve ser informada."},
    {u"DFSINI_DEV", u"Data inicial de Integração de Doc. Fiscais de Saída deve ser informada."},
    {u"DFSFIN_DEV", u"Data final de Integração de Doc. Fiscais de Saída deve ser informada."},
    {u"DFEINI_DEV", u"Data inicial de Integração de Doc. Fiscais de Entrada deve ser informada."},
    {u"FININI_DEV", u"Data inicial de Integração do Financeiro deve ser informada."},
    {u"FINFIN_DEV", u"Data final de Integração do Financeiro deve ser informada."},
    {u"GPAINI_DEV", u"Data inicial de Integração do Gestão de Ativos deve ser informada."},
    {u"GPAFIN_DEV", u"Data final de Integração do Gestão de Ativos deve ser informada."},
    {u"ALTERAR_CONTGER", u"Deseja realmente cancelar o controle por filial e centro de custo nos "
                         u"lançamentos contábeis? Ao desativar este parâmetro a contabilidade "
                         u"gerencial passará a não ser realizada!"},
    {u"LANC_NAO_EVOLUIDO",
     u"Atenção! Existem lançamentos não evoluídos a partir de %s! Os saldos mensais não irão "
     u"considerar estes lançamentos. Deseja fechar o período assim mesmo?"},
    {u"DtMenorFISMaior",
     u"Data de início de integração Fiscal deve ser menor que a data final de integração Fiscal."},
    {u"DtFISMaior",
     u"Data inicial do período de integração Fiscal deve estar dentro do período contábil."},
    {u"IntervFISVaz",
     u"Intervalo do período de Integração do Fiscal com preenchimento incompleto."},
    {u"DtMenorEXTMaior", u"Data de início de integração Venda Extemporânea  deve ser menor que a "
                         u"data final de integração de Venda Extemporânea."},
    {u"DtEXTMaior", u"Data inicial do período de integração Venda Extemporânea deve estar dentro "
                    u"do período contábil."},
    {u"IntervEXTVaz",
     u"Intervalo do período de Integração de Venda Extemporânea com preenchimento incompleto."},
};

const Entry CadAuto[] = {
    {u"Empresa", u"Empresa"},
    {u"Empr_Cad", u"Não existe empresa cadastrada."},
    {u"DEV_ALTERAR", u"Para alterar as parametrizações das empresas é necessário selecionar ao "
                     u"menos uma das opções (Períodos ou Controles de Lançamentos)."},
    {u"EMPR_DEV", u"Empresa deve ser informada."},
    {u"DATA_DEV", u"%s deve ser informada."},
    {u"DTFINAL_MAIOR", u"Data final deve ser maior ou igual à data inicial."},
    {u"VALIDACOES_SRV", u"Realizando validações por empresa no servidor..."},
    {u"NAO_POSSIVEL_ALTERAR", u"Foram encontadas inconsistências que deverão ser corrigidas antes "
                              u"do cadastramento automático. Confira na lista abaixo!"},
    {u"ERRO_1", u"Empresa %s possui lançamentos pendentes de recálculo fiscal desde %s."},
    {u"ERRO_2",
     u"Empresa %s possui saldo com data superior à data informada para final do Período Contábil."},
    {u"REALIZANDO_CADAUTO", u"Realizando cadastramento automático..."},
    {u"SUCESSO", u"Cadastramento automático efetuado com sucesso!"},
    {u"DATA_DENTRO_PER", u"%s deve estar dentro do Período Contábil."},
};

template <size_t N> void AddRows(const char *catalogue, const Entry (&entries)[N]) {
    for (size_t i = 0; i < N; ++i) {
        QTest::addRow("%s %zu %s", catalogue, i,
                      QString::fromUtf16(entries[i].Key).toUtf8().constData())
            << QString::fromLatin1(catalogue) << int(i) << QString::fromUtf16(entries[i].Key)
            << QString::fromUtf16(entries[i].Text);
    }
}

QStringList Catalogue(const QString &name) {
    return name == u"A"_s ? ParamContabMessages() : CadAutoMessages();
}

} // namespace

class TstCatalogues final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sizes() {
        QCOMPARE(ParamContabMessages().size(), int(std::size(ParamContab)));
        QCOMPARE(ParamContabMessages().size(), 48);
        QCOMPARE(CadAutoMessages().size(), 13);
    }

    void entries_data() {
        QTest::addColumn<QString>("catalogue");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        AddRows("A", ParamContab);
        AddRows("B", CadAuto);
    }

    // Position, key and text, character for character (blanks and odd spellings included).
    void entries() {
        QFETCH(QString, catalogue);
        QFETCH(int, position);
        QFETCH(QString, key);
        QFETCH(QString, text);
        const QStringList lines = Catalogue(catalogue);
        QVERIFY(position < lines.size());
        QCOMPARE(lines.at(position), key + u'|' + text);

        TMessages messages;
        messages.SetLines(lines);
        QCOMPARE(messages.Msg(key), text);
    }

    void lookups_data() {
        QTest::addColumn<QString>("catalogue");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        // The confirm rules ask with a different letter case than the one stored.
        QTest::newRow("case differs")
            << u"A"_s << u"DtMenorGPAMaior"_s
            << u"Data de início de integração Gestão de Ativos deve ser menor que data final de integração Gestão de Ativos."_s;
        QTest::newRow("trailing blank kept")
            << u"A"_s << u"OPER_AGE"_s
            << u"Parâmetro utilizado somente na rotina de Agendamento de Eventos. "_s;
        QTest::newRow("doubled blank kept")
            << u"A"_s << u"DtMenorEXTMaior"_s
            << u"Data de início de integração Venda Extemporânea  deve ser menor que a data final de integração de Venda Extemporânea."_s;
        QTest::newRow("placeholders kept")
            << u"B"_s << u"erro_1"_s
            << u"Empresa %s possui lançamentos pendentes de recálculo fiscal desde %s."_s;
    }

    void lookups() {
        QFETCH(QString, catalogue);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        TMessages messages;
        messages.SetLines(Catalogue(catalogue));
        QCOMPARE(messages.Msg(key), expected);
    }

    // The server words its refusals with the same catalogue: every confirm rule finds its
    // text there as the screen does, whatever the letter case of its key.
    void everyConfirmRuleHasItsTextOnTheServer() {
        TMessages screen;
        screen.SetLines(ParamContabMessages());
        for (const ParamRules::ConfirmRule &rule : ParamRules::ConfirmRules()) {
            const QString key = QString::fromUtf16(rule.Key);
            QVERIFY2(!ParamContabMessage(key).isEmpty(), qPrintable(key));
            QCOMPARE(ParamContabMessage(key), screen.Msg(key));
        }
    }

    void keysAreUniqueIgnoringCase() {
        for (const QString &name : {u"A"_s, u"B"_s}) {
            QSet<QString> keys;
            for (const QString &line : Catalogue(name))
                keys.insert(line.section(u'|', 0, 0).toLower());
            QCOMPARE(keys.size(), Catalogue(name).size());
        }
    }
};

QTEST_MAIN(TstCatalogues)
#include "tst_catalogues.moc"
