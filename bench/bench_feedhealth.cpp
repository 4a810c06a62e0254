// What watching the feed costs: counting one alert into the alerts-per-second buckets
// (with the clock read), against parsing the same alert's field line, which every alert
// costs anyway; and one update of the main window's feed-health line, which runs once per
// 500 ms tick. The counter "x_parse" is the counting's time divided by the parse's.
#include "Olvarra/FeedHealth.h"
#include "Platform/Clock.h"
#include "Shared/StringStringHashtables.h"
#include "Shared/UrlEncode.h"

#include <QLabel>
#include <benchmark/benchmark.h>
#include <ctime>

namespace {
double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

const QByteArray FieldLine = "symbol=IBM&last=101.25&prev_close=100.75&change=0.5&volume=1234567"
                             "&price_spike=0&volume_rate=1.5&time=12:00:01";

void BM_AlertRateCount(benchmark::State& state)
{
    constexpr int Batch = 10000;
    TAlertRate rate;
    double counting = 0, parsing = 0;
    for (auto _ : state) {
        double t0 = CpuSeconds();
        for (int i = 0; i < Batch; ++i)
            rate.Count(Clock().MonotonicMs());
        double t1 = CpuSeconds();
        counting += t1 - t0;
        state.PauseTiming();
        t0 = CpuSeconds();
        for (int i = 0; i < Batch / 10; ++i) {
            tHashTable fields;
            ParseForm(FieldLine, fields);
            benchmark::DoNotOptimize(fields.Count());
        }
        t1 = CpuSeconds();
        parsing += (t1 - t0) * 10;
        state.ResumeTiming();
    }
    benchmark::DoNotOptimize(rate.PerSecond(Clock().MonotonicMs()));
    state.SetItemsProcessed(state.iterations() * Batch);
    state.counters["ns_per_alert"] = counting / double(state.iterations() * Batch) * 1e9;
    state.counters["x_parse"] = parsing > 0 ? counting / parsing : 0;
}
BENCHMARK(BM_AlertRateCount);

void BM_FeedHealthLineUpdate(benchmark::State& state)
{
    QLabel label;
    TAlertRate rate;
    for (int i = 0; i < 500; ++i)
        rate.Count(i * 17);
    TFeedHealth health;
    health.RoundTripMs = 12;
    health.UpMs = 3'723'000;
    health.ReconnectsToday = 2;
    qint64 now = 9000;
    const double start = CpuSeconds();
    for (auto _ : state) {
        now += 500;
        health.AlertsPerSecond = rate.PerSecond(now);
        health.UpMs += 500;
        label.setText(FeedHealthText(health));
        label.adjustSize();
    }
    // One update per 500 ms tick: the share of the tick it takes.
    const double perUpdate = (CpuSeconds() - start) / double(state.iterations());
    state.counters["us_per_update"] = perUpdate * 1e6;
    state.counters["share_of_tick"] = perUpdate / 0.5;
}
BENCHMARK(BM_FeedHealthLineUpdate);

} // namespace
