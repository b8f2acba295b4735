#pragma once

#include "datetime.h"
#include "packet.h"

#include <QString>
#include <QVariant>

#include <functional>

class TClientDataSet;

// A typed column of a table, reading and writing the table's current row. Writing needs the
// table in edit or insert state (EDatabaseError otherwise).
class TField final {
public:
    TField(TClientDataSet *dataSet, int index, TFieldDef def);

    TClientDataSet *DataSet() const { return m_dataSet; }
    int Index() const { return m_index; }
    const QString &FieldName() const { return m_def.Name; }
    TFieldType DataType() const { return m_def.DataType; }
    int Size() const { return m_def.Size; }
    bool Required() const { return m_def.Required; }
    const TFieldDef &Def() const { return m_def; }

    bool Visible() const { return m_visible; }
    void SetVisible(bool visible) { m_visible = visible; }
    QString DisplayLabel() const { return m_label.isEmpty() ? m_def.Name : m_label; }
    void SetDisplayLabel(const QString &label) { m_label = label; }

    bool IsNull() const;
    void Clear();
    QVariant Value() const; // null when no value
    void SetValue(const QVariant &value);

    // Conversions. Reading a field without a value gives "", 0 or 0.0.
    QString AsString() const; // dates as "dd/mm/yyyy" (with " hh:nn:ss" when a time is held)
    void SetAsString(const QString &text); // empty text clears; EConvertError on bad text
    TDateTime AsDateTime() const;
    void SetAsDateTime(TDateTime value);
    qint64 AsInteger() const;
    void SetAsInteger(qint64 value);
    double AsFloat() const;
    void SetAsFloat(double value);

    // Text for display (grid) and for editing; OnGetText, when set, replaces both.
    QString DisplayText() const;
    QString Text() const;
    using GetTextEvent = std::function<void(TField &sender, QString &text, bool displayText)>;
    GetTextEvent OnGetText;

    // The value as this field stores it (see TRowValues); EConvertError for text that is not a
    // value of the field's kind, EDatabaseError for a text longer than the field or a value of
    // an unrelated kind.
    static QVariant Coerce(const TFieldDef &def, const QVariant &value);

private:
    QString DefaultText() const;

    TClientDataSet *m_dataSet;
    int m_index;
    TFieldDef m_def;
    bool m_visible = true;
    QString m_label;
};
