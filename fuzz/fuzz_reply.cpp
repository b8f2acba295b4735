// Replies as the client reads them: one parse, the response and the envelope checked on it, and
// the payload's table packets read straight into rows. Any input ends in an envelope or in an
// Exception that says why; a packet read from the parse is the packet the tree decoder reads
// from the same payload made a tree.
#include "envelope.h"
#include "exceptions.h"
#include "netconnection.h"
#include "packet.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

void checkPacket(const TResultEnvelope &envelope, int index) {
    TTablePacket packet;
    QString error;
    const bool parsed = envelope.PayloadPacket(packet, &error, index);
    if (!parsed && error.isEmpty())
        std::abort(); // a refusal always says why
    const QJsonValue tree =
        index < 0 ? envelope.Payload.Value() : envelope.Payload.Value().toArray().at(index);
    TTablePacket fromTree;
    QString treeError;
    const bool read = Packet::FromJson(tree, fromTree, &treeError);
    // A repeated "fields" or "rows" is seen in the parse only: a tree keeps one of them.
    if (!parsed && error.contains(u"está repetida"_s))
        return;
    if (parsed != read || error != treeError)
        std::abort();
    if (parsed && (fromTree.Fields != packet.Fields || fromTree.Rows != packet.Rows))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    TResultEnvelope envelope;
    try {
        envelope = TNetConnection::ReplyEnvelope(bytes);
    } catch (const Exception &e) {
        if (e.Message().isEmpty())
            std::abort();
        return 0;
    }
    if (!envelope.Ok)
        return 0;
    checkPacket(envelope, -1);
    const qsizetype count = envelope.Payload.isArray() ? envelope.Payload.toArray().size() : 0;
    for (int i = 0; i < qMin<qsizetype>(count, 4); ++i)
        checkPacket(envelope, i);
    return 0;
}
