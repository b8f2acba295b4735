#pragma once

#include "dataset/datetime.h"

#include <array>
#include <span>

// The ordered period rules a parameter record must pass before it is saved, as one table over
// plain dates. Whoever checks a record (the screen from its date controls, the server from stored
// values) fills a PeriodReadings and asks for the first rule it breaks.
namespace ParamRules {

// The sixteen dates of a record, in the order of the form's date controls.
enum class Slot : int {
    IniCont, // accounting period
    FinCont,
    IniLanc, // posting period
    FinLanc,
    IniDFE, // incoming fiscal documents
    FinDFE,
    IniDFS, // outgoing fiscal documents
    FinDFS,
    IniFIN, // finance
    FimFIN,
    IniGPA, // asset management
    FinGPA,
    IniFIS, // tax (optional as a whole)
    FinFIS,
    IniVEXT, // late sales (optional as a whole)
    FinVEXT,
};
inline constexpr int SlotCount = 16;

// What the rules read of each date: whether it is given, and its day number.
class PeriodReadings final {
public:
    // `empty`: the date is not given (a control's text is blank, a stored value is null).
    // `date`: its value; 0 when there is none. A time of day is ignored.
    void Set(Slot slot, bool empty, TDateTime date);

    bool Empty(Slot slot) const { return At(slot).Empty; }
    TDateTime D(Slot slot) const { return At(slot).Date; }
    TDateTime F(Slot slot) const; // first day of D's month; 0 when D is 0
    TDateTime L(Slot slot) const; // last day of D's month; 0 when D is 0

private:
    struct Reading {
        bool Empty = true;
        TDateTime Date = 0;
    };
    const Reading &At(Slot slot) const { return m_dates[static_cast<int>(slot)]; }
    std::array<Reading, SlotCount> m_dates{};
};

struct ConfirmRule {
    int Number;
    bool (*Fails)(const PeriodReadings &r);
    const char16_t *Key; // message key in the screen's catalogue
    Slot Focus;          // the date to put the user on
    bool FormPage;       // the form page comes forward before the focus moves
    // Checked by the server alone. The screen shows the accounting and posting periods as months
    // and has always let the asset-management period end earlier in its start's month; a record
    // another client writes day by day must still run forwards, and the server says so in the
    // words the screen uses for the same period. Such a rule carries the number of the screen's
    // rule it sharpens.
    bool ServerOnly = false;
};

enum class Checker { Screen, Server };

// Rules 1 to 30 and the server's own, in the order they are checked.
std::span<const ConfirmRule> ConfirmRules();

// The first rule the readings break for `who`, or nullptr when they pass them all.
const ConfirmRule *FirstBroken(const PeriodReadings &readings, Checker who = Checker::Screen);

} // namespace ParamRules
