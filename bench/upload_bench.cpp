// Upload throughput over loopback: one file sent whole as a DIME attachment
// to cachemanager-local (in this process, storing to disk), over HTTP and
// HTTPS, against a plain socket copy of the same bytes (discarded, and
// written to a file like the service does). Size in MiB as the argument.
// And a small file's cost: its three calls against three bare exchanges
// of the same sizes on a plain socket, the floor of any protocol that
// waits for each answer.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "platform/env.h"
#include "platform/process.h"
#include "platform/testing/tcp.h"
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

// One small file as velkan sends it: created, its content attached from
// memory, finalized (durable before the answer), each call answered before
// the next. Every file has a content of its own, so none is deduplicated.
constexpr int kSmallFiles = 2000;
constexpr size_t kSmallFileBytes = 4096;

// Shared by the benchmark's threads, each a session of its own (as the
// agent's upload sessions are): made by the first thread before the timed
// loop, which every thread enters together.
std::unique_ptr<testsupport::RunningService> smallFileService;

void BM_SmallFileUpload(benchmark::State& state) {
  ZR::CLogManager::initialize("bench");
  if (state.thread_index() == 0) smallFileService = std::make_unique<testsupport::RunningService>();
  std::unique_ptr<velkan::CSoapSession> session;
  std::string key;
  std::string content(kSmallFileBytes, 'x');
  int64_t n = 0;
  for (auto _ : state) {
    if (!session) {
      session = std::make_unique<velkan::CSoapSession>(smallFileService->server(), velkan::ServiceOptions{},
                                                       *ZR::CLogManager::instance());
      key = session->login("agent");
    }
    std::string name = std::to_string(state.thread_index()) + "-" + std::to_string(n++);
    std::string path = "c:\\small\\f" + name + ".txt";
    content.replace(0, name.size(), name);
    session->createFile(key, path, "");
    std::string attached = session->writeMemoryAttachment(key, path, content, key);
    std::string finalized = session->finalizeFile(key, path);
    if (attached != "-2" || finalized != "-2") state.SkipWithError(("answered " + attached + ", " + finalized).c_str());
  }
  session.reset();
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) smallFileService.reset();
}

// The same three exchanges on a plain socket: requests of about the sizes
// of those calls (the second with the content), each answered with about
// an answer's size by a peer that reads the request whole first.
constexpr size_t kCallBytes = 700, kAnswerBytes = 450;

bool readExactly(platform::TcpStream& stream, char* into, size_t length) {
  for (size_t got = 0; got < length;) {
    int64_t n = stream.read(into + got, length - got);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

void answerFramedRequests(platform::TcpStream& stream) {
  std::vector<char> buffer(kCallBytes + kSmallFileBytes);
  for (uint32_t length = 0; readExactly(stream, reinterpret_cast<char*>(&length), sizeof length);) {
    if (length > buffer.size() || !readExactly(stream, buffer.data(), length)) return;
    if (!stream.writeAll(buffer.data(), kAnswerBytes)) return;
  }
}

void BM_RawSocketThreeRoundTrips(benchmark::State& state) {
  platform::TcpListener listener;
  listener.listen("127.0.0.1");
  std::thread peer([&] {
    if (auto stream = listener.accept(10000)) answerFramedRequests(*stream);
  });
  auto stream = platform::TcpStream::connect("127.0.0.1", listener.port());
  std::vector<char> request(sizeof(uint32_t) + kCallBytes + kSmallFileBytes, 'x');
  std::vector<char> answer(kAnswerBytes);
  for (auto _ : state) {
    for (uint32_t length : {kCallBytes, kCallBytes + kSmallFileBytes, kCallBytes}) {
      std::memcpy(request.data(), &length, sizeof length);
      if (!stream->writeAll(request.data(), sizeof length + length) ||
          !readExactly(*stream, answer.data(), answer.size())) {
        state.SkipWithError("the exchange broke off");
        break;
      }
    }
  }
  stream->shutdownWrite();
  peer.join();
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_RawSocketCopy)->Arg(1024)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSocketCopyToFile)->Arg(1024)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UploadHttp)->Arg(1024)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UploadHttps)->Arg(1024)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSocketThreeRoundTrips)->Iterations(kSmallFiles)->Unit(benchmark::kMicrosecond);
// Eight connections at once, as the agent's eight upload sessions: the
// floor of the files per second of a machine's cores.
BENCHMARK(BM_RawSocketThreeRoundTrips)
    ->Iterations(kSmallFiles)
    ->Threads(8)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SmallFileUpload)->Iterations(kSmallFiles)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SmallFileUpload)->Iterations(kSmallFiles)->Threads(8)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
