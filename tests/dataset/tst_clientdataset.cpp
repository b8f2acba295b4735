#include "clientdataset.h"
#include "exceptions.h"

#include <QSignalSpy>
#include <QSize>
#include <QTest>

#include <map>

using namespace Qt::StringLiterals;

namespace {

TFieldDef def(const QString &name, TFieldType type, int size = 0) {
    TFieldDef d;
    d.Name = name;
    d.DataType = type;
    d.Size = size;
    return d;
}

// Companies and error codes: the shape of the bulk screen's error list.
TTablePacket errorsPacket() {
    TTablePacket p;
    p.Fields = {def(u"CDEMPRESA"_s, TFieldType::String, 2), def(u"IDERRO"_s, TFieldType::Integer),
                def(u"DSERRO"_s, TFieldType::String, 40)};
    p.Rows = {{u"02"_s, qint64(2), u"b"_s}, {u"01"_s, qint64(9), u"c"_s},
              {u"02"_s, qint64(1), u"a"_s}, {QVariant(), qint64(5), u"d"_s},
              {u"01"_s, qint64(9), u"e"_s}, {u"01"_s, QVariant(), u"f"_s}};
    return p;
}

// Three companies, loaded and merged: the base every change-log case starts from.
TTablePacket companies() {
    TTablePacket p;
    p.Fields = {def(u"CDEMPRESA"_s, TFieldType::String, 2),
                def(u"NMEMPRESA"_s, TFieldType::String, 40),
                def(u"DTINICCONT"_s, TFieldType::Date)};
    p.Rows = {{u"A"_s, u"Alfa"_s, 45000.0},
              {u"B"_s, u"Beta"_s, QVariant()},
              {u"C"_s, u"Gama"_s, 45100.0}};
    return p;
}

QString describe(const TRowValues &row) {
    QStringList parts;
    for (const QVariant &v : row)
        parts << (v.isNull() ? u"-"_s : v.toString());
    return parts.join(u',');
}

QStringList describe(const TChangeLog &log) {
    QStringList out;
    for (const TChange &c : log.Changes) {
        switch (c.Op) {
        case TChangeOp::Insert:
            out << u"insert "_s + describe(c.Values);
            break;
        case TChangeOp::Update:
            out << u"update "_s + describe(c.Original) + u" -> "_s + describe(c.Values);
            break;
        case TChangeOp::Delete:
            out << u"delete "_s + describe(c.Original);
            break;
        }
    }
    return out;
}

QStringList contents(TClientDataSet &cds) {
    QStringList out;
    const TTablePacket data = cds.GetData();
    for (const TRowValues &row : data.Rows)
        out << describe(row);
    return out;
}

QStringList readOrder(TClientDataSet &cds, const QString &field) {
    QStringList out;
    for (cds.First(); !cds.Eof(); cds.Next())
        out << (cds.FieldByName(field)->IsNull() ? u"-"_s : cds.FieldByName(field)->AsString());
    return out;
}

// Runs a tiny script against the table: "go B" (locate company), "edit NAME" (edit the current
// row's name and post), "insert X" / "append X" (new company X, posted), "delete", "merge",
// "cancelupdates", "logoff", "logon".
void run(TClientDataSet &cds, const QStringList &script) {
    for (const QString &step : script) {
        const QString op = step.section(u' ', 0, 0);
        const QString arg = step.section(u' ', 1);
        if (op == u"go"_s) {
            QVERIFY(cds.Locate(u"CDEMPRESA"_s, arg));
        } else if (op == u"edit"_s) {
            cds.Edit();
            cds.FieldByName(u"NMEMPRESA"_s)->SetAsString(arg);
            cds.Post();
        } else if (op == u"insert"_s || op == u"append"_s) {
            op == u"insert"_s ? cds.Insert() : cds.Append();
            cds.FieldByName(u"CDEMPRESA"_s)->SetAsString(arg);
            cds.FieldByName(u"NMEMPRESA"_s)->SetAsString(u"Nova"_s);
            cds.Post();
        } else if (op == u"delete"_s) {
            cds.Delete();
        } else if (op == u"merge"_s) {
            cds.MergeChangeLog();
        } else if (op == u"cancelupdates"_s) {
            cds.CancelUpdates();
        } else if (op == u"logoff"_s || op == u"logon"_s) {
            cds.SetLogChanges(op == u"logon"_s);
        } else {
            QFAIL(qPrintable(u"unknown step "_s + step));
        }
    }
}

// Records every event and notice of a table, in order.
struct Recorder {
    QStringList events;
    explicit Recorder(TClientDataSet &cds) {
        auto hook = [this](TClientDataSet::DataSetEvent &event, const QString &name) {
            event = [this, name](TClientDataSet &) {
                events << name;
            };
        };
        hook(cds.BeforeInsert, u"BeforeInsert"_s);
        hook(cds.OnNewRecord, u"OnNewRecord"_s);
        hook(cds.AfterInsert, u"AfterInsert"_s);
        hook(cds.BeforeEdit, u"BeforeEdit"_s);
        hook(cds.AfterEdit, u"AfterEdit"_s);
        hook(cds.BeforePost, u"BeforePost"_s);
        hook(cds.AfterPost, u"AfterPost"_s);
        hook(cds.BeforeCancel, u"BeforeCancel"_s);
        hook(cds.AfterCancel, u"AfterCancel"_s);
        hook(cds.BeforeDelete, u"BeforeDelete"_s);
        hook(cds.AfterDelete, u"AfterDelete"_s);
        hook(cds.AfterOpen, u"AfterOpen"_s);
        hook(cds.AfterClose, u"AfterClose"_s);
        hook(cds.AfterScroll, u"AfterScroll"_s);
        QObject::connect(&cds, &TClientDataSet::stateChanged, &cds, [this, &cds] {
            static const char *names[] = {"Inactive", "Browse", "Edit", "Insert"};
            events << u"state:"_s + QLatin1StringView(names[int(cds.State())]);
        });
        QObject::connect(&cds, &TClientDataSet::updateRecord, &cds,
                         [this] { events << u"updateRecord"_s; });
    }
};

} // namespace

class TstClientDataSet final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void valuesAndNulls_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("isNull");
        QTest::addColumn<QString>("asString");
        const int s = int(TFieldType::String);
        const int d = int(TFieldType::Date);
        const int i = int(TFieldType::Integer);
        const int f = int(TFieldType::Float);
        QTest::newRow("text") << s << QVariant(u"São"_s) << false << u"São"_s;
        QTest::newRow("empty text is a value")
            << s << QVariant(QString(u""_s)) << false << QString();
        QTest::newRow("null text") << s << QVariant() << true << QString();
        QTest::newRow("zero is a value") << i << QVariant(0) << false << u"0"_s;
        QTest::newRow("null integer") << i << QVariant() << true << QString();
        QTest::newRow("integer from text") << i << QVariant(u"-42"_s) << false << u"-42"_s;
        QTest::newRow("float") << f << QVariant(2.5) << false << u"2,5"_s;
        QTest::newRow("date") << d << QVariant(QDate(2024, 3, 1)) << false << u"01/03/2024"_s;
        QTest::newRow("date with time")
            << d << QVariant(QDateTime(QDate(2024, 3, 1), QTime(10, 20, 30))) << false
            << u"01/03/2024 10:20:30"_s;
        QTest::newRow("date zero") << d << QVariant(0.0) << false << u"30/12/1899"_s;
        QTest::newRow("date from text")
            << d << QVariant(u"29/02/2024"_s) << false << u"29/02/2024"_s;
    }
    void valuesAndNulls() {
        QFETCH(int, type);
        QFETCH(QVariant, value);
        QFETCH(bool, isNull);
        QFETCH(QString, asString);
        TClientDataSet cds;
        cds.FieldDefs() = {def(u"X"_s, TFieldType(type), 10)};
        cds.CreateDataSet();
        cds.Insert();
        TField *x = cds.FieldByName(u"x"_s);
        QVERIFY(x->IsNull());
        x->SetValue(value);
        cds.Post();
        QCOMPARE(x->IsNull(), isNull);
        QCOMPARE(x->AsString(), asString);
        cds.Edit();
        x->Clear();
        QVERIFY(x->IsNull());
        QCOMPARE(x->AsInteger(), 0);
        QCOMPARE(x->AsDateTime(), 0.0);
    }

    void rejectedWrites_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("convertError"); // else EDatabaseError
        QTest::addColumn<QString>("message");
        const int s = int(TFieldType::String);
        QTest::newRow("text longer than the field")
            << s << u"ABC"_s << false
            << u"O texto 'ABC' excede o tamanho do campo 'X' (2 caracteres)."_s;
        QTest::newRow("accented text too long") << s << u"São"_s << false << QString();
        QTest::newRow("impossible date") << int(TFieldType::Date) << u"31/02/2024"_s << true
                                         << u"'31/02/2024' não é uma data válida."_s;
        QTest::newRow("two-digit year")
            << int(TFieldType::Date) << u"01/02/24"_s << true << QString();
        QTest::newRow("not an integer") << int(TFieldType::Integer) << u"1,5"_s << true
                                        << u"'1,5' não é um valor inteiro válido."_s;
        QTest::newRow("not a number") << int(TFieldType::Float) << u"abc"_s << true << QString();
    }
    void rejectedWrites() {
        QFETCH(int, type);
        QFETCH(QString, text);
        QFETCH(bool, convertError);
        QFETCH(QString, message);
        TClientDataSet cds;
        cds.FieldDefs() = {def(u"X"_s, TFieldType(type), 2)};
        cds.CreateDataSet();
        cds.Insert();
        const QString seed = type == int(TFieldType::String) ? u"OK"_s
                             : type == int(TFieldType::Date) ? u"01/01/2024"_s
                                                             : u"7"_s;
        cds.Fields(0)->SetAsString(seed);
        const QVariant before = cds.Fields(0)->Value();
        bool thrown = false;
        try {
            cds.Fields(0)->SetAsString(text);
        } catch (const EConvertError &e) {
            thrown = convertError;
            if (!message.isEmpty())
                QCOMPARE(e.Message(), message);
        } catch (const EDatabaseError &e) {
            thrown = !convertError;
            if (!message.isEmpty())
                QCOMPARE(e.Message(), message);
        }
        QVERIFY2(thrown, "wrong or no exception");
        QCOMPARE(cds.Fields(0)->Value(), before); // never silently truncated or half-written
    }

    void writeNeedsEditOrInsert() {
        TClientDataSet cds;
        cds.FieldDefs() = companies().Fields;
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, cds.Fields(0)->SetAsString(u"A"_s));
        cds.SetData(companies());
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, cds.Fields(0)->SetAsString(u"Z"_s));
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, cds.Fields(2)->Clear());
        QCOMPARE(cds.Fields(0)->AsString(), u"A"_s);
        QCOMPARE(cds.ChangeCount(), 0);
    }

    void fieldByNameMissing() {
        TClientDataSet cds;
        cds.SetData(companies());
        QCOMPARE(cds.FindField(u"NADA"_s), nullptr);
        QCOMPARE(cds.FieldByName(u"nmempresa"_s), cds.Fields(1));
        try {
            cds.FieldByName(u"NADA"_s);
            QFAIL("no exception");
        } catch (const EDatabaseError &e) {
            QCOMPARE(e.Message(), u"Campo 'NADA' não encontrado."_s);
        }
    }

    void onGetTextReplacesDisplayAndEditText() {
        TClientDataSet cds;
        cds.SetData(companies());
        TField *start = cds.FieldByName(u"DTINICCONT"_s);
        QCOMPARE(start->DisplayText(), u"15/03/2023"_s);
        QList<bool> asked;
        start->OnGetText = [&](TField &sender, QString &text, bool display) {
            asked << display;
            text = sender.AsString() + u" a ..."_s;
        };
        QCOMPARE(start->DisplayText(), u"15/03/2023 a ..."_s);
        QCOMPARE(start->Text(), u"15/03/2023 a ..."_s);
        QCOMPARE(asked, (QList<bool>{true, false}));
        QCOMPARE(start->AsString(), u"15/03/2023"_s); // the value itself is untouched
    }

    void navigation() {
        TClientDataSet cds;
        cds.FieldDefs() = companies().Fields;
        cds.CreateDataSet();
        QVERIFY(cds.IsEmpty() && cds.Eof() && cds.Bof());
        QCOMPARE(cds.RecNo(), 0);
        cds.SetData(companies());
        QCOMPARE(cds.RecordCount(), 3);
        QVERIFY(cds.Bof() && !cds.Eof());
        QStringList seen;
        for (cds.First(); !cds.Eof(); cds.Next())
            seen << cds.Fields(0)->AsString() + QString::number(cds.RecNo());
        QCOMPARE(seen, (QStringList{u"A1"_s, u"B2"_s, u"C3"_s}));
        QCOMPARE(cds.RecNo(), 3); // Next at the end does not move
        cds.Prior();
        QVERIFY(!cds.Eof() && !cds.Bof());
        QCOMPARE(cds.Fields(0)->AsString(), u"B"_s);
        cds.Prior();
        cds.Prior();
        QVERIFY(cds.Bof());
        QCOMPARE(cds.RecNo(), 1);
        cds.Last();
        QVERIFY(cds.Eof());
        cds.SetRecNo(2);
        QCOMPARE(cds.Fields(0)->AsString(), u"B"_s);
        cds.Close();
        QVERIFY(!cds.Active() && cds.IsEmpty());
        cds.Open();
        QCOMPARE(cds.RecordCount(), 3); // content kept across Close/Open
    }

    void eventOrder_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("insert") << u"insert"_s
                                << QStringList{u"BeforeInsert"_s, u"state:Insert"_s,
                                               u"OnNewRecord"_s, u"AfterInsert"_s,
                                               u"AfterScroll"_s};
        QTest::newRow("append") << u"append"_s
                                << QStringList{u"BeforeInsert"_s, u"state:Insert"_s,
                                               u"OnNewRecord"_s, u"AfterInsert"_s,
                                               u"AfterScroll"_s};
        QTest::newRow("edit") << u"edit"_s
                              << QStringList{u"BeforeEdit"_s, u"state:Edit"_s, u"AfterEdit"_s};
        QTest::newRow("edit and post")
            << u"edit,set,post"_s
            << QStringList{u"BeforeEdit"_s, u"state:Edit"_s,   u"AfterEdit"_s, u"updateRecord"_s,
                           u"BeforePost"_s, u"state:Browse"_s, u"AfterPost"_s};
        QTest::newRow("edit and cancel")
            << u"edit,set,cancel"_s
            << QStringList{u"BeforeEdit"_s,   u"state:Edit"_s,   u"AfterEdit"_s,
                           u"BeforeCancel"_s, u"state:Browse"_s, u"AfterCancel"_s};
        QTest::newRow("delete") << u"delete"_s
                                << QStringList{u"BeforeDelete"_s, u"AfterDelete"_s,
                                               u"AfterScroll"_s};
        QTest::newRow("delete while inserting cancels")
            << u"insert,delete"_s
            << QStringList{u"BeforeInsert"_s, u"state:Insert"_s, u"OnNewRecord"_s,
                           u"AfterInsert"_s,  u"AfterScroll"_s,  u"BeforeCancel"_s,
                           u"state:Browse"_s, u"AfterCancel"_s};
        QTest::newRow("insert posts a modified edit first")
            << u"edit,set,insert"_s
            << QStringList{u"BeforeEdit"_s,   u"state:Edit"_s,   u"AfterEdit"_s,
                           u"BeforeInsert"_s, u"updateRecord"_s, u"updateRecord"_s,
                           u"BeforePost"_s,   u"state:Browse"_s, u"AfterPost"_s,
                           u"state:Insert"_s, u"OnNewRecord"_s,  u"AfterInsert"_s,
                           u"AfterScroll"_s};
        QTest::newRow("insert cancels an untouched edit")
            << u"edit,insert"_s
            << QStringList{u"BeforeEdit"_s,   u"state:Edit"_s,   u"AfterEdit"_s,
                           u"BeforeInsert"_s, u"updateRecord"_s, u"BeforeCancel"_s,
                           u"state:Browse"_s, u"AfterCancel"_s,  u"state:Insert"_s,
                           u"OnNewRecord"_s,  u"AfterInsert"_s,  u"AfterScroll"_s};
        QTest::newRow("next posts a modified edit")
            << u"edit,set,next"_s
            << QStringList{u"BeforeEdit"_s,   u"state:Edit"_s,   u"AfterEdit"_s,
                           u"updateRecord"_s, u"updateRecord"_s, u"BeforePost"_s,
                           u"state:Browse"_s, u"AfterPost"_s,    u"AfterScroll"_s};
        QTest::newRow("edit on empty table inserts")
            << u"empty,edit"_s
            << QStringList{u"BeforeInsert"_s, u"state:Insert"_s, u"OnNewRecord"_s, u"AfterInsert"_s,
                           u"AfterScroll"_s};
        QTest::newRow("set data") << u"setdata"_s
                                  << QStringList{u"state:Browse"_s, u"AfterOpen"_s,
                                                 u"AfterScroll"_s};
        QTest::newRow("set data without rows")
            << u"setempty"_s << QStringList{u"state:Browse"_s, u"AfterOpen"_s};
        QTest::newRow("close and open")
            << u"close,open"_s
            << QStringList{u"state:Inactive"_s, u"AfterClose"_s, u"state:Browse"_s, u"AfterOpen"_s,
                           u"AfterScroll"_s};
    }
    void eventOrder() {
        QFETCH(QString, action);
        QFETCH(QStringList, expected);
        TClientDataSet cds;
        cds.SetData(companies());
        Recorder recorder(cds);
        for (const QString &step : action.split(u',')) {
            if (step == u"insert"_s)
                cds.Insert();
            else if (step == u"append"_s)
                cds.Append();
            else if (step == u"edit"_s)
                cds.Edit();
            else if (step == u"set"_s)
                cds.Fields(1)->SetAsString(u"Novo"_s);
            else if (step == u"post"_s)
                cds.Post();
            else if (step == u"cancel"_s)
                cds.Cancel();
            else if (step == u"delete"_s)
                cds.Delete();
            else if (step == u"next"_s)
                cds.Next();
            else if (step == u"close"_s)
                cds.Close();
            else if (step == u"open"_s)
                cds.Open();
            else if (step == u"empty"_s) {
                cds.EmptyDataSet();
                recorder.events.clear();
            } else if (step == u"setdata"_s)
                cds.SetData(companies());
            else if (step == u"setempty"_s)
                cds.SetData(TTablePacket{companies().Fields, {}});
        }
        QCOMPARE(recorder.events, expected);
    }

    void failingBeforeEventChangesNothing_data() {
        QTest::addColumn<QString>("handler");
        QTest::addColumn<QString>("action");
        QTest::newRow("BeforeInsert") << u"BeforeInsert"_s << u"insert"_s;
        QTest::newRow("OnNewRecord") << u"OnNewRecord"_s << u"insert"_s;
        QTest::newRow("OnNewRecord on append") << u"OnNewRecord"_s << u"append"_s;
        QTest::newRow("BeforeEdit") << u"BeforeEdit"_s << u"edit"_s;
        QTest::newRow("BeforePost on edit") << u"BeforePost"_s << u"edit,set,post"_s;
        QTest::newRow("BeforePost on insert") << u"BeforePost"_s << u"insert,set,post"_s;
        QTest::newRow("BeforeDelete") << u"BeforeDelete"_s << u"delete"_s;
        QTest::newRow("BeforeDelete while editing") << u"BeforeDelete"_s << u"edit,set,delete"_s;
        QTest::newRow("BeforeCancel") << u"BeforeCancel"_s << u"edit,set,cancel"_s;
        QTest::newRow("BeforePost on implicit post") << u"BeforePost"_s << u"edit,set,next"_s;
    }
    void failingBeforeEventChangesNothing() {
        QFETCH(QString, handler);
        QFETCH(QString, action);
        TClientDataSet cds;
        cds.SetData(companies());
        cds.Next();
        const QStringList steps = action.split(u',');
        // Everything but the last step runs normally; the snapshot is taken right before it.
        for (const QString &step : steps.mid(0, steps.size() - 1)) {
            if (step == u"edit"_s)
                cds.Edit();
            else if (step == u"insert"_s)
                cds.Insert();
            else if (step == u"set"_s)
                cds.Fields(1)->SetAsString(u"Novo"_s);
        }
        const TDataSetState state = cds.State();
        const TRowValues row = cds.CurrentValues();
        const int recNo = cds.RecNo();
        const QStringList content = contents(cds);
        const bool modified = cds.Modified();
        std::map<QString, TClientDataSet::DataSetEvent *> handlers = {
            {u"BeforeInsert"_s, &cds.BeforeInsert}, {u"OnNewRecord"_s, &cds.OnNewRecord},
            {u"BeforeEdit"_s, &cds.BeforeEdit},     {u"BeforePost"_s, &cds.BeforePost},
            {u"BeforeDelete"_s, &cds.BeforeDelete}, {u"BeforeCancel"_s, &cds.BeforeCancel}};
        *handlers.at(handler) = [](TClientDataSet &) {
            Abort();
        };
        const QString last = steps.last();
        QVERIFY_THROWS_EXCEPTION(EAbort, {
            if (last == u"insert"_s)
                cds.Insert();
            else if (last == u"append"_s)
                cds.Append();
            else if (last == u"edit"_s)
                cds.Edit();
            else if (last == u"post"_s)
                cds.Post();
            else if (last == u"delete"_s)
                cds.Delete();
            else if (last == u"cancel"_s)
                cds.Cancel();
            else if (last == u"next"_s)
                cds.Next();
        });
        QCOMPARE(cds.State(), state);
        QCOMPARE(cds.CurrentValues(), row);
        QCOMPARE(cds.RecNo(), recNo);
        QCOMPARE(contents(cds), content);
        QCOMPARE(cds.Modified(), modified);
        QCOMPARE(cds.ChangeCount(), 0);
    }

    // Starting values from OnNewRecord alone do not make the row worth keeping: moving away
    // drops it. A value written afterwards (AfterInsert, the user) does.
    void startingValuesAloneAreNotAModification_data() {
        QTest::addColumn<bool>("writeAfterInsert");
        QTest::addColumn<int>("rowsAfterMovingAway");
        QTest::newRow("only OnNewRecord") << false << 3;
        QTest::newRow("AfterInsert writes too") << true << 4;
    }
    void startingValuesAloneAreNotAModification() {
        QFETCH(bool, writeAfterInsert);
        QFETCH(int, rowsAfterMovingAway);
        TClientDataSet cds;
        cds.SetData(companies());
        cds.OnNewRecord = [](TClientDataSet &t) {
            t.Fields(0)->SetAsString(u"N"_s);
        };
        if (writeAfterInsert)
            cds.AfterInsert = [](TClientDataSet &t) {
                t.Fields(1)->SetAsString(u"Nova"_s);
            };
        cds.Insert();
        QCOMPARE(cds.Modified(), writeAfterInsert);
        QCOMPARE(cds.Fields(0)->AsString(), u"N"_s);
        cds.First();
        QCOMPARE(cds.RecordCount(), rowsAfterMovingAway);
    }

    void failedRequiredCheckKeepsEditing() {
        TTablePacket p = companies();
        p.Fields[0].Required = true;
        TClientDataSet cds;
        cds.SetData(p);
        cds.Insert();
        cds.Fields(1)->SetAsString(u"Sem código"_s);
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, cds.Post());
        QCOMPARE(cds.State(), TDataSetState::Insert);
        QCOMPARE(cds.Fields(1)->AsString(), u"Sem código"_s);
    }

    void changeLog_data() {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QStringList>("delta");
        QTest::newRow("nothing") << QStringList{} << QStringList{};
        QTest::newRow("one update") << QStringList{u"go B"_s, u"edit Beta2"_s}
                                    << QStringList{u"update B,Beta,- -> B,Beta2,-"_s};
        QTest::newRow("update twice keeps first original")
            << QStringList{u"go B"_s, u"edit X"_s, u"edit Y"_s}
            << QStringList{u"update B,Beta,- -> B,Y,-"_s};
        QTest::newRow("insert then modify is one insert")
            << QStringList{u"append Z"_s, u"edit Final"_s} << QStringList{u"insert Z,Final,-"_s};
        QTest::newRow("insert then delete is nothing")
            << QStringList{u"go B"_s, u"insert Z"_s, u"delete"_s} << QStringList{};
        QTest::newRow("modify then delete is one delete with the original")
            << QStringList{u"go C"_s, u"edit X"_s, u"delete"_s}
            << QStringList{u"delete C,Gama,45100"_s};
        QTest::newRow("order of first change")
            << QStringList{u"go C"_s,     u"edit X"_s, u"go A"_s,  u"delete"_s,
                           u"append Z"_s, u"go C"_s,   u"edit Y"_s}
            << QStringList{u"update C,Gama,45100 -> C,Y,45100"_s, u"delete A,Alfa,45000"_s,
                           u"insert Z,Nova,-"_s};
        QTest::newRow("unchanged post is not logged")
            << QStringList{u"go A"_s, u"edit Alfa"_s} << QStringList{};
        QTest::newRow("merge sets new originals")
            << QStringList{u"go A"_s, u"edit X"_s, u"merge"_s, u"edit Y"_s}
            << QStringList{u"update A,X,45000 -> A,Y,45000"_s};
        QTest::newRow("merge forgets inserts and deletes")
            << QStringList{u"append Z"_s, u"go B"_s, u"delete"_s, u"merge"_s} << QStringList{};
        QTest::newRow("log off writes the base")
            << QStringList{u"logoff"_s, u"go A"_s, u"edit X"_s, u"append Z"_s,
                           u"logon"_s,  u"go A"_s, u"edit Y"_s}
            << QStringList{u"update A,X,45000 -> A,Y,45000"_s};
        QTest::newRow("cancel updates empties the log")
            << QStringList{u"go A"_s, u"edit X"_s, u"delete"_s, u"append Z"_s, u"cancelupdates"_s}
            << QStringList{};
    }
    void changeLog() {
        QFETCH(QStringList, script);
        QFETCH(QStringList, delta);
        TClientDataSet cds;
        cds.SetData(companies());
        run(cds, script);
        QCOMPARE(describe(cds.GetDelta()), delta);
        QCOMPARE(cds.ChangeCount(), delta.size());
        QCOMPARE(cds.GetDelta().Fields, companies().Fields);
    }

    void cancelUpdatesRestoresTheMergedContent_data() {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QStringList>("content");
        const QStringList base{u"A,Alfa,45000"_s, u"B,Beta,-"_s, u"C,Gama,45100"_s};
        QTest::newRow("deleted row comes back in its place")
            << QStringList{u"go B"_s, u"delete"_s} << base;
        QTest::newRow("inserted row disappears")
            << QStringList{u"go B"_s, u"insert Z"_s, u"append Y"_s} << base;
        QTest::newRow("modified row gets its values back")
            << QStringList{u"go C"_s, u"edit X"_s, u"edit Y"_s} << base;
        QTest::newRow("everything at once")
            << QStringList{u"go A"_s,     u"edit X"_s, u"go B"_s,  u"delete"_s,
                           u"insert Z"_s, u"go C"_s,   u"delete"_s}
            << base;
        QTest::newRow("back to the last merge, not the load")
            << QStringList{u"go A"_s, u"edit X"_s, u"merge"_s, u"go B"_s, u"delete"_s}
            << QStringList{u"A,X,45000"_s, u"B,Beta,-"_s, u"C,Gama,45100"_s};
        QTest::newRow("log-off changes are the base")
            << QStringList{u"logoff"_s, u"go B"_s, u"delete"_s, u"logon"_s, u"go A"_s, u"delete"_s}
            << QStringList{u"A,Alfa,45000"_s, u"C,Gama,45100"_s};
    }
    void cancelUpdatesRestoresTheMergedContent() {
        QFETCH(QStringList, script);
        QFETCH(QStringList, content);
        TClientDataSet cds;
        cds.SetData(companies());
        run(cds, script);
        cds.CancelUpdates();
        QCOMPARE(contents(cds), content);
        QCOMPARE(cds.ChangeCount(), 0);
        QCOMPARE(cds.State(), TDataSetState::Browse);
    }

    void cancelUpdatesDropsAPendingEdit() {
        TClientDataSet cds;
        cds.SetData(companies());
        cds.Insert();
        cds.Fields(0)->SetAsString(u"Z"_s);
        cds.CancelUpdates();
        QCOMPARE(cds.State(), TDataSetState::Browse);
        QCOMPARE(cds.RecordCount(), 3);
    }

    void setDataKeepsFieldsWhenDefinitionsMatch() {
        TClientDataSet cds;
        cds.SetData(companies());
        TField *name = cds.FieldByName(u"NMEMPRESA"_s);
        name->OnGetText = [](TField &, QString &text, bool) {
            text = u"*"_s + text;
        };
        name->SetVisible(false);
        cds.Edit();
        name->SetAsString(u"Pendente"_s);
        TTablePacket next = companies();
        next.Rows.removeFirst();
        cds.SetData(next);
        QCOMPARE(cds.FieldByName(u"NMEMPRESA"_s), name); // same object: screens keep pointers
        QCOMPARE(cds.State(), TDataSetState::Browse);
        QCOMPARE(cds.RecNo(), 1);
        QCOMPARE(name->DisplayText(), u"*Beta"_s);
        QCOMPARE(cds.ChangeCount(), 0);
    }

    void setDataWithNewDefinitionsCarriesHandlers() {
        TClientDataSet cds;
        cds.SetData(companies());
        TField *name = cds.FieldByName(u"NMEMPRESA"_s);
        name->OnGetText = [](TField &, QString &text, bool) {
            text = u"*"_s + text;
        };
        name->SetVisible(false);
        name->SetDisplayLabel(u"Nome"_s);
        TTablePacket wider = companies();
        wider.Fields.append(def(u"QTD"_s, TFieldType::Integer));
        for (TRowValues &row : wider.Rows)
            row.append(qint64(1));
        cds.SetData(wider);
        QCOMPARE(cds.FieldCount(), 4);
        TField *after = cds.FieldByName(u"NMEMPRESA"_s);
        QVERIFY(!after->Visible());
        QCOMPARE(after->DisplayLabel(), u"Nome"_s);
        QCOMPARE(after->DisplayText(), u"*Alfa"_s);
        QVERIFY(cds.FieldByName(u"QTD"_s)->Visible());
    }

    void setDataRejectsBadPacketWhole_data() {
        QTest::addColumn<int>("badRow");
        QTest::addColumn<QVariant>("badValue"); // invalid: the row is one value short
        QTest::newRow("short row") << 2 << QVariant();
        QTest::newRow("oversized text") << 1 << QVariant(u"ABC"_s);
        QTest::newRow("unrelated kind") << 2 << QVariant(QSize(1, 2));
    }
    void setDataRejectsBadPacketWhole() {
        QFETCH(int, badRow);
        QFETCH(QVariant, badValue);
        TClientDataSet cds;
        cds.SetData(companies());
        cds.Last();
        TTablePacket bad = companies();
        if (badValue.isValid())
            bad.Rows[badRow][0] = badValue;
        else
            bad.Rows[badRow].removeLast();
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, cds.SetData(bad));
        QCOMPARE(contents(cds).size(), 3);
        QCOMPARE(cds.RecNo(), 3);
    }

    void indexOrder() {
        TClientDataSet cds;
        cds.SetData(errorsPacket());
        QCOMPARE(readOrder(cds, u"DSERRO"_s),
                 (QStringList{u"b"_s, u"c"_s, u"a"_s, u"d"_s, u"e"_s, u"f"_s}));
        cds.SetIndexFieldNames(u"CDEMPRESA;IDERRO"_s);
        // Nulls first, ties keep the loaded order (c before e).
        QCOMPARE(readOrder(cds, u"DSERRO"_s),
                 (QStringList{u"d"_s, u"f"_s, u"c"_s, u"e"_s, u"a"_s, u"b"_s}));
        cds.Locate(u"DSERRO"_s, u"e"_s);
        cds.Edit();
        cds.FieldByName(u"IDERRO"_s)->SetAsInteger(0);
        cds.Post();
        QCOMPARE(cds.FieldByName(u"DSERRO"_s)->AsString(), u"e"_s); // follows its row
        QCOMPARE(cds.RecNo(), 3);
        cds.SetData(errorsPacket()); // the order survives new content
        QCOMPARE(readOrder(cds, u"DSERRO"_s).first(), u"d"_s);
        cds.SetIndexFieldNames(QString());
        QCOMPARE(readOrder(cds, u"DSERRO"_s).first(), u"b"_s);
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, cds.SetIndexFieldNames(u"NADA"_s));
    }

    void insertPosition_data() {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("insert goes before the current row")
            << QStringList{u"go B"_s, u"insert Z"_s} << QStringList{u"A"_s, u"Z"_s, u"B"_s, u"C"_s};
        QTest::newRow("append goes at the end")
            << QStringList{u"go A"_s, u"append Z"_s} << QStringList{u"A"_s, u"B"_s, u"C"_s, u"Z"_s};
        QTest::newRow("insert on the first row")
            << QStringList{u"go A"_s, u"insert Z"_s} << QStringList{u"Z"_s, u"A"_s, u"B"_s, u"C"_s};
    }
    void insertPosition() {
        QFETCH(QStringList, script);
        QFETCH(QStringList, order);
        TClientDataSet cds;
        cds.SetData(companies());
        run(cds, script);
        QCOMPARE(cds.Fields(0)->AsString(), u"Z"_s); // the new row is current after the post
        QCOMPARE(readOrder(cds, u"CDEMPRESA"_s), order);
    }

    void locate_data() {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QVariant>("keys");
        QTest::addColumn<int>("options");
        QTest::addColumn<QString>("found"); // DSERRO of the row, empty: not found
        QTest::newRow("two fields")
            << u"CDEMPRESA;IDERRO"_s << QVariant(QVariantList{u"01"_s, 9}) << 0 << u"c"_s;
        QTest::newRow("integer as text") << u"IDERRO"_s << QVariant(u"5"_s) << 0 << u"d"_s;
        QTest::newRow("null key") << u"CDEMPRESA"_s << QVariant() << 0 << u"d"_s;
        QTest::newRow("absent") << u"CDEMPRESA"_s << QVariant(u"03"_s) << 0 << QString();
        QTest::newRow("case differs") << u"DSERRO"_s << QVariant(u"E"_s) << 0 << QString();
        QTest::newRow("case insensitive")
            << u"DSERRO"_s << QVariant(u"E"_s) << int(loCaseInsensitive) << u"e"_s;
        QTest::newRow("partial") << u"CDEMPRESA"_s << QVariant(u"0"_s) << int(loPartialKey)
                                 << u"b"_s;
        QTest::newRow("not a number") << u"IDERRO"_s << QVariant(u"x"_s) << 0 << QString();
    }
    void locate() {
        QFETCH(QString, fields);
        QFETCH(QVariant, keys);
        QFETCH(int, options);
        QFETCH(QString, found);
        TClientDataSet cds;
        cds.SetData(errorsPacket());
        cds.Last();
        int scrolls = 0;
        cds.AfterScroll = [&](TClientDataSet &) {
            ++scrolls;
        };
        QCOMPARE(cds.Locate(fields, keys, options), !found.isEmpty());
        QCOMPARE(cds.FieldByName(u"DSERRO"_s)->AsString(), found.isEmpty() ? u"f"_s : found);
        QCOMPARE(scrolls, found.isEmpty() ? 0 : 1);
    }

    void emptyDataSetIsNotLogged() {
        TClientDataSet cds;
        cds.SetData(companies());
        run(cds, {u"go A"_s, u"edit X"_s});
        cds.EmptyDataSet();
        QVERIFY(cds.IsEmpty() && cds.Active());
        QCOMPARE(cds.ChangeCount(), 0);
        cds.CancelUpdates();
        QVERIFY(cds.IsEmpty());
        // A row being inserted is a row until it is dropped.
        cds.Insert();
        QVERIFY(!cds.IsEmpty());
        QCOMPARE(cds.RecordCount(), 0);
        cds.Cancel();
        QVERIFY(cds.IsEmpty());
    }

    void createDataSetFromDefinitions() {
        TClientDataSet cds;
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, cds.CreateDataSet());
        cds.FieldDefs() = companies().Fields;
        cds.CreateDataSet();
        QCOMPARE(cds.State(), TDataSetState::Browse);
        QCOMPARE(cds.FieldCount(), 3);
        run(cds, {u"append Z"_s});
        QCOMPARE(describe(cds.GetDelta()), QStringList{u"insert Z,Nova,-"_s});
    }

    void notices() {
        TClientDataSet cds;
        cds.SetData(companies());
        QSignalSpy data(&cds, &TClientDataSet::dataChanged);
        cds.Next();
        QCOMPARE(data.size(), 1);
        QCOMPARE(data.takeFirst().at(0).value<TField *>(), nullptr);
        cds.Edit();
        cds.Fields(1)->SetAsString(u"X"_s);
        QCOMPARE(data.size(), 1);
        QCOMPARE(data.takeFirst().at(0).value<TField *>(), cds.Fields(1));
    }
};

QTEST_GUILESS_MAIN(TstClientDataSet)
#include "tst_clientdataset.moc"
