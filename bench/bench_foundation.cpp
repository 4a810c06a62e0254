// Throughput of the inflater and of the field table, each against a baseline measured in the
// same run: raw zlib inflate of the same stream, and std::unordered_map of std::string.
// The counter "x_baseline" is our time divided by the baseline's (1.0 = as fast).
#include "Shared/StringStringHashtables.h"
#include "Shared/UrlEncode.h"
#include "Shared/ZLibStreams.h"

#include <benchmark/benchmark.h>
#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>
#include <zlib.h>

namespace {
// Thread CPU time: the ratios stay meaningful on a machine busy with other work.
double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

QByteArray AlertBody(int i)
{
    return "Wex Top\r\nsymbol=SYM" + QByteArray::number(i % 700) + "&last=" + QByteArray::number(10 + i % 50)
           + ".25&prev_close=9.75&change=0.5&volume=" + QByteArray::number(i * 1234)
           + "&price_spike=0&volume_rate=1.5&today_range=0.8&open_range=0.4&strength=3&up_trend=1"
           + "&near_high=0&new_high=1&dist_from_bb=0.12&sma_divergence=-0.3&time=12:00:0" + QByteArray::number(i % 10);
}

// A server-like stream: frames of alert bodies, sync-flushed in bursts, cut into pieces of
// the size a socket read delivers.
struct TStream {
    std::vector<QByteArray> Pieces;
    qsizetype PlainSize = 0;
};

const TStream& Stream()
{
    static const TStream stream = [] {
        TStream s;
        TZLibCompressor c;
        for (int i = 0; i < 20000; ++i) {
            const QByteArray body = AlertBody(i);
            c.Write(body);
            s.PlainSize += body.size();
            if (i % 20 == 19)
                c.Flush();
        }
        c.Flush();
        for (qsizetype at = 0; at < c.Output.size(); at += 1460)
            s.Pieces.push_back(c.Output.mid(at, 1460));
        return s;
    }();
    return stream;
}

// The baseline: zlib's inflate into one output buffer large enough for everything.
void RunRawInflate(int iterations)
{
    const TStream& s = Stream();
    std::vector<unsigned char> out(size_t(s.PlainSize) + 4096);
    for (int n = 0; n < iterations; ++n) {
        z_stream z{};
        inflateInit(&z);
        inflateValidate(&z, 0); // as the client: a stream that never ends needs no check value
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        for (const QByteArray& piece : s.Pieces) {
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.constData()));
            z.avail_in = uInt(piece.size());
            inflate(&z, Z_SYNC_FLUSH);
        }
        benchmark::DoNotOptimize(out.data());
        inflateEnd(&z);
    }
}

double RawInflateSeconds(int iterations)
{
    const double start = CpuSeconds();
    RunRawInflate(iterations);
    return CpuSeconds() - start;
}

void BM_InflateRawZlib(benchmark::State& state)
{
    for (auto _ : state)
        RunRawInflate(1);
    state.SetBytesProcessed(int64_t(state.iterations()) * Stream().PlainSize);
}
BENCHMARK(BM_InflateRawZlib)->Unit(benchmark::kMillisecond);

void BM_InflateTZLibDecompressor(benchmark::State& state)
{
    const TStream& s = Stream();
    int iterations = 0;
    const double start = CpuSeconds();
    for (auto _ : state) {
        TZLibDecompressor d;
        for (const QByteArray& piece : s.Pieces)
            d.Write(piece);
        if (d.Output.size() != s.PlainSize)
            state.SkipWithError("inflated size differs");
        ++iterations;
    }
    const double ours = CpuSeconds() - start;
    state.SetBytesProcessed(int64_t(state.iterations()) * s.PlainSize);
    state.counters["x_baseline"] = ours / RawInflateSeconds(iterations);
}
BENCHMARK(BM_InflateTZLibDecompressor)->Unit(benchmark::kMillisecond);

// The fields of one alert, as the alert window stores and then reads them.
std::vector<std::pair<QByteArray, QByteArray>> AlertFields()
{
    tHashTable table;
    ParseForm(AlertBody(12345).mid(AlertBody(12345).indexOf("\r\n") + 2), table);
    std::vector<std::pair<QByteArray, QByteArray>> fields;
    for (auto it = table.NewIterator(); it->IsValid(); it->Next())
        fields.emplace_back(it->GetKey(), it->GetValue());
    return fields;
}

const std::vector<std::pair<std::string, std::string>>& StdFields()
{
    static const auto fields = [] {
        std::vector<std::pair<std::string, std::string>> result;
        for (const auto& [k, v] : AlertFields())
            result.emplace_back(k.toStdString(), v.toStdString());
        return result;
    }();
    return fields;
}

void RunUnorderedMap(int iterations)
{
    const auto& fields = StdFields();
    size_t total = 0;
    for (int n = 0; n < iterations; ++n) {
        std::unordered_map<std::string, std::string> map;
        for (const auto& [k, v] : fields)
            map[k] = v;
        for (const auto& [k, v] : fields)
            total += map[k].size();
        const auto absent = map.find("absent");
        total += absent == map.end() ? 0 : absent->second.size();
    }
    benchmark::DoNotOptimize(total);
}

double UnorderedMapSeconds(int iterations)
{
    const double start = CpuSeconds();
    RunUnorderedMap(iterations);
    return CpuSeconds() - start;
}

void BM_FieldsStdUnorderedMap(benchmark::State& state)
{
    for (auto _ : state)
        RunUnorderedMap(1);
}
BENCHMARK(BM_FieldsStdUnorderedMap);

void BM_FieldsHashTable(benchmark::State& state)
{
    const auto fields = AlertFields();
    int iterations = 0;
    qsizetype total = 0;
    const double start = CpuSeconds();
    for (auto _ : state) {
        tHashTable table;
        for (const auto& [k, v] : fields)
            table.Put(k, v);
        for (const auto& [k, v] : fields)
            total += table.Get(k).size();
        total += table.Get("absent").size();
        ++iterations;
    }
    benchmark::DoNotOptimize(total);
    const double ours = CpuSeconds() - start;
    state.counters["fields"] = double(fields.size());
    state.counters["x_baseline"] = ours / UnorderedMapSeconds(iterations);
}
BENCHMARK(BM_FieldsHashTable);
} // namespace
