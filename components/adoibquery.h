#pragma once

#include "components/queryparam.h"
#include "dataset/clientdataset.h"

#include <QSqlDatabase>
#include <QString>

#include <deque>

// Read-only query on the local database (the host's LocalDatabase(), or a connection given with
// SetDatabase). It IS an in-memory table: Open() runs the SQL text and loads the result with
// SetData, so FieldByName, First/Next/Eof, IsEmpty, RecordCount and a TDataSource all work on it.
//
//   qry.SetSQL(u"SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = :P_CDEMPRESA"_s);
//   qry.ParamByName(u"P_CDEMPRESA"_s).SetAsString(u"01"_s);
//   qry.Open();
//
// Parameters are ":NAME" in the text (quoted text is left alone), created when the text is set;
// a parameter used twice is one parameter. A cleared parameter is NULL.
// Result field types come from the values (text -> string with the declared or observed size,
// integer, real). Declare field definitions with SetFieldDef to fix size and labels; they are
// applied on every open (by name, without regard to case). Open on an open query reruns it.
// A database failure throws EDatabaseError with the driver's text.
class TADOIBQuery final : public TClientDataSet {
    Q_OBJECT
public:
    explicit TADOIBQuery(QObject *parent = nullptr);
    TADOIBQuery(const QString &name, QObject *parent);

    void SetDatabase(const QSqlDatabase &database); // default: Host()->LocalDatabase()
    QString SQL() const { return m_sql; }
    void SetSQL(const QString &sql); // closes the query; parameters rebuilt (values of
                                     // parameters of the same name are kept)

    int ParamCount() const { return int(m_params.size()); }
    TParam &Params(int index);
    TParam &ParamByName(const QString &name); // EDatabaseError when absent; case-insensitive
    TParam *FindParam(const QString &name);

    // Size (for string fields), label and visibility of a result column, applied on open.
    void SetFieldDef(const QString &name, TFieldType type, int size, const QString &label = {},
                     bool required = false, bool visible = true);

    void Open();  // runs the query (hides TClientDataSet::Open)
    void Close(); // closes (content dropped)

private:
    struct ColumnDef {
        QString Name;
        TFieldType Type;
        int Size;
        QString Label;
        bool Required;
        bool Visible;
    };

    QSqlDatabase Database() const;

    QString m_sql;
    std::deque<TParam> m_params; // deque: references from ParamByName stay valid
    QVector<ColumnDef> m_columnDefs;
    QSqlDatabase m_database;
    bool m_hasDatabase = false;
};
