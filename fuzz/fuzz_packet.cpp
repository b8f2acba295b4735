// Table packets as the client reads every reply: the byte reader, and the tree path it falls back
// to. Whatever it accepts must survive a round trip unchanged.
#include "packet.h"

#include <QByteArray>
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
    TTablePacket again;
    if (!Packet::FromJson(Packet::ToJson(packet), again, &error) ||
        again.Fields != packet.Fields || again.Rows.size() != packet.Rows.size())
        std::abort();
    return 0;
}
