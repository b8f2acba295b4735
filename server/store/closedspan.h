#pragma once

#include <QDate>
#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>

// The definitive close (ENCERRAMENTO): per company, the last day of books closed for good. It
// only ever moves forward, and every path that writes refuses what would land on or before it.
namespace ClosedSpan {

// The day stored for `code`; invalid when the company was never closed.
QDate Of(QSqlDatabase &db, const QString &code);
// Every company's day, by code.
QHash<QString, QDate> All(QSqlDatabase &db);

// "a empresa '01' está encerrada definitivamente até 31/12/2025": the start of every refusal.
QString Phrase(const QString &code, QDate closed);
// The same as a sentence's start: "A empresa '01' ...".
QString Sentence(const QString &code, QDate closed);

// The names of the periods in `starts` (the record's columns, as read) that begin on or before
// `closed`: "período contábil", "período de lançamento", ...; empty days are no period.
QStringList OpenPeriods(const QHash<QString, QDate> &starts, QDate closed);
// The start columns of the accounting period and of every module's window.
const QStringList &StartColumns();

// Throws a refusal naming the first company (in code order) whose stored record has a period
// starting on or before its close. `condition` is on column C.CDEMPRESA; empty for all.
// REQUIRES: in the transaction that wrote the records.
void RequireRecordsAfter(QSqlDatabase &db, const QString &condition, const QVariantList &binds);

} // namespace ClosedSpan
