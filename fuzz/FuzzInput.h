// Reading a fuzz input as a sequence of choices and byte strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

class TInput {
 public:
  TInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  std::uint8_t Byte() { return Empty() ? 0 : data_[pos_++]; }
  bool Bool() { return (Byte() & 1) != 0; }
  // A number from 0 to limit (inclusive).
  std::size_t Upto(std::size_t limit) {
    const std::uint16_t raw = static_cast<std::uint16_t>(Byte() | (Byte() << 8));
    return limit == 0 ? 0 : raw % (limit + 1);
  }
  // A string of at most max bytes, its length taken from the input.
  std::string Text(std::size_t max) {
    const std::size_t length = Upto(max);
    std::string text;
    for (std::size_t i = 0; i < length && !Empty(); ++i) text += static_cast<char>(Byte());
    return text;
  }
  // Whatever is left.
  std::string Rest() {
    std::string text(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
    pos_ = size_;
    return text;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace fuzz

// A broken promise is a crash that libFuzzer reports with its input.
#define FUZZ_CHECK(cond)                                                                 \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      std::fprintf(stderr, "promise broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)
