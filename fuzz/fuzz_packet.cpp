// Table packets from their bytes: the parse and the decoder that reads rows straight from it.
// Whatever they accept, the tree decoder reads alike, and it survives a round trip unchanged.
#include "packet.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
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
