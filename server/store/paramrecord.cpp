#include "paramrecord.h"

#include "packetwriter.h"

#include "datetime.h"
#include "rules/controlchars.h"

using namespace Qt::StringLiterals;

namespace ParamRecord {

namespace {

constexpr int DateSize = 0;

const QVector<Column> kFields = {
    {"IDCONTAJUDTCOMP", Kind::Flag, 1},
    {"CDEMPRESA", Kind::Text, 2},
    {"NMEMPRESA", Kind::Text, 40},
    {"DTINICLANC", Kind::Date, DateSize},
    {"DTFINALANC", Kind::Date, DateSize},
    {"DTINICCONT", Kind::Date, DateSize},
    {"DTFINACONT", Kind::Date, DateSize},
    {"DTINICRELA", Kind::Date, DateSize},
    {"DTFINARELA", Kind::Date, DateSize},
    {"IDSALDEMPR", Kind::Code, 1},
    {"IDCONTGERE", Kind::Flag, 1},
    {"IDCONTCOME", Kind::Flag, 1},
    {"DTINICCTBL", Kind::Date, DateSize},
    {"DTFINACCTBL", Kind::Date, DateSize},
    {"IDUTCUSTESTCONT", Kind::Flag, 1},
    {"DTFININTCONTDFS", Kind::Date, DateSize},
    {"DTINIINTCONTDFS", Kind::Date, DateSize},
    {"DTINIINTCONTDFE", Kind::Date, DateSize},
    {"DTFININTCONTDFE", Kind::Date, DateSize},
    {"DTINIINTCONTGPA", Kind::Date, DateSize},
    {"DTFININTCONTGPA", Kind::Date, DateSize},
    {"IDACUMVRCONT", Kind::Flag, 1},
    {"IDSUGRAT", Kind::Flag, 1},
    {"IDUTSALDOSOC", Kind::Flag, 1},
    {"IDMSMCONTADBCR", Kind::Flag, 1},
    {"IDRETESTSETOR", Kind::Flag, 1},
    {"IDCONSVNDDFS", Kind::Flag, 1},
    {"IDDESPTRIBDIFAL", Kind::Flag, 1},
    {"DTINIINTCONTFIS", Kind::Date, DateSize},
    {"IDCONSDTMOVIRETEST", Kind::Flag, 1},
    {"DTFININTCONTFIS", Kind::Date, DateSize},
    {"IDCTBSINTETICO", Kind::Flag, 1},
    {"IDGERESTLANCONT", Kind::Flag, 1},
    {"DTINIINTCONTVEXT", Kind::Date, DateSize},
    {"DTFININTCONTVEXT", Kind::Date, DateSize},
    {"IDCONTVREXCICMSEP", Kind::Flag, 1},
    {"IDCONSRATPROD", Kind::Flag, 1},
    {"IDCONGERGGF", Kind::Flag, 1},
};

QVector<Column> storedOnly() {
    QVector<Column> out;
    for (const Column &c : kFields) {
        if (qstrcmp(c.Name, "NMEMPRESA") != 0)
            out.append(c);
    }
    return out;
}

// The bulk screen names its fields after its own controls; this is where each one lands.
const QVector<RequestMapping> kPeriods = {
    {"DTINIPER", "DTINICCONT"},       {"DTFINPER", "DTFINACONT"},
    {"DTINILANC", "DTINICLANC"},      {"DTFINLANC", "DTFINALANC"},
    {"DTINIDFE", "DTINIINTCONTDFE"},  {"DTFINDFE", "DTFININTCONTDFE"},
    {"DTINIDFS", "DTINIINTCONTDFS"},  {"DTFINDFS", "DTFININTCONTDFS"},
    {"DTINIFIN", "DTINICCTBL"},       {"DTFINFIN", "DTFINACCTBL"},
    {"DTINIGPA", "DTINIINTCONTGPA"},  {"DTFINGPA", "DTFININTCONTGPA"},
    {"DTINIFIS", "DTINIINTCONTFIS"},  {"DTFINFIS", "DTFININTCONTFIS"},
    {"DTINIVEN", "DTINIINTCONTVEXT"}, {"DTFINVEN", "DTFININTCONTVEXT"},
};

const QVector<RequestMapping> kControls = {
    {"IDCONTCCUS", "IDCONTGERE"},
    {"IDCONCOME", "IDCONTCOME"},
    {"IDUTCUSTEST", "IDUTCUSTESTCONT"},
    {"IDSUGRATMANU", "IDSUGRAT"},
    {"IDUTSALDOSOC", "IDUTSALDOSOC"},
    {"IDMSMCONTA", "IDMSMCONTADBCR"},
    {"IDPRIOCCUSTSET", "IDRETESTSETOR"},
    {"IDCONSVNDDFS", "IDCONSVNDDFS"},
    {"IDULTDESPTRIB", "IDDESPTRIBDIFAL"},
    {"IDCONSDATARET", "IDCONSDTMOVIRETEST"},
    {"IDCONTLOTESIT", "IDCTBSINTETICO"},
    {"IDGERAESTCONT", "IDGERESTLANCONT"},
    {"IDCONTVREXCICMSEP", "IDCONTVREXCICMSEP"},
    {"IDCONSRATPROD", "IDCONSRATPROD"},
};

} // namespace

const QVector<Column> &Fields() {
    return kFields;
}

const QVector<Column> &StoredColumns() {
    static const QVector<Column> stored = storedOnly();
    return stored;
}

const Column *Find(const QString &name) {
    for (const Column &c : kFields) {
        if (name.compare(QLatin1StringView(c.Name), Qt::CaseInsensitive) == 0)
            return &c;
    }
    return nullptr;
}

TFieldDef FieldDef(const Column &column) {
    TFieldDef def;
    def.Name = QString::fromLatin1(column.Name);
    def.DataType = column.ColumnKind == Kind::Date ? TFieldType::Date : TFieldType::String;
    def.Size = column.Size;
    def.Required = qstrcmp(column.Name, "CDEMPRESA") == 0;
    return def;
}

TFieldDefs PacketFields() {
    TFieldDefs defs;
    for (const Column &c : kFields)
        defs.append(FieldDef(c));
    return defs;
}

TFieldDefs StoredPacketFields() {
    TFieldDefs defs;
    for (const Column &c : StoredColumns())
        defs.append(FieldDef(c));
    return defs;
}

bool IsOptionalDate(const QString &name) {
    static const QStringList optional = {u"DTINIINTCONTFIS"_s, u"DTFININTCONTFIS"_s,
                                         u"DTINIINTCONTVEXT"_s, u"DTFININTCONTVEXT"_s};
    return optional.contains(name, Qt::CaseInsensitive);
}

QVariant ToStorage(const Column &column, const QVariant &value, bool *ok, QString *error) {
    *ok = true;
    const QString name = QString::fromLatin1(column.Name);
    if (value.isNull())
        return {};
    if (column.ColumnKind == Kind::Date) {
        bool isNumber = false;
        const double days = value.toDouble(&isNumber);
        if (!isNumber || days < 0) {
            *ok = false;
            *error = u"Valor inválido no campo %1."_s.arg(name);
            return {};
        }
        if (days == 0 && IsOptionalDate(name))
            return {};
        return DateTimeUtil::ToQDate(DateTimeUtil::Trunc(days)).toString(Qt::ISODate);
    }
    const QString text = value.toString();
    if (text.isEmpty())
        return {};
    if (ControlChars::Contains(text)) {
        *ok = false;
        *error = u"Valor inválido no campo %1: contém caracteres de controle."_s.arg(name);
        return {};
    }
    if (text.size() > column.Size) {
        *ok = false;
        *error =
            u"Valor '%1' excede o tamanho do campo %2 (%3)."_s.arg(text, name).arg(column.Size);
        return {};
    }
    if (column.ColumnKind == Kind::Flag && text != u"S"_s && text != u"N"_s) {
        *ok = false;
        *error = u"Valor '%1' inválido no campo %2: use \"S\" ou \"N\"."_s.arg(text, name);
        return {};
    }
    return text;
}

QDate StoredDate(const QVariant &stored) {
    if (stored.isNull())
        return {};
    if (stored.metaType().id() == QMetaType::QDate)
        return stored.toDate();
    if (stored.metaType().id() == QMetaType::QDateTime)
        return stored.toDateTime().date();
    return QDate::fromString(stored.toString().left(10), Qt::ISODate);
}

QVariant FromStorage(const Column &column, const QVariant &stored) {
    if (stored.isNull())
        return {};
    if (column.ColumnKind == Kind::Date) {
        const QDate d = StoredDate(stored);
        return d.isValid() ? QVariant(DateTimeUtil::FromQDate(d)) : QVariant();
    }
    return stored.toString();
}

void WriteStored(TPacketWriter &writer, const Column &column, const QVariant &stored) {
    if (stored.isNull())
        writer.Null();
    else if (column.ColumnKind == Kind::Date) {
        // SQLite hands its dates over as the ISO text they are stored as.
        if (stored.metaType().id() != QMetaType::QString ||
            !writer.IsoDate(*static_cast<const QString *>(stored.constData())))
            writer.Date(StoredDate(stored));
    }
    else
        writer.Text(stored.toString());
}

const QVector<RequestMapping> &PeriodMapping() {
    return kPeriods;
}
const QVector<RequestMapping> &ControlMapping() {
    return kControls;
}

TFieldDefs RequestPacketFields() {
    TFieldDefs defs;
    for (const RequestMapping &m : kPeriods)
        defs.append({QString::fromLatin1(m.RequestField), TFieldType::Date, 0, false});
    for (const RequestMapping &m : kControls)
        defs.append({QString::fromLatin1(m.RequestField), TFieldType::String, 1, false});
    return defs;
}

QString StartingValue(const QString &column) {
    // A record created by the bulk request starts as a record inserted on the parameter screen.
    static const QStringList yes = {u"IDRETESTSETOR"_s,  u"IDCTBSINTETICO"_s, u"IDSUGRAT"_s,
                                    u"IDCONTGERE"_s,     u"IDCONTCOME"_s,     u"IDACUMVRCONT"_s,
                                    u"IDUTCUSTESTCONT"_s};
    if (column == u"IDSALDEMPR"_s)
        return u"M"_s;
    return yes.contains(column) ? u"S"_s : u"N"_s;
}

} // namespace ParamRecord
