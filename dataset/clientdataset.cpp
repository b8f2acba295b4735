#include "clientdataset.h"

#include "exceptions.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

enum class RowStatus : quint8 { Unchanged, Inserted, Modified };

struct Record {
    TRowValues values;
    TRowValues original; // as of the last merge; meaningless for a row inserted since
    quint64 id = 0;
    quint64 changeSeq = 0; // when first changed since the merge, so the delta keeps that order
    RowStatus status = RowStatus::Unchanged;
    bool deleted = false; // kept in place until the merge so CancelUpdates can restore it there
};

bool isNull(const QVariant &value) {
    return !value.isValid() || value.isNull();
}

int compareValues(TFieldType type, const QVariant &a, const QVariant &b) {
    const bool nullA = isNull(a);
    const bool nullB = isNull(b);
    if (nullA || nullB)
        return int(nullB) - int(nullA);
    switch (type) {
    case TFieldType::String:
        return a.toString().compare(b.toString());
    case TFieldType::Integer: {
        const qint64 x = a.toLongLong();
        const qint64 y = b.toLongLong();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case TFieldType::Date:
    case TFieldType::Float: {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    }
    return 0;
}

QStringList splitNames(const QString &names) {
    QStringList result;
    for (const QString &part : names.split(u';', Qt::SkipEmptyParts)) {
        const QString name = part.trimmed();
        if (!name.isEmpty())
            result.append(name);
    }
    return result;
}

int indexOf(const TFieldDefs &defs, const QString &name) {
    for (int i = 0; i < defs.size(); ++i) {
        if (defs.at(i).Name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

[[noreturn]] void fieldNotFound(const QString &name) {
    throw EDatabaseError(u"Campo '%1' não encontrado."_s.arg(name));
}

std::vector<int> resolveNames(const TFieldDefs &defs, const QString &names) {
    std::vector<int> result;
    for (const QString &name : splitNames(names)) {
        const int index = indexOf(defs, name);
        if (index < 0)
            fieldNotFound(name);
        result.push_back(index);
    }
    return result;
}

const TRowValues &emptyRow() {
    static const TRowValues row;
    return row;
}

} // namespace

struct TClientDataSet::Impl {
    std::vector<Record> records; // stored order: as loaded, inserted or appended
    std::vector<int> view;       // indexes into records, in read order, without deleted rows
    int cur = 0;                 // position in view
    bool bof = true;
    bool eof = true;
    TRowValues buffer;        // the row being edited or inserted
    quint64 insertBefore = 0; // id of the row a pending insert goes before; 0: at the end
    quint64 nextId = 1;
    quint64 nextSeq = 1;
    bool loaded = false;
    std::vector<int> indexFields;

    int recordPos(quint64 id) const {
        for (size_t i = 0; i < records.size(); ++i) {
            if (records[i].id == id)
                return int(i);
        }
        return -1;
    }

    int viewPos(quint64 id) const {
        for (size_t i = 0; i < view.size(); ++i) {
            if (records[size_t(view[i])].id == id)
                return int(i);
        }
        return -1;
    }

    quint64 currentId() const { return view.empty() ? 0 : records[size_t(view[size_t(cur)])].id; }

    Record &current() { return records[size_t(view[size_t(cur)])]; }

    void rebuildView(const TFieldDefs &defs) {
        view.clear();
        view.reserve(records.size());
        for (size_t i = 0; i < records.size(); ++i) {
            if (!records[i].deleted)
                view.push_back(int(i));
        }
        if (indexFields.empty())
            return;
        std::stable_sort(view.begin(), view.end(), [&](int a, int b) {
            const TRowValues &x = records[size_t(a)].values;
            const TRowValues &y = records[size_t(b)].values;
            for (int f : indexFields) {
                const int c = compareValues(defs.at(f).DataType, x.at(f), y.at(f));
                if (c != 0)
                    return c < 0;
            }
            return false;
        });
    }

    // Rebuilds the read order and stays on the row `id` (or the nearest position when it went).
    void reposition(const TFieldDefs &defs, quint64 id) {
        const int old = cur;
        rebuildView(defs);
        const int pos = id ? viewPos(id) : -1;
        cur = pos >= 0 ? pos : std::clamp(old, 0, std::max(0, int(view.size()) - 1));
        if (view.empty()) {
            bof = eof = true;
        } else {
            bof = eof = false;
        }
    }
};

TClientDataSet::TClientDataSet(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Impl>()) {}

TClientDataSet::~TClientDataSet() = default;

void TClientDataSet::requireActive() const {
    if (Active())
        return;
    if (objectName().isEmpty())
        throw EDatabaseError(u"Operação não permitida: a tabela está fechada."_s);
    throw EDatabaseError(
        u"Operação não permitida: a tabela '%1' está fechada."_s.arg(objectName()));
}

void TClientDataSet::setState(TDataSetState state) {
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged();
}

void TClientDataSet::scrolled() {
    Q_EMIT dataChanged(nullptr);
    if (AfterScroll)
        AfterScroll(*this);
}

void TClientDataSet::checkBrowseMode() {
    if (m_state != TDataSetState::Edit && m_state != TDataSetState::Insert)
        return;
    Q_EMIT updateRecord();
    if (m_modified)
        Post();
    else
        Cancel();
}

void TClientDataSet::dropPendingEdit() {
    d->buffer.clear();
    m_modified = false;
}

void TClientDataSet::buildFields(const TFieldDefs &defs) {
    TFieldDefs current;
    current.reserve(int(m_fields.size()));
    for (const auto &field : m_fields)
        current.append(field->Def());
    if (current == defs && !m_fields.empty())
        return;
    // New definitions: same-named fields keep what the screen attached to them.
    std::vector<std::unique_ptr<TField>> fields;
    fields.reserve(size_t(defs.size()));
    for (int i = 0; i < defs.size(); ++i) {
        auto field = std::make_unique<TField>(this, i, defs.at(i));
        if (const TField *old = FindField(defs.at(i).Name)) {
            field->OnGetText = old->OnGetText;
            field->SetVisible(old->Visible());
            if (old->DisplayLabel() != old->FieldName())
                field->SetDisplayLabel(old->DisplayLabel());
        }
        fields.push_back(std::move(field));
    }
    m_fields = std::move(fields);
    m_byName.clear();
    for (const auto &field : m_fields) {
        const QString key = field->FieldName().toUpper();
        if (!m_byName.contains(key)) // the first of a name, as a search in order finds it
            m_byName.insert(key, field.get());
    }
}

void TClientDataSet::opened() {
    d->cur = 0;
    d->bof = true;
    d->eof = d->view.empty();
    m_state = TDataSetState::Browse;
    Q_EMIT stateChanged();
    Q_EMIT dataChanged(nullptr);
    if (AfterOpen)
        AfterOpen(*this);
    if (!d->view.empty() && AfterScroll)
        AfterScroll(*this);
}

void TClientDataSet::CreateDataSet() {
    if (m_fieldDefs.isEmpty())
        throw EDatabaseError(u"Não há definições de campos para criar a tabela."_s);
    SetData(TTablePacket{m_fieldDefs, {}});
}

void TClientDataSet::Open() {
    if (Active())
        return;
    if (!d->loaded) {
        if (m_fieldDefs.isEmpty())
            throw EDatabaseError(u"Não há definições de campos para abrir a tabela."_s);
        d->indexFields = resolveNames(m_fieldDefs, m_indexFieldNames);
        buildFields(m_fieldDefs);
        d->records.clear();
        d->loaded = true;
    }
    d->rebuildView(m_fieldDefs);
    dropPendingEdit();
    opened();
}

void TClientDataSet::Close() {
    if (!Active())
        return;
    dropPendingEdit();
    setState(TDataSetState::Inactive);
    Q_EMIT dataChanged(nullptr);
    if (AfterClose)
        AfterClose(*this);
}

void TClientDataSet::SetActive(bool active) {
    if (active)
        Open();
    else
        Close();
}

int TClientDataSet::FieldCount() const {
    return int(m_fields.size());
}

TField *TClientDataSet::Fields(int index) const {
    if (index < 0 || index >= FieldCount())
        throw EDatabaseError(u"Índice de campo fora do intervalo: %1."_s.arg(index));
    return m_fields[size_t(index)].get();
}

TField *TClientDataSet::FindField(const QString &name) const {
    // Names are mostly asked for as they are kept, in upper case: no copy for those.
    if (TField *found = m_byName.value(name))
        return found;
    return m_byName.value(name.toUpper());
}

TField *TClientDataSet::FieldByName(const QString &name) const {
    TField *field = FindField(name);
    if (!field)
        fieldNotFound(name);
    return field;
}

bool TClientDataSet::IsEmpty() const {
    // A row being inserted counts, even into an empty table: screens let the user fill it in.
    return !Active() || (d->view.empty() && m_state != TDataSetState::Insert);
}

int TClientDataSet::RecordCount() const {
    return Active() ? int(d->view.size()) : 0;
}

int TClientDataSet::RecNo() const {
    return !Active() || d->view.empty() ? 0 : d->cur + 1;
}

void TClientDataSet::SetRecNo(int recNo) {
    requireActive();
    checkBrowseMode();
    if (d->view.empty())
        return;
    d->cur = std::clamp(recNo - 1, 0, int(d->view.size()) - 1);
    d->bof = d->eof = false;
    scrolled();
}

bool TClientDataSet::Eof() const {
    return !Active() || d->eof;
}

bool TClientDataSet::Bof() const {
    return !Active() || d->bof;
}

void TClientDataSet::First() {
    requireActive();
    checkBrowseMode();
    d->cur = 0;
    d->bof = true;
    d->eof = d->view.empty();
    scrolled();
}

void TClientDataSet::Last() {
    requireActive();
    checkBrowseMode();
    d->cur = std::max(0, int(d->view.size()) - 1);
    d->eof = true;
    d->bof = d->view.empty();
    scrolled();
}

void TClientDataSet::Next() {
    requireActive();
    checkBrowseMode();
    if (d->cur + 1 < int(d->view.size())) {
        ++d->cur;
        d->bof = d->eof = false;
        scrolled();
    } else {
        d->eof = true;
    }
}

void TClientDataSet::Prior() {
    requireActive();
    checkBrowseMode();
    if (d->cur > 0) {
        --d->cur;
        d->bof = d->eof = false;
        scrolled();
    } else {
        d->bof = true;
    }
}

bool TClientDataSet::Locate(const QString &keyFields, const QVariant &keyValues, int options) {
    requireActive();
    checkBrowseMode();
    const std::vector<int> fields = resolveNames(m_fieldDefs, keyFields);
    if (fields.empty())
        return false;
    QVariantList keys;
    if (fields.size() == 1 && keyValues.typeId() != QMetaType::QVariantList)
        keys.append(keyValues);
    else
        keys = keyValues.toList();
    if (keys.size() != qsizetype(fields.size())) {
        throw EDatabaseError(
            u"Locate: %1 campos e %2 valores."_s.arg(fields.size()).arg(keys.size()));
    }
    const bool caseInsensitive = options & loCaseInsensitive;
    const bool partial = options & loPartialKey;
    // Keys are converted once to each field's stored kind; a key that cannot be a value of its
    // field matches no row.
    QVariantList wanted;
    for (size_t k = 0; k < fields.size(); ++k) {
        const TFieldDef &def = m_fieldDefs.at(fields[k]);
        if (def.DataType == TFieldType::String || isNull(keys.at(qsizetype(k)))) {
            wanted.append(isNull(keys.at(qsizetype(k)))
                              ? QVariant()
                              : QVariant(keys.at(qsizetype(k)).toString()));
            continue;
        }
        try {
            wanted.append(TField::Coerce(def, keys.at(qsizetype(k))));
        } catch (const Exception &) {
            return false;
        }
    }
    const Qt::CaseSensitivity cs = caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive;
    for (size_t pos = 0; pos < d->view.size(); ++pos) {
        const TRowValues &row = d->records[size_t(d->view[pos])].values;
        bool match = true;
        for (size_t k = 0; k < fields.size() && match; ++k) {
            const QVariant &value = row.at(fields[k]);
            const QVariant &key = wanted.at(qsizetype(k));
            if (isNull(key) || isNull(value)) {
                match = isNull(key) && isNull(value);
            } else if (m_fieldDefs.at(fields[k]).DataType == TFieldType::String) {
                const QString text = value.toString();
                const QString keyText = key.toString();
                match = partial ? text.startsWith(keyText, cs) : text.compare(keyText, cs) == 0;
            } else {
                match = compareValues(m_fieldDefs.at(fields[k]).DataType, value, key) == 0;
            }
        }
        if (match) {
            d->cur = int(pos);
            d->bof = d->eof = false;
            scrolled();
            return true;
        }
    }
    return false;
}

void TClientDataSet::beginInsert(bool append) {
    requireActive();
    if (BeforeInsert)
        BeforeInsert(*this);
    checkBrowseMode();
    d->insertBefore = append ? 0 : d->currentId();
    d->buffer = TRowValues(FieldCount());
    m_modified = false;
    setState(TDataSetState::Insert);
    Q_EMIT dataChanged(nullptr);
    try {
        if (OnNewRecord)
            OnNewRecord(*this);
    } catch (...) {
        dropPendingEdit();
        setState(TDataSetState::Browse);
        Q_EMIT dataChanged(nullptr);
        throw;
    }
    // Starting values alone do not make the row worth keeping when the user moves away.
    m_modified = false;
    if (AfterInsert)
        AfterInsert(*this);
    if (AfterScroll)
        AfterScroll(*this);
}

void TClientDataSet::Insert() {
    beginInsert(false);
}

void TClientDataSet::Append() {
    beginInsert(true);
}

void TClientDataSet::Edit() {
    requireActive();
    if (m_state == TDataSetState::Edit || m_state == TDataSetState::Insert)
        return;
    if (IsEmpty()) {
        Insert();
        return;
    }
    if (BeforeEdit)
        BeforeEdit(*this);
    d->buffer = d->current().values;
    m_modified = false;
    setState(TDataSetState::Edit);
    if (AfterEdit)
        AfterEdit(*this);
}

void TClientDataSet::Post() {
    requireActive();
    if (m_state != TDataSetState::Edit && m_state != TDataSetState::Insert)
        return;
    Q_EMIT updateRecord();
    if (BeforePost)
        BeforePost(*this);
    for (int i = 0; i < FieldCount(); ++i) {
        if (m_fieldDefs.at(i).Required && isNull(d->buffer.at(i)))
            throw EDatabaseError(
                u"O campo '%1' precisa de um valor."_s.arg(m_fieldDefs.at(i).Name));
    }
    quint64 id = 0;
    if (m_state == TDataSetState::Insert) {
        Record record;
        record.values = d->buffer;
        record.id = id = d->nextId++;
        if (m_logChanges) {
            record.status = RowStatus::Inserted;
            record.changeSeq = d->nextSeq++;
        } else {
            record.original = record.values;
        }
        const int at = d->insertBefore ? d->recordPos(d->insertBefore) : -1;
        if (at < 0)
            d->records.push_back(std::move(record));
        else
            d->records.insert(d->records.begin() + at, std::move(record));
    } else {
        Record &record = d->current();
        id = record.id;
        if (record.values != d->buffer) {
            if (m_logChanges) {
                if (record.status == RowStatus::Unchanged) {
                    record.status = RowStatus::Modified;
                    record.changeSeq = d->nextSeq++;
                }
            } else if (record.status == RowStatus::Unchanged) {
                record.original = d->buffer;
            }
            record.values = d->buffer;
        }
    }
    dropPendingEdit();
    d->reposition(m_fieldDefs, id);
    setState(TDataSetState::Browse);
    Q_EMIT dataChanged(nullptr);
    if (AfterPost)
        AfterPost(*this);
}

void TClientDataSet::Cancel() {
    if (m_state != TDataSetState::Edit && m_state != TDataSetState::Insert)
        return;
    if (BeforeCancel)
        BeforeCancel(*this);
    dropPendingEdit();
    setState(TDataSetState::Browse);
    Q_EMIT dataChanged(nullptr);
    if (AfterCancel)
        AfterCancel(*this);
}

void TClientDataSet::Delete() {
    requireActive();
    if (m_state == TDataSetState::Insert) {
        Cancel();
        return;
    }
    if (d->view.empty())
        throw EDatabaseError(u"Não é possível excluir: a tabela está vazia."_s);
    if (BeforeDelete)
        BeforeDelete(*this);
    dropPendingEdit();
    const int at = d->view[size_t(d->cur)];
    Record &record = d->records[size_t(at)];
    if (!m_logChanges || record.status == RowStatus::Inserted) {
        d->records.erase(d->records.begin() + at);
    } else {
        record.deleted = true;
        if (record.status == RowStatus::Unchanged)
            record.changeSeq = d->nextSeq++;
    }
    d->reposition(m_fieldDefs, 0);
    d->eof = d->view.empty();
    d->bof = d->view.empty();
    setState(TDataSetState::Browse);
    Q_EMIT dataChanged(nullptr);
    if (AfterDelete)
        AfterDelete(*this);
    if (AfterScroll)
        AfterScroll(*this);
}

int TClientDataSet::ChangeCount() const {
    int count = 0;
    for (const Record &record : d->records) {
        if (record.deleted || record.status != RowStatus::Unchanged)
            ++count;
    }
    return count;
}

TChangeLog TClientDataSet::GetDelta() const {
    std::vector<const Record *> changed;
    for (const Record &record : d->records) {
        if (record.deleted || record.status != RowStatus::Unchanged)
            changed.push_back(&record);
    }
    std::sort(changed.begin(), changed.end(),
              [](const Record *a, const Record *b) { return a->changeSeq < b->changeSeq; });
    TChangeLog log;
    log.Fields = m_fieldDefs;
    log.Changes.reserve(qsizetype(changed.size()));
    for (const Record *record : changed) {
        TChange change;
        if (record->deleted) {
            change.Op = TChangeOp::Delete;
            change.Original = record->original;
        } else if (record->status == RowStatus::Inserted) {
            change.Op = TChangeOp::Insert;
            change.Values = record->values;
        } else {
            change.Op = TChangeOp::Update;
            change.Original = record->original;
            change.Values = record->values;
        }
        log.Changes.append(std::move(change));
    }
    return log;
}

void TClientDataSet::MergeChangeLog() {
    const quint64 id = d->currentId();
    std::erase_if(d->records, [](const Record &record) { return record.deleted; });
    for (Record &record : d->records) {
        record.status = RowStatus::Unchanged;
        record.original = record.values;
        record.changeSeq = 0;
    }
    const bool bof = d->bof;
    const bool eof = d->eof;
    d->reposition(m_fieldDefs, id);
    d->bof = d->view.empty() || bof;
    d->eof = d->view.empty() || eof;
}

void TClientDataSet::CancelUpdates() {
    Cancel();
    const quint64 id = d->currentId();
    std::erase_if(d->records,
                  [](const Record &record) { return record.status == RowStatus::Inserted; });
    for (Record &record : d->records) {
        if (record.deleted || record.status == RowStatus::Modified)
            record.values = record.original;
        record.deleted = false;
        record.status = RowStatus::Unchanged;
        record.changeSeq = 0;
    }
    d->reposition(m_fieldDefs, id);
    if (!Active())
        return;
    Q_EMIT dataChanged(nullptr);
    if (!d->view.empty() && AfterScroll)
        AfterScroll(*this);
}

TTablePacket TClientDataSet::GetData() const {
    TTablePacket packet;
    packet.Fields = m_fieldDefs;
    packet.Rows.reserve(qsizetype(d->records.size()));
    for (const Record &record : d->records) {
        if (!record.deleted)
            packet.Rows.append(record.values);
    }
    return packet;
}

void TClientDataSet::SetData(const TTablePacket &packet) {
    SetData(TTablePacket(packet));
}

void TClientDataSet::SetData(TTablePacket &&packet) {
    const TFieldDefs &defs = packet.Fields;
    for (int i = 0; i < defs.size(); ++i) {
        if (indexOf(defs, defs.at(i).Name) != i)
            throw EDatabaseError(u"O campo '%1' está repetido."_s.arg(defs.at(i).Name));
    }
    std::vector<int> indexFields = resolveNames(defs, m_indexFieldNames);

    // Everything is checked into a new store first, so a bad packet leaves the table as it was.
    std::vector<Record> records;
    records.reserve(size_t(packet.Rows.size()));
    quint64 nextId = d->nextId;
    for (qsizetype r = 0; r < packet.Rows.size(); ++r) {
        TRowValues &row = packet.Rows[r];
        if (row.size() != defs.size()) {
            throw EDatabaseError(u"A linha %1 tem %2 valores; eram esperados %3."_s.arg(r + 1)
                                     .arg(row.size())
                                     .arg(defs.size()));
        }
        Record record;
        record.values = std::move(row);
        for (int f = 0; f < defs.size(); ++f) {
            const QVariant &value = record.values.at(f);
            if (isNull(value))
                continue;
            const TFieldDef &def = defs.at(f);
            const int type = value.typeId();
            const bool stored =
                (def.DataType == TFieldType::String && type == QMetaType::QString &&
                 static_cast<const QString *>(value.constData())->size() <= def.Size) ||
                (def.DataType == TFieldType::Integer && type == QMetaType::LongLong) ||
                ((def.DataType == TFieldType::Date || def.DataType == TFieldType::Float) &&
                 type == QMetaType::Double);
            if (!stored)
                record.values[f] = TField::Coerce(def, value);
        }
        record.original = record.values;
        record.id = nextId++;
        records.push_back(std::move(record));
    }

    dropPendingEdit();
    buildFields(defs);
    m_fieldDefs = std::move(packet.Fields);
    d->records = std::move(records);
    d->nextId = nextId;
    d->indexFields = std::move(indexFields);
    d->loaded = true;
    d->rebuildView(m_fieldDefs);
    opened();
}

void TClientDataSet::EmptyDataSet() {
    requireActive();
    dropPendingEdit();
    d->records.clear();
    d->view.clear();
    d->cur = 0;
    d->bof = d->eof = true;
    setState(TDataSetState::Browse);
    Q_EMIT dataChanged(nullptr);
}

void TClientDataSet::SetIndexFieldNames(const QString &names) {
    if (Active())
        checkBrowseMode();
    std::vector<int> fields;
    if (d->loaded || !m_fields.empty())
        fields = resolveNames(m_fieldDefs, names);
    m_indexFieldNames = names;
    d->indexFields = std::move(fields);
    if (!d->loaded)
        return;
    d->reposition(m_fieldDefs, d->currentId());
    if (Active())
        Q_EMIT dataChanged(nullptr);
}

const TRowValues &TClientDataSet::CurrentValues() const {
    if (m_state == TDataSetState::Edit || m_state == TDataSetState::Insert)
        return d->buffer;
    if (m_state == TDataSetState::Inactive || d->view.empty())
        return emptyRow();
    return d->records[size_t(d->view[size_t(d->cur)])].values;
}

void TClientDataSet::SetFieldValue(int index, const QVariant &value) {
    TField *field = Fields(index);
    if (m_state != TDataSetState::Edit && m_state != TDataSetState::Insert) {
        throw EDatabaseError(
            u"Não é possível alterar o campo '%1': a tabela não está em edição nem em inclusão."_s
                .arg(field->FieldName()));
    }
    d->buffer[index] = TField::Coerce(field->Def(), value);
    m_modified = true;
    Q_EMIT dataChanged(field);
}
