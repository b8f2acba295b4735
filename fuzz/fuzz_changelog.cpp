// Change logs as the server decodes them from SetContOpe and SetParamGeral.
#include "packet.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return 0;
    TChangeLog log;
    QString error;
    if (!Packet::FromJson(document.object(), log, &error)) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    for (const TChange &change : log.Changes) {
        // Decoded rows always have one value per field, where the operation has them.
        if ((!change.Values.isEmpty() && change.Values.size() != log.Fields.size()) ||
            (!change.Original.isEmpty() && change.Original.size() != log.Fields.size()))
            std::abort();
    }
    TChangeLog again;
    if (!Packet::FromJson(Packet::ToJson(log), again, &error) ||
        again.Changes.size() != log.Changes.size())
        std::abort();
    return 0;
}
