#pragma once

#include <QString>
#include <QStringList>

class Database;

// The group's data as CSV files in the form the import reads: UTF-8, ';' between fields, a
// header line, dates dd/mm/aaaa, amounts with a decimal comma. Rows are written as the database
// hands them out, so memory stays flat whatever the table's size.
namespace CsvExport {

// "empresas", "saldos", "lancamentos", "parametros", "paramgeral", "fechamentos", "historico"
QStringList Kinds();

// UTF-8 as the import reads it; with a BOM, which Excel needs to take it for UTF-8; or
// Windows-1252 for Excel versions that know no UTF-8, refusing any character it lacks.
enum class Encoding { Utf8, Utf8Bom, Windows1252 };
bool ParseEncoding(const QString &name, Encoding &encoding); // "utf8", "utf8-bom", "cp1252"

// `path` "-" is standard output; a file is written beside `path`, readable by its owner only,
// and put in its place only when whole: a failure leaves a file already there as it was. False with *error; *rows the data rows written. `condition` (SQL, no
// parameters) keeps only the rows it holds for.
// Where an exported history starts and ends in the chain: what a reader of the file compares
// with the anchor and the end written down (empty texts when it holds no chained row).
struct ChainEnds {
    QString FirstChain;    // the first row's NRCADEIA
    QString FirstPrevious; // the hash it follows: 64 zeros, or the anchor after a prune
    QString LastChain;
    QString LastHash;
};

bool Run(Database &database, const QString &kind, const QString &path, Encoding encoding,
         qint64 *rows, QString *error, const QString &condition = {}, ChainEnds *ends = nullptr);

} // namespace CsvExport
