#pragma once

#include "field.h"
#include "packet.h"

#include <QObject>
#include <QHash>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

enum class TDataSetState { Inactive, Browse, Edit, Insert };

enum TLocateOption { loCaseInsensitive = 1, loPartialKey = 2 };

// In-memory table with a current row, a state, and a change log of the rows inserted, modified
// and deleted since the last merge.
//
// Event order follows the platform:
//   Insert/Append: BeforeInsert, (pending edit posted), state Insert, OnNewRecord, AfterInsert,
//                  AfterScroll
//   Edit:          BeforeEdit, state Edit, AfterEdit (Edit on an empty table inserts instead)
//   Post:          bound controls write (updateRecord), BeforePost, row stored and logged,
//                  state Browse, AfterPost
//   Cancel:        BeforeCancel, row restored, state Browse, AfterCancel
//   Delete:        (in insert state: Cancel) BeforeDelete, row removed and logged, AfterDelete,
//                  AfterScroll
//   Open/SetData:  state Browse, AfterOpen, AfterScroll when not empty
// An exception thrown by a Before* event (or OnNewRecord) cancels the operation and leaves the
// state and the row as they were; it then travels on to the caller.
class TClientDataSet : public QObject {
    Q_OBJECT
public:
    explicit TClientDataSet(QObject *parent = nullptr);
    ~TClientDataSet() override;

    // Definitions used by CreateDataSet; SetData takes the packet's own.
    TFieldDefs &FieldDefs() { return m_fieldDefs; }
    void CreateDataSet(); // opens an empty table with FieldDefs
    void Open();          // reopens with the content held (or FieldDefs when never loaded)
    void Close();         // drops a pending edit; keeps content and change log for a later Open
    bool Active() const { return m_state != TDataSetState::Inactive; }
    void SetActive(bool active);
    TDataSetState State() const { return m_state; }

    int FieldCount() const;
    TField *Fields(int index) const;
    TField *FieldByName(const QString &name) const; // EDatabaseError when absent
    TField *FindField(const QString &name) const;   // nullptr when absent

    bool IsEmpty() const; // no row; a row being inserted is one
    int RecordCount() const;
    int RecNo() const; // 1-based; 0 when empty
    void SetRecNo(int recNo);
    bool Eof() const;
    bool Bof() const;
    void First();
    void Next();
    void Prior();
    void Last();
    // keyFields "A;B"; keyValues one value, or a QVariantList with one per field.
    bool Locate(const QString &keyFields, const QVariant &keyValues, int options = 0);

    void Insert();
    void Append();
    void Edit();
    void Post();
    void Cancel();
    void Delete();
    bool Modified() const { return m_modified; }

    // Change log.
    bool LogChanges() const { return m_logChanges; }
    void SetLogChanges(bool on) { m_logChanges = on; }
    int ChangeCount() const;
    TChangeLog GetDelta() const;
    void MergeChangeLog();
    void CancelUpdates(); // back to the content of the last merge

    // Whole content. SetData replaces it (and the field definitions), leaving the table open,
    // browsing on its first row, with an empty change log.
    TTablePacket GetData() const;
    void SetData(const TTablePacket &packet);
    void SetData(TTablePacket &&packet); // takes the rows over instead of sharing them
    void EmptyDataSet();                 // removes every row; nothing is logged

    // "A;B": rows are read in that order; empty: the order in which they were loaded or added.
    QString IndexFieldNames() const { return m_indexFieldNames; }
    void SetIndexFieldNames(const QString &names);

    using DataSetEvent = std::function<void(TClientDataSet &dataSet)>;
    DataSetEvent BeforeInsert, OnNewRecord, AfterInsert;
    DataSetEvent BeforeEdit, AfterEdit;
    DataSetEvent BeforePost, AfterPost;
    DataSetEvent BeforeCancel, AfterCancel;
    DataSetEvent BeforeDelete, AfterDelete;
    DataSetEvent AfterOpen, AfterClose, AfterScroll;

    // Used by TField: the values of the row being read or edited.
    const TRowValues &CurrentValues() const;
    void SetFieldValue(int index, const QVariant &value); // REQUIRES: edit or insert state

Q_SIGNALS:
    void stateChanged();
    void dataChanged(TField *field); // nullptr: the current row or the whole content changed
    void updateRecord();             // bound controls write their values into their fields now

private:
    void requireActive() const;
    void setState(TDataSetState state);
    void scrolled();
    void checkBrowseMode(); // a pending edit is posted when modified, else cancelled
    void dropPendingEdit();
    void buildFields(const TFieldDefs &defs);
    void opened();
    void beginInsert(bool append);

    struct Impl;
    std::unique_ptr<Impl> d;
    TFieldDefs m_fieldDefs;
    std::vector<std::unique_ptr<TField>> m_fields;
    // The fields by upper-case name: every displayed cell and every rule looks a field up.
    QHash<QString, TField *> m_byName;
    TDataSetState m_state = TDataSetState::Inactive;
    bool m_logChanges = true;
    bool m_modified = false;
    QString m_indexFieldNames;
};
