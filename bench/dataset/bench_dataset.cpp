#include "clientdataset.h"
#include "envelope.h"
#include "jsonnode.h"
#include "jsonrpcmessage.h"
#include "netconnection.h"
#include "packet.h"
#include "parameterrecord.h"
#include "shared/paramctblclient.h"

#include <QJsonDocument>

#include <benchmark/benchmark.h>
#include <simdjson.h>

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

// The same load through the parse the client reads its replies with.
void BM_LoadParameterPacketParsed(benchmark::State &state) {
    const QByteArray &bytes = parameterBytes();
    TClientDataSet cds;
    for (auto _ : state) {
        TJsonNode node;
        TTablePacket packet;
        QString error;
        if (!TJsonNode::Parse(bytes, node, &error) || !Packet::FromJson(node, packet, &error))
            state.SkipWithError("packet rejected");
        cds.SetData(std::move(packet));
        benchmark::DoNotOptimize(cds.RecordCount());
    }
    state.SetBytesProcessed(qint64(state.iterations()) * bytes.size());
    state.counters["rows"] = Companies;
}
BENCHMARK(BM_LoadParameterPacketParsed)->Unit(benchmark::kMillisecond);

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

// GetContOpe's reply as the server puts it on the wire: the two packets written as JSON text,
// spliced into the result envelope and the JSON-RPC response.
constexpr int ContOpeRecords = 1000;

const QByteArray &contOpeReply() {
    static const QByteArray bytes = [] {
        TTablePacket general;
        general.Fields = {{u"IDCONTAJUDTCOMP"_s, TFieldType::String, 1, false}};
        general.Rows = {{u"S"_s}};
        const QByteArray payload = '[' + Packet::ToBytes(ParameterRecord::Packet(ContOpeRecords)) +
                                   ',' + Packet::ToBytes(general) + ']';
        return JsonRpc::EncodeResultBytes(QJsonValue(1),
                                          TResultEnvelope::SuccessRaw(payload).ToJsonBytes());
    }();
    return bytes;
}

// The two tables of the parameter screen, declared as the screen declares them.
struct ContOpeTables {
    ContOpeTables() {
        records.setObjectName(u"cdsContOpe"_s);
        records.FieldDefs() = ParameterRecord::Fields();
        general.setObjectName(u"cdsParamGeral"_s);
        general.FieldDefs() = {{u"IDCONTAJUDTCOMP"_s, TFieldType::String, 1, false}};
    }
    TClientDataSet records;
    TClientDataSet general;
};

// The client once the reply's bytes are in: the connection finds the call the reply answers,
// reads the response and its envelope, and the screen loads both tables (LoadParams).
void BM_LoadContOpeReply(benchmark::State &state) {
    const QByteArray &bytes = contOpeReply();
    ContOpeTables tables;
    for (auto _ : state) {
        ParamCtblMethods::LoadContOpe(TNetConnection::ReplyEnvelope(bytes), tables.records,
                                      tables.general);
        benchmark::DoNotOptimize(tables.records.RecordCount());
    }
    state.SetBytesProcessed(qint64(state.iterations()) * bytes.size());
    state.counters["rows"] = ContOpeRecords;
}
BENCHMARK(BM_LoadContOpeReply)->Unit(benchmark::kMillisecond);

// The floors the load is held to: a bare parse of the same bytes by each parser.
void BM_BareParseContOpeReply_Qt(benchmark::State &state) {
    const QByteArray &bytes = contOpeReply();
    for (auto _ : state) {
        QJsonDocument document = QJsonDocument::fromJson(bytes);
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(qint64(state.iterations()) * bytes.size());
}
BENCHMARK(BM_BareParseContOpeReply_Qt)->Unit(benchmark::kMillisecond);

void BM_BareParseContOpeReply_Simdjson(benchmark::State &state) {
    const simdjson::padded_string bytes(contOpeReply().constData(), size_t(contOpeReply().size()));
    simdjson::dom::parser parser;
    for (auto _ : state) {
        simdjson::dom::element root;
        if (parser.parse(bytes).get(root) != simdjson::SUCCESS)
            state.SkipWithError("reply rejected");
        benchmark::DoNotOptimize(root);
    }
    state.SetBytesProcessed(qint64(state.iterations()) * qint64(bytes.size()));
}
BENCHMARK(BM_BareParseContOpeReply_Simdjson)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
