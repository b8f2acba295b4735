#include "jsonnode.h"
#include "packet.h"
#include "packetwriter.h"
#include "parameterrecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

TFieldDef field(const QString &name, TFieldType type, int size = 0) {
    TFieldDef def;
    def.Name = name;
    def.DataType = type;
    def.Size = size;
    return def;
}

TTablePacket mixedPacket() {
    TTablePacket packet;
    packet.Fields = {field(u"CDEMPRESA"_s, TFieldType::String, 2),
                     field(u"NMEMPRESA"_s, TFieldType::String, 40),
                     field(u"DTINICCONT"_s, TFieldType::Date), field(u"QTD"_s, TFieldType::Integer),
                     field(u"VALOR"_s, TFieldType::Float)};
    const TDateTime withTime =
        DateTimeUtil::FromQDateTime(QDateTime(QDate(2024, 3, 1), QTime(10, 20, 30, 7)));
    packet.Rows = {
        {u"01"_s, u"Açúcar São João Ltda"_s, DateTimeUtil::EncodeDate(2024, 3, 1), qint64(12),
         1.25},
        {u"02"_s, QString(), withTime, qint64(-9'007'199'254'740'991), -0.5},
        {QVariant(), QVariant(), QVariant(), QVariant(), QVariant()},
        {u""_s, u"“aspas” \\ barra \"dupla\" \n linha"_s, 0.0, qint64(0), 0.0},
    };
    return packet;
}

QByteArray withRows(const QByteArray &rows) {
    return R"({"fields":[{"name":"CDEMPRESA","type":"string","size":2},)"
           R"({"name":"DTINICCONT","type":"date"},{"name":"QTD","type":"integer"}],"rows":)" +
           rows + "}";
}

QByteArray withFields(const QByteArray &fields) {
    return R"({"fields":)" + fields + R"(,"rows":[]})";
}

// The readers of a packet: from its bytes; from a parse already made (a reply's payload, read by
// the client); from a document tree (what the server reads requests with).
enum class Reader { Bytes, Parsed, Tree };

bool decodeWith(Reader reader, const QByteArray &bytes, TTablePacket &out, QString *error) {
    switch (reader) {
    case Reader::Bytes:
        return Packet::FromBytes(bytes, out, error);
    case Reader::Parsed: {
        TJsonNode node;
        return TJsonNode::Parse(bytes, node, error) && Packet::FromJson(node, out, error);
    }
    case Reader::Tree: {
        const QJsonDocument document = QJsonDocument::fromJson(bytes);
        return Packet::FromJson(document.isArray() ? QJsonValue(document.array())
                                                   : QJsonValue(document.object()),
                                out, error);
    }
    }
    return false;
}

// One row per reader; the readers of a parse only get well-formed JSON, the bytes reader
// everything.
template <typename... Columns>
void newRowPerReader(const char *name, const QByteArray &bytes, const Columns &...columns) {
    QJsonParseError parse;
    QJsonDocument::fromJson(bytes, &parse);
    const bool wellFormed = parse.error == QJsonParseError::NoError;
    for (const Reader reader : {Reader::Bytes, Reader::Parsed, Reader::Tree}) {
        if (reader != Reader::Bytes && !wellFormed)
            continue;
        static const char *const names[] = {"bytes", "parsed", "tree"};
        ((QTest::addRow("%s: %s", names[int(reader)], name) << int(reader) << bytes)
         << ... << columns);
    }
}

} // namespace

class TstPacket final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roundTrip_data() {
        QTest::addColumn<int>("reader");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<TTablePacket>("packet");
        for (const TTablePacket &packet :
             {mixedPacket(), TTablePacket{mixedPacket().Fields, {}}, ParameterRecord::Packet(40)}) {
            const char *name = packet.Rows.isEmpty()        ? "no rows"
                               : packet.Fields.size() == 38 ? "parameter record"
                                                            : "mixed kinds, nulls, accents";
            newRowPerReader(name, Packet::ToBytes(packet), packet);
        }
    }
    void roundTrip() {
        QFETCH(int, reader);
        QFETCH(QByteArray, bytes);
        QFETCH(TTablePacket, packet);
        TTablePacket back;
        QString error;
        QVERIFY2(decodeWith(Reader(reader), bytes, back, &error), qPrintable(error));
        QCOMPARE(back.Fields, packet.Fields);
        QCOMPARE(back.Rows.size(), packet.Rows.size());
        for (qsizetype r = 0; r < packet.Rows.size(); ++r) {
            for (qsizetype f = 0; f < packet.Fields.size(); ++f) {
                const QVariant &want = packet.Rows[r][f];
                const QVariant &got = back.Rows[r][f];
                QCOMPARE(got.isNull(), want.isNull());
                if (!want.isNull()) {
                    QCOMPARE(got.typeId(), want.typeId());
                    QCOMPARE(got, want);
                }
            }
        }
    }

    void parameterRecordShape() {
        const TFieldDefs fields = ParameterRecord::Fields();
        QCOMPARE(fields.size(), 38);
        QCOMPARE(fields.first().Name, u"IDCONTAJUDTCOMP"_s);
        QCOMPARE(fields.last().Name, u"IDCONGERGGF"_s);
        const int name = TTablePacket{fields, {}}.FieldIndex(u"nmempresa"_s);
        QCOMPARE(name, 2);
        QCOMPARE(fields.at(name).Size, 40);
    }

    void wireForm() {
        const QJsonObject json = Packet::ToJson(mixedPacket());
        const QJsonArray fields = json.value(u"fields"_s).toArray();
        QCOMPARE(
            fields.at(0).toObject(),
            (QJsonObject{{u"name"_s, u"CDEMPRESA"_s}, {u"type"_s, u"string"_s}, {u"size"_s, 2}}));
        QCOMPARE(fields.at(2).toObject(),
                 (QJsonObject{{u"name"_s, u"DTINICCONT"_s}, {u"type"_s, u"date"_s}}));
        const QJsonArray rows = json.value(u"rows"_s).toArray();
        QCOMPARE(rows.at(0).toArray().at(2).toString(), u"2024-03-01"_s);
        QCOMPARE(rows.at(1).toArray().at(2).toString(), u"2024-03-01T10:20:30.007"_s);
        QVERIFY(rows.at(2).toArray().at(0).isNull());
        QCOMPARE(rows.at(3).toArray().at(0).toString(), QString()); // empty text stays text
        QVERIFY(rows.at(3).toArray().at(0).isString());
    }

    void rejectsBadPacket_data() {
        QTest::addColumn<int>("reader");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("mentions");
        const auto row = [](const char *name, const QByteArray &bytes, const QString &mentions) {
            newRowPerReader(name, bytes, mentions);
        };
        row("invalid json", QByteArray("{fields: []}"), u"JSON"_s);
        row("truncated", withRows(R"([["01","2024-03-01",1]])").chopped(9), u"JSON"_s);
        row("empty input", QByteArray(), u"JSON"_s);
        row("top-level array", QByteArray("[1,2]"), u"objeto"_s);
        row("no fields", QByteArray(R"({"rows":[]})"), u"fields"_s);
        row("no rows", QByteArray(R"({"fields":[]})"), u"rows"_s);
        row("unknown type", withFields(R"([{"name":"VALOR","type":"money"}])"), u"'VALOR'"_s);
        row("string without size", withFields(R"([{"name":"NMEMPRESA","type":"string"}])"),
            u"'NMEMPRESA'"_s);
        row("string size zero", withFields(R"([{"name":"NMEMPRESA","type":"string","size":0}])"),
            u"'NMEMPRESA'"_s);
        row("string size negative",
            withFields(R"([{"name":"NMEMPRESA","type":"string","size":-4}])"), u"'NMEMPRESA'"_s);
        row("string size fractional",
            withFields(R"([{"name":"NMEMPRESA","type":"string","size":2.5}])"), u"'NMEMPRESA'"_s);
        row("duplicate field",
            withFields(R"([{"name":"QTD","type":"integer"},{"name":"qtd","type":"float"}])"),
            u"'qtd'"_s);
        row("nameless field", withFields(R"([{"type":"integer"}])"), u"nome"_s);
        row("short row", withRows(R"([["01","2024-03-01",1],["02",null]])"), u"linha 2"_s);
        row("long row", withRows(R"([["01","2024-03-01",1,5]])"), u"linha 1"_s);
        row("row not a list", withRows(R"([{"CDEMPRESA":"01"}])"), u"linha 1"_s);
        row("number for text", withRows(R"([["01",null,1],[2,null,1]])"),
            u"linha 2, campo 'CDEMPRESA'"_s);
        row("text for integer", withRows(R"([["01",null,"1"]])"), u"campo 'QTD'"_s);
        row("fractional integer", withRows(R"([["01",null,1.5]])"), u"campo 'QTD'"_s);
        row("date 30 feb", withRows(R"([["01","2024-02-30",1]])"), u"'2024-02-30'"_s);
        row("date short month", withRows(R"([["01","2024-3-1",1]])"), u"campo 'DTINICCONT'"_s);
        row("date with garbage", withRows(R"([["01","2024-03-01abc",1]])"),
            u"campo 'DTINICCONT'"_s);
        row("date as number", withRows(R"([["01",45352,1]])"), u"campo 'DTINICCONT'"_s);
        row("text too long", withRows(R"([["01",null,1],["ABC",null,1]])"),
            u"linha 2, campo 'CDEMPRESA'"_s);
        row("accented text too long", withRows(R"([["São",null,1]])"), u"campo 'CDEMPRESA'"_s);
    }
    void rejectsBadPacket() {
        QFETCH(int, reader);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, mentions);
        TTablePacket out = mixedPacket();
        QString error;
        QVERIFY(!decodeWith(Reader(reader), bytes, out, &error));
        QVERIFY2(error.contains(mentions), qPrintable(error));
        QVERIFY2(error.startsWith(u"Pacote de dados inválido"_s), qPrintable(error));
        // Every reader words a fault alike: the user sees one message whichever read the packet.
        TTablePacket ignored;
        QString fromBytes;
        QVERIFY(!Packet::FromBytes(bytes, ignored, &fromBytes));
        QCOMPARE(error, fromBytes);
        // Never half-loaded: the target is exactly what it was.
        QCOMPARE(out.Fields, mixedPacket().Fields);
        QCOMPARE(out.Rows, mixedPacket().Rows);
    }

    // The byte reader and the document decoder must agree on everything well-formed.
    void acceptsEveryWellFormedSpelling_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("first"); // CDEMPRESA|DTINICCONT|QTD of the first row
        QTest::newRow("plain") << withRows(R"([["01","2024-03-01",1]])") << u"01|45352|1"_s;
        QTest::newRow("rows before fields")
            << QByteArray(R"({"rows":[["01",null,2]],"fields":[{"name":"CDEMPRESA","type":)"
                          R"("string","size":2},{"name":"DTINICCONT","type":"date"},)"
                          R"({"name":"QTD","type":"integer"}]})")
            << u"01||2"_s;
        QTest::newRow("unknown keys ignored")
            << QByteArray(R"({"versao":{"a":[1,2,{"b":null}]},"fields":[{"name":"CDEMPRESA",)"
                          R"("type":"string","size":2,"extra":true},{"name":"DTINICCONT",)"
                          R"("type":"date"},{"name":"QTD","type":"integer"}],"rows":[["01",)"
                          R"(null,3]],"z":"x"})")
            << u"01||3"_s;
        QTest::newRow("blanks everywhere")
            << withRows(" [ [ \"01\" ,\r\n\t\"2024-03-01T12:00:00.000\" , 4 ] ] ")
            << u"01|45352.5|4"_s;
        QTest::newRow("escapes") << withRows("[[\"\\u00e7\\\"\",null,5]]") << u"ç\"||5"_s;
        QTest::newRow("surrogate pair")
            << withRows(R"([["\ud83d\ude00",null,6]])") << u"\U0001F600||6"_s;
        QTest::newRow("raw utf-8") << withRows("[[\"\xc3\xa3o\",null,7]]") << u"ão||7"_s;
        QTest::newRow("integral float for integer")
            << withRows(R"([["01",null,8.0]])") << u"01||8"_s;
        QTest::newRow("exponent integer") << withRows(R"([["01",null,1e2]])") << u"01||100"_s;
        QTest::newRow("no rows") << withRows("[]") << QString();
    }
    void acceptsEveryWellFormedSpelling() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, first);
        TTablePacket fromBytes;
        TTablePacket fromDocument;
        QString error;
        QVERIFY2(Packet::FromBytes(bytes, fromBytes, &error), qPrintable(error));
        QVERIFY2(Packet::FromJson(QJsonDocument::fromJson(bytes).object(), fromDocument, &error),
                 qPrintable(error));
        QCOMPARE(fromBytes.Fields, fromDocument.Fields);
        QCOMPARE(fromBytes.Rows, fromDocument.Rows);
        if (first.isEmpty()) {
            QVERIFY(fromBytes.Rows.isEmpty());
            return;
        }
        QStringList cells;
        for (const QVariant &v : fromBytes.Rows.first())
            cells << v.toString();
        QCOMPARE(cells.join(u'|'), first);
    }

    void rejectsMalformedJson_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("invalid utf-8") << withRows("[[\"\xc3\x28\",null,1]]");
        QTest::newRow("overlong utf-8") << withRows("[[\"\xc0\xaf\",null,1]]");
        QTest::newRow("lone surrogate") << withRows(R"([["\ud83d",null,1]])");
        QTest::newRow("bad escape") << withRows(R"([["\x41",null,1]])");
        QTest::newRow("control char") << withRows("[[\"a\tb\",null,1]]");
        QTest::newRow("leading zero") << withRows(R"([["01",null,01]])");
        QTest::newRow("bare dot") << withRows(R"([["01",null,1.]])");
        QTest::newRow("plus sign") << withRows(R"([["01",null,+1]])");
        QTest::newRow("trailing comma") << withRows(R"([["01",null,1],])");
        QTest::newRow("single quotes") << withRows("[[\x27"
                                                   "01\x27,null,1]]");
        QTest::newRow("content after the end") << withRows("[]") + "{}";
        QTest::newRow("unterminated text") << QByteArray("{\"fields\":[],\"rows\":[[\"ab");
        QTest::newRow("deep nesting") << QByteArray(R"({"x":)") + QByteArray(5000, '[');
        QTest::newRow("misspelt null") << withRows(R"([["01",nul,1]])");
        QTest::newRow("duplicate rows") << withRows("[]").chopped(1) + R"(,"rows":[]})";
    }
    void rejectsMalformedJson() {
        QFETCH(QByteArray, bytes);
        TTablePacket out;
        QString error;
        QVERIFY(!Packet::FromBytes(bytes, out, &error));
        QVERIFY2(error.startsWith(u"Pacote de dados inválido"_s), qPrintable(error));
        QVERIFY(out.Fields.isEmpty());
    }

    void corruptedBytesNeverCrash() {
        // Every prefix of a real packet, and the packet with single bytes overwritten, must be
        // either rejected with a message or decoded whole; never a crash.
        const QByteArray bytes = Packet::ToBytes(ParameterRecord::Packet(3));
        for (qsizetype n = 0; n < bytes.size(); n += 7) {
            TTablePacket out;
            QString error;
            QVERIFY(!Packet::FromBytes(bytes.left(n), out, &error));
            QVERIFY(!error.isEmpty());
        }
        for (qsizetype n = 0; n < bytes.size(); n += 5) {
            QByteArray broken = bytes;
            broken[n] = '#';
            TTablePacket out;
            QString error;
            if (!Packet::FromBytes(broken, out, &error))
                QVERIFY(!error.isEmpty());
            else
                QCOMPARE(out.Rows.size(), 3);
        }
    }

    void changeLogRoundTrip() {
        TChangeLog log;
        log.Fields = mixedPacket().Fields;
        const TTablePacket rows = mixedPacket();
        log.Changes = {{TChangeOp::Insert, {}, rows.Rows[0]},
                       {TChangeOp::Update, rows.Rows[1], rows.Rows[2]},
                       {TChangeOp::Delete, rows.Rows[3], {}}};
        const QJsonObject json = Packet::ToJson(log);
        const QJsonArray changes = json.value(u"changes"_s).toArray();
        QCOMPARE(changes.at(0).toObject().value(u"op"_s).toString(), u"insert"_s);
        QVERIFY(!changes.at(0).toObject().contains(u"original"_s));
        QVERIFY(!changes.at(2).toObject().contains(u"values"_s));
        TChangeLog back;
        QString error;
        QVERIFY2(Packet::FromJson(json, back, &error), qPrintable(error));
        QCOMPARE(back.Fields, log.Fields);
        QCOMPARE(back.Changes.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(back.Changes[i].Op, log.Changes[i].Op);
            QCOMPARE(back.Changes[i].Original, log.Changes[i].Original);
            QCOMPARE(back.Changes[i].Values, log.Changes[i].Values);
        }
    }

    void rejectsBadChangeLog_data() {
        QTest::addColumn<QByteArray>("changes");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("unknown op")
            << QByteArray(R"([{"op":"upsert","values":["01"]}])") << u"'upsert'"_s;
        QTest::newRow("update without original")
            << QByteArray(R"([{"op":"update","values":["01"]}])") << u"'original'"_s;
        QTest::newRow("insert without values")
            << QByteArray(R"([{"op":"insert"}])") << u"'values'"_s;
        QTest::newRow("delete without original")
            << QByteArray(R"([{"op":"insert","values":["01"]},{"op":"delete"}])")
            << u"alteração 2"_s;
        QTest::newRow("bad value in original")
            << QByteArray(R"([{"op":"update","original":["012"],"values":["01"]}])")
            << u"campo 'CDEMPRESA'"_s;
        QTest::newRow("change not an object") << QByteArray(R"([7])") << u"alteração 1"_s;
        QTest::newRow("no changes") << QByteArray("null") << u"changes"_s;
    }
    void rejectsBadChangeLog() {
        QFETCH(QByteArray, changes);
        QFETCH(QString, mentions);
        const QByteArray bytes =
            R"({"fields":[{"name":"CDEMPRESA","type":"string","size":2}],"changes":)" + changes +
            "}";
        const QJsonDocument document = QJsonDocument::fromJson(bytes);
        QVERIFY(document.isObject());
        TChangeLog out;
        out.Fields = {field(u"X"_s, TFieldType::Integer)};
        QString error;
        QVERIFY(!Packet::FromJson(document.object(), out, &error));
        QVERIFY2(error.contains(mentions), qPrintable(error));
        QCOMPARE(out.Fields.size(), 1);
        QCOMPARE(out.Fields.first().Name, u"X"_s);
    }

    // The writer the server streams its tables with gives what the tree encoder gives.
    void writerMatchesTheEncoder_data() {
        QTest::addColumn<QStringList>("texts"); // one row each, beside a fixed date column
        QTest::newRow("plain") << QStringList{u"01"_s, u"Comércio Ltda"_s};
        QTest::newRow("quotes, backslash, controls")
            << QStringList{u"a\"b\\c"_s, u"\n\r\t\b\f"_s, QString(u"\x01\x1f\x7f"_s)};
        QTest::newRow("outside the basic plane") << QStringList{u"𝄞 ☃ ção"_s};
        QTest::newRow("no rows") << QStringList{};
        QTest::newRow("empty and null") << QStringList{QString(), u""_s};
        // Past the buffer the writer starts with, in one value and in many rows.
        QTest::newRow("one text of 100,000 controls") << QStringList{QString(100000, QChar(1))};
        QStringList many;
        for (int i = 0; i < 5000; ++i)
            many.append(i % 3 ? u"Empresa %1 \"ção\""_s.arg(i) : QString(i % 50, u'x'));
        QTest::newRow("5,000 rows") << many;
    }

    void writerMatchesTheEncoder() {
        QFETCH(QStringList, texts);
        TTablePacket packet;
        packet.Fields = {field(u"NMEMPRESA"_s, TFieldType::String, 40),
                         field(u"DTINICCONT"_s, TFieldType::Date)};
        TPacketWriter writer(packet.Fields);
        int i = 0;
        for (const QString &text : texts) {
            const QDate date = i % 2 ? QDate() : QDate(2026, 1 + i % 12, 1 + i % 28);
            packet.Rows.append(
                {text.isNull() ? QVariant() : QVariant(text),
                 date.isValid() ? QVariant(DateTimeUtil::FromQDate(date)) : QVariant()});
            if (text.isNull())
                writer.Null();
            else
                writer.Text(text);
            writer.Date(date);
            writer.EndRow();
            ++i;
        }
        QJsonParseError error{};
        const QByteArray written = writer.Finish();
        const QJsonDocument doc = QJsonDocument::fromJson(written, &error);
        QVERIFY2(error.error == QJsonParseError::NoError, written.constData());
        QCOMPARE(doc.object(), Packet::ToJson(packet));

        // From a head made once, told less, about as much or more than it takes: the same bytes.
        const TPacketWriter::Layout layout(packet.Fields, "[");
        for (const qsizetype expected : {qsizetype(0), qsizetype(17), written.size(),
                                         written.size() + 1, 4 * written.size()}) {
            TPacketWriter again(layout, expected);
            for (const TRowValues &row : packet.Rows) {
                if (row.at(0).isNull())
                    again.Null();
                else
                    again.Text(row.at(0).toString());
                if (row.at(1).isNull())
                    again.Null();
                else
                    again.Date(DateTimeUtil::ToQDate(row.at(1).toDouble()));
                again.EndRow();
            }
            QCOMPARE(again.Finish(), "[" + written);
        }
    }

    void writerTakesIsoDateText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("written"); // empty: refused, nothing written
        QTest::newRow("date") << u"2026-12-31"_s << QByteArray("[\"2026-12-31\"]");
        QTest::newRow("with a time after it")
            << u"2026-02-28 10:00:00"_s << QByteArray("[\"2026-02-28\"]");
        QTest::newRow("leap day") << u"2024-02-29"_s << QByteArray("[\"2024-02-29\"]");
        QTest::newRow("no leap day") << u"2026-02-29"_s << QByteArray();
        QTest::newRow("month 13") << u"2026-13-01"_s << QByteArray();
        QTest::newRow("year 0") << u"0000-01-01"_s << QByteArray();
        QTest::newRow("short") << u"2026-1-1"_s << QByteArray();
        QTest::newRow("letters") << u"2026-0a-01"_s << QByteArray();
        QTest::newRow("slashes") << u"31/12/2026"_s << QByteArray();
        // Units whose low byte is a digit are not digits.
        QTest::newRow("wide units") << u"2026-12-\u0133\u0131"_s << QByteArray();
        QTest::newRow("accented") << u"2026-12-3é"_s << QByteArray();
    }

    void writerTakesIsoDateText() {
        QFETCH(QString, text);
        QFETCH(QByteArray, written);
        // From the text, and from its UTF-8 bytes as the database hands them over.
        for (const bool fromBytes : {false, true}) {
            TPacketWriter writer({field(u"D"_s, TFieldType::Date)});
            const bool taken =
                fromBytes ? writer.IsoDate(QByteArrayView(text.toUtf8())) : writer.IsoDate(text);
            QCOMPARE(taken, !written.isEmpty());
            if (written.isEmpty())
                writer.Null();
            writer.EndRow();
            const QByteArray out = writer.Finish();
            QVERIFY2(out.endsWith((written.isEmpty() ? QByteArray("[null]") : written) + "]}"),
                     out.constData());
        }
    }

    // Text handed over as the database keeps it, UTF-8: the same JSON as from the decoded text.
    void writerTakesUtf8Text_data() {
        QTest::addColumn<QByteArray>("utf8");
        QTest::newRow("plain") << QByteArray("Empresa 01");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("quote and backslash") << QByteArray("a\"b\\c");
        QTest::newRow("control characters") << QByteArray("l1\nl2\t\x01\x1f");
        QTest::newRow("accented") << QByteArray("Ação Comércio");
        QTest::newRow("four-byte character") << QByteArray("\xF0\x9F\x93\x88 ok");
        QTest::newRow("malformed sequence") << QByteArray("a\xC3(b\xFF");
        QTest::newRow("delete character") << QByteArray("x\x7Fy");
    }

    void writerTakesUtf8Text() {
        QFETCH(QByteArray, utf8);
        TPacketWriter fromBytes({field(u"T"_s, TFieldType::String)});
        fromBytes.Utf8Text(utf8);
        TPacketWriter fromText({field(u"T"_s, TFieldType::String)});
        fromText.Text(QString::fromUtf8(utf8));
        const QByteArray written = fromBytes.Finish();
        QCOMPARE(written, fromText.Finish());
        QJsonParseError error;
        QJsonDocument::fromJson(written, &error);
        QVERIFY2(error.error == QJsonParseError::NoError, written.constData());
    }

    void writerReplacesALoneSurrogate() {
        QByteArray out;
        TPacketWriter::AppendString(out, QString(QChar(0xD800)) + u"x"_s);
        QCOMPARE(out, QByteArray("\"\xEF\xBF\xBDx\""));
    }

    void valueFromJsonNamesTheField() {
        QVariant out = u"before"_s;
        QString error;
        QVERIFY(!Packet::ValueFromJson(field(u"DTFINACONT"_s, TFieldType::Date),
                                       QJsonValue(u"31/12/2024"_s), out, &error));
        QCOMPARE(out, QVariant(u"before"_s));
        QVERIFY2(error.contains(u"'DTFINACONT'"_s), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TstPacket)
#include "tst_packet.moc"
