#include "rules/catalogues.h"

#include <QHash>

using namespace Qt::StringLiterals;

// Entries are "key|text", kept in the order the screens have always stored them. Texts are the
// users' familiar wording, odd spellings and doubled blanks included: do not tidy them.

QStringList ParamContabMessages() {
    return {
        u"Excl|Confirma exclusão?"_s,
        u"DtiniMaior|Data do período contábil inicial deve ser menor ou igual a data do período "
        u"contábil final."_s,
        u"DtMaiorCont|Data do período de lançamento inicial deve estar dentro do período "
        u"contábil."_s,
        u"DtMaiorContMaior|Data do período de lançamento final deve estar dentro do período "
        u"contábil."_s,
        u"DtMaiorContFim|Data do período de lançamento inicial deve ser menor ou igual a data do "
        u"período de lançamento final."_s,
        u"Pict_Inv|Máscara da conta contábil deve ser informada."_s,
        u"DtMenorContRel|Data do período de relatório inicial deve ser menor ou igual a data do "
        u"período de relatório final."_s,
        u"EMPRESA_Inv|Empresa não cadastrada."_s,
        u"EMPRESA_Vaz|Empresa deve ser informada."_s,
        u"EXCONTABPER|Existe saldo com data superior a informada no final do período contábil."_s,
        u"ContReg|Existe conta contábil com a máscara atual."_s,
        u"EMPRESA_EX|Parâmetro contábil já cadastrado para esta empresa."_s,
        u"DtPerMaiorContFim|Data do período de lançamento final deve estar dentro do período "
        u"contábil."_s,
        u"DtIniPerCont|Data do período contábil inicial deve ser informada."_s,
        u"DtFimPerCont|Data do período contábil final deve ser informada."_s,
        u"DtIniPerLanc|Data do período de lançamento inicial deve ser informada."_s,
        u"DtFimPerLanc|Data do período de lançamento final deve ser informada."_s,
        u"DtIniPerRel|Data do período de relatório inicial deve ser informada."_s,
        u"DtFimPerRel|Data do período de relatório final deve ser informada."_s,
        u"DtIniInte|Data do período de integração inicial deve ser informada."_s,
        u"DtFimInte|Data do período de integração final deve ser informada."_s,
        u"DtMenorInte|Data do período de integração inicial deve ser menor ou igual a data do "
        u"perído de integração final."_s,
        u"DtInteMaior|Data do período de integração deve estar dentro do período contábil."_s,
        u"DtIniPer_DtAnterior|Data inicial do período contábil não deve ser alterada para uma "
        u"data maior que a data atual."_s,
        u"Exist_LancEmpr|Existem lançamentos contábeis cadastrados para empresa informada."_s,
        u"DtMenorDFEMaior|Data de início de integração Doc. Fiscais Entrada deve ser menor que "
        u"data final de integração Doc. Fiscais Entrada."_s,
        u"DtMenorDFSMaior|Data de início de integração Doc. Fiscais Saída deve ser menor que data "
        u"final de integração Doc. Fiscais Saída."_s,
        u"DtDFEMaior|Data do período de integração Doc. Fiscais Entrada deve estar dentro do "
        u"período contábil."_s,
        u"DtDFSMaior|Data do período de integração Doc. Fiscais Saída deve estar dentro do "
        u"período contábil."_s,
        u"OPER_AGE|Parâmetro utilizado somente na rotina de Agendamento de Eventos. "_s,
        u"DtGPAMaior|Data do período de integração Gestão de Ativos deve estar dentro do período "
        u"contábil."_s,
        u"dtMenorGPAMaior|Data de início de integração Gestão de Ativos deve ser menor que data "
        u"final de integração Gestão de Ativos."_s,
        u"DFEFIN_DEV|Data final de Integração de Doc. Fiscais de Entrada deve ser informada."_s,
        u"DFSINI_DEV|Data inicial de Integração de Doc. Fiscais de Saída deve ser informada."_s,
        u"DFSFIN_DEV|Data final de Integração de Doc. Fiscais de Saída deve ser informada."_s,
        u"DFEINI_DEV|Data inicial de Integração de Doc. Fiscais de Entrada deve ser informada."_s,
        u"FININI_DEV|Data inicial de Integração do Financeiro deve ser informada."_s,
        u"FINFIN_DEV|Data final de Integração do Financeiro deve ser informada."_s,
        u"GPAINI_DEV|Data inicial de Integração do Gestão de Ativos deve ser informada."_s,
        u"GPAFIN_DEV|Data final de Integração do Gestão de Ativos deve ser informada."_s,
        u"ALTERAR_CONTGER|Deseja realmente cancelar o controle por filial e centro de custo nos "
        u"lançamentos contábeis? Ao desativar este parâmetro a contabilidade gerencial "
        u"passará a não ser realizada!"_s,
        u"LANC_NAO_EVOLUIDO|Atenção! Existem lançamentos não evoluídos a partir de %s! Os saldos "
        u"mensais não irão considerar estes lançamentos. Deseja fechar o período assim "
        u"mesmo?"_s,
        u"DtMenorFISMaior|Data de início de integração Fiscal deve ser menor que a data final de "
        u"integração Fiscal."_s,
        u"DtFISMaior|Data inicial do período de integração Fiscal deve estar dentro do período "
        u"contábil."_s,
        u"IntervFISVaz|Intervalo do período de Integração do Fiscal com preenchimento "
        u"incompleto."_s,
        u"DtMenorEXTMaior|Data de início de integração Venda Extemporânea  deve ser menor que a "
        u"data final de integração de Venda Extemporânea."_s,
        u"DtEXTMaior|Data inicial do período de integração Venda Extemporânea deve estar dentro "
        u"do período contábil."_s,
        u"IntervEXTVaz|Intervalo do período de Integração de Venda Extemporânea com preenchimento "
        u"incompleto."_s,
    };
}

QStringList CadAutoMessages() {
    return {
        u"Empresa|Empresa"_s,
        u"Empr_Cad|Não existe empresa cadastrada."_s,
        u"DEV_ALTERAR|Para alterar as parametrizações das empresas é necessário selecionar ao "
        u"menos uma das opções (Períodos ou Controles de Lançamentos)."_s,
        u"EMPR_DEV|Empresa deve ser informada."_s,
        u"DATA_DEV|%s deve ser informada."_s,
        u"DTFINAL_MAIOR|Data final deve ser maior ou igual à data inicial."_s,
        u"VALIDACOES_SRV|Realizando validações por empresa no servidor..."_s,
        u"NAO_POSSIVEL_ALTERAR|Foram encontadas inconsistências que deverão ser corrigidas antes "
        u"do cadastramento automático. Confira na lista abaixo!"_s,
        u"ERRO_1|Empresa %s possui lançamentos pendentes de recálculo fiscal desde %s."_s,
        u"ERRO_2|Empresa %s possui saldo com data superior à data informada para final do Período "
        u"Contábil."_s,
        u"REALIZANDO_CADAUTO|Realizando cadastramento automático..."_s,
        u"SUCESSO|Cadastramento automático efetuado com sucesso!"_s,
        u"DATA_DENTRO_PER|%s deve estar dentro do Período Contábil."_s,
    };
}

QString ParamContabMessage(QStringView key) {
    static const QHash<QString, QString> texts = [] {
        QHash<QString, QString> byKey;
        for (const QString &line : ParamContabMessages())
            byKey.insert(line.section(u'|', 0, 0).toLower(), line.section(u'|', 1));
        return byKey;
    }();
    // Keys compare without case, as the screens' message lookup does.
    return texts.value(key.toString().toLower());
}
