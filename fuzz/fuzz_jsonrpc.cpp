// A whole request as the server receives it: decoded, resolved and run against a demo database,
// as the listener does. Any answer is fine; a crash, a hang or a thrown exception is not.
#include "backend.h"
#include "jsonrpcmessage.h"
#include "requestpeek.h"
#include "rpcdispatcher.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

struct World {
    QTemporaryDir Dir;
    std::unique_ptr<Backend> Store;
    std::unique_ptr<RpcDispatcher> Dispatcher;
};

World &TheWorld() {
    static World *world = [] {
        static int argc = 1;
        static char name[] = "fuzz_jsonrpc";
        static char *argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);
        auto *w = new World;
        QString error;
        w->Store = Backend::Open(QStringLiteral("sqlite:") + w->Dir.filePath(QStringLiteral("f.db")),
                                 &error);
        if (!w->Store || !w->Store->Seed(QStringLiteral("demo"), &error))
            std::abort();
        w->Dispatcher = std::make_unique<RpcDispatcher>(w->Store->Objects());
        return w;
    }();
    return *world;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    World &world = TheWorld();
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    // What the listener reads of a request it refuses unparsed.
    (void)RequestPeek::Read(QString::fromUtf8(bytes));
    JsonRpc::Request request;
    JsonRpc::Error fault;
    QJsonValue id;
    if (!JsonRpc::DecodeRequest(bytes, request, &fault, &id)) {
        if (fault.Message.isEmpty())
            std::abort();
        return 0;
    }
    const RpcDispatcher::Target target = world.Dispatcher->Resolve(request.Method);
    if (!target.Object)
        return 0;
    const RpcDispatcher::Outcome outcome = RpcDispatcher::Execute(target, request);
    if (!request.IsNotification() && outcome.Reply.isEmpty())
        std::abort();
    return 0;
}
