#include "rules/fieldcaptions.h"

#include <QHash>
#include <QList>
#include <QPair>

using namespace Qt::StringLiterals;

namespace {

// In the screens' order: the periods, then the controls.
const QList<QPair<QString, QString>> &Captions() {
    static const QList<QPair<QString, QString>> captions = {
        {u"DTINICCONT"_s, u"Período Contábil - Data Inicial"_s},
        {u"DTFINACONT"_s, u"Período Contábil - Data Final"_s},
        {u"DTINICLANC"_s, u"Período de Lançamento - Data Inicial"_s},
        {u"DTFINALANC"_s, u"Período de Lançamento - Data Final"_s},
        {u"DTINICRELA"_s, u"Período do Relatório - Data Inicial"_s},
        {u"DTFINARELA"_s, u"Período do Relatório - Data Final"_s},
        {u"DTINIINTCONTDFE"_s, u"Doc. Fiscais Entrada - Data Inicial"_s},
        {u"DTFININTCONTDFE"_s, u"Doc. Fiscais Entrada - Data Final"_s},
        {u"DTINIINTCONTDFS"_s, u"Doc. Fiscais Saída - Data Inicial"_s},
        {u"DTFININTCONTDFS"_s, u"Doc. Fiscais Saída - Data Final"_s},
        {u"DTINICCTBL"_s, u"Financeiro - Data Inicial"_s},
        {u"DTFINACCTBL"_s, u"Financeiro - Data Final"_s},
        {u"DTINIINTCONTGPA"_s, u"Gestão de Ativos - Data Inicial"_s},
        {u"DTFININTCONTGPA"_s, u"Gestão de Ativos - Data Final"_s},
        {u"DTINIINTCONTFIS"_s, u"Fiscal - Data Inicial"_s},
        {u"DTFININTCONTFIS"_s, u"Fiscal - Data Final"_s},
        {u"DTINIINTCONTVEXT"_s, u"Venda Extemporânea - Data Inicial"_s},
        {u"DTFININTCONTVEXT"_s, u"Venda Extemporânea - Data Final"_s},
        {u"IDCONTGERE"_s, u"Controla Centro de Custo"_s},
        {u"IDCONSRATPROD"_s, u"Considera Rateio dos Encargos por Produto"_s},
        {u"IDCONTCOME"_s, u"Controla Conta Comercial"_s},
        {u"IDUTCUSTESTCONT"_s, u"Utiliza Custo do Estoque na Contabilização"_s},
        {u"IDSUGRAT"_s, u"Sugere Rateio em Lançamentos Manuais"_s},
        {u"IDUTSALDOSOC"_s, u"Utiliza Saldo Societário"_s},
        {u"IDMSMCONTADBCR"_s, u"Permite Lançamentos de DB e CR na mesma Conta"_s},
        {u"IDRETESTSETOR"_s, u"Prioriza o Centro de Custo do Setor nas Retiradas de Estoque"_s},
        {u"IDCONSVNDDFS"_s,
         u"Consiste a Consolidação de Vendas (VND) de acordo com Período de Integração do DFS"_s},
        {u"IDDESPTRIBDIFAL"_s,
         u"Utiliza Conta \"Despesa Tributária\" para a partida de Diferencial de Alíquota"_s},
        {u"IDCONSDTMOVIRETEST"_s,
         u"Considera \"Data da Movimentação\" na Contabilização das Retiradas"_s},
        {u"IDCTBSINTETICO"_s, u"Contabilidade por Lote Sintetica na Integracao com Conciliador"_s},
        {u"IDGERESTLANCONT"_s, u"Gera Estorno de Lançamento Contábil"_s},
        {u"IDCONTAJUDTCOMP"_s, u"Contabiliza Ajuste Data de Competência"_s},
        {u"IDCONTVREXCICMSEP"_s, u"Contabiliza o valor de exclusão do ICMS separadamente"_s},
        {u"IDCONGERGGF"_s, u"Controla parte gerencial para contas vinculadas ao GGF"_s},
        // Not a column: a period closing, as the change history records it.
        {u"FECHAMENTO"_s, u"Fechamento do período até"_s},
        {u"ENCERRAMENTO"_s, u"Encerramento definitivo até (motivo)"_s},
        {u"EXCECAO"_s, u"Exceção ao período"_s},
    };
    return captions;
}

} // namespace

QString FieldCaption(const QString &field) {
    static const QHash<QString, QString> byName = [] {
        QHash<QString, QString> out;
        for (const auto &[name, caption] : Captions())
            out.insert(name, caption);
        return out;
    }();
    return byName.value(field, field);
}

QStringList CaptionedFields() {
    QStringList names;
    for (const auto &[name, caption] : Captions())
        names.append(name);
    return names;
}
