#pragma once
// Failure injection for tests: chosen host operations throw HostError
// ("Injected failure: <operation>") instead of running, so that callers can
// be shown to handle every failure. Operations are named "Class.Method"
// ("Items.Restrict", "ContactItem.Save"); creating a safe object is
// "CreateObject:<ProgID>".
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace host {

class FaultInjector {
 public:
  FaultInjector() = default;
  // Not copied: it keeps a pointer into its own table.
  FaultInjector(const FaultInjector&) = delete;
  FaultInjector& operator=(const FaultInjector&) = delete;

  // Every call of the operation fails from now on.
  void FailEvery(std::string_view operation);
  // Only the n-th call (1-based) of the operation from now on fails.
  void FailNth(std::string_view operation, std::uint64_t n);
  // Only the n-th host call from now on, whatever its operation, fails.
  void FailNthCall(std::uint64_t n);
  // Forgets every armed failure (counts go on).
  void Clear();

  // Host calls checked so far, and of one operation.
  std::uint64_t TotalCalls() const { return total_; }
  std::uint64_t Calls(std::string_view operation) const;
  // When on, the names of checked calls are kept (for finding the
  // operations a piece of code uses).
  void SetRecording(bool on) { recording_ = on; }
  const std::vector<std::string>& Recorded() const { return recorded_; }
  // Failures thrown so far.
  std::uint64_t Injected() const { return injected_; }

  // Called by each host operation before it runs; throws HostError when
  // the call is to fail.
  void Check(std::string_view operation);

 private:
  std::uint64_t total_ = 0;
  std::uint64_t injected_ = 0;
  // Checked on every host call: hashed, and looked up without a copy of the
  // name.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, std::uint64_t, NameHash, std::equal_to<>> calls_;
  std::pair<const std::string, std::uint64_t>* last_ = nullptr;  // the element of the last operation checked
  std::set<std::string, std::less<>> every_;
  // operation -> absolute call count of that operation that fails
  std::map<std::string, std::uint64_t, std::less<>> nth_;
  std::uint64_t nthCall_ = 0;  // absolute total that fails, 0 = none
  bool recording_ = false;
  std::vector<std::string> recorded_;
};

}  // namespace host
