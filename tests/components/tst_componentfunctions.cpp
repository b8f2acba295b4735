#include "components/busyguard.h"
#include "components/errors.h"
#include "components/functions.h"
#include "components/guard.h"
#include "components/messages.h"
#include "testhost.h"

#include <QApplication>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;

class TstComponentFunctions final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void messageLookup_data();
    void messageLookup();
    void showMsgReturnsTheAnswer();
    void ajusta_data();
    void ajusta();
    void emptyString_data();
    void emptyString();
    void format_data();
    void format();
    void monthBounds();
    void guard_data();
    void guard();
    void guardedConnectStopsTheHandler();
    void checkResultServ();
    void cursorDefaultRestoresEverything();
    void busyGuardHidesOnFailure();
    void noHostIsAFailureWithText();
};

void TstComponentFunctions::messageLookup_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("case differs") << u"DtMenorGPAMaior"_s << u"Data de início GPA."_s;
    QTest::newRow("first bar only") << u"Bar"_s << u"a|b|c"_s;
    QTest::newRow("trailing blank kept") << u"OPER_AGE"_s << u"Agendamento. "_s;
    QTest::newRow("doubled blank kept") << u"Ext"_s << u"Venda  deve"_s;
    QTest::newRow("placeholder untouched") << u"Lanc"_s << u"a partir de %s!"_s;
    QTest::newRow("absent key is empty") << u"Nada"_s << QString();
    QTest::newRow("first duplicate wins") << u"dup"_s << u"um"_s;
    QTest::newRow("line without bar is no key") << u"SemBarra"_s << QString();
}

void TstComponentFunctions::messageLookup() {
    QFETCH(QString, key);
    QFETCH(QString, expected);
    TMessages messages;
    messages.SetLines({u"dtMenorGPAMaior|Data de início GPA."_s, u"Bar|a|b|c"_s,
                       u"OPER_AGE|Agendamento. "_s, u"Ext|Venda  deve"_s, u"Lanc|a partir de %s!"_s,
                       u"DUP|um"_s, u"dup|dois"_s, u"SemBarra"_s});
    QCOMPARE(messages.Msg(key), expected);
}

void TstComponentFunctions::showMsgReturnsTheAnswer() {
    TestHost host;
    TMessages messages;
    messages.SetLines({u"Excl|Confirma exclusão?"_s});
    host.QueueAnswer(mrYes);
    QCOMPARE(messages.ShowMsg(u"excl"_s, TMsgDlgType::mtConfirmation, mbYes | mbNo, 0), int(mrYes));
    QCOMPARE(host.Boxes.size(), 1);
    QCOMPARE(host.Boxes[0].Type, TMsgDlgType::mtConfirmation);
    QCOMPARE(host.Boxes[0].Text, u"Confirma exclusão?"_s);
}

void TstComponentFunctions::ajusta_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one digit padded") << u"1"_s << 2 << u"01"_s;
    QTest::newRow("already wide") << u"01"_s << 2 << u"01"_s;
    QTest::newRow("letter kept") << u"A"_s << 2 << u"A"_s;
    QTest::newRow("blanks trimmed then padded") << u" 7 "_s << 2 << u"07"_s;
    QTest::newRow("longer not cut") << u"123"_s << 2 << u"123"_s;
    QTest::newRow("mixed kept") << u"1A"_s << 3 << u"1A"_s;
    QTest::newRow("empty stays empty") << u"  "_s << 2 << QString();
}

void TstComponentFunctions::ajusta() {
    QFETCH(QString, code);
    QFETCH(int, width);
    QFETCH(QString, expected);
    QCOMPARE(Ajusta(code, width), expected);
}

void TstComponentFunctions::emptyString_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("empty");
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("blanks") << u"   "_s << true;
    QTest::newRow("tab") << u"\t"_s << true;
    QTest::newRow("text") << u" a "_s << false;
}

void TstComponentFunctions::emptyString() {
    QFETCH(QString, text);
    QFETCH(bool, empty);
    QCOMPARE(EmptyString(text), empty);
}

void TstComponentFunctions::format_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected");
    QTest::newRow("in order") << u"Empresa %s desde %s."_s << QStringList{u"01"_s, u"x"_s}
                              << u"Empresa 01 desde x."_s;
    QTest::newRow("inserted %s not reread")
        << u"%s e %s"_s << QStringList{u"%s"_s, u"b"_s} << u"%s e b"_s;
    QTest::newRow("missing argument keeps %s") << u"%s %s"_s << QStringList{u"a"_s} << u"a %s"_s;
    QTest::newRow("percent escape") << u"100%% %s"_s << QStringList{u"ok"_s} << u"100% ok"_s;
    QTest::newRow("trailing percent") << u"50%"_s << QStringList{} << u"50%"_s;
}

void TstComponentFunctions::format() {
    QFETCH(QString, text);
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    QCOMPARE(Format(text, args), expected);
}

void TstComponentFunctions::monthBounds() {
    const TDateTime leap = DateTimeUtil::EncodeDate(2024, 2, 10) + 0.5;
    QCOMPARE(PriDiaMes(leap), DateTimeUtil::EncodeDate(2024, 2, 1));
    QCOMPARE(UltimoDiaMes(leap), DateTimeUtil::EncodeDate(2024, 2, 29));
    QCOMPARE(UltimoDiaMes(DateTimeUtil::EncodeDate(2023, 12, 31)),
             DateTimeUtil::EncodeDate(2023, 12, 31));
}

void TstComponentFunctions::guard_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<int>("unexpected");
    QTest::newRow("user error") << 0 << QStringList{u"Empresa deve ser informada."_s} << 0;
    QTest::newRow("server error") << 1 << QStringList{u"Falhou no servidor."_s} << 0;
    QTest::newRow("abort is silent") << 2 << QStringList{} << 0;
    QTest::newRow("conversion error boxed") << 3 << QStringList{u"Valor ruim."_s} << 0;
    QTest::newRow("foreign failure to host") << 4 << QStringList{} << 1;
}

void TstComponentFunctions::guard() {
    QFETCH(int, kind);
    QFETCH(QStringList, errors);
    QFETCH(int, unexpected);
    TestHost host;
    bool after = false;
    const bool completed = RunGuarded([&] {
        switch (kind) {
        case 0:
            MensErro(u"Empresa deve ser informada."_s);
        case 1:
            CheckResultServ(TResultEnvelope::Failure(u"internal"_s, u"Falhou no servidor."_s));
            break;
        case 2:
            Abort();
        case 3:
            throw EConvertError(u"Valor ruim."_s);
        case 4:
            throw std::runtime_error("boom");
        }
        after = true;
    });
    QVERIFY(!completed);
    QVERIFY(!after);
    QCOMPARE(host.ErrorTexts(), errors);
    QCOMPARE(host.Boxes.size(), errors.size());
    QCOMPARE(host.Exceptions.size(), unexpected);
}

void TstComponentFunctions::guardedConnectStopsTheHandler() {
    TestHost host;
    QPushButton button;
    int reached = 0;
    GuardedConnect(&button, &QPushButton::clicked, &button, [&] {
        ++reached;
        MensErro(u"Pare."_s);
        ++reached;
    });
    bool received = false;
    GuardedConnect(&button, &QPushButton::toggled, &button, [&](bool on) { received = on; });
    button.setCheckable(true);
    button.click();
    QCOMPARE(reached, 1);
    QVERIFY(received); // the signal's argument reaches a handler that takes it
    QCOMPARE(host.ErrorTexts(), QStringList{u"Pare."_s});
}

void TstComponentFunctions::checkResultServ() {
    const QJsonArray payload{1, 2};
    QCOMPARE(CheckResultServ(TResultEnvelope::Success(payload)), QJsonValue(payload));
    QCOMPARE(CheckResultServ(TResultEnvelope::Success(payload), true, 1), QJsonValue(2));
    const auto failure = TResultEnvelope::Failure(u"conflict"_s, u"Já existe."_s);
    QVERIFY(CheckResultServ(failure, false).isNull());
    try {
        CheckResultServ(failure);
        QFAIL("no failure raised");
    } catch (const EServerError &error) {
        QCOMPARE(error.Message(), u"Já existe."_s);
        QCOMPARE(error.Code(), u"conflict"_s);
    }
}

void TstComponentFunctions::cursorDefaultRestoresEverything() {
    SetCursorHourglass();
    SetCursorHourglass();
    QVERIFY(QApplication::overrideCursor());
    SetCursorDefault();
    QVERIFY(!QApplication::overrideCursor());
}

void TstComponentFunctions::busyGuardHidesOnFailure() {
    TestHost host;
    RunGuarded([&] {
        BusyGuard busy(host.MainForm(), 6, u"Carregando"_s);
        MensErro(u"Falhou."_s);
    });
    QCOMPARE(host.BusyCalls, (QStringList{u"show:6:Carregando"_s, u"hide"_s}));
}

void TstComponentFunctions::noHostIsAFailureWithText() {
    try {
        WebURL();
        QFAIL("no failure raised");
    } catch (const Exception &error) {
        QCOMPARE(error.Message(), u"Nenhum host registrado."_s);
    }
}

QTEST_MAIN(TstComponentFunctions)
#include "tst_componentfunctions.moc"
