#include "rules/confirmrules.h"

namespace ParamRules {

void PeriodReadings::Set(Slot slot, bool empty, TDateTime date) {
    Reading &reading = m_dates[static_cast<int>(slot)];
    reading.Empty = empty;
    reading.Date = date > 0 ? DateTimeUtil::Trunc(date) : 0;
}

TDateTime PeriodReadings::F(Slot slot) const {
    const TDateTime date = D(slot);
    return date > 0 ? DateTimeUtil::FirstDayOfMonth(date) : 0;
}

TDateTime PeriodReadings::L(Slot slot) const {
    const TDateTime date = D(slot);
    return date > 0 ? DateTimeUtil::LastDayOfMonth(date) : 0;
}

namespace {

using R = const PeriodReadings &;
using enum Slot;

bool OnlyOneGiven(R r, Slot first, Slot last) {
    return r.Empty(first) != r.Empty(last);
}

bool BothGiven(R r, Slot first, Slot last) {
    return !r.Empty(first) && !r.Empty(last);
}

// Emptiness reads the controls' texts, everything after reads their dates. Every comparison is
// strict: equal days pass. The accounting and posting periods are whole months (F and L); the
// server-only lines read the same periods day by day.
constexpr ConfirmRule Rules[] = {
    {1, [](R r) { return r.Empty(IniCont); }, u"DtIniPerCont", IniCont, true},
    {2, [](R r) { return r.Empty(FinCont); }, u"DtFimPerCont", FinCont, true},
    {3, [](R r) { return r.Empty(IniLanc); }, u"DtIniPerLanc", IniLanc, true},
    {4, [](R r) { return r.Empty(FinLanc); }, u"DtFimPerLanc", FinLanc, true},
    {5, [](R r) { return r.Empty(IniDFE); }, u"DFEINI_DEV", IniDFE, false},
    {6, [](R r) { return r.Empty(FinDFE); }, u"DFEFIN_DEV", FinDFE, false},
    {7, [](R r) { return r.Empty(IniDFS); }, u"DFSINI_DEV", IniDFS, false},
    {8, [](R r) { return r.Empty(FinDFS); }, u"DFSFIN_DEV", FinDFS, false},
    {9, [](R r) { return r.Empty(IniFIN); }, u"FININI_DEV", IniFIN, false},
    {10, [](R r) { return r.Empty(FimFIN); }, u"FINFIN_DEV", FimFIN, false},
    {11, [](R r) { return r.Empty(IniGPA); }, u"GPAINI_DEV", IniGPA, false},
    {12, [](R r) { return r.Empty(FinGPA); }, u"GPAFIN_DEV", FinGPA, false},
    {13, [](R r) { return r.F(IniCont) > r.L(FinCont); }, u"DtiniMaior", IniCont, true},
    {13, [](R r) { return r.D(FinCont) < r.D(IniCont); }, u"DtiniMaior", IniCont, true, true},
    {14, [](R r) { return r.F(IniLanc) > r.L(FinLanc); }, u"DtMaiorContFim", IniLanc, true},
    {14, [](R r) { return r.D(FinLanc) < r.D(IniLanc); }, u"DtMaiorContFim", IniLanc, true, true},
    {15, [](R r) { return r.F(IniCont) > r.F(IniLanc); }, u"DtMaiorCont", IniLanc, true},
    {16, [](R r) { return r.L(FinCont) < r.L(FinLanc); }, u"DtMaiorContMaior", FinLanc, true},
    {17, [](R r) { return r.D(FinDFE) < r.D(IniDFE); }, u"DtMenorDFEMaior", IniDFE, true},
    {18, [](R r) { return r.D(FinDFS) < r.D(IniDFS); }, u"DtMenorDFSMaior", IniDFS, true},
    {19, [](R r) { return r.F(IniCont) > r.F(IniDFE) || r.L(FinCont) < r.L(FinDFE); },
     u"DtDFEMaior", IniDFE, true},
    {20, [](R r) { return r.F(IniCont) > r.F(IniDFS) || r.L(FinCont) < r.L(FinDFS); },
     u"DtDFSMaior", IniDFS, true},
    {21, [](R r) { return r.F(IniCont) > r.F(IniFIN) || r.L(FinCont) < r.L(FimFIN); },
     u"DtInteMaior", IniFIN, true},
    {22, [](R r) { return r.D(FimFIN) < r.D(IniFIN); }, u"DtMenorInte", IniFIN, true},
    {23, [](R r) { return r.L(FinGPA) < r.F(IniGPA); }, u"DtMenorGPAMaior", IniGPA, true},
    {23, [](R r) { return r.D(FinGPA) < r.D(IniGPA); }, u"DtMenorGPAMaior", IniGPA, true, true},
    {24, [](R r) { return r.F(IniCont) > r.F(IniGPA) || r.L(FinCont) < r.L(FinGPA); },
     u"DtGPAMaior", IniGPA, true},
    {25, [](R r) { return OnlyOneGiven(r, IniFIS, FinFIS); }, u"IntervFISVaz", IniFIS, true},
    {26, [](R r) { return BothGiven(r, IniFIS, FinFIS) && r.D(FinFIS) < r.D(IniFIS); },
     u"DtMenorFISMaior", IniFIS, true},
    {27, [](R r) { return BothGiven(r, IniFIS, FinFIS) && r.F(IniCont) > r.F(IniFIS); },
     u"DtFISMaior", IniFIS, true},
    {28, [](R r) { return OnlyOneGiven(r, IniVEXT, FinVEXT); }, u"IntervEXTVaz", IniVEXT, true},
    {29, [](R r) { return BothGiven(r, IniVEXT, FinVEXT) && r.D(FinVEXT) < r.D(IniVEXT); },
     u"DtMenorEXTMaior", IniVEXT, true},
    {30,
     [](R r) {
         return BothGiven(r, IniVEXT, FinVEXT) &&
                (r.F(IniCont) > r.F(IniVEXT) || r.L(FinCont) < r.L(FinVEXT));
     },
     u"DtEXTMaior", IniVEXT, true},
};

} // namespace

std::span<const ConfirmRule> ConfirmRules() {
    return Rules;
}

const ConfirmRule *FirstBroken(const PeriodReadings &readings, Checker who) {
    for (const ConfirmRule &rule : Rules)
        if ((who == Checker::Server || !rule.ServerOnly) && rule.Fails(readings))
            return &rule;
    return nullptr;
}

} // namespace ParamRules
