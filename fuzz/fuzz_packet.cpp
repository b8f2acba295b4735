// Table packets from their bytes: the parse and the decoder that reads rows straight from it.
// Whatever they accept, the tree decoder reads alike, and it survives a round trip unchanged.
// The same bytes as a value the server writes from the database: whether handed over as UTF-8
// or as text, the packet written is the same JSON and reads back as the text.
#include "packet.h"
#include "packetwriter.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

void checkWritten(const QByteArray &bytes) {
    const TFieldDefs fields{{u"T"_s, TFieldType::String, 0, false},
                            {u"D"_s, TFieldType::Date, 0, false}};
    TPacketWriter fromBytes(fields, "[");
    TPacketWriter fromText(fields, "[");
    const QString text = QString::fromUtf8(bytes);
    fromBytes.Utf8Text(bytes);
    fromText.Text(text);
    const bool date = fromBytes.IsoDate(QByteArrayView(bytes));
    if (date != fromText.IsoDate(QStringView(text)))
        std::abort();
    if (!date) {
        fromBytes.Null();
        fromText.Null();
    }
    const QByteArray written = fromBytes.Finish() + ']';
    if (written != fromText.Finish() + ']')
        std::abort();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(written, &error);
    if (error.error != QJsonParseError::NoError)
        std::abort();
    const QJsonArray row = doc.array().at(0)[u"rows"_s].toArray().at(0).toArray();
    if (row.at(0).toString() != text)
        std::abort();
    if (date && row.at(1).toString().toUtf8() != bytes.left(10))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    checkWritten(bytes);
    TTablePacket packet;
    QString error;
    if (!Packet::FromBytes(bytes, packet, &error)) {
        if (error.isEmpty())
            std::abort(); // a refusal always says why
        return 0;
    }
    TTablePacket fromTree;
    if (!Packet::FromJson(QJsonDocument::fromJson(bytes).object(), fromTree, &error) ||
        fromTree.Fields != packet.Fields || fromTree.Rows != packet.Rows)
        std::abort();
    TTablePacket again;
    if (!Packet::FromJson(Packet::ToJson(packet), again, &error) || again.Fields != packet.Fields ||
        again.Rows.size() != packet.Rows.size())
        std::abort();
    return 0;
}
