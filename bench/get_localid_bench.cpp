// Get_LocalID over a 5,000-entry mapping: 5,000 lookups (one per arrived
// contact, as a full import does) per iteration; goal 200,000 lookups a
// second (25 ms per iteration). The setup checks that every answer is the
// linear search's answer and aborts the run when one is not.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/keystore.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/sharing_db.hpp"
#include "support/manual_clock.hpp"
#include "support/scripted_user.hpp"

namespace {

using namespace plexisync;

constexpr int kEntries = 5000;
constexpr const char* kFolder = "0000000012AB34CD56EF7890A1B2C3D4E5F60718293A4B5C";

std::string Hex48(std::mt19937_64& random) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "00000000";
  while (s.size() < 48) s += digits[random() % 16];
  return s;
}

// A profile hive in a fresh temporary folder with a folder's mapping of
// kEntries contacts: most arrived with a CorrID of their own, some were made
// here (identity entries), a few CorrIDs are mapped twice.
class Mapping {
 public:
  Mapping() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "localid-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    dir_ = tmpl;
    hive_ = platform::KeyStore::Open(dir_ / "registry.db", platform::KeyStore::Sharing::kSoleUser);
    ctx = std::make_unique<Context>(AddinServices{user_, clock_, zone_, [this](std::int32_t root) {
                                                    return root == HKEY_CURRENT_USER ? hive_.get() : nullptr;
                                                  }});
    ctx->Reg = std::make_unique<CRegistry>(ctx->svc.hives);
    ctx->Reg->Init(HKEY_CURRENT_USER);
    ctx->RegKey = "Software\\Quorvane\\Plexisync\\default\\";

    std::mt19937_64 random(5000);
    for (int i = 0; i < kEntries; ++i) {
      const std::string local = Hex48(random);
      std::string corr = i % 10 == 0 ? local : Hex48(random);
      if (i % 97 == 0 && !queries.empty()) corr = queries[random() % queries.size()];
      Set_CorrID(*ctx, kFolder, local, corr);
      queries.push_back(corr);
    }
    // Lookups of contacts the folder does not hold.
    for (int i = 0; i < 50; ++i) queries[random() % queries.size()] = Hex48(random);
    std::shuffle(queries.begin(), queries.end(), random);
  }
  ~Mapping() {
    ctx.reset();
    hive_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Every lookup against the linear search's answers: one pass over the
  // mapping in list order keeps the first local id of each CorrID, which is
  // what the linear search returns for it; a sample of lookups also runs
  // the linear search itself.
  bool AnswersMatchTheLinearSearch() {
    const std::string key = MappingKeyPath(*ctx, kFolder);
    std::map<std::string, std::string> first;
    for (const auto& name : ctx->reg().GetAllValueNames(key)) {
      first.emplace(ctx->reg().GetString(key, name, ""), name);
    }
    for (std::size_t i = 0; i < queries.size(); ++i) {
      const auto it = first.find(queries[i]);
      const std::string expected = it == first.end() ? std::string() : it->second;
      const std::string got = Get_LocalID(*ctx, kFolder, queries[i]);
      if (got != expected || (i % 500 == 0 && Get_LocalID_Linear(*ctx, kFolder, queries[i]) != got)) {
        std::fprintf(stderr, "Get_LocalID(%s) gave \"%s\", the linear search \"%s\"\n", queries[i].c_str(),
                     got.c_str(), expected.c_str());
        return false;
      }
    }
    return true;
  }

  std::unique_ptr<Context> ctx;
  std::vector<std::string> queries;

 private:
  std::filesystem::path dir_;
  platform::ManualClock clock_;
  platform::FixedTimeZone zone_{0};
  platform::ScriptedUser user_;
  std::unique_ptr<platform::KeyStore> hive_;
};

void BM_GetLocalID_5000x5000(benchmark::State& state) {
  Mapping mapping;
  if (!mapping.AnswersMatchTheLinearSearch()) {
    state.SkipWithError("Get_LocalID differs from the linear search");
    return;
  }
  std::size_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (const auto& corrId : mapping.queries) {
      auto local = Get_LocalID(*mapping.ctx, kFolder, corrId);
      found += local.empty() ? 0 : 1;
      benchmark::DoNotOptimize(local);
    }
  }
  state.counters["found"] = static_cast<double>(found);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mapping.queries.size()));
}
BENCHMARK(BM_GetLocalID_5000x5000)->Unit(benchmark::kMillisecond);

}  // namespace
