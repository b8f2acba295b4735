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

// `path` "-" is standard output. False with *error; *rows the data rows written. `condition`
// (SQL, no parameters) keeps only the rows it holds for.
bool Run(Database &database, const QString &kind, const QString &path, qint64 *rows,
         QString *error, const QString &condition = {});

} // namespace CsvExport
