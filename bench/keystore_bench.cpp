// Key store throughput: value reads and writes per second on a hive file in
// a temporary folder (goals: 200,000 reads/s, 20,000 writes/s).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/keystore.hpp"

namespace {

constexpr const char* kKey = "Software\\Quorvane\\Plexisync\\default\\FolderId0123456789\\mapping";
constexpr int kValues = 1000;

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }
std::string Name(int i) { return "LocalId" + std::to_string(100000 + i); }
std::string CorrId(int i) { return std::string(40, 'C') + std::to_string(10000000 + i); }

// A hive in a fresh temporary folder holding one key with kValues values.
class Hive {
 public:
  Hive() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "keystore-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    dir_ = tmpl;
    store = platform::KeyStore::Open(dir_ / "hive.db");
    store->CreateKey(kKey);
    for (int i = 0; i < kValues; ++i) store->SetValue(kKey, Name(i), platform::kRegSz, Bytes(CorrId(i)));
  }
  ~Hive() {
    store.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::unique_ptr<platform::KeyStore> store;

 private:
  std::filesystem::path dir_;
};

std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (int i = 0; i < kValues; ++i) names.push_back(Name(i));
  return names;
}

void BM_QueryValue(benchmark::State& state) {
  Hive hive;
  const auto names = Names();
  std::size_t i = 0;
  for (auto _ : state) {
    auto v = hive.store->QueryValue(kKey, names[i++ % names.size()]);
    benchmark::DoNotOptimize(v);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueryValue);

// Overwrites existing values (the common case: settings, last-update stamps).
void BM_SetValueOverwrite(benchmark::State& state) {
  Hive hive;
  const auto names = Names();
  const auto data = Bytes("6/15/2026 3:04:05 PM");
  std::size_t i = 0;
  for (auto _ : state) {
    if (!hive.store->SetValue(kKey, names[i++ % names.size()], platform::kRegSz, data)) {
      state.SkipWithError("SetValue failed");
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SetValueOverwrite);

// Creates new values (a growing mapping).
void BM_SetValueNew(benchmark::State& state) {
  Hive hive;
  const auto data = Bytes(CorrId(0));
  int i = 0;
  for (auto _ : state) {
    if (!hive.store->SetValue(kKey, "New" + std::to_string(i++), platform::kRegSz, data)) {
      state.SkipWithError("SetValue failed");
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SetValueNew);

// Walks all value names of the key by index, as a full listing does.
void BM_EnumValueWalk(benchmark::State& state) {
  Hive hive;
  std::size_t n = 0;
  for (auto _ : state) {
    std::size_t i = 0;
    while (auto name = hive.store->EnumValue(kKey, i)) ++i;
    n += i;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(n));
}
BENCHMARK(BM_EnumValueWalk);

void BM_FindValueByData(benchmark::State& state) {
  Hive hive;
  std::vector<std::vector<std::uint8_t>> wanted;
  for (int i = 0; i < kValues; ++i) wanted.push_back(Bytes(CorrId(i)));
  std::size_t i = 0;
  for (auto _ : state) {
    auto name = hive.store->FindValueByData(kKey, platform::kRegSz, wanted[i++ % wanted.size()]);
    benchmark::DoNotOptimize(name);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindValueByData);

}  // namespace
