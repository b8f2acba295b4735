#include "datasource.h"
#include "exceptions.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

TTablePacket companies() {
    TTablePacket p;
    TFieldDef code;
    code.Name = u"CDEMPRESA"_s;
    code.Size = 2;
    p.Fields = {code};
    p.Rows = {{u"01"_s}, {u"02"_s}};
    return p;
}

} // namespace

class TstDataSource final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void relaysStateAndData() {
        TClientDataSet cds;
        TDataSource dts;
        QCOMPARE(dts.State(), TDataSetState::Inactive);
        QStringList seen;
        dts.OnStateChange = [&](TDataSource &sender) {
            seen << u"state %1"_s.arg(int(sender.State()));
        };
        dts.OnDataChange = [&](TDataSource &, TField *field) {
            seen << (field ? u"data "_s + field->FieldName() : u"data"_s);
        };
        dts.SetDataSet(&cds);
        QCOMPARE(dts.DataSet(), &cds);
        seen.clear();
        cds.SetData(companies());
        cds.Next();
        cds.Edit();
        cds.Fields(0)->SetAsString(u"03"_s);
        QCOMPARE(seen, (QStringList{u"state 1"_s, u"data"_s, u"data"_s, u"state 2"_s,
                                    u"data CDEMPRESA"_s}));
        QCOMPARE(dts.State(), TDataSetState::Edit);
    }

    // Bound controls write into their fields when the table asks, before BeforePost sees them.
    void boundControlsWriteBeforeBeforePost() {
        TClientDataSet cds;
        cds.SetData(companies());
        TDataSource dts;
        dts.SetDataSet(&cds);
        QObject::connect(&dts, &TDataSource::updateData, &dts,
                         [&] { cds.Fields(0)->SetAsString(u"09"_s); });
        QString seenByBeforePost;
        cds.BeforePost = [&](TClientDataSet &t) {
            seenByBeforePost = t.Fields(0)->AsString();
        };
        cds.Edit();
        cds.Post();
        QCOMPARE(seenByBeforePost, u"09"_s);
        QCOMPARE(cds.Fields(0)->AsString(), u"09"_s);
    }

    void disabledOrDetachedSourceIsInactive_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("disabled") << u"disable"_s;
        QTest::newRow("table removed") << u"detach"_s;
        QTest::newRow("table destroyed") << u"destroy"_s;
    }
    void disabledOrDetachedSourceIsInactive() {
        QFETCH(QString, how);
        auto cds = std::make_unique<TClientDataSet>();
        cds->SetData(companies());
        TDataSource dts;
        dts.SetDataSet(cds.get());
        QCOMPARE(dts.State(), TDataSetState::Browse);
        int dataNotices = 0;
        dts.OnDataChange = [&](TDataSource &, TField *) {
            ++dataNotices;
        };
        if (how == u"disable"_s)
            dts.SetEnabled(false);
        else if (how == u"detach"_s)
            dts.SetDataSet(nullptr);
        else
            cds.reset();
        QCOMPARE(dts.State(), TDataSetState::Inactive);
        dataNotices = 0;
        if (cds)
            cds->Next();
        QCOMPARE(dataNotices, 0);
    }
};

QTEST_GUILESS_MAIN(TstDataSource)
#include "tst_datasource.moc"
