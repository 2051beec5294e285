#pragma once
// A raised error of the add-in's own classes: a number, a description and
// the raising source, as the classic platform's error object carried them.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace plexisync {

class AddinError : public std::runtime_error {
 public:
  AddinError(std::int32_t number, const std::string& description, std::string source = "Plexisync")
      : std::runtime_error(description), number_(number), source_(std::move(source)) {}
  std::int32_t Number() const { return number_; }
  const std::string& Source() const { return source_; }

 private:
  std::int32_t number_;
  std::string source_;
};

}  // namespace plexisync
