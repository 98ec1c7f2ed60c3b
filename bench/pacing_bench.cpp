// Pacing against the real clock: attachment-sized reads through
// accountBytes at a configured bit rate, for about three seconds each. The
// counters show the achieved rate and its distance from the configured one.
#include <benchmark/benchmark.h>

#include <chrono>

#include "client/client_settings.h"
#include "client/upload_limits.h"

namespace {

void BM_PacedUpload(benchmark::State& state) {
  const int32_t bitsPerSecond = static_cast<int32_t>(state.range(0));
  velkan::ClientSettings settings;
  settings.maxBitRate = bitsPerSecond;
  settings.rate = bitsPerSecond * 0.001 * 0.125;
  double achieved = 0;
  for (auto _ : state) {
    velkan::CUploadLimits limits;
    limits.apply(settings);
    const int64_t total = static_cast<int64_t>(settings.rate * 3000);  // three seconds' worth
    auto start = std::chrono::steady_clock::now();
    for (int64_t sent = 0; sent < total; sent += 1024) limits.accountBytes(1024);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    achieved = static_cast<double>(limits.uploadedBytes()) / ms;
  }
  state.counters["configured_bytes_per_ms"] = settings.rate;
  state.counters["achieved_bytes_per_ms"] = achieved;
  state.counters["deviation_percent"] = (achieved - settings.rate) / settings.rate * 100.0;
}
BENCHMARK(BM_PacedUpload)->Arg(800000)->Arg(8000000)->Arg(80000000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
