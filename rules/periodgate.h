#pragma once

#include "dataset/datetime.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <span>

// The period gate: may a module post into a company's books on a given day? One table of
// rules over plain values, read by the server that answers, the client that prints the answer
// and the protocol document, so that all three give the same reason in the same words.
namespace PeriodGate {

// The accounting period every module's day must also lie in.
inline constexpr const char *AccountingStart = "DTINICCONT";
inline constexpr const char *AccountingEnd = "DTFINACONT";

struct Module {
    const char16_t *Code;   // what a client names it by: "LANC", "FIN", ...
    const char16_t *Period; // its window, as the texts name it
    const char *StartColumn;
    const char *EndColumn;
    bool Optional; // the record may leave its window empty
};

std::span<const Module> Modules();
// nullptr when no module has that code; codes compare without case.
const Module *FindModule(QStringView code);

// What is known of one check when the rules run. A date of 0 is an empty column.
struct Reading {
    std::optional<TDateTime> Day; // nullopt: the client's text is no date
    const Module *Mod = nullptr;
    bool CompanyKnown = false;
    bool HasRecord = false;
    TDateTime AccountingStart = 0;
    TDateTime AccountingEnd = 0;
    TDateTime WindowStart = 0;
    TDateTime WindowEnd = 0;
    TDateTime Closed = 0;  // the company's definitive close; 0: never closed
    bool Excepted = false; // an exception in force for this client covers the module and day
};

// Which window an answer reports as the one that decided.
// Closed shows only the close's day, as the window's last (%3), with no first.
enum class Shown { None, Module, Accounting, Closed };

struct Rule {
    const char16_t *Reason; // stable code clients may branch on
    // Whether the rule answers; a rule that answers refuses unless it Grants.
    bool (*Refuses)(const Reading &r);
    // %1 the module's window, %2 and %3 its first and last day (dd/mm/aaaa).
    const char16_t *Text;
    Shown Window;
    bool Grants = false;
};

// The rules in the order they are tried; the last line, whose Refuses is null, allows.
std::span<const Rule> Rules();

struct Answer {
    bool Allowed = false;
    const Rule *Applied = nullptr;
    TDateTime Start = 0; // 0 when the answer shows no window
    TDateTime End = 0;
};

Answer Decide(const Reading &reading);

// The rule's text with the module's window in it: what is left to fill in is the window's
// first and last day, %2 and %3, when the rule shows one. Separate from Decide, so that a
// hundred thousand answers need not build a hundred thousand texts.
QString Template(const Rule &rule, const Module *module);

// "dd/mm/aaaa" or ISO ("aaaa-mm-dd", a time of day is dropped); nullopt for anything else.
std::optional<TDateTime> ParseDay(const QString &text);

} // namespace PeriodGate
