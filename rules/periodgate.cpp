#include "rules/periodgate.h"

namespace PeriodGate {

namespace {

constexpr Module ModuleTable[] = {
    {u"LANC", u"período de lançamento", "DTINICLANC", "DTFINALANC", false},
    {u"DFE", u"período de integração Doc. Fiscais Entrada", "DTINIINTCONTDFE", "DTFININTCONTDFE",
     false},
    {u"DFS", u"período de integração Doc. Fiscais Saída", "DTINIINTCONTDFS", "DTFININTCONTDFS",
     false},
    {u"FIN", u"período de integração Financeiro", "DTINICCTBL", "DTFINACCTBL", false},
    {u"GPA", u"período de integração Gestão de Ativos", "DTINIINTCONTGPA", "DTFININTCONTGPA",
     false},
    {u"FIS", u"período de integração Fiscal", "DTINIINTCONTFIS", "DTFININTCONTFIS", true},
    {u"VEXT", u"período de integração Venda Extemporânea", "DTINIINTCONTVEXT", "DTFININTCONTVEXT",
     true},
};

using R = const Reading &;

bool Outside(TDateTime day, TDateTime first, TDateTime last) {
    return day < first || day > last;
}

// The client's own mistakes come first, then the definitive close, then what the database
// lacks, then the windows. Both
// ends of every window count as inside. A record without its accounting period is no parameter
// at all: no client writes one, and no day could be judged against it.
constexpr Rule RuleTable[] = {
    {u"data_invalida", [](R r) { return !r.Day; }, u"Data inválida: use dd/mm/aaaa ou aaaa-mm-dd.",
     Shown::None},
    {u"modulo_desconhecido", [](R r) { return r.Mod == nullptr; },
     u"Módulo desconhecido: use LANC, DFE, DFS, FIN, GPA, FIS ou VEXT.", Shown::None},
    {u"empresa_desconhecida", [](R r) { return !r.CompanyKnown; }, u"Empresa não cadastrada.",
     Shown::None},
    // A day closed for good is answered so whatever the record says.
    {u"encerrado", [](R r) { return r.Closed != 0 && *r.Day <= r.Closed; },
     u"Data dentro do encerramento definitivo da empresa (até %3).", Shown::Closed},
    {u"sem_parametro",
     [](R r) { return !r.HasRecord || r.AccountingStart == 0 || r.AccountingEnd == 0; },
     u"Empresa sem parâmetro contábil cadastrado.", Shown::None},
    // An exception opens only a day the window or the accounting period would refuse; %4 its
    // number and %5 its reason, filled in by whoever answers.
    {u"excecao",
     [](R r) {
         return r.Excepted && (r.WindowStart == 0 || r.WindowEnd == 0 ||
                               Outside(*r.Day, r.WindowStart, r.WindowEnd) ||
                               Outside(*r.Day, r.AccountingStart, r.AccountingEnd));
     },
     u"Permitido pela exceção nº %4: %5.", Shown::None, true},
    {u"sem_janela", [](R r) { return r.WindowStart == 0 || r.WindowEnd == 0; },
     u"Sem %1 informado.", Shown::None},
    {u"fora_da_janela", [](R r) { return Outside(*r.Day, r.WindowStart, r.WindowEnd); },
     u"Data fora do %1 (%2 a %3).", Shown::Module},
    {u"fora_do_periodo_contabil",
     [](R r) { return Outside(*r.Day, r.AccountingStart, r.AccountingEnd); },
     u"Data fora do período contábil (%2 a %3).", Shown::Accounting},
    {u"ok", nullptr, u"Data dentro do %1 (%2 a %3).", Shown::Module},
};

} // namespace

std::span<const Module> Modules() {
    return ModuleTable;
}

const Module *FindModule(QStringView code) {
    for (const Module &module : ModuleTable)
        if (code.compare(QStringView(module.Code), Qt::CaseInsensitive) == 0)
            return &module;
    return nullptr;
}

std::span<const Rule> Rules() {
    return RuleTable;
}

Answer Decide(const Reading &reading) {
    const Rule *rule = nullptr;
    for (const Rule &candidate : RuleTable) {
        rule = &candidate;
        if (!candidate.Refuses || candidate.Refuses(reading))
            break;
    }
    Answer answer;
    answer.Applied = rule;
    answer.Allowed = rule->Refuses == nullptr || rule->Grants;
    if (rule->Window == Shown::Module) {
        answer.Start = reading.WindowStart;
        answer.End = reading.WindowEnd;
    } else if (rule->Window == Shown::Accounting) {
        answer.Start = reading.AccountingStart;
        answer.End = reading.AccountingEnd;
    } else if (rule->Window == Shown::Closed) {
        answer.End = reading.Closed;
    }
    return answer;
}

QString Template(const Rule &rule, const Module *module) {
    QString text = QString::fromUtf16(rule.Text);
    if (module)
        text.replace(QStringLiteral("%1"), QString::fromUtf16(module->Period));
    return text;
}

std::optional<TDateTime> ParseDay(const QString &text) {
    if (text.size() == 10 && text.at(2) == u'/')
        return DateTimeUtil::ParseDate(text);
    // Anything longer than a day with its time could only be refused after a long read.
    if (text.size() > 30)
        return std::nullopt;
    if (const auto value = DateTimeUtil::FromIso(text))
        return DateTimeUtil::Trunc(*value);
    return std::nullopt;
}

} // namespace PeriodGate
