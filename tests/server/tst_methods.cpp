// Every method of the parameter object over the wire, against the real server on the demo seed:
// what it returns, what it refuses, and that a refused call leaves the database as it was.

#include "datetime.h"
#include "exceptions.h"
#include "jsonrpcmessage.h"
#include "methodsfixture.h"

#include <QDate>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlRecord>
#include <QTest>

#include <QThread>
#include <QWebSocket>
#include <atomic>
#include <string_view>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

TTablePacket ToPacket(const QJsonValue &json) {
    TTablePacket packet;
    QString error;
    if (!Packet::FromJson(json, packet, &error))
        qWarning("packet not readable: %s", qPrintable(error));
    return packet;
}

QVariant Cell(const TTablePacket &packet, int row, const QString &field) {
    const int index = packet.FieldIndex(field);
    if (index < 0 || row >= packet.Rows.size())
        return u"<missing>"_s;
    return packet.Rows.at(row).at(index);
}

TDateTime Date(int y, int m, int d) {
    return DateTimeUtil::FromQDate(QDate(y, m, d));
}
QString Iso(int y, int m, int d) {
    return QDate(y, m, d).toString(Qt::ISODate);
}

// What a protocol fault (wrong arguments) or a transport failure says.
QString FailureOf(const std::function<void()> &call) {
    try {
        call();
    } catch (const Exception &e) {
        return e.Message();
    }
    return {};
}

// The bulk request row: periods of 2026 with December as posting month; every flag "S".
QJsonObject BulkRequest(TDateTime perStart = Date(2026, 1, 1),
                        TDateTime perEnd = Date(2026, 12, 31)) {
    TTablePacket request;
    const QStringList dates = {u"DTINIPER"_s, u"DTFINPER"_s, u"DTINILANC"_s, u"DTFINLANC"_s,
                               u"DTINIDFE"_s, u"DTFINDFE"_s, u"DTINIDFS"_s,  u"DTFINDFS"_s,
                               u"DTINIFIN"_s, u"DTFINFIN"_s, u"DTINIGPA"_s,  u"DTFINGPA"_s,
                               u"DTINIFIS"_s, u"DTFINFIS"_s, u"DTINIVEN"_s,  u"DTFINVEN"_s};
    const QStringList flags = {u"IDCONTCCUS"_s,        u"IDCONCOME"_s,     u"IDUTCUSTEST"_s,
                               u"IDSUGRATMANU"_s,      u"IDUTSALDOSOC"_s,  u"IDMSMCONTA"_s,
                               u"IDPRIOCCUSTSET"_s,    u"IDCONSVNDDFS"_s,  u"IDULTDESPTRIB"_s,
                               u"IDCONSDATARET"_s,     u"IDCONTLOTESIT"_s, u"IDGERAESTCONT"_s,
                               u"IDCONTVREXCICMSEP"_s, u"IDCONSRATPROD"_s};
    TRowValues row;
    for (const QString &d : dates) {
        request.Fields.append({d, TFieldType::Date, 0, false});
        if (d == u"DTINIPER"_s)
            row.append(perStart);
        else if (d == u"DTFINPER"_s)
            row.append(perEnd);
        else if (d.endsWith(u"FIS"_s) || d.endsWith(u"VEN"_s))
            row.append(0.0); // the optional pairs left empty
        else
            row.append(d.startsWith(u"DTINI"_s) ? Date(2026, 12, 1) : Date(2026, 12, 31));
    }
    for (const QString &f : flags) {
        request.Fields.append({f, TFieldType::String, 1, false});
        row.append(u"S"_s);
    }
    request.Rows.append(row);
    return Packet::ToJson(request);
}

} // namespace

class TstMethods final : public QObject {
    Q_OBJECT

    MethodsFixture m_fx;

    TTablePacket Records(TNetConnection &c) {
        const TResultEnvelope r = c.Call(u"GetContOpe"_s, {});
        return r.Ok ? ToPacket(r.Payload.toArray().at(0)) : TTablePacket{};
    }

    int RowOf(const TTablePacket &records, const QString &code) {
        for (int i = 0; i < records.Rows.size(); ++i) {
            if (Cell(records, i, u"CDEMPRESA"_s) == code)
                return i;
        }
        return -1;
    }

    // A change log over the full record, as the parameter screen sends it.
    static QJsonObject Log(const TTablePacket &records, const QVector<TChange> &changes) {
        TChangeLog log;
        log.Fields = records.Fields;
        log.Changes = changes;
        return Packet::ToJson(log);
    }

    TChange Update(const TTablePacket &records, const QString &code, const QString &field,
                   const QVariant &value) {
        const TRowValues original = records.Rows.at(RowOf(records, code));
        TRowValues values = original;
        values[records.FieldIndex(field)] = value;
        return {TChangeOp::Update, original, values};
    }

    TChange NewRecord(const TTablePacket &records, const QString &code) {
        TRowValues values = records.Rows.at(RowOf(records, u"01"_s));
        values[records.FieldIndex(u"CDEMPRESA"_s)] = code;
        values[records.FieldIndex(u"NMEMPRESA"_s)] = u"Nome que não vai para EMPRESA"_s;
        return {TChangeOp::Insert, {}, values};
    }

private Q_SLOTS:
    void init() {
        QString error;
        QVERIFY2(m_fx.Start(&error), qPrintable(error));
    }
    void cleanup() { m_fx.Stop(); }

    void getContOpeListsRecordsInDeclaredOrder() {
        TNetConnection &c = m_fx.Client();
        const TResultEnvelope r = c.Call(u"GetContOpe"_s, {});
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        const TTablePacket records = ToPacket(r.Payload.toArray().at(0));
        QCOMPARE(records.Fields.size(), 38);
        QCOMPARE(records.Fields.first().Name, u"IDCONTAJUDTCOMP"_s);
        QCOMPARE(records.Fields.at(2).Name, u"NMEMPRESA"_s);
        QCOMPARE(records.Fields.at(2).Size, 40);
        QCOMPARE(records.Fields.last().Name, u"IDCONGERGGF"_s);
        QCOMPARE(records.Fields.at(records.FieldIndex(u"DTINICCONT"_s)).DataType, TFieldType::Date);
        QCOMPARE(records.Rows.size(), 9);
        for (int i = 1; i < records.Rows.size(); ++i)
            QVERIFY(Cell(records, i - 1, u"CDEMPRESA"_s).toString() <
                    Cell(records, i, u"CDEMPRESA"_s).toString());
        QCOMPARE(Cell(records, 2, u"NMEMPRESA"_s), u"Distribuidora Ribeirão Preto Ltda"_s);
        QCOMPARE(Cell(records, 0, u"DTFINACONT"_s), QVariant(Date(2026, 12, 31)));
        // Company 02 has no tax period: no date at all, not the zero date.
        QVERIFY(Cell(records, 1, u"DTINIINTCONTFIS"_s).isNull());
        const TTablePacket general = ToPacket(r.Payload.toArray().at(1));
        QCOMPARE(general.Fields.size(), 1);
        QCOMPARE(general.Rows.size(), 1);
        QCOMPARE(Cell(general, 0, u"IDCONTAJUDTCOMP"_s), u"N"_s);
    }

    void singleCompanyQueries_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QJsonArray>("params");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QVariant>("expected"); // invalid: no row

        QTest::newRow("latest balance") << u"GetDataSaldEmpr"_s << QJsonArray{u"01"_s}
                                        << u"MAIORDATA"_s << QVariant(Date(2026, 11, 30));
        QTest::newRow("balance after period end") << u"GetDataSaldEmpr"_s << QJsonArray{u"04"_s}
                                                  << u"MAIORDATA"_s << QVariant(Date(2027, 1, 31));
        QTest::newRow("no balance: null date")
            << u"GetDataSaldEmpr"_s << QJsonArray{u"05"_s} << u"MAIORDATA"_s
            << QVariant(QMetaType(QMetaType::Double));
        QTest::newRow("code with blanks") << u"GetDataSaldEmpr"_s << QJsonArray{u" 01 "_s}
                                          << u"MAIORDATA"_s << QVariant(Date(2026, 11, 30));
        QTest::newRow("entries exist")
            << u"GetPescLanc"_s << QJsonArray{u"01"_s} << u"CDEMPRESA"_s << QVariant(u"01"_s);
        QTest::newRow("no entries")
            << u"GetPescLanc"_s << QJsonArray{u"05"_s} << u"CDEMPRESA"_s << QVariant();
        QTest::newRow("left out of balances")
            << u"getLancSemEvolucao"_s << QJsonArray{u"02"_s, Iso(2026, 1, 1)} << u"DTSEMEVOLUCAO"_s
            << QVariant(u"17/11/2025"_s);
        QTest::newRow("all carried before the date")
            << u"getLancSemEvolucao"_s << QJsonArray{u"01"_s, Iso(2026, 1, 1)} << u"DTSEMEVOLUCAO"_s
            << QVariant(u""_s);
        QTest::newRow("open month before a later date")
            << u"getLancSemEvolucao"_s << QJsonArray{u"01"_s, u"2027-01-01T10:30:00.000"_s}
            << u"DTSEMEVOLUCAO"_s << QVariant(u"05/12/2026"_s);
        QTest::newRow("entry on the date itself is not before it")
            << u"getLancSemEvolucao"_s << QJsonArray{u"01"_s, Iso(2026, 12, 5)}
            << u"DTSEMEVOLUCAO"_s << QVariant(u""_s);
    }

    void singleCompanyQueries() {
        QFETCH(QString, method);
        QFETCH(QJsonArray, params);
        QFETCH(QString, field);
        QFETCH(QVariant, expected);
        const TResultEnvelope r = m_fx.Client().Call(method, params);
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        const TTablePacket packet = ToPacket(r.Payload);
        QCOMPARE(packet.Fields.size(), 1);
        QCOMPARE(packet.Fields.first().Name, field);
        if (!expected.isValid()) {
            QCOMPARE(packet.Rows.size(), 0);
            return;
        }
        QCOMPARE(packet.Rows.size(), 1);
        if (expected.isNull())
            QVERIFY(Cell(packet, 0, field).isNull());
        else
            QCOMPARE(Cell(packet, 0, field), expected);
    }

    void refusedArguments_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QJsonArray>("params");
        QTest::addColumn<QString>("code"); // envelope error code; empty: protocol fault
        QTest::addColumn<QString>("message");

        QTest::newRow("too few") << u"GetDataSaldEmpr"_s << QJsonArray{} << QString()
                                 << u"argumento"_s;
        QTest::newRow("too many") << u"GetContOpe"_s << QJsonArray{1} << QString()
                                  << u"argumento"_s;
        QTest::newRow("number for text")
            << u"GetPescLanc"_s << QJsonArray{1} << QString() << u"texto"_s;
        QTest::newRow("text for packet")
            << u"SetContOpe"_s << QJsonArray{u"x"_s} << QString() << u"objeto"_s;
        QTest::newRow("code of one character")
            << u"GetPescLanc"_s << QJsonArray{u"1"_s} << u"invalid_argument"_s << u"'1'"_s;
        QTest::newRow("code of three") << u"GetDataSaldEmpr"_s << QJsonArray{u"001"_s}
                                       << u"invalid_argument"_s << u"2 caracteres"_s;
        QTest::newRow("NUL in a code") << u"GetDataSaldEmpr"_s << QJsonArray{QString(u"0\0"_s)}
                                       << u"invalid_argument"_s << u"caracteres de controle"_s;
        QTest::newRow("NUL in a closing operator's company")
            << u"setUsuarioFechamentoPeriodo"_s
            << QJsonArray{QString(u"\x01"
                                  "1"_s),
                          u"17/11/2025"_s, u"ANA"_s}
            << u"invalid_argument"_s << u"caracteres de controle"_s;
        QTest::newRow("NUL in a closing operator")
            << u"setUsuarioFechamentoPeriodo"_s
            << QJsonArray{u"02"_s, u"17/11/2025"_s, QString(u"AN\0A"_s)} << u"invalid_argument"_s
            << u"Operador inválido: contém caracteres de controle."_s;
        QTest::newRow("bad date") << u"getLancSemEvolucao"_s << QJsonArray{u"01"_s, u"31/12/2026"_s}
                                  << u"invalid_argument"_s << u"31/12/2026"_s;
        const QString badClosing = u"Data de fechamento inválida"_s;
        for (const QString &text : {u"2025-11-17"_s, u"31/02/2025"_s, u"1/11/2025"_s,
                                    u"17/11/2025 10:00"_s, u"17-11-2025"_s, QString()})
            QTest::addRow("closing date '%s'", qPrintable(text))
                << u"setUsuarioFechamentoPeriodo"_s << QJsonArray{u"02"_s, text, u"ANA"_s}
                << u"invalid_argument"_s << badClosing;
        QTest::newRow("closing of unknown company")
            << u"setUsuarioFechamentoPeriodo"_s << QJsonArray{u"99"_s, u"17/11/2025"_s, u"ANA"_s}
            << u"not_found"_s << u"Empresa '99' não cadastrada."_s;
        QTest::newRow("empty list item")
            << u"getErrosCadAuto"_s << QJsonArray{u"01,,02"_s, Iso(2026, 1, 1), Iso(2026, 12, 31)}
            << u"invalid_argument"_s << u"Lista de empresas inválida: item vazio na posição 2."_s;
        QTest::newRow("trailing comma")
            << u"getErrosCadAuto"_s << QJsonArray{u"01,"_s, Iso(2026, 1, 1), Iso(2026, 12, 31)}
            << u"invalid_argument"_s << u"posição 2"_s;
        QTest::newRow("quote in list")
            << u"getErrosCadAuto"_s << QJsonArray{u"01,'2"_s, Iso(2026, 1, 1), Iso(2026, 12, 31)}
            << u"invalid_argument"_s << u"'2"_s;
        QTest::newRow("all mixed with codes")
            << u"getErrosCadAuto"_s << QJsonArray{u"T,01"_s, Iso(2026, 1, 1), Iso(2026, 12, 31)}
            << u"invalid_argument"_s << u"\"T\""_s;
        QTest::newRow("unknown company in list")
            << u"getErrosCadAuto"_s << QJsonArray{u"01, 99"_s, Iso(2026, 1, 1), Iso(2026, 12, 31)}
            << u"not_found"_s << u"Empresa '99' não cadastrada."_s;
        QTest::newRow("bulk with nothing to change")
            << u"setCadAuto"_s << QJsonArray{u"T"_s, u"N"_s, u"N"_s, BulkRequest()}
            << u"invalid_argument"_s << u"Nada a alterar"_s;
        QTest::newRow("bulk switch not S/N")
            << u"setCadAuto"_s << QJsonArray{u"T"_s, u"s"_s, u"N"_s, BulkRequest()}
            << u"invalid_argument"_s << u"\"S\" ou \"N\""_s;
        QTest::newRow("bulk period ending before it starts")
            << u"setCadAuto"_s
            << QJsonArray{u"01"_s, u"S"_s, u"N"_s,
                          BulkRequest(Date(2026, 12, 1), Date(2026, 1, 31))}
            << u"invalid_argument"_s << u"DTFINPER"_s;
    }

    void refusedArguments() {
        QFETCH(QString, method);
        QFETCH(QJsonArray, params);
        QFETCH(QString, code);
        QFETCH(QString, message);
        TNetConnection &c = m_fx.Client();
        if (code.isEmpty()) {
            const QString fault = FailureOf([&] { c.Call(method, params); });
            QVERIFY2(fault.contains(message), qPrintable(fault));
            return;
        }
        const TResultEnvelope r = c.Call(method, params);
        QVERIFY(!r.Ok);
        QCOMPARE(r.ErrorCode, code);
        QVERIFY2(r.ErrorMessage.contains(message), qPrintable(r.ErrorMessage));
        // The server is still there for the next call on the same connection.
        QVERIFY(c.Call(u"GetContOpe"_s, {}).Ok);
    }

    // One set of control characters at every door that takes text, each refused before
    // anything is written, so that nothing taken can stop the next start; the characters just
    // outside it are taken.
    void controlCharactersAtEveryDoor_data() {
        QTest::addColumn<QString>("door");
        QTest::addColumn<QString>("character");
        QTest::addColumn<bool>("refused");
        const QList<std::pair<const char *, QString>> characters{
            {"U+0080", QString(QChar(0x80))},   {"U+0085", QString(QChar(0x85))},
            {"U+009F", QString(QChar(0x9F))},   {"U+FEFF", QString(QChar(0xFEFF))},
            {"U+FFFE", QString(QChar(0xFFFE))}, {"U+FFFF", QString(QChar(0xFFFF))},
            {"U+007F", QString(QChar(0x7F))},
        };
        const QList<std::pair<const char *, QString>> taken{
            {"U+007E", u"~"_s},
            {"U+00A0", QString(QChar(0xA0))},
            {"U+FEFE", QString(QChar(0xFEFE))},
            {"U+FFFD", QString(QChar(0xFFFD))},
            {"U+1F600 (a pair)", QString::fromUcs4(U"\U0001F600")},
        };
        for (const char *door : {"company code", "closing operator", "closing date", "IDSALDEMPR",
                                 "history operator", "history field"}) {
            for (const auto &[name, text] : characters)
                QTest::addRow("%s %s", door, name) << QString::fromLatin1(door) << text << true;
            for (const auto &[name, text] : taken) {
                // A code is two characters once blanks around it are dropped.
                if (door == std::string_view("company code") &&
                    (text.size() != 1 || text.front().isSpace()))
                    continue;
                if (door == std::string_view("IDSALDEMPR") && text.size() != 1)
                    continue; // a field of one character
                QTest::addRow("%s %s", door, name) << QString::fromLatin1(door) << text << false;
            }
        }
    }
    void controlCharactersAtEveryDoor() {
        QFETCH(QString, door);
        QFETCH(QString, character);
        QFETCH(bool, refused);
        TResultEnvelope r;
        QString refusal = u"contém caracteres de controle"_s;
        if (door == u"company code"_s) {
            r = m_fx.Client().Call(u"GetDataSaldEmpr"_s, {u"0"_s + character});
            // Blanks around a code go before it is judged, U+0085 among them: refused anyway.
            refusal = u"Código de empresa inválido: "_s;
            if (!refused) // a code of two characters that EMPRESA does not hold
                QVERIFY2(r.Ok && r.Payload.toObject().value(u"rows"_s).toArray() ==
                                     QJsonArray{QJsonArray{QJsonValue()}},
                         qPrintable(r.ErrorMessage));
        } else if (door == u"closing operator"_s) {
            r = m_fx.Client().Call(u"setUsuarioFechamentoPeriodo"_s,
                                   {u"02"_s, u"17/11/2025"_s, u"AN"_s + character + u"A"_s});
            refusal = u"Operador inválido: contém caracteres de controle."_s;
        } else if (door == u"closing date"_s) {
            r = m_fx.Client().Call(u"setUsuarioFechamentoPeriodo"_s,
                                   {u"02"_s, u"17/11"_s + character + u"/2025"_s, u"ANA"_s});
            refusal = refused ? u"Data de fechamento inválida: contém caracteres de controle."_s
                              : u"Data de fechamento inválida"_s;
            refused = true; // no date has another character either
        } else if (door == u"IDSALDEMPR"_s) {
            const TTablePacket records = Records(m_fx.Client());
            const TChange change = Update(records, u"06"_s, u"IDSALDEMPR"_s, QVariant(character));
            r = m_fx.Client().Call(u"SetContOpe"_s, {Log(records, {change})});
            // A leading U+FEFF is dropped as a byte-order mark before the packet is read,
            // leaving the field empty: refused too.
            refusal = character == QString(QChar(0xFEFF))
                          ? u"O campo IDSALDEMPR da empresa '06' deve ser informado."_s
                          : u"Valor inválido no campo IDSALDEMPR: contém caracteres de controle."_s;
        } else {
            const bool field = door == u"history field"_s;
            r = m_fx.Client(u"Audit"_s)
                    .Call(u"GetHistorico"_s,
                          {u"T"_s, u""_s, u""_s, field ? u"NMEM"_s + character + u"PRESA"_s : u""_s,
                           field ? u""_s : u"AN"_s + character + u"A"_s, u"1"_s});
            refusal = field ? u"Campo inválido: contém caracteres de controle."_s
                            : u"Operador inválido: contém caracteres de controle."_s;
            if (field && !refused) { // no field has such a name
                refused = true;
                refusal = u"Campo inválido: "_s;
            }
        }
        if (!refused) {
            QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        } else {
            QVERIFY(!r.Ok);
            QCOMPARE(r.ErrorCode, u"invalid_argument"_s);
            QVERIFY2(r.ErrorMessage.startsWith(refusal), qPrintable(r.ErrorMessage));
        }
        // What was taken is what the next start reads without complaint.
        QString error;
        QVERIFY2(m_fx.Check(&error), qPrintable(error));
    }

    void setContOpeWritesInsertsUpdatesDeletes() {
        TNetConnection &c = m_fx.Client();
        const TTablePacket before = Records(c);
        TChange insert = NewRecord(before, u"10"_s);
        insert.Values[before.FieldIndex(u"DTINIINTCONTVEXT"_s)] = 0.0; // "no date" from the edit
        const TChange update =
            Update(before, u"06"_s, u"DTINICLANC"_s, QVariant(Date(2026, 11, 1)));
        const TChange remove{TChangeOp::Delete, before.Rows.at(RowOf(before, u"05"_s)), {}};
        const TResultEnvelope r = c.Call(u"SetContOpe"_s, {Log(before, {insert, update, remove})});
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));

        const TTablePacket after = Records(c);
        QCOMPARE(after.Rows.size(), 9);
        QCOMPARE(RowOf(after, u"05"_s), -1);
        const int added = RowOf(after, u"10"_s);
        QVERIFY(added >= 0);
        QCOMPARE(Cell(after, added, u"NMEMPRESA"_s), u"Cooperativa Vinícola Gaúcha"_s);
        QVERIFY(Cell(after, added, u"DTINIINTCONTVEXT"_s).isNull());
        QCOMPARE(Cell(after, RowOf(after, u"06"_s), u"DTINICLANC"_s), QVariant(Date(2026, 11, 1)));
        QCOMPARE(m_fx.Scalar(u"SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = '10'"_s),
                 QVariant(u"Cooperativa Vinícola Gaúcha"_s));

        // The history: one call, each changed field once, old and new as the field is typed.
        QCOMPARE(m_fx.Column(u"SELECT COUNT(DISTINCT IDALTERACAO) || NMMETODO || NMOPERADOR || "
                             "IDVERIFICADO FROM HISTALTERACAO GROUP BY NMMETODO, NMOPERADOR, "
                             "IDVERIFICADO"_s),
                 QStringList{u"1SetContOpeanônimoN"_s});
        QCOMPARE(m_fx.Column(u"SELECT IDOPERACAO || ' ' || NMCAMPO || ' ' || TPCAMPO || ' ' || "
                             "COALESCE(VLANTERIOR, '-') || ' ' || COALESCE(VLNOVO, '-') FROM "
                             "HISTALTERACAO WHERE CDEMPRESA = '06'"_s),
                 QStringList{u"A DTINICLANC date 2026-12-01 2026-11-01"_s});
        // An insert records its starting values, a delete its last ones: every field that has one.
        auto valued = [](const TTablePacket &p, int row) {
            int n = 0;
            for (int i = 0; i < p.Fields.size(); ++i)
                n += !p.Rows.at(row).at(i).isNull() && p.Fields.at(i).Name != u"CDEMPRESA"_s &&
                     p.Fields.at(i).Name != u"NMEMPRESA"_s;
            return QString::number(n);
        };
        QCOMPARE(m_fx.Column(u"SELECT COUNT(*) FROM HISTALTERACAO WHERE CDEMPRESA = '10' AND "
                             "IDOPERACAO = 'I' AND VLANTERIOR IS NULL AND VLNOVO IS NOT NULL"_s),
                 QStringList{valued(after, added)});
        QCOMPARE(m_fx.Column(u"SELECT COUNT(*) FROM HISTALTERACAO WHERE CDEMPRESA = '05' AND "
                             "IDOPERACAO = 'E' AND VLNOVO IS NULL AND VLANTERIOR IS NOT NULL"_s),
                 QStringList{valued(before, RowOf(before, u"05"_s))});
        QCOMPARE(m_fx.Column(u"SELECT VLNOVO FROM HISTALTERACAO WHERE CDEMPRESA = '10' AND "
                             "NMCAMPO = 'DTINICCONT'"_s),
                 QStringList{u"2026-01-01"_s});
        QCOMPARE(m_fx.Column(u"SELECT COUNT(*) FROM HISTALTERACAO WHERE CDEMPRESA NOT IN "
                             "('05', '06', '10')"_s),
                 QStringList{u"0"_s});
    }

    void setContOpeRefusesAndWritesNothing_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("delete with entries")
            << 0 << u"refused"_s
            << u"Existem lançamentos contábeis cadastrados para empresa informada."_s;
        QTest::newRow("second record") << 1 << u"conflict"_s << u"'01'"_s;
        QTest::newRow("company not registered")
            << 2 << u"not_found"_s << u"Empresa '99' não cadastrada."_s;
        QTest::newRow("flag not S/N") << 3 << u"invalid_argument"_s << u"IDSUGRAT"_s;
        QTest::newRow("unknown field") << 4 << u"invalid_argument"_s << u"NOVOCAMPO"_s;
        QTest::newRow("code changed") << 5 << u"invalid_argument"_s << u"não pode ser alterado"_s;
    }

    // Each log starts with a good insert for company 10; the fault comes after it.
    void setContOpeRefusesAndWritesNothing() {
        QFETCH(int, fault);
        QFETCH(QString, code);
        QFETCH(QString, message);
        TNetConnection &c = m_fx.Client();
        TTablePacket records = Records(c);
        QVector<TChange> changes{NewRecord(records, u"10"_s)};
        switch (fault) {
        case 0:
            changes.append({TChangeOp::Delete, records.Rows.at(RowOf(records, u"01"_s)), {}});
            break;
        case 1:
            changes.append(NewRecord(records, u"01"_s));
            break;
        case 2:
            changes.append(NewRecord(records, u"99"_s));
            break;
        case 3:
            changes.append(Update(records, u"06"_s, u"IDSUGRAT"_s, u"X"_s));
            break;
        case 4:
            records.Fields.append({u"NOVOCAMPO"_s, TFieldType::String, 1, false});
            for (TChange &ch : changes)
                ch.Values.append(u"S"_s);
            break;
        case 5:
            changes.append(Update(records, u"06"_s, u"CDEMPRESA"_s, u"11"_s));
            break;
        }
        const TResultEnvelope r = c.Call(u"SetContOpe"_s, {Log(records, changes)});
        QVERIFY(!r.Ok);
        QCOMPARE(r.ErrorCode, code);
        QVERIFY2(r.ErrorMessage.contains(message), qPrintable(r.ErrorMessage));
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM CONTOPECTBL WHERE CDEMPRESA = '10'"_s).toInt(),
                 0);
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM CONTOPECTBL"_s).toInt(), 9);
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM HISTALTERACAO"_s).toInt(), 0);
    }

    // Records no screen would save are refused with the screen's message, and nothing is
    // written. Each row changes one record of the demo seed, or inserts one for company 10.
    void setContOpeHoldsTheScreensLine_data() {
        QTest::addColumn<QString>("company");
        QTest::addColumn<QStringList>("changes"); // "FIELD=value", dates as yyyy-mm-dd, "-" null
        QTest::addColumn<QString>("message");     // "" when accepted
        QTest::newRow("period ending before it starts")
            << u"05"_s << QStringList{u"DTINICCONT=2026-12-01"_s, u"DTFINACONT=2026-11-30"_s}
            << u"Empresa '05': Data do período contábil inicial deve ser menor ou igual a data do "
               "período contábil final."_s;
        QTest::newRow("accounting end before the last balance")
            << u"04"_s << QStringList{u"IDSUGRAT=N"_s}
            << u"Empresa '04': Existe saldo com data superior a informada no final do período "
               "contábil."_s;
        QTest::newRow("empty flag") << u"06"_s << QStringList{u"IDCONGERGGF=-"_s}
                                    << u"O campo IDCONGERGGF da empresa '06' deve ser 'S' ou "
                                       "'N'."_s;
        QTest::newRow("required date taken away")
            << u"07"_s << QStringList{u"DTINIINTCONTGPA=-"_s}
            << u"Empresa '07': Data inicial de Integração do Gestão de Ativos deve ser "
               "informada."_s;
        QTest::newRow("asset-management period backwards")
            << u"05"_s
            << QStringList{u"DTINIINTCONTGPA=2026-12-01"_s, u"DTFININTCONTGPA=2026-11-30"_s}
            << u"Empresa '05': Data de início de integração Gestão de Ativos deve ser menor que "
               "data final de integração Gestão de Ativos."_s;
        // The screen compares these as months; the server also reads their days.
        QTest::newRow("accounting period backwards within its month")
            << u"05"_s << QStringList{u"DTINICCONT=2026-12-20"_s, u"DTFINACONT=2026-12-10"_s}
            << u"Empresa '05': Data do período contábil inicial deve ser menor ou igual"_s;
        QTest::newRow("asset-management period backwards within its month")
            << u"05"_s
            << QStringList{u"DTINIINTCONTGPA=2026-12-20"_s, u"DTFININTCONTGPA=2026-12-10"_s}
            << u"Empresa '05': Data de início de integração Gestão de Ativos"_s;
        QTest::newRow("control character") << u"06"_s << QStringList{QString(u"IDSALDEMPR=\0"_s)}
                                           << u"IDSALDEMPR: contém caracteres de controle."_s;
        QTest::newRow("required date given as the date value 0")
            << u"07"_s << QStringList{u"DTINICCONT=1899-12-30"_s}
            << u"Empresa '07': Data do período contábil inicial deve ser informada."_s;
        QTest::newRow("insert of three fields")
            << u"10"_s << QStringList{u"three"_s} << u"deve ser 'S' ou 'N'."_s;
        QTest::newRow("optional tax period left out: accepted")
            << u"05"_s << QStringList{u"DTINIINTCONTFIS=-"_s, u"DTFININTCONTFIS=-"_s} << QString();
        QTest::newRow("whole months in the screen's sense: accepted")
            << u"05"_s << QStringList{u"DTINICLANC=2026-12-15"_s, u"DTFINALANC=2026-12-20"_s}
            << QString();
    }

    void setContOpeHoldsTheScreensLine() {
        QFETCH(QString, company);
        QFETCH(QStringList, changes);
        QFETCH(QString, message);
        TNetConnection &c = m_fx.Client();
        const TTablePacket records = Records(c);
        QJsonObject log;
        if (changes == QStringList{u"three"_s}) {
            TChangeLog three;
            three.Fields = {{u"CDEMPRESA"_s, TFieldType::String, 2, false},
                            {u"DTINICCONT"_s, TFieldType::Date, 0, false},
                            {u"DTFINACONT"_s, TFieldType::Date, 0, false}};
            three.Changes = {
                {TChangeOp::Insert, {}, {company, Date(2026, 1, 1), Date(2026, 12, 31)}}};
            log = Packet::ToJson(three);
        } else {
            const int row = RowOf(records, company);
            TChange change{TChangeOp::Update, records.Rows.at(row), records.Rows.at(row)};
            for (const QString &set : changes) {
                const QString field = set.section(u'=', 0, 0);
                const QString value = set.section(u'=', 1);
                QVariant v;
                if (value != u"-"_s)
                    v = field.startsWith(u"DT"_s) ? QVariant(DateTimeUtil::FromQDate(
                                                        QDate::fromString(value, Qt::ISODate)))
                                                  : QVariant(value);
                change.Values[records.FieldIndex(field)] = v;
            }
            log = Log(records, {change});
        }
        const QVariant before = m_fx.Scalar(
            u"SELECT COUNT(*) || MAX(DTFINACONT) || MAX(IDCONGERGGF) FROM CONTOPECTBL"_s);
        const TResultEnvelope r = c.Call(u"SetContOpe"_s, {log});
        if (message.isEmpty()) {
            QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
            return;
        }
        QVERIFY(!r.Ok);
        QVERIFY2(r.ErrorMessage.contains(message), qPrintable(r.ErrorMessage));
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) || MAX(DTFINACONT) || MAX(IDCONGERGGF) FROM "
                             "CONTOPECTBL"_s),
                 before);
    }

    void partialLogInAnyFieldOrder() {
        TNetConnection &c = m_fx.Client();
        TChangeLog log;
        log.Fields = {{u"IDSUGRAT"_s, TFieldType::String, 1, false},
                      {u"cdempresa"_s, TFieldType::String, 2, false}};
        log.Changes = {{TChangeOp::Update, {u"S"_s, u"07"_s}, {u"N"_s, u"07"_s}}};
        const TResultEnvelope r = c.Call(u"SetContOpe"_s, {Packet::ToJson(log)});
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        QCOMPARE(m_fx.Scalar(u"SELECT IDSUGRAT FROM CONTOPECTBL WHERE CDEMPRESA = '07'"_s),
                 QVariant(u"N"_s));
        // The same stale original again is now a conflict.
        const TResultEnvelope again = c.Call(u"SetContOpe"_s, {Packet::ToJson(log)});
        QCOMPARE(again.ErrorCode, u"conflict"_s);
    }

    void twoClientsEditingOneRecord() {
        TNetConnection &first = m_fx.Client();
        TNetConnection &second = m_fx.Client();
        const TTablePacket seenByFirst = Records(first);
        const TTablePacket seenBySecond = Records(second);

        QVERIFY(
            first
                .Call(u"SetContOpe"_s,
                      {Log(seenByFirst, {Update(seenByFirst, u"08"_s, u"IDCONTGERE"_s, u"N"_s)})})
                .Ok);
        const TResultEnvelope late =
            second.Call(u"SetContOpe"_s,
                        {Log(seenBySecond,
                             {Update(seenBySecond, u"08"_s, u"DTINICLANC"_s, Date(2026, 6, 1))})});
        QCOMPARE(late.ErrorCode, u"conflict"_s);
        QVERIFY2(late.ErrorMessage.contains(u"alterado por outro usuário"_s),
                 qPrintable(late.ErrorMessage));
        const TResultEnvelope lateDelete = second.Call(
            u"SetContOpe"_s,
            {Log(seenBySecond,
                 {{TChangeOp::Delete, seenBySecond.Rows.at(RowOf(seenBySecond, u"08"_s)), {}}})});
        QCOMPARE(lateDelete.ErrorCode, u"conflict"_s);
        QCOMPARE(m_fx.Scalar(u"SELECT IDCONTGERE FROM CONTOPECTBL WHERE CDEMPRESA = '08'"_s),
                 QVariant(u"N"_s));

        // Removed by the first: the second's edit of the vanished row is a conflict too.
        const TTablePacket fresh = Records(first);
        QVERIFY(
            first
                .Call(u"SetContOpe"_s,
                      {Log(fresh, {{TChangeOp::Delete, fresh.Rows.at(RowOf(fresh, u"05"_s)), {}}})})
                .Ok);
        const TResultEnvelope gone = second.Call(
            u"SetContOpe"_s,
            {Log(seenBySecond, {Update(seenBySecond, u"05"_s, u"IDSUGRAT"_s, u"N"_s)})});
        QCOMPARE(gone.ErrorCode, u"conflict"_s);
        QVERIFY(gone.ErrorMessage.contains(u"excluído"_s));
    }

    void twoServersOneDatabase() {
        QString error;
        QVERIFY2(m_fx.StartSecond(&error), qPrintable(error));
        TNetConnection &here = m_fx.Client();
        TNetConnection &there = m_fx.SecondClient();
        const TTablePacket seenHere = Records(here);
        const TTablePacket seenThere = Records(there);
        QCOMPARE(seenThere.Rows.size(), seenHere.Rows.size());
        QVERIFY(here.Call(u"SetContOpe"_s,
                          {Log(seenHere, {Update(seenHere, u"09"_s, u"IDSUGRAT"_s, u"N"_s)})})
                    .Ok);
        const TResultEnvelope late = there.Call(
            u"SetContOpe"_s, {Log(seenThere, {Update(seenThere, u"09"_s, u"IDSUGRAT"_s, u"S"_s)})});
        QCOMPARE(late.ErrorCode, u"conflict"_s);
        QCOMPARE(ToPacket(there.Call(u"GetDataSaldEmpr"_s, {u"04"_s}).Payload).Rows.size(), 1);
    }

    // Two servers writing at once into one database: every call's history is there, whole, and
    // the two interleave without losing a row.
    void twoServersInterleaveTheirHistory() {
        QString error;
        QVERIFY2(m_fx.StartSecond(&error), qPrintable(error));
        const int rounds = 10;
        // Each writer on its own thread with a connection of its own (made there, as a socket
        // belongs to the thread that makes it); one company each, so none conflicts.
        auto flip = [&](int port, const QString &code, QString *failed) {
            TNetConnection c;
            c.SetServerName(u"Ger09400.rdmParamCtbl"_s);
            c.SetPort(port);
            c.SetTimeoutMs(60000);
            for (int i = 0; i < rounds; ++i) {
                const TTablePacket records = Records(c);
                const QString now = Cell(records, RowOf(records, code), u"IDSUGRAT"_s).toString();
                const TResultEnvelope r = c.Call(
                    u"SetContOpe"_s, {Log(records, {Update(records, code, u"IDSUGRAT"_s,
                                                           now == u"S"_s ? u"N"_s : u"S"_s)})});
                if (!r.Ok) {
                    *failed = r.ErrorMessage;
                    return;
                }
            }
        };
        QString failedHere, failedThere;
        const int herePort = m_fx.Client().Port(), therePort = m_fx.SecondClient().Port();
        std::thread first([&] { flip(herePort, u"07"_s, &failedHere); });
        std::thread second([&] { flip(therePort, u"08"_s, &failedThere); });
        first.join();
        second.join();
        QVERIFY2(failedHere.isEmpty() && failedThere.isEmpty(),
                 qPrintable(failedHere + failedThere));
        QCOMPARE(m_fx.Column(u"SELECT CDEMPRESA || ' ' || COUNT(*) || ' ' || "
                             "COUNT(DISTINCT IDALTERACAO) FROM HISTALTERACAO GROUP BY CDEMPRESA "
                             "ORDER BY CDEMPRESA"_s),
                 (QStringList{u"07 %1 %1"_s.arg(rounds), u"08 %1 %1"_s.arg(rounds)}));
        // One chain, unbroken, in the order the two committed.
        QVERIFY2(m_fx.Check(&error), qPrintable(error));
    }

    // History off is for measuring its cost only: the write lands, no history row does, and the
    // server says at start that it keeps none.
    void noHistoryServerWritesNone() {
        QString error;
        QVERIFY2(m_fx.StartSecond(&error, {u"--no-history"_s}), qPrintable(error));
        const int before = m_fx.Scalar(u"SELECT COUNT(*) FROM HISTALTERACAO"_s).toInt();
        TNetConnection &c = m_fx.SecondClient();
        const TTablePacket records = Records(c);
        const QString now = Cell(records, RowOf(records, u"07"_s), u"IDSUGRAT"_s).toString();
        const QString next = now == u"S"_s ? u"N"_s : u"S"_s;
        QVERIFY(
            c.Call(u"SetContOpe"_s, {Log(records, {Update(records, u"07"_s, u"IDSUGRAT"_s, next)})})
                .Ok);
        QCOMPARE(Cell(Records(c), RowOf(records, u"07"_s), u"IDSUGRAT"_s).toString(), next);
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM HISTALTERACAO"_s).toInt(), before);
    }

    // Servers started at the same moment on an empty database: each takes its turn at the
    // schema, and all of them serve.
    void serversStartingTogetherOnAnEmptyDatabase() {
        for (int trial = 0; trial < 20; ++trial) {
            QString error;
            const QString url = m_fx.NewEmptyDatabase(&error);
            QVERIFY2(!url.isEmpty(), qPrintable(error));
            std::vector<std::unique_ptr<QProcess>> servers;
            for (int i = 0; i < 2; ++i) {
                auto p = std::make_unique<QProcess>();
                p->setProcessChannelMode(QProcess::MergedChannels);
                p->start(ServerProcess::Executable(),
                         {u"--db"_s, url, u"--listen"_s, u"127.0.0.1:0"_s});
                servers.push_back(std::move(p));
            }
            for (auto &p : servers) {
                QVERIFY(p->waitForStarted(5000));
                QByteArray out;
                while (!out.contains("escutando em") && p->state() == QProcess::Running &&
                       p->waitForReadyRead(20000))
                    out += p->readAll();
                out += p->readAll();
                QVERIFY2(out.contains("escutando em"),
                         qPrintable(u"trial %1: %2"_s.arg(trial).arg(QString::fromUtf8(out))));
            }
            for (auto &p : servers) {
                p->terminate();
                p->waitForFinished(5000);
            }
        }
    }

    // The server killed at any moment of a bulk apply over every company: after a restart the
    // change is there for all of them or for none.
    void killedMidBulkApplyIsAllOrNothing() {
        // Some nine hundred more companies, each with a copy of company 01's record.
        QString error;
        // PostgreSQL keeps unquoted names in lower case.
        const QSqlRecord columns =
            m_fx.Db().record(MethodsFixture::OnPostgres() ? u"contopectbl"_s : u"CONTOPECTBL"_s);
        QStringList names, picks;
        for (int i = 0; i < columns.count(); ++i) {
            const QString name = columns.fieldName(i).toUpper();
            names << name;
            picks << (name == u"CDEMPRESA"_s ? u"e.CDEMPRESA"_s : u"c."_s + name);
        }
        const QString letters = u"'ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789'"_s;
        QVERIFY2(m_fx.Exec(u"INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) WITH RECURSIVE "
                           "n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 935) "
                           "SELECT substr(%1, i / 36 + 1, 1) || substr(%1, i %% 36 + 1, 1), "
                           "'Empresa ' || i FROM n"_s.arg(letters)
                               .replace(u"%%"_s, u"%"_s),
                           &error),
                 qPrintable(error));
        QVERIFY2(m_fx.Exec(u"INSERT INTO CONTOPECTBL (%1) SELECT %2 FROM EMPRESA e, CONTOPECTBL c "
                           "WHERE c.CDEMPRESA = '01' AND e.CDEMPRESA >= 'A'"_s.arg(
                               names.join(u", "_s), picks.join(u", "_s)),
                           &error),
                 qPrintable(error));
        int records = m_fx.Scalar(u"SELECT COUNT(*) FROM CONTOPECTBL"_s).toInt();
        QVERIFY(records > 900);

        const QByteArray apply = JsonRpc::EncodeRequest(1, u"Ger09400.rdmParamCtbl.setCadAuto"_s,
                                                        {u"T"_s, u"N"_s, u"S"_s, BulkRequest()});
        for (int trial = 0; trial < 12; ++trial) {
            QVERIFY2(m_fx.Exec(u"UPDATE CONTOPECTBL SET IDMSMCONTADBCR = 'N'"_s, &error),
                     qPrintable(error));
            QWebSocket socket;
            QSignalSpy connected(&socket, &QWebSocket::connected);
            socket.open(QUrl(u"ws://127.0.0.1:%1"_s.arg(m_fx.Port())));
            QVERIFY(connected.wait(5000));
            socket.sendTextMessage(QString::fromUtf8(apply));
            socket.flush();
            QTest::qWait(trial * 7); // from before the call arrives to after it ends
            QVERIFY2(m_fx.KillAndRestart(&error), qPrintable(error));
            // Either every record has the change (and the companies that had none got one) or
            // no record has it.
            const int now = m_fx.Scalar(u"SELECT COUNT(*) FROM CONTOPECTBL"_s).toInt();
            const QString flags =
                m_fx.Scalar(u"SELECT MIN(IDMSMCONTADBCR) || MAX(IDMSMCONTADBCR) FROM "
                            "CONTOPECTBL"_s)
                    .toString();
            QVERIFY2(flags == u"NN"_s || flags == u"SS"_s, qPrintable(flags));
            if (now != records) {
                QCOMPARE(now, records + 3); // 10, 11 and 12 had no record
                QCOMPARE(flags, u"SS"_s);
                records = now;
            }
        }
        // The restarted server serves.
        QVERIFY(m_fx.Client().Call(u"GetDataSaldEmpr"_s, {u"01"_s}).Ok);
    }

    void setParamGeralDetectsStaleRow() {
        TNetConnection &c = m_fx.Client();
        TChangeLog log;
        log.Fields = {{u"IDCONTAJUDTCOMP"_s, TFieldType::String, 1, false}};
        log.Changes = {{TChangeOp::Update, {u"N"_s}, {u"S"_s}}};
        QVERIFY(c.Call(u"SetParamGeral"_s, {Packet::ToJson(log)}).Ok);
        QCOMPARE(m_fx.Scalar(u"SELECT IDCONTAJUDTCOMP FROM PARAMGERAL"_s), QVariant(u"S"_s));
        QCOMPARE(m_fx.Column(u"SELECT NMMETODO || ' ' || COALESCE(CDEMPRESA, '-') || ' ' || "
                             "NMCAMPO || ' ' || VLANTERIOR || ' ' || VLNOVO FROM HISTALTERACAO"_s),
                 QStringList{u"SetParamGeral - IDCONTAJUDTCOMP N S"_s});
        QCOMPARE(c.Call(u"SetParamGeral"_s, {Packet::ToJson(log)}).ErrorCode, u"conflict"_s);
        log.Changes = {{TChangeOp::Insert, {}, {u"N"_s}}};
        QCOMPARE(c.Call(u"SetParamGeral"_s, {Packet::ToJson(log)}).ErrorCode, u"conflict"_s);
    }

    void closingOfPeriodIsAudited() {
        TNetConnection &c = m_fx.Client();
        const TResultEnvelope r =
            c.Call(u"setUsuarioFechamentoPeriodo"_s, {u"02"_s, u"17/11/2025"_s, u"MARIA.SOUZA"_s});
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        QCOMPARE(m_fx.Scalar(u"SELECT DSDATA || '|' || NMOPERADOR FROM FECHAPERIODO "
                             "WHERE CDEMPRESA = '02'"_s),
                 QVariant(u"17/11/2025|MARIA.SOUZA"_s));
        // The history has it too, as the history window reads it.
        QCOMPARE(m_fx.Column(u"SELECT NMMETODO || ' ' || IDOPERACAO || ' ' || CDEMPRESA || ' ' || "
                             "NMCAMPO || ' ' || VLNOVO FROM HISTALTERACAO"_s),
                 QStringList{u"setUsuarioFechamentoPeriodo I 02 FECHAMENTO 2025-11-17"_s});
    }

    void bulkInconsistencies_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QStringList>("rows"); // "kind|code|text"
        QTest::addColumn<QString>("normalised");

        QTest::newRow("all companies") << u"T"_s << Iso(2026, 12, 31)
                                       << QStringList{u"1|03|05/10/2026"_s, u"2|04|"_s} << u"T"_s;
        QTest::newRow("list tidied")
            << u" 4 , 03,03,1"_s << Iso(2026, 12, 31)
            << QStringList{u"1|03|05/10/2026"_s, u"2|04|"_s} << u"01,03,04"_s;
        QTest::newRow("clean companies")
            << u"01,02,05"_s << Iso(2026, 12, 31) << QStringList{} << u"01,02,05"_s;
        QTest::newRow("earlier end: balances after it")
            << u"01,05"_s << Iso(2026, 6, 30) << QStringList{u"2|01|"_s} << u"01,05"_s;
    }

    void bulkInconsistencies() {
        QFETCH(QString, list);
        QFETCH(QString, end);
        QFETCH(QStringList, rows);
        QFETCH(QString, normalised);
        QString byRef = list;
        const TResultEnvelope r =
            m_fx.Client().Call(u"getErrosCadAuto"_s, {list, Iso(2026, 1, 1), end}, {&byRef});
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        const TTablePacket packet = ToPacket(r.Payload);
        QCOMPARE(packet.Fields.size(), 3);
        QCOMPARE(packet.Fields.at(2).Size, 100);
        QStringList got;
        for (int i = 0; i < packet.Rows.size(); ++i)
            got << u"%1|%2|%3"_s.arg(Cell(packet, i, u"IDERRO"_s).toString(),
                                     Cell(packet, i, u"CDEMPRESA"_s).toString(),
                                     Cell(packet, i, u"DSERRO"_s).toString());
        QCOMPARE(got, rows);
        QCOMPARE(byRef, normalised);
    }

    void bulkControlsReachEveryCompany() {
        TNetConnection &c = m_fx.Client();
        QString list = u"T"_s;
        const TResultEnvelope r =
            c.Call(u"setCadAuto"_s, {list, u"N"_s, u"S"_s, BulkRequest()}, {&list});
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        QCOMPARE(list, u"T"_s);
        const TTablePacket after = Records(c);
        QCOMPARE(after.Rows.size(), 12);
        // Existing record: controls replaced, periods untouched.
        const int kept = RowOf(after, u"01"_s);
        QCOMPARE(Cell(after, kept, u"IDMSMCONTADBCR"_s), u"S"_s);
        QCOMPARE(Cell(after, kept, u"DTINICLANC"_s), QVariant(Date(2026, 12, 1)));
        // New record: the controls asked for, a new record's other values, today's periods.
        const int created = RowOf(after, u"11"_s);
        QCOMPARE(Cell(after, created, u"IDCONSRATPROD"_s), u"S"_s);
        QCOMPARE(Cell(after, created, u"IDSALDEMPR"_s), u"M"_s);
        QCOMPARE(Cell(after, created, u"IDACUMVRCONT"_s), u"S"_s);
        QCOMPARE(Cell(after, created, u"IDCONGERGGF"_s), u"N"_s);
        QCOMPARE(Cell(after, created, u"DTINIINTCONTFIS"_s), QVariant(DateTimeUtil::Today()));
    }

    // The history read back through its own object: newest first, filtered, paged.
    void historyReadBack_data() {
        QTest::addColumn<QJsonArray>("params"); // list, since, until, field, operator, page
        QTest::addColumn<QStringList>("rows");  // "company field old>new", newest first
        // The history's days are UTC days.
        const QDate utc = QDateTime::currentDateTimeUtc().date();
        const QString today = utc.toString(Qt::ISODate);
        const QString tomorrow = utc.addDays(1).toString(Qt::ISODate);
        const QString yesterday = utc.addDays(-1).toString(Qt::ISODate);
        const QStringList all{u"- IDCONTAJUDTCOMP N>S"_s, u"06 IDSUGRAT N>S"_s,
                              u"06 IDSUGRAT S>N"_s};
        QTest::newRow("everything")
            << QJsonArray{u"T"_s, u""_s, u""_s, u""_s, u""_s, u"1"_s} << all;
        QTest::newRow("one company")
            << QJsonArray{u"6"_s, u""_s, u""_s, u""_s, u""_s, u"1"_s} << all.mid(1);
        QTest::newRow("a company with none")
            << QJsonArray{u"01,02"_s, u""_s, u""_s, u""_s, u""_s, u"1"_s} << QStringList{};
        QTest::newRow("one field")
            << QJsonArray{u"T"_s, u""_s, u""_s, u"idcontajudtcomp"_s, u""_s, u"1"_s}
            << all.mid(0, 1);
        QTest::newRow("today") << QJsonArray{u"T"_s, today, today, u""_s, u""_s, u"1"_s} << all;
        QTest::newRow("from tomorrow")
            << QJsonArray{u"T"_s, tomorrow, u""_s, u""_s, u""_s, u"1"_s} << QStringList{};
        QTest::newRow("until yesterday")
            << QJsonArray{u"T"_s, u""_s, yesterday, u""_s, u""_s, u"1"_s} << QStringList{};
        QTest::newRow("by operator")
            << QJsonArray{u"T"_s, u""_s, u""_s, u""_s, u"anônimo"_s, u"1"_s} << all;
        QTest::newRow("other operator")
            << QJsonArray{u"T"_s, u""_s, u""_s, u""_s, u"maria"_s, u"1"_s} << QStringList{};
        QTest::newRow("second page")
            << QJsonArray{u"T"_s, u""_s, u""_s, u""_s, u""_s, u"2"_s} << QStringList{};
    }

    void historyReadBack() {
        QFETCH(QJsonArray, params);
        QFETCH(QStringList, rows);
        TNetConnection &c = m_fx.Client();
        TTablePacket records = Records(c);
        for (const QString &value : {u"N"_s, u"S"_s}) {
            QVERIFY(c.Call(u"SetContOpe"_s,
                           {Log(records, {Update(records, u"06"_s, u"IDSUGRAT"_s, value)})})
                        .Ok);
            records = Records(c);
        }
        TChangeLog log;
        log.Fields = {{u"IDCONTAJUDTCOMP"_s, TFieldType::String, 1, false}};
        log.Changes = {{TChangeOp::Update, {u"N"_s}, {u"S"_s}}};
        QVERIFY(c.Call(u"SetParamGeral"_s, {Packet::ToJson(log)}).Ok);

        const TResultEnvelope r = m_fx.Client(u"Audit"_s).Call(u"GetHistorico"_s, params);
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        const TTablePacket history = ToPacket(r.Payload);
        QCOMPARE(history.Fields.size(), 11);
        QStringList got;
        for (int i = 0; i < history.Rows.size(); ++i) {
            const QString company = Cell(history, i, u"CDEMPRESA"_s).toString();
            got << u"%1 %2 %3>%4"_s.arg(company.isEmpty() ? u"-"_s : company,
                                        Cell(history, i, u"NMCAMPO"_s).toString(),
                                        Cell(history, i, u"VLANTERIOR"_s).toString(),
                                        Cell(history, i, u"VLNOVO"_s).toString());
            const QString when = Cell(history, i, u"DTALTERACAO"_s).toString();
            QVERIFY2(
                when.endsWith(u"Z"_s) &&
                    when.startsWith(QDateTime::currentDateTimeUtc().date().toString(Qt::ISODate)),
                qPrintable(when));
        }
        QCOMPARE(got, rows);
    }

    void historyRefusesBadFilters_data() {
        QTest::addColumn<QJsonArray>("params");
        QTest::addColumn<QString>("message");
        QTest::newRow("page 0") << QJsonArray{u"T"_s, u""_s, u""_s, u""_s, u""_s, u"0"_s}
                                << u"Página inválida"_s;
        QTest::newRow("date") << QJsonArray{u"T"_s, u"31/12/2026"_s, u""_s, u""_s, u""_s, u"1"_s}
                              << u"Data inválida em data inicial"_s;
        QTest::newRow("list") << QJsonArray{u"01,,02"_s, u""_s, u""_s, u""_s, u""_s, u"1"_s}
                              << u"item vazio"_s;
        QTest::newRow("operator") << QJsonArray{u"T"_s, u""_s, u""_s, u""_s, QString(u"A\0"_s),
                                                u"1"_s}
                                  << u"Operador inválido: contém caracteres de controle."_s;
        QTest::newRow("unknown field")
            << QJsonArray{u"T"_s, u""_s, u""_s, u"DTNADA"_s, u""_s, u"1"_s}
            << u"Campo inválido: 'DTNADA' não é um campo do histórico."_s;
        QTest::newRow("end before start")
            << QJsonArray{u"T"_s, u"2026-12-02"_s, u"2026-12-01"_s, u""_s, u""_s, u"1"_s}
            << u"Data final deve ser maior ou igual à data inicial."_s;
    }

    // Each page gives back the next one's number, empty after the last.
    void historyPagesSayWhetherMoreFollow() {
        QString error;
        QVERIFY2(m_fx.Exec(u"INSERT INTO HISTALTERACAO (IDALTERACAO, NRSEQ, DTALTERACAO, "
                           "NMOPERADOR, IDVERIFICADO, NMMETODO, IDOPERACAO, CDEMPRESA, NMCAMPO, "
                           "TPCAMPO) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM "
                           "n WHERE i < 501) SELECT 'a', i, '2026-01-01 00:00:00', 'x', 'N', "
                           "'SetContOpe', 'A', '01', 'IDSUGRAT', 'string' FROM n"_s,
                           &error),
                 qPrintable(error));
        for (const auto &[page, rows, next] : {std::tuple{1, 500, u"2"_s}, {2, 1, u""_s}}) {
            const TResultEnvelope r = m_fx.Client(u"Audit"_s)
                                          .Call(u"GetHistorico"_s, {u"T"_s, u""_s, u""_s, u""_s,
                                                                    u""_s, QString::number(page)});
            QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
            QCOMPARE(ToPacket(r.Payload).Rows.size(), rows);
            QCOMPARE(r.ByRef, QJsonArray{next});
        }
    }

    void historyRefusesBadFilters() {
        QFETCH(QJsonArray, params);
        QFETCH(QString, message);
        const TResultEnvelope r = m_fx.Client(u"Audit"_s).Call(u"GetHistorico"_s, params);
        QCOMPARE(r.ErrorCode, u"invalid_argument"_s);
        QVERIFY2(r.ErrorMessage.contains(message), qPrintable(r.ErrorMessage));
    }

    // A bulk apply records, company by company, the fields it changed; one refused by the
    // checks inside its transaction records nothing.
    void bulkApplyHistory() {
        TNetConnection &c = m_fx.Client();
        QString list = u"04"_s; // a balance after the new period's end: refused
        QCOMPARE(c.Call(u"setCadAuto"_s,
                        {list, u"S"_s, u"N"_s, BulkRequest(Date(2026, 1, 1), Date(2026, 12, 31))},
                        {&list})
                     .ErrorCode,
                 u"inconsistency"_s);
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM HISTALTERACAO"_s).toInt(), 0);

        list = u"06,10"_s;
        const TResultEnvelope r =
            c.Call(u"setCadAuto"_s, {list, u"N"_s, u"S"_s, BulkRequest()}, {&list});
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        // 06 had a record: only the flags that were not already "S"; 10 had none: all of it.
        const QStringList changed06 = m_fx.Column(
            u"SELECT NMCAMPO || ':' || VLANTERIOR || '>' || VLNOVO FROM HISTALTERACAO WHERE "
            "CDEMPRESA = '06' AND IDOPERACAO = 'A' ORDER BY NMCAMPO"_s);
        QVERIFY(!changed06.isEmpty());
        for (const QString &row : changed06)
            QVERIFY2(row.endsWith(u":N>S"_s), qPrintable(row));
        QVERIFY(m_fx.Scalar(u"SELECT COUNT(*) FROM HISTALTERACAO WHERE CDEMPRESA = '10' AND "
                            "IDOPERACAO = 'I'"_s)
                    .toInt() > 20);
        QCOMPARE(m_fx.Column(u"SELECT DISTINCT NMMETODO FROM HISTALTERACAO"_s),
                 QStringList{u"setCadAuto"_s});
        // Every row in the chain, numbered without a gap.
        QCOMPARE(m_fx.Column(u"SELECT (COUNT(*) - MAX(NRCADEIA)) || ' ' || MIN(NRCADEIA) || ' ' "
                             "|| (COUNT(CDHASH) - COUNT(*)) FROM HISTALTERACAO"_s),
                 QStringList{u"0 1 0"_s});
        QString error;
        QVERIFY2(m_fx.Check(&error), qPrintable(error));
    }

    // A company planted by hand with a code no desktop can read stops an apply over "T" whole:
    // a record created for it would break the parameter screen of every desktop.
    void bulkApplyRefusesCodesThatDoNotFit() {
        QString error;
        QVERIFY2(m_fx.Exec(u"INSERT INTO EMPRESA VALUES ('7\t', 'Filial')"_s, &error),
                 qPrintable(error));
        QString list = u"T"_s;
        const TResultEnvelope r =
            m_fx.Client().Call(u"setCadAuto"_s, {list, u"N"_s, u"S"_s, BulkRequest()}, {&list});
        QCOMPARE(r.ErrorCode, u"inconsistency"_s);
        QVERIFY2(r.ErrorMessage.startsWith(u"A empresa \"7\\t\" tem código inválido"_s),
                 qPrintable(r.ErrorMessage));
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM HISTALTERACAO"_s).toInt(), 0);
    }

    // What SQLite keeps in a date column is whatever was written there: the records read it as
    // the date it is, or as no date at all, never as something else.
    void storedDateTextsReadBack_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QVariant>("read");
        QTest::newRow("iso") << u"'2026-12-31'"_s << QVariant(Date(2026, 12, 31));
        QTest::newRow("iso with a time")
            << u"'2026-12-31 10:00:00'"_s << QVariant(Date(2026, 12, 31));
        QTest::newRow("not a date") << u"'lixo'"_s << QVariant();
        QTest::newRow("day first") << u"'31/12/2026'"_s << QVariant();
        QTest::newRow("impossible day") << u"'2026-02-30'"_s << QVariant();
        QTest::newRow("a number") << u"46022"_s << QVariant();
        QTest::newRow("accented text") << u"'2026-ção'"_s << QVariant();
    }

    void storedDateTextsReadBack() {
        if (MethodsFixture::OnPostgres())
            QSKIP("PostgreSQL keeps only dates in a date column");
        QFETCH(QString, stored);
        QFETCH(QVariant, read);
        QString error;
        QVERIFY2(
            m_fx.Exec(
                u"UPDATE CONTOPECTBL SET DTINIINTCONTFIS = %1 WHERE CDEMPRESA = '06'"_s.arg(stored),
                &error),
            qPrintable(error));
        const TTablePacket records = Records(m_fx.Client());
        QCOMPARE(Cell(records, RowOf(records, u"06"_s), u"DTINIINTCONTFIS"_s), read);
    }

    // The bulk history is the records' difference, field by field: a company with a record
    // (A), one without (I, no value before) and one the request leaves as it was; numbered in
    // company order, then field order.
    void bulkHistoryIsTheRecordsDifference() {
        TNetConnection &c = m_fx.Client();
        const TTablePacket before = Records(c);
        QString list = u"02,06,07,10"_s;
        const TResultEnvelope r = c.Call(
            u"setCadAuto"_s,
            {list, u"S"_s, u"S"_s, BulkRequest(Date(2027, 1, 1), Date(2027, 12, 31))}, {&list});
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        const TTablePacket after = Records(c);
        auto text = [](const TTablePacket &records, int row, const TFieldDef &field) {
            if (row < 0)
                return QString();
            const QVariant v = records.Rows.at(row).at(records.FieldIndex(field.Name));
            if (v.isNull())
                return QString();
            return field.DataType == TFieldType::Date
                       ? DateTimeUtil::ToQDate(v.toDouble()).toString(Qt::ISODate)
                       : v.toString();
        };
        QStringList expected;
        for (const QString &code : {u"02"_s, u"06"_s, u"07"_s, u"10"_s}) {
            const int was = RowOf(before, code), now = RowOf(after, code);
            for (const TFieldDef &field : after.Fields) {
                if (field.Name == u"CDEMPRESA"_s || field.Name == u"NMEMPRESA"_s)
                    continue;
                const QString old = text(before, was, field), fresh = text(after, now, field);
                if (old != fresh)
                    expected.append(u"%1 %2 %3 %4>%5"_s.arg(
                        code, was < 0 ? u"I"_s : u"A"_s, field.Name, old.isEmpty() ? u"-"_s : old,
                        fresh.isEmpty() ? u"-"_s : fresh));
            }
        }
        QVERIFY(expected.size() >= 64); // on PostgreSQL, enough to go in as one COPY
        QCOMPARE(m_fx.Column(u"SELECT CDEMPRESA || ' ' || IDOPERACAO || ' ' || NMCAMPO || ' ' || "
                             "COALESCE(VLANTERIOR, '-') || '>' || COALESCE(VLNOVO, '-') FROM "
                             "HISTALTERACAO ORDER BY NRSEQ"_s),
                 expected);
        QString error;
        QVERIFY2(m_fx.Check(&error), qPrintable(error));
    }

    void bulkPeriodsMapToRecordColumns() {
        TNetConnection &c = m_fx.Client();
        QString list = u"02,10"_s;
        const TResultEnvelope r = c.Call(
            u"setCadAuto"_s,
            {list, u"S"_s, u"N"_s, BulkRequest(Date(2026, 1, 1), Date(2026, 12, 31))}, {&list});
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        const TTablePacket after = Records(c);
        for (const QString &code : {u"02"_s, u"10"_s}) {
            const int row = RowOf(after, code);
            QVERIFY(row >= 0);
            QCOMPARE(Cell(after, row, u"DTFINACONT"_s), QVariant(Date(2026, 12, 31)));
            QCOMPARE(Cell(after, row, u"DTINICRELA"_s), QVariant(Date(2026, 1, 1)));
            QCOMPARE(Cell(after, row, u"DTFINARELA"_s), QVariant(Date(2026, 12, 31)));
            QCOMPARE(Cell(after, row, u"DTINICCTBL"_s), QVariant(Date(2026, 12, 1)));
            QVERIFY(Cell(after, row, u"DTINIINTCONTFIS"_s).isNull());
            QVERIFY(Cell(after, row, u"DTFININTCONTVEXT"_s).isNull());
        }
        // Controls switch off: the new record keeps a new record's flags.
        QCOMPARE(Cell(after, RowOf(after, u"10"_s), u"IDMSMCONTADBCR"_s), u"N"_s);
        QCOMPARE(Cell(after, RowOf(after, u"02"_s), u"IDRETESTSETOR"_s), u"S"_s);
    }

    void bulkRefusedWhenCheckFailsNow() {
        // Company 06 was clean when the screen asked; a balance arrives before the apply.
        TNetConnection &c = m_fx.Client();
        QString list = u"01,06,10"_s;
        QVERIFY(
            c.Call(u"getErrosCadAuto"_s, {list, Iso(2026, 1, 1), Iso(2026, 12, 31)}, {&list}).Ok);
        QString error;
        QVERIFY2(m_fx.Exec(u"INSERT INTO SALDEMPR (CDEMPRESA, DTSALDEMPR, CDCONTA, VRSALDODEB, "
                           "VRSALDOCRED) VALUES ('06', '2027-01-31', '9.9', 1, 0)"_s,
                           &error),
                 qPrintable(error));
        const TResultEnvelope r =
            c.Call(u"setCadAuto"_s, {list, u"S"_s, u"S"_s, BulkRequest()}, {&list});
        QCOMPARE(r.ErrorCode, u"inconsistency"_s);
        QVERIFY2(r.ErrorMessage.contains(u"06"_s), qPrintable(r.ErrorMessage));
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM CONTOPECTBL WHERE CDEMPRESA = '10'"_s).toInt(),
                 0);
        QCOMPARE(m_fx.Scalar(u"SELECT IDMSMCONTADBCR FROM CONTOPECTBL WHERE CDEMPRESA = '01'"_s),
                 QVariant(u"N"_s));
    }

    void bulkAllOrNothingWhenAWriteFailsHalfway() {
        // A trigger makes the write of the third company fail inside the transaction.
        QString error;
        const QStringList plant =
            MethodsFixture::OnPostgres()
                ? QStringList{u"CREATE FUNCTION TRAVA() RETURNS trigger AS $$ BEGIN "
                              "RAISE EXCEPTION 'empresa travada'; END $$ LANGUAGE plpgsql"_s,
                              u"CREATE TRIGGER TRAVA BEFORE UPDATE ON CONTOPECTBL FOR EACH ROW "
                              "WHEN (NEW.CDEMPRESA = '07') EXECUTE FUNCTION TRAVA()"_s}
                : QStringList{
                      u"CREATE TRIGGER TRAVA BEFORE UPDATE ON CONTOPECTBL "
                      "WHEN NEW.CDEMPRESA = '07' BEGIN SELECT RAISE(ABORT, 'empresa travada'); "
                      "END"_s};
        for (const QString &sql : plant)
            QVERIFY2(m_fx.Exec(sql, &error), qPrintable(error));
        QString list = u"01,06,07,10"_s;
        const TResultEnvelope r =
            m_fx.Client().Call(u"setCadAuto"_s, {list, u"N"_s, u"S"_s, BulkRequest()}, {&list});
        QVERIFY(!r.Ok);
        // The driver's words go to the server's log, never to the client.
        QCOMPARE(r.ErrorCode, u"database"_s);
        QVERIFY2(!r.ErrorMessage.contains(u"travada"_s), qPrintable(r.ErrorMessage));
        QTRY_VERIFY(m_fx.ServerOutput().contains("empresa travada"));
        QCOMPARE(
            m_fx.Scalar(u"SELECT COUNT(*) FROM CONTOPECTBL WHERE IDMSMCONTADBCR = 'S'"_s).toInt(),
            0);
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM CONTOPECTBL"_s).toInt(), 9);
    }

    void parallelWritersAllSucceed() {
        // Several clients write the same companies at once: each call waits for the others or
        // is retried, and none of them gives up or sees a database error. Two apply in bulk, on
        // a list and on every company (which gave up beside single-record edits on
        // PostgreSQL); the others, while a bulk apply is under way, close periods or edit a
        // field no bulk apply writes, each on its own company.
        constexpr int Writers = 6;
        constexpr int CallsEach = 5;
        const quint16 port = quint16(m_fx.Client().Port());
        QStringList failures;
        QMutex lock;
        std::atomic<int> bulksLeft = 2;
        std::atomic<int> closed = 0;
        QVector<QThread *> threads;
        for (int w = 0; w < Writers; ++w) {
            const QString code = u"0%1"_s.arg(w + 2);
            QString flag = m_fx.Scalar(u"SELECT IDCONGERGGF FROM CONTOPECTBL WHERE CDEMPRESA = "
                                       "'%1'"_s.arg(code))
                               .toString();
            threads.append(QThread::create([&, w, code, flag]() mutable {
                TNetConnection c;
                c.SetPort(port);
                c.SetServerName(u"Ger09400.rdmParamCtbl"_s);
                c.SetTimeoutMs(60000);
                for (int i = 0; i < CallsEach || (w > 1 && bulksLeft > 0); ++i) {
                    QString list = w == 0 ? u"01,02,06,10"_s : u"T"_s;
                    const QString next = flag == u"S"_s ? u"N"_s : u"S"_s;
                    TChangeLog log;
                    log.Fields = {{u"CDEMPRESA"_s, TFieldType::String, 2, false},
                                  {u"IDCONGERGGF"_s, TFieldType::String, 1, false}};
                    log.Changes = {{TChangeOp::Update, {code, flag}, {code, next}}};
                    TResultEnvelope r =
                        w < 2    ? c.Call(u"setCadAuto"_s,
                                          {list, w == 0 ? u"S"_s : u"N"_s, u"S"_s, BulkRequest()},
                                          {&list})
                        : w == 2 ? c.Call(u"setUsuarioFechamentoPeriodo"_s,
                                          {u"02"_s, u"17/11/2025"_s, u"USUARIO%1"_s.arg(w)})
                                 : c.Call(u"SetContOpe"_s, {Packet::ToJson(log)});
                    if (!r.Ok) {
                        QMutexLocker locked(&lock);
                        failures << r.ErrorCode + u": "_s + r.ErrorMessage;
                    } else {
                        closed += w == 2;
                        flag = next; // read only by the editors
                    }
                }
                if (w < 2)
                    --bulksLeft;
            }));
        }
        for (QThread *t : threads)
            t->start();
        for (QThread *t : threads) {
            QVERIFY(t->wait(120000));
            delete t;
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u"\n"_s)));
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM FECHAPERIODO"_s).toInt(), closed.load());
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM CONTOPECTBL"_s).toInt(), 12);
    }

    void invalidUtf8ReadsAlike_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a lone continuation byte, a sequence cut short")
            << u"CAST(X'418042E282' AS TEXT)"_s
            << QString::fromUtf8(QByteArray::fromHex("418042E282"));
        // Not text at all, and empty: an empty name, not a null.
        QTest::newRow("an empty blob") << u"X''"_s << u""_s;
    }

    // A name stored by other means as invalid UTF-8, or as no text at all, reads alike through
    // both methods.
    void invalidUtf8ReadsAlike() {
        if (MethodsFixture::OnPostgres())
            QSKIP("PostgreSQL refuses invalid UTF-8 in a text column");
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        QString error;
        QVERIFY2(
            m_fx.Exec(u"UPDATE EMPRESA SET NMEMPRESA = %1 WHERE CDEMPRESA = '01'"_s.arg(stored),
                      &error),
            qPrintable(error));
        const TTablePacket records = Records(m_fx.Client());
        QCOMPARE(Cell(records, RowOf(records, u"01"_s), u"NMEMPRESA"_s), QVariant(expected));
        const TResultEnvelope r = m_fx.Client(u"Host.Cache"_s).Call(u"GetTabela"_s, {u"EMPRESA"_s});
        QCOMPARE(Cell(ToPacket(r.Payload), 0, u"NMEMPRESA"_s), QVariant(expected));
    }

    // Each worker's connection holds statements of its own once calls of many shapes ran on it
    // (a company list of n codes is a statement of n parameters). A stop must close them all
    // where they belong, on every round.
    void stopsCleanlyAfterLoad() {
        QString values;
        for (int i = 0; i < 250; ++i)
            values += u"%1('%2%3', 'Empresa %4')"_s.arg(values.isEmpty() ? u""_s : u","_s)
                          .arg(QChar(u'A' + i / 10))
                          .arg(i % 10)
                          .arg(i);
        QString error;
        QVERIFY2(
            m_fx.Exec(u"INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES "_s + values, &error),
            qPrintable(error));
        for (int round = 0; round < 3; ++round) {
            if (round > 0)
                QVERIFY2(m_fx.Restart(&error), qPrintable(error));
            std::vector<std::unique_ptr<QWebSocket>> sockets;
            int answered = 0, sent = 0;
            for (int s = 0; s < 8; ++s) {
                sockets.push_back(std::make_unique<QWebSocket>());
                QWebSocket *socket = sockets.back().get();
                connect(socket, &QWebSocket::textMessageReceived, this, [&] { ++answered; });
                QSignalSpy connected(socket, &QWebSocket::connected);
                socket->open(QUrl(u"ws://127.0.0.1:%1"_s.arg(m_fx.Port())));
                QVERIFY(connected.wait(5000));
            }
            for (int n = 1; n <= 250; n += 2) {
                QStringList codes;
                for (int i = 0; i < n; ++i)
                    codes << u"%1%2"_s.arg(QChar(u'A' + i / 10)).arg(i % 10);
                const QJsonArray args{codes.join(u','), u"2026-01-01"_s, u"2026-12-31"_s};
                QWebSocket *socket = sockets.at((n / 2) % 8).get();
                socket->sendTextMessage(QString::fromUtf8(
                    JsonRpc::EncodeRequest(n, u"Ger09400.rdmParamCtbl.getErrosCadAuto"_s, args)));
                socket->sendTextMessage(QString::fromUtf8(JsonRpc::EncodeRequest(
                    -n, u"Ger09400.rdmParamCtbl.GetDataSaldEmpr"_s, {u"01"_s})));
                // The gate's statements (one per list length) and its watch go at stop too.
                QJsonArray checks;
                for (const QString &code : codes)
                    checks.append(code + u";LANC;01/12/2026"_s);
                socket->sendTextMessage(QString::fromUtf8(JsonRpc::EncodeRequest(
                    1000 + n, u"Ger09400.Periodo.Consulta"_s, {QJsonValue(checks)})));
                sent += 3;
                // Within each connection's limit of calls under way.
                QTRY_VERIFY_WITH_TIMEOUT(sent - answered < 16, 60000);
            }
            QTRY_COMPARE_WITH_TIMEOUT(answered, sent, 60000);
            sockets.clear();
            ServerProcess &server = m_fx.Server();
            server.Stop();
            QCOMPARE(server.Process().exitStatus(), QProcess::NormalExit);
            QVERIFY2(server.Process().exitCode() == 0, server.Output().right(3000).constData());
            QVERIFY2(!server.Output().contains("Sanitizer"), server.Output().constData());
        }
    }

    void cacheTables_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QVariant>("columns"); // null: the one-argument form
        QTest::addColumn<QString>("fields");   // names in order; "-": refused
        QTest::addColumn<int>("rows");
        const QVariant whole;
        QTest::newRow("companies") << u"EMPRESA"_s << whole << u"CDEMPRESA,NMEMPRESA"_s << 12;
        QTest::newRow("records, any case") << u"contopectbl"_s << whole << u"37"_s << 9;
        QTest::newRow("entries are not cached") << u"LANCCONT"_s << whole << u"-"_s << 0;
        QTest::newRow("no SQL through the name")
            << u"EMPRESA; DROP TABLE EMPRESA"_s << whole << u"-"_s << 0;
        QTest::newRow("only the code")
            << u"CONTOPECTBL"_s << QVariant(u"CDEMPRESA"_s) << u"CDEMPRESA"_s << 9;
        QTest::newRow("table order, any case, blanks")
            << u"EMPRESA"_s << QVariant(u" nmempresa , CdEmpresa"_s) << u"CDEMPRESA,NMEMPRESA"_s
            << 12;
        QTest::newRow("named twice")
            << u"EMPRESA"_s << QVariant(u"NMEMPRESA,NMEMPRESA"_s) << u"NMEMPRESA"_s << 12;
        QTest::newRow("column of another table")
            << u"EMPRESA"_s << QVariant(u"DTINICCONT"_s) << u"-"_s << 0;
        QTest::newRow("no SQL through a column")
            << u"EMPRESA"_s << QVariant(u"CDEMPRESA FROM EMPRESA --"_s) << u"-"_s << 0;
        QTest::newRow("empty list") << u"EMPRESA"_s << QVariant(u" "_s) << u"-"_s << 0;
        QTest::newRow("empty name in the list")
            << u"EMPRESA"_s << QVariant(u"CDEMPRESA,,NMEMPRESA"_s) << u"-"_s << 0;
    }

    void cacheTables() {
        QFETCH(QString, table);
        QFETCH(QVariant, columns);
        QFETCH(QString, fields);
        QFETCH(int, rows);
        QJsonArray args{table};
        if (!columns.isNull())
            args.append(columns.toString());
        const TResultEnvelope r = m_fx.Client(u"Host.Cache"_s).Call(u"GetTabela"_s, args);
        if (fields == u"-"_s) {
            QCOMPARE(r.ErrorCode, u"invalid_argument"_s);
            return;
        }
        QVERIFY2(r.Ok, qPrintable(r.ErrorMessage));
        const TTablePacket packet = ToPacket(r.Payload);
        QStringList names;
        for (const TFieldDef &def : packet.Fields)
            names << def.Name;
        if (fields.front().isDigit())
            QCOMPARE(names.size(), fields.toInt());
        else
            QCOMPARE(names.join(u','), fields);
        QCOMPARE(packet.Rows.size(), rows);
        for (const TRowValues &row : packet.Rows)
            QCOMPARE(row.size(), names.size());
    }
};

QTEST_GUILESS_MAIN(TstMethods)
#include "tst_methods.moc"
