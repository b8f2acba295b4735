#pragma once

#include "callcontext.h"
#include "database.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVariantList>
#include <QVector>

// The history of one call's changes, one row per changed field, written in the call's own
// transaction: a refused or rolled-back call leaves none, and a history that cannot be written
// fails the call.
class ChangeHistory final {
public:
    explicit ChangeHistory(QString method);

    // On by default. Off only to measure what the history costs: then no snapshot is taken and
    // nothing is written. Set once, before the first call.
    static void SetRecording(bool on);
    static bool Recording();

    // A record as text per stored column ("2026-12-31" for dates); empty when there is none.
    using Snapshot = QHash<QString, QString>;
    static Snapshot RecordOf(QSqlDatabase &db, const QString &code);
    // The same from a row already read: the stored columns, in their order, from column 0.
    static Snapshot FromRow(const QSqlQuery &row);
    static Snapshot GeneralOf(QSqlDatabase &db);

    // The fields that differ between the two, as one insert (nothing before), update or delete
    // (nothing after). `code` empty: the general parameter.
    void Compare(const QString &code, const Snapshot &before, const Snapshot &after);

    // A period closing: who closed which company up to which day (ISO), as the insertion of the
    // pseudo-field FECHAMENTO, so that the history's readers need nothing new to show it.
    void AddClosing(const QString &code, const QString &isoDate);
    // A definitive close, as the pseudo-field ENCERRAMENTO: the day it reached (ISO) and the
    // reason in the new value, "2025-12-31 (motivo)", cut to the column; the old day, if any.
    // An exception to the gate granted or revoked, as the pseudo-field EXCECAO.
    void AddException(const QString &code, const QString &before, const QString &after);
    void AddFinalClose(const QString &code, const QString &previousIso, const QString &isoDate,
                       const QString &reason);

    // Each row is numbered and hashed into the history's chain as it is written.
    // REQUIRES: in the call's transaction, after the changes; on PostgreSQL, under the writers'
    // exclusive turn (see Turn()).
    void Write(QSqlDatabase &db);

    // The turn a writing call takes on PostgreSQL: the history's chain has one head, so writers
    // that record history take it one at a time, in commit order.
    static Database::Turn Turn();

    // A bulk write's history without a round trip per row: the companies `condition` names (on
    // column E.CDEMPRESA of EMPRESA; empty for all) are kept aside with their records before the
    // write, and compared with what the write left inside the database. The same rows as
    // Compare gives, numbered in the same order (company, then field), though not contiguously.
    // REQUIRES: in the call's transaction; CaptureBulk before the changes, WriteBulk after.
    void CaptureBulk(QSqlDatabase &db, Database::Dialect dialect, const QString &condition,
                     const QVariantList &binds);
    void WriteBulk(QSqlDatabase &db, Database::Dialect dialect);

private:
    struct Row {
        QString Operation; // "I", "A", "E"
        QString Company;
        QString Field;
        QString Type; // "date" or "string"
        QString Before;
        QString After;
        bool HasBefore;
        bool HasAfter;
        qint64 Seq = 0; // NRSEQ; 0: the one after the call's rows so far
    };
    QString m_id;
    QDateTime m_time;
    QString m_method;
    Caller m_caller;
    QVector<Row> m_rows;
    int m_written = 0;  // NRSEQ of this call already taken: the next rows' follow them
    int m_captured = 0; // companies CaptureBulk kept aside
};
