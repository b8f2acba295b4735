#include "closedspan.h"

#include "database.h"
#include "paramrecord.h"
#include "rules/periodgate.h"

using namespace Qt::StringLiterals;

namespace ClosedSpan {

namespace {

QString shown(QDate date) {
    return date.toString(u"dd/MM/yyyy"_s);
}

QString periodName(const QString &column) {
    if (column == QLatin1StringView(PeriodGate::AccountingStart))
        return u"período contábil"_s;
    for (const PeriodGate::Module &module : PeriodGate::Modules())
        if (column == QLatin1StringView(module.StartColumn))
            return QString::fromUtf16(module.Period);
    return column;
}

} // namespace

const QStringList &StartColumns() {
    static const QStringList columns = [] {
        QStringList out{QString::fromLatin1(PeriodGate::AccountingStart)};
        for (const PeriodGate::Module &module : PeriodGate::Modules())
            out.append(QString::fromLatin1(module.StartColumn));
        return out;
    }();
    return columns;
}

QDate Of(QSqlDatabase &db, const QString &code) {
    QSqlQuery &q =
        Database::Statement(db, u"SELECT DTENCERRAMENTO FROM ENCERRAMENTO WHERE CDEMPRESA = ?"_s);
    q.bindValue(0, code);
    Database::Exec(q);
    const QDate out = Database::Next(q) ? ParamRecord::StoredDate(q.value(0)) : QDate();
    q.finish();
    return out;
}

QHash<QString, QDate> All(QSqlDatabase &db) {
    QSqlQuery &q = Database::Statement(db, u"SELECT CDEMPRESA, DTENCERRAMENTO FROM ENCERRAMENTO"_s);
    Database::Exec(q);
    QHash<QString, QDate> out;
    while (Database::Next(q))
        out.insert(q.value(0).toString(), ParamRecord::StoredDate(q.value(1)));
    return out;
}

QString Phrase(const QString &code, QDate closed) {
    return u"a empresa '%1' está encerrada definitivamente até %2"_s.arg(code, shown(closed));
}

QString Sentence(const QString &code, QDate closed) {
    QString text = Phrase(code, closed);
    text[0] = text[0].toUpper();
    return text;
}

QStringList OpenPeriods(const QHash<QString, QDate> &starts, QDate closed) {
    QStringList out;
    for (const QString &column : StartColumns()) {
        const QDate start = starts.value(column);
        if (start.isValid() && start <= closed)
            out.append(periodName(column));
    }
    return out;
}

void RequireRecordsAfter(QSqlDatabase &db, const QString &condition, const QVariantList &binds) {
    // SQLite keeps days as ISO text, which compares as the days do; its first ten characters
    // drop a time of day some other program may have written.
    const bool sqlite = db.driverName() != u"QPSQL"_s;
    QStringList select, test;
    for (const QString &column : StartColumns()) {
        const QString value = sqlite ? u"substr(C.%1, 1, 10)"_s.arg(column) : u"C."_s + column;
        select.append(u"C."_s + column);
        test.append(u"%1 <= N.DTENCERRAMENTO"_s.arg(value));
    }
    QSqlQuery &q = Database::Statement(
        db, u"SELECT C.CDEMPRESA, N.DTENCERRAMENTO, %1 FROM CONTOPECTBL C JOIN ENCERRAMENTO N "
            "ON N.CDEMPRESA = C.CDEMPRESA WHERE (%2)%3 ORDER BY C.CDEMPRESA LIMIT 1"_s.arg(
                select.join(u", "_s), test.join(u" OR "_s),
                condition.isEmpty() ? QString() : u" AND "_s + condition));
    for (qsizetype i = 0; i < binds.size(); ++i)
        q.bindValue(int(i), binds.at(i));
    Database::Exec(q);
    if (!Database::Next(q))
        return;
    const QString code = q.value(0).toString();
    const QDate closed = ParamRecord::StoredDate(q.value(1));
    QHash<QString, QDate> starts;
    for (qsizetype i = 0; i < StartColumns().size(); ++i)
        starts.insert(StartColumns().at(i), ParamRecord::StoredDate(q.value(int(2 + i))));
    q.finish();
    throw CallFailure{u"refused"_s,
                      u"%1: nenhum período pode começar nessa data ou antes (%2)."_s.arg(
                          Sentence(code, closed), OpenPeriods(starts, closed).join(u", "_s))};
}

} // namespace ClosedSpan
