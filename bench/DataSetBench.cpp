// The student list's data set on one page of 30 rows written by the
// development server's packet writer: loading it, reading every cell's text,
// and both as the grid does after each page load. Arg 0 gives ASCII names,
// arg 1 Chinese ones (which the load converts between GBK and UTF-8).
#include "ClientDataSet.h"
#include "DataPacket.h"

#include <benchmark/benchmark.h>
#include <string>
#include <vector>

namespace {

using tarvo::devserver::kStudentPacketFields;
using tarvo::devserver::PacketRow;

const std::vector<std::string> kRequired{"Id",         "Name",    "Account",
                                         "verifycode", "RegDate", "DueDate"};

std::string StudentPage(bool chinese) {
    const long long start = 1700000000;
    std::vector<PacketRow> rows;
    for (int i = 0; i < 30; ++i) {
        const long long reg = start + i * 86400LL;
        rows.push_back({std::to_string(100000 + i),
                        (chinese ? std::string("\xE5\xAD\xA6\xE5\x91\x98") // 学员
                                 : std::string("Student ")) +
                            std::to_string(i),
                        "138" + std::to_string(10000000 + i), std::to_string(654321 + i),
                        tarvo::devserver::PacketDateTime(reg),
                        tarvo::devserver::PacketDateTime(tarvo::devserver::OneYearLater(reg))});
    }
    return tarvo::devserver::WriteDataPacket(
        {kStudentPacketFields.begin(), kStudentPacketFields.end()}, rows);
}

std::size_t ReadEveryCell(const TClientDataSet& ds) {
    std::size_t bytes = 0;
    const int fields = static_cast<int>(ds.Fields().size());
    for (int row = 0; row < ds.RecordCount(); ++row) {
        for (int field = 0; field < fields; ++field) {
            bytes += ds.CellText(row, field).size();
        }
    }
    return bytes;
}

void BM_LoadPage(benchmark::State& state) {
    const std::string packet = StudentPage(state.range(0) != 0);
    TClientDataSet ds;
    for (auto _ : state) {
        ds.SetXMLData(packet, kRequired);
        benchmark::DoNotOptimize(ds.RecordCount());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * packet.size()));
    state.counters["packet_bytes"] = static_cast<double>(packet.size());
}
BENCHMARK(BM_LoadPage)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_ReadEveryCell(benchmark::State& state) {
    TClientDataSet ds;
    ds.SetXMLData(StudentPage(state.range(0) != 0), kRequired);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadEveryCell(ds));
    }
}
BENCHMARK(BM_ReadEveryCell)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_LoadPageAndReadEveryCell(benchmark::State& state) {
    const std::string packet = StudentPage(state.range(0) != 0);
    TClientDataSet ds;
    for (auto _ : state) {
        ds.SetXMLData(packet, kRequired);
        benchmark::DoNotOptimize(ReadEveryCell(ds));
    }
}
BENCHMARK(BM_LoadPageAndReadEveryCell)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
