#include "clientdataset.h"
#include "packet.h"
#include "parameterrecord.h"

#include <QJsonDocument>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Companies = 1300;

const QByteArray &parameterBytes() {
    static const QByteArray bytes = Packet::ToBytes(ParameterRecord::Packet(Companies));
    return bytes;
}

// What the parameter load does with the server's answer: bytes to an open table.
void BM_LoadParameterPacket(benchmark::State &state) {
    const QByteArray &bytes = parameterBytes();
    TClientDataSet cds;
    for (auto _ : state) {
        TTablePacket packet;
        QString error;
        if (!Packet::FromBytes(bytes, packet, &error))
            state.SkipWithError("packet rejected");
        cds.SetData(packet);
        benchmark::DoNotOptimize(cds.RecordCount());
    }
    state.SetBytesProcessed(qint64(state.iterations()) * bytes.size());
    state.counters["rows"] = Companies;
}
BENCHMARK(BM_LoadParameterPacket)->Unit(benchmark::kMillisecond);

// The two halves of the load, to see where its time goes.
void BM_DecodeOnly(benchmark::State &state) {
    const QByteArray &bytes = parameterBytes();
    for (auto _ : state) {
        TTablePacket packet;
        QString error;
        benchmark::DoNotOptimize(Packet::FromBytes(bytes, packet, &error));
    }
}
BENCHMARK(BM_DecodeOnly)->Unit(benchmark::kMillisecond);

void BM_SetDataOnly(benchmark::State &state) {
    const TTablePacket packet = ParameterRecord::Packet(Companies);
    TClientDataSet cds;
    for (auto _ : state) {
        cds.SetData(packet);
        benchmark::DoNotOptimize(cds.RecordCount());
    }
}
BENCHMARK(BM_SetDataOnly)->Unit(benchmark::kMillisecond);

// The JSON parse alone, as the floor the load is compared with.
void BM_ParseJsonOnly(benchmark::State &state) {
    const QByteArray &bytes = parameterBytes();
    for (auto _ : state) {
        QJsonDocument document = QJsonDocument::fromJson(bytes);
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(qint64(state.iterations()) * bytes.size());
}
BENCHMARK(BM_ParseJsonOnly)->Unit(benchmark::kMillisecond);

// The change log sent after a bulk edit: 100 modified rows out of 1,300.
void BM_DeltaOf100Updates(benchmark::State &state) {
    TClientDataSet cds;
    cds.SetData(ParameterRecord::Packet(Companies));
    TField *name = cds.FieldByName(u"NMEMPRESA"_s);
    for (int n = 0; n < 100; ++n) {
        cds.SetRecNo(1 + n * 13);
        cds.Edit();
        name->SetAsString(u"Alterada %1"_s.arg(n));
        cds.Post();
    }
    for (auto _ : state) {
        TChangeLog delta = cds.GetDelta();
        benchmark::DoNotOptimize(delta);
    }
    state.counters["changes"] = cds.ChangeCount();
}
BENCHMARK(BM_DeltaOf100Updates)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
