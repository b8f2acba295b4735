#include "jsonnode.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

TJsonNode parsed(const QByteArray &text) {
    TJsonNode node;
    QString error;
    if (!TJsonNode::Parse(text, node, &error))
        qWarning("%s", qPrintable(error));
    return node;
}

} // namespace

class TstJsonNode final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Whoever asks for a tree gets what QJsonDocument would have given.
    void treeMatchesTheDocumentParser_data() {
        QTest::addColumn<QByteArray>("text"); // one value; read inside a list by both
        QTest::newRow("object") << QByteArray(R"({"b":[1,2,{"c":null}],"a":"x"})");
        QTest::newRow("repeated key keeps the last") << QByteArray(R"({"a":1,"a":2})");
        QTest::newRow("escapes and accents")
            << QByteArray("\"\\u00e7\\\"\\\\\\/\\b\\f\\n\\r\\t \\ud83d\\ude00 S\xc3\xa3o\"");
        QTest::newRow("largest integer") << QByteArray("9223372036854775807");
        QTest::newRow("smallest integer") << QByteArray("-9223372036854775808");
        QTest::newRow("beyond 64 bits") << QByteArray("18446744073709551615");
        QTest::newRow("fraction and exponent") << QByteArray("[-0.5,1e2,1E-3,0]");
        QTest::newRow("empty containers") << QByteArray(R"([[],{},""])");
        QTest::newRow("literals") << QByteArray("[true,false,null]");
    }
    void treeMatchesTheDocumentParser() {
        QFETCH(QByteArray, text);
        const QByteArray list = '[' + text + ']';
        const TJsonNode node = parsed(list);
        QVERIFY(node.IsArray());
        QCOMPARE(node.ToJsonValue(), QJsonValue(QJsonDocument::fromJson(list).array()));
    }

    void refused_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty") << QByteArray() << u"vazio"_s;
        QTest::newRow("truncated") << QByteArray(R"({"a":[1,2)") << QString();
        QTest::newRow("content after the value") << QByteArray("{} {}") << QString();
        QTest::newRow("lone surrogate") << QByteArray(R"(["\ud83d"])") << QString();
        QTest::newRow("invalid utf-8") << QByteArray("[\"\xc3\x28\"]") << u"UTF-8"_s;
        QTest::newRow("unescaped control") << QByteArray("[\"a\nb\"]") << u"controle"_s;
        QTest::newRow("unknown escape") << QByteArray(R"(["\x41"])") << QString();
        QTest::newRow("leading zero") << QByteArray("[01]") << u"número"_s;
        QTest::newRow("one level too deep")
            << QByteArray(TJsonNode::MaxDepth + 1, '[') + QByteArray(TJsonNode::MaxDepth + 1, ']')
            << u"aninhamento"_s;
        QTest::newRow("one byte too many")
            << '"' + QByteArray(TJsonNode::MaxBytes - 1, 'x') + '"' << u"16 MiB"_s;
    }
    void refused() {
        QFETCH(QByteArray, text);
        QFETCH(QString, reason);
        TJsonNode out = parsed("[1]");
        QString error;
        QVERIFY(!TJsonNode::Parse(text, out, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(out.ToJsonValue(), QJsonValue(QJsonArray{1})); // untouched
    }

    void limitsThemselvesAreTaken() {
        QVERIFY(parsed(QByteArray(TJsonNode::MaxDepth, '[') + QByteArray(TJsonNode::MaxDepth, ']'))
                    .IsArray());
        QVERIFY(parsed('"' + QByteArray(TJsonNode::MaxBytes - 2, 'x') + '"').IsString());
    }

    void lookups() {
        const TJsonNode root = parsed(R"({"n":[10,1.5,"7",null],"t":true,"n2":{}})");
        QCOMPARE(root.Keys(), (QStringList{u"n"_s, u"t"_s, u"n2"_s}));
        QCOMPARE(root.Size(), 3);
        const TJsonNode list = root.Value("n"_L1);
        QCOMPARE(list.Size(), 4);
        QCOMPARE(list.At(0).ToInteger(), 10);
        QCOMPARE(list.At(1).ToInteger(-1), -1); // not integral
        QCOMPARE(list.At(1).ToDouble(), 1.5);
        QCOMPARE(list.At(2).ToInteger(-1), -1); // text is no number
        QVERIFY(list.At(3).IsNull() && list.At(3).Exists());
        QVERIFY(!list.At(4).Exists());
        QVERIFY(!list.At(-1).Exists());
        QVERIFY(!list.Value("n"_L1).Exists()); // a list has no members
        QVERIFY(!root.Value("absent"_L1).Exists());
        QVERIFY(root.Value("t"_L1).ToBool());
        QVERIFY(root.Value("absent"_L1).ToJsonValue().isUndefined());
    }

    // A number read as an integer: whole values in range, else the fallback, whatever the
    // number's form (a protocol's error code can be any number a peer writes).
    void integers_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("small") << QByteArray("-32601") << qint64(-32601);
        QTest::newRow("whole, written as a fraction") << QByteArray("4.0") << qint64(4);
        QTest::newRow("largest 64-bit")
            << QByteArray("9223372036854775807") << qint64(9223372036854775807LL);
        QTest::newRow("beyond 64-bit, unsigned")
            << QByteArray("18446744073709551615") << qint64(-1);
        QTest::newRow("far beyond, with a fraction")
            << QByteArray("652555555555555555555555555550.1") << qint64(-1);
        QTest::newRow("far below") << QByteArray("-1e300") << qint64(-1);
        QTest::newRow("exponent, whole") << QByteArray("1e3") << qint64(1000);
        QTest::newRow("fraction") << QByteArray("0.5") << qint64(-1);
        QTest::newRow("text") << QByteArray("\"3\"") << qint64(-1);
    }
    void integers() {
        QFETCH(QByteArray, json);
        QFETCH(qint64, expected);
        QCOMPARE(parsed('[' + json + ']').At(0).ToInteger(-1), expected);
    }

    void aPartOutlivesTheRest() {
        TJsonNode part;
        {
            const TJsonNode root = parsed(R"({"a":{"b":["kept"]}})");
            part = root.Value("a"_L1).Value("b"_L1);
        }
        QCOMPARE(part.At(0).ToString(), u"kept"_s);
    }
};

QTEST_GUILESS_MAIN(TstJsonNode)
#include "tst_jsonnode.moc"
