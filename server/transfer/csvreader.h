#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

struct csv_parser;

// A CSV file as spreadsheets and accounting systems write it, read one row at a time over
// libcsv: ';' or ',' between fields (whichever the header line uses, or Excel's "sep=" line
// names), quoted fields, CRLF or LF, UTF-8 with or without BOM, or Windows-1252 when the file is
// not valid UTF-8; UTF-16 is refused at Open, with how to save the file instead. Memory stays
// within a few fields' worth whatever the file's size: a field over MaxFieldBytes or a row over
// MaxFields fields stops the reading with an error.
class CsvReader final {
public:
    static constexpr qsizetype MaxFieldBytes = 64 * 1024;
    static constexpr qsizetype MaxFields = 64;

    enum class Encoding { Utf8, Windows1252 };

    struct Row {
        qint64 Line = 0; // where the row starts in the file, from 1
        QStringList Fields;
    };

    CsvReader();
    ~CsvReader();
    CsvReader(const CsvReader &) = delete;
    CsvReader &operator=(const CsvReader &) = delete;

    // Opens the file and looks it over once (encoding, separator); false with *error.
    bool Open(const QString &path, QString *error);
    // Back to the first row, for another pass over the same file.
    bool Rewind(QString *error);
    // The next row with at least one field (blank lines are skipped); false at the end or on an
    // error, which Error() then tells (with its line).
    bool Next(Row &row);
    const QString &Error() const { return m_error; }

    char Separator() const { return m_separator; }
    Encoding TextEncoding() const { return m_encoding; }
    qint64 Size() const { return m_size; }
    qint64 Position() const { return m_position; }

    static QString Decode(const QByteArray &bytes, Encoding encoding);

private:
    static void OnField(void *data, size_t length, void *self);
    static void OnRowEnd(int terminator, void *self);
    bool feed();
    void fail(const QString &text);

    QFile m_file;
    std::unique_ptr<csv_parser> m_parser;
    Encoding m_encoding = Encoding::Utf8;
    char m_separator = ';';
    qint64 m_size = 0;
    qint64 m_start = 0;     // after the BOM and Excel's "sep=" line
    qint64 m_firstLine = 1; // the line m_start is on
    qint64 m_position = 0;
    qint64 m_line = 1;
    qint64 m_rowLine = 1;
    bool m_lastWasCr = false;
    bool m_finished = false;
    QList<QByteArray> m_current;
    QList<Row> m_ready;
    QString m_error;
};
