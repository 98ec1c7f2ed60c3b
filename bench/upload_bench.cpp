// Upload throughput over loopback: one file sent whole as a DIME attachment
// to cachemanager-local (in this process, storing to disk), over HTTP and
// HTTPS, against a plain socket copy of the same bytes (discarded, and
// written to a file like the service does). Size in MiB as the argument.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "platform/env.h"
#include "platform/testing/tcp.h"
#include "platform/process.h"
#include "service/soap_session.h"
#include "tests/local_service_fixture.h"
#include "tests/tls_material.h"

namespace {

const std::string& benchFolder() {
  static testsupport::TempDir dir;
  return dir.path();
}

std::string fileOf(int64_t mebibytes) {
  std::string path = benchFolder() + "/upload-" + std::to_string(mebibytes) + ".bin";
  if (platform::env()->fileExists(path)) return path;
  std::unique_ptr<platform::WritableFile> out;
  if (!platform::env()->openWritable(path, &out)) return path;
  std::string block(1 << 20, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131);
  for (int64_t i = 0; i < mebibytes; ++i) out->append(block.data(), block.size());
  out->close();
  return path;
}

void upload(benchmark::State& state, bool tls) {
  ZR::CLogManager::initialize("bench");
  int64_t mebibytes = state.range(0);
  std::string path = fileOf(mebibytes);
  localservice::ServiceConfig config;
  velkan::ServiceOptions options;
  std::string scheme = "";
  if (tls) {
    static testsupport::TlsMaterial material = testsupport::makeTlsMaterial(benchFolder());
    config.tlsCertificate = material.serverCertificate;
    config.tlsKey = material.serverKey;
    options.caDirectory = material.caFolder;
  }
  testsupport::RunningService service(config);
  std::string server = tls ? "https://localhost:" + std::to_string(service.port()) : service.server();
  velkan::CSoapSession session(server, options, *ZR::CLogManager::instance());
  std::string key = session.login("agent");
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    session.createFile(key, "c:\\bench.bin", "");
    std::string answer = session.writeFileAttachment(key, "c:\\bench.bin", std::make_unique<ZR::CFile>(path, "r"), key);
    if (answer != "-2") state.SkipWithError(("upload answered " + answer).c_str());
    session.finalizeFile(key, "c:\\bench.bin");
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.SetBytesProcessed(state.iterations() * (mebibytes << 20));
}

void BM_UploadHttp(benchmark::State& state) { upload(state, false); }
void BM_UploadHttps(benchmark::State& state) { upload(state, true); }

// The same bytes through a plain socket; the receiver discards them, or
// stores them in a file as the service does.
void rawCopy(benchmark::State& state, bool store) {
  int64_t mebibytes = state.range(0);
  std::string path = fileOf(mebibytes);
  for (auto _ : state) {
    platform::TcpListener listener;
    listener.listen("127.0.0.1");
    std::thread receiver([&] {
      auto stream = listener.accept(10000);
      std::unique_ptr<platform::WritableFile> out;
      if (store) platform::env()->openWritable(benchFolder() + "/received.bin", &out);
      std::vector<char> buffer(1 << 16);
      for (int64_t n; (n = stream->read(buffer.data(), buffer.size())) > 0;) {
        if (out) out->append(buffer.data(), static_cast<size_t>(n));
      }
      if (out) out->close();
    });
    auto start = std::chrono::steady_clock::now();
    auto stream = platform::TcpStream::connect("127.0.0.1", listener.port());
    std::unique_ptr<platform::ReadableFile> in;
    platform::env()->openReadable(path, &in);
    std::vector<char> buffer(1 << 16);
    for (int64_t n; (n = in->read(buffer.data(), buffer.size())) > 0;) stream->writeAll(buffer.data(), static_cast<size_t>(n));
    stream->shutdownWrite();
    receiver.join();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.SetBytesProcessed(state.iterations() * (mebibytes << 20));
}

void BM_RawSocketCopy(benchmark::State& state) { rawCopy(state, false); }
void BM_RawSocketCopyToFile(benchmark::State& state) { rawCopy(state, true); }

BENCHMARK(BM_RawSocketCopy)->Arg(1024)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSocketCopyToFile)->Arg(1024)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UploadHttp)->Arg(1024)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UploadHttps)->Arg(1024)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
