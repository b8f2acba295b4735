#include "envelope.h"
#include "jsonrpcmessage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
QJsonValue Parse(const char *json) {
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

// The envelope read from a tree (the server's way) or from a parse (the client's, payload kept).
bool ReadEnvelope(bool fromParse, const QJsonValue &json, TResultEnvelope &out, QString *error) {
    if (!fromParse)
        return TResultEnvelope::FromJson(json, out, error);
    const QByteArray text = json.isArray() ? QJsonDocument(json.toArray()).toJson()
                                           : QJsonDocument(json.toObject()).toJson();
    TJsonNode node;
    return TJsonNode::Parse(text, node, error) && TResultEnvelope::FromJson(node, out, error);
}
} // namespace

class TstRpcMessages final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void envelopeRoundTrip_data() {
        QTest::addColumn<bool>("fromParse");
        QTest::addColumn<TResultEnvelope>("envelope");
        for (const bool fromParse : {false, true}) {
            const char *reader = fromParse ? "parse" : "tree";
            QTest::addRow("%s: success, nothing returned", reader)
                << fromParse << TResultEnvelope::Success();
            QTest::addRow("%s: success, packet and by-ref", reader)
                << fromParse
                << TResultEnvelope::Success(QJsonObject{{u"fields"_s, QJsonArray{}}},
                                            QJsonArray{u"01,02"_s});
            QTest::addRow("%s: success, scalar", reader)
                << fromParse << TResultEnvelope::Success(QJsonValue(-2.5));
            QTest::addRow("%s: failure", reader)
                << fromParse
                << TResultEnvelope::Failure(u"conflict"_s,
                                            u"Registro alterado por outro usuário."_s);
        }
    }
    void envelopeRoundTrip() {
        QFETCH(bool, fromParse);
        QFETCH(TResultEnvelope, envelope);
        // Through text, as on the wire.
        const QByteArray wire = QJsonDocument(envelope.ToJson()).toJson();
        TResultEnvelope back;
        QString error;
        QVERIFY2(ReadEnvelope(fromParse, QJsonDocument::fromJson(wire).object(), back, &error),
                 qPrintable(error));
        // The kind is told from the parse, before any tree is made of it.
        QCOMPARE(back.Payload.type(), envelope.Payload.type());
        QCOMPARE(back.Ok, envelope.Ok);
        QCOMPARE(back.Payload, envelope.Payload.isUndefined() ? QJsonValue() : envelope.Payload);
        QCOMPARE(back.ByRef, envelope.ByRef);
        QCOMPARE(back.ErrorCode, envelope.ErrorCode);
        QCOMPARE(back.ErrorMessage, envelope.ErrorMessage);
    }

    void envelopeRefused_data() {
        QTest::addColumn<bool>("fromParse");
        QTest::addColumn<QJsonValue>("json");
        for (const bool fromParse : {false, true}) {
            const auto row = [fromParse](const char *name, const QJsonValue &json) {
                QTest::addRow("%s: %s", fromParse ? "parse" : "tree", name) << fromParse << json;
            };
            row("not an object", QJsonValue(QJsonArray{true}));
            row("ok missing", Parse(R"({"payload": 1})"));
            row("ok as text", Parse(R"({"ok": "true"})"));
            row("byRef not a list", Parse(R"({"ok": true, "byRef": "01"})"));
            row("success carrying an error",
                Parse(R"({"ok": true, "error": {"code": "x", "message": "y"}})"));
            row("failure without error", Parse(R"({"ok": false})"));
            row("failure with empty code",
                Parse(R"({"ok": false, "error": {"code": "", "message": "y"}})"));
            row("failure without message", Parse(R"({"ok": false, "error": {"code": "x"}})"));
            row("failure carrying a payload",
                Parse(R"({"ok": false, "payload": 1, "error": {"code": "x", "message": "y"}})"));
        }
    }
    void envelopeRefused() {
        QFETCH(bool, fromParse);
        QFETCH(QJsonValue, json);
        TResultEnvelope out = TResultEnvelope::Success(u"untouched"_s);
        QString error;
        QVERIFY(!ReadEnvelope(fromParse, json, out, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(out.Payload, QJsonValue(u"untouched"_s));
        // Both readers word the refusal alike.
        QString fromTree;
        TResultEnvelope ignored;
        QVERIFY(!TResultEnvelope::FromJson(json, ignored, &fromTree));
        QCOMPARE(error, fromTree);
    }

    void requestDecoding_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("code"); // 0: accepted
        QTest::addColumn<QJsonValue>("id");

        const QJsonValue none;
        QTest::newRow("call") << QByteArray(
                                     R"({"jsonrpc":"2.0","id":7,"method":"a.b","params":[1]})")
                              << 0 << QJsonValue(7);
        QTest::newRow("no params") << QByteArray(R"({"jsonrpc":"2.0","id":"x","method":"ping"})")
                                   << 0 << QJsonValue(u"x"_s);
        QTest::newRow("empty text") << QByteArray() << JsonRpc::ParseError << none;
        QTest::newRow("truncated")
            << QByteArray("{\"jsonrpc\":\"2.0\",\"id\":1,\"meth") << JsonRpc::ParseError << none;
        QTest::newRow("corrupted byte")
            << QByteArray("{\"jsonrpc\":\"2.0\",\"id\":1,\x01\"method\":\"ping\"}")
            << JsonRpc::ParseError << none;
        QTest::newRow("raw tab in a string")
            << QByteArray("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"pi\tng\"}")
            << JsonRpc::ParseError << none;
        QTest::newRow("lone number with a bare point")
            << QByteArray("1.") << JsonRpc::ParseError << none;
        const QByteArray call = R"({"jsonrpc":"2.0","id":1,"method":"a.b","params":[)";
        for (const char *number : {".5", "2.", "1.e3"})
            QTest::addRow("number %s", number)
                << call + number + "]}" << JsonRpc::ParseError << none;
        QTest::newRow("numbers JSON allows") << call + "0.5e-3,1E+2,-0]}" << 0 << QJsonValue(1);
        QTest::newRow("batch") << QByteArray(R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])")
                               << JsonRpc::InvalidRequest << none;
        QTest::newRow("version missing") << QByteArray(R"({"id":3,"method":"ping"})")
                                         << JsonRpc::InvalidRequest << QJsonValue(3);
        QTest::newRow("version 1.0") << QByteArray(R"({"jsonrpc":"1.0","id":3,"method":"ping"})")
                                     << JsonRpc::InvalidRequest << QJsonValue(3);
        QTest::newRow("method missing") << QByteArray(R"({"jsonrpc":"2.0","id":4})")
                                        << JsonRpc::InvalidRequest << QJsonValue(4);
        QTest::newRow("method a number") << QByteArray(R"({"jsonrpc":"2.0","id":4,"method":9})")
                                         << JsonRpc::InvalidRequest << QJsonValue(4);
        QTest::newRow("named params")
            << QByteArray(R"({"jsonrpc":"2.0","id":5,"method":"a.b","params":{"x":1}})")
            << JsonRpc::InvalidRequest << QJsonValue(5);
        QTest::newRow("id an object") << QByteArray(R"({"jsonrpc":"2.0","id":{},"method":"ping"})")
                                      << JsonRpc::InvalidRequest << none;
    }
    void requestDecoding() {
        QFETCH(QByteArray, text);
        QFETCH(int, code);
        QFETCH(QJsonValue, id);
        JsonRpc::Request request;
        JsonRpc::Error error;
        QJsonValue seenId;
        const bool ok = JsonRpc::DecodeRequest(text, request, &error, &seenId);
        QCOMPARE(ok, code == 0);
        if (!ok) {
            QCOMPARE(error.Code, code);
            QVERIFY(!error.Message.isEmpty());
        }
        // The id must survive a refusal, or the client could not tell which call failed.
        QCOMPARE(seenId, id.isUndefined() ? QJsonValue() : id);
    }

    void responseDecoding_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("result") << QByteArray(R"({"jsonrpc":"2.0","id":1,"result":{"ok":true}})")
                                << true;
        QTest::newRow("protocol error")
            << QByteArray(R"({"jsonrpc":"2.0","id":null,"error":{"code":-32700,"message":"x"}})")
            << true;
        QTest::newRow("truncated") << QByteArray("{\"jsonrpc\":\"2.0\",\"id\":1,\"res") << false;
        QTest::newRow("both result and error")
            << QByteArray(R"({"jsonrpc":"2.0","id":1,"result":1,"error":{"code":1,"message":""}})")
            << false;
        QTest::newRow("neither") << QByteArray(R"({"jsonrpc":"2.0","id":1})") << false;
        QTest::newRow("no id") << QByteArray(R"({"jsonrpc":"2.0","result":1})") << false;
        QTest::newRow("error without code")
            << QByteArray(R"({"jsonrpc":"2.0","id":1,"error":{"message":"x"}})") << false;
        QTest::newRow("wrong version")
            << QByteArray(R"({"jsonrpc":"2","id":1,"result":1})") << false;
    }
    void responseDecoding() {
        QFETCH(QByteArray, text);
        QFETCH(bool, accepted);
        JsonRpc::Response response;
        QString error;
        QCOMPARE(JsonRpc::DecodeResponse(text, response, &error), accepted);
        QCOMPARE(error.isEmpty(), accepted);
    }

    void oversizedRequestStillDecodes() {
        // Large change logs are legitimate; the size limit is the transport's business.
        const QJsonArray params{QString(8 * 1024 * 1024, u'x')};
        const QByteArray text = JsonRpc::EncodeRequest(42, u"a.b"_s, params);
        JsonRpc::Request request;
        JsonRpc::Error error;
        QVERIFY(JsonRpc::DecodeRequest(text, request, &error, nullptr));
        QCOMPARE(request.Params, params);
        QCOMPARE(request.Id, QJsonValue(42));
    }
};

QTEST_GUILESS_MAIN(TstRpcMessages)
#include "tst_rpcmessages.moc"
