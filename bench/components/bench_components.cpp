#include "components/datasetmodel.h"
#include "components/functions.h"
#include "components/messages.h"
#include "dataset/clientdataset.h"

#include <QApplication>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

// A list like the parameter screen's: code, name and period columns whose text comes from a
// text handler that reads two fields of the row.
void FillPeriods(TClientDataSet &table, int rows) {
    TTablePacket packet;
    packet.Fields = {{u"CDEMPRESA"_s, TFieldType::String, 4},
                     {u"NMEMPRESA"_s, TFieldType::String, 40},
                     {u"DTINI"_s, TFieldType::Date},
                     {u"DTFIM"_s, TFieldType::Date}};
    for (int i = 0; i < rows; ++i)
        packet.Rows.append({QString::number(i).rightJustified(4, u'0'),
                            u"Empresa %1 Comércio e Indústria Ltda"_s.arg(i), 45292.0 + i % 365,
                            45292.0 + i % 365 + 30});
    table.SetData(packet);
    table.FieldByName(u"DTINI"_s)->OnGetText = [&table](TField &, QString &text, bool) {
        text = DateTimeUtil::FormatDate(table.FieldByName(u"DTINI"_s)->AsDateTime()) + u" a "_s +
               DateTimeUtil::FormatDate(table.FieldByName(u"DTFIM"_s)->AsDateTime());
    };
}

// What one repaint of the grid costs after the table moved: a screenful of 30 rows read again
// (a view asks only for the rows it shows), with the table's size as the argument.
void BM_GridRepaintAfterScroll(benchmark::State &state) {
    TClientDataSet table;
    FillPeriods(table, int(state.range(0)));
    TDataSetModel model;
    model.SetDataSet(&table);
    QVector<TGridColumn> columns;
    for (int i = 0; i < 8; ++i)
        columns.append({i == 0 ? u"CDEMPRESA"_s : i == 1 ? u"NMEMPRESA"_s : u"DTINI"_s, {}, 0});
    model.SetColumns(columns);
    const int rows = model.rowCount();
    for (auto _ : state) {
        table.Next(); // a scroll marks every text stale
        for (int row = 0; row < std::min(rows, 30); ++row)
            for (int column = 0; column < 8; ++column)
                benchmark::DoNotOptimize(model.index(row, column).data());
        if (table.Eof())
            table.First();
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_GridRepaintAfterScroll)->Arg(100)->Arg(1300)->Unit(benchmark::kMicrosecond);

void BM_MessageLookup(benchmark::State &state) {
    TMessages messages;
    QStringList lines;
    for (int i = 0; i < 48; ++i)
        lines.append(u"Chave%1|Texto da mensagem número %1 com %s."_s.arg(i));
    messages.SetLines(lines);
    for (auto _ : state)
        benchmark::DoNotOptimize(Format(messages.Msg(u"chave47"_s), {u"01/03/2024"_s}));
}
BENCHMARK(BM_MessageLookup);

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
