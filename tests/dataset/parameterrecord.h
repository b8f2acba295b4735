#pragma once

// The per-company parameter record as the server sends it: 38 fields in declared order, flags of
// one character, the company code and name, and the period dates. Shared by the packet tests and
// the load benchmark so both exercise the real shape.

#include "datetime.h"
#include "packet.h"

#include <QStringList>

namespace ParameterRecord {

inline TFieldDefs Fields() {
    using namespace Qt::StringLiterals;
    const QStringList names = {
        u"IDCONTAJUDTCOMP"_s,  u"CDEMPRESA"_s,        u"NMEMPRESA"_s,
        u"DTINICLANC"_s,       u"DTFINALANC"_s,       u"DTINICCONT"_s,
        u"DTFINACONT"_s,       u"DTINICRELA"_s,       u"DTFINARELA"_s,
        u"IDSALDEMPR"_s,       u"IDCONTGERE"_s,       u"IDCONTCOME"_s,
        u"DTINICCTBL"_s,       u"DTFINACCTBL"_s,      u"IDUTCUSTESTCONT"_s,
        u"DTFININTCONTDFS"_s,  u"DTINIINTCONTDFS"_s,  u"DTINIINTCONTDFE"_s,
        u"DTFININTCONTDFE"_s,  u"DTINIINTCONTGPA"_s,  u"DTFININTCONTGPA"_s,
        u"IDACUMVRCONT"_s,     u"IDSUGRAT"_s,         u"IDUTSALDOSOC"_s,
        u"IDMSMCONTADBCR"_s,   u"IDRETESTSETOR"_s,    u"IDCONSVNDDFS"_s,
        u"IDDESPTRIBDIFAL"_s,  u"DTINIINTCONTFIS"_s,  u"IDCONSDTMOVIRETEST"_s,
        u"DTFININTCONTFIS"_s,  u"IDCTBSINTETICO"_s,   u"IDGERESTLANCONT"_s,
        u"DTINIINTCONTVEXT"_s, u"DTFININTCONTVEXT"_s, u"IDCONTVREXCICMSEP"_s,
        u"IDCONSRATPROD"_s,    u"IDCONGERGGF"_s,
    };
    TFieldDefs fields;
    for (const QString &name : names) {
        TFieldDef def;
        def.Name = name;
        if (name.startsWith(u"DT"_s)) {
            def.DataType = TFieldType::Date;
        } else {
            def.DataType = TFieldType::String;
            def.Size = name == u"CDEMPRESA"_s ? 2 : (name == u"NMEMPRESA"_s ? 40 : 1);
        }
        fields.append(def);
    }
    return fields;
}

// A plausible record for company number `n` (0..3843): distinct two-character codes, accented
// names, some empty tax and late-sales periods.
inline TRowValues Row(const TFieldDefs &fields, int n) {
    using namespace Qt::StringLiterals;
    static const QString digits =
        u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"_s;
    TRowValues row(fields.size());
    const TDateTime year = DateTimeUtil::EncodeDate(2020 + n % 5, 1, 1);
    for (int f = 0; f < fields.size(); ++f) {
        const TFieldDef &def = fields.at(f);
        if (def.Name == u"CDEMPRESA"_s) {
            row[f] = QString(digits.at(n / 62 % 62)) + digits.at(n % 62);
        } else if (def.Name == u"NMEMPRESA"_s) {
            row[f] = u"Açúcar São João Ltda %1"_s.arg(n);
        } else if (def.Name == u"IDSALDEMPR"_s) {
            row[f] = u"M"_s;
        } else if (def.DataType == TFieldType::String) {
            row[f] = (n + f) % 3 == 0 ? u"N"_s : u"S"_s;
        } else if ((def.Name.endsWith(u"FIS"_s) || def.Name.endsWith(u"VEXT"_s)) && n % 4 == 0) {
            row[f] = QVariant();
        } else {
            const bool last = def.Name.startsWith(u"DTFIN"_s);
            row[f] = last ? DateTimeUtil::EncodeDate(2020 + n % 5, 12, 31) : year;
        }
    }
    return row;
}

inline TTablePacket Packet(int rows) {
    TTablePacket packet;
    packet.Fields = Fields();
    packet.Rows.reserve(rows);
    for (int n = 0; n < rows; ++n)
        packet.Rows.append(Row(packet.Fields, n));
    return packet;
}

} // namespace ParameterRecord
