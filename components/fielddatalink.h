#pragma once

#include <QMetaObject>
#include <QPointer>
#include <QString>

#include <functional>

class QKeyEvent;
class QObject;
class TDataSource;
class TField;

// The binding every data-aware control shares: which source and field it shows, and when to
// reload or write. The control keeps the link as a member and hands it two callbacks: Reload
// (show the field's value) on data and state changes, WriteRecord (put the shown value into the
// field) when the source asks for it before a post.
class TFieldDataLink final {
public:
    TFieldDataLink(QObject *owner, std::function<void()> reload,
                   std::function<void()> writeRecord = {});
    ~TFieldDataLink();
    TFieldDataLink(const TFieldDataLink &) = delete;
    TFieldDataLink &operator=(const TFieldDataLink &) = delete;

    TDataSource *DataSource() const;
    void SetDataSource(TDataSource *source); // rebinds and reloads
    QString DataField() const { return m_dataField; }
    void SetDataField(const QString &fieldName); // reloads
    TField *Field() const;                       // nullptr when unbound, closed, or no such field

    // A control whose text depends on other fields of the row reloads on every data change, not
    // only on changes of its own field.
    void SetReloadOnAnyField(bool any) { m_reloadOnAnyField = any; }

    bool Editing() const; // the source's table is in edit or insert state
    // The user is about to change the value: a table in browse state goes into edit. True when
    // the change may go ahead (bound to an existing field and the table is editing).
    bool StartEdit();
    // Keys that change a control's text: the first one in browse state must start an edit.
    static bool IsEditingKey(const QKeyEvent *event);

    // Set while the control loads from or writes into the field, so that the echo of its own
    // change neither reloads nor writes again.
    bool Loading() const { return m_loading; }
    class LoadingScope final {
    public:
        explicit LoadingScope(TFieldDataLink &link)
            : m_link(link) {
            m_link.m_loading = true;
        }
        ~LoadingScope() { m_link.m_loading = false; }
        LoadingScope(const LoadingScope &) = delete;
        LoadingScope &operator=(const LoadingScope &) = delete;

    private:
        TFieldDataLink &m_link;
    };

private:
    void Rebind();
    void Disconnect();

    QObject *m_owner;
    std::function<void()> m_reload;
    std::function<void()> m_writeRecord;
    QPointer<TDataSource> m_dataSource;
    QString m_dataField;
    QMetaObject::Connection m_connections[3];
    bool m_reloadOnAnyField = false;
    bool m_loading = false;
};
