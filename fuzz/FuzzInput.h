// Reading a fuzz input as a sequence of choices and byte strings.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

class TInput {
 public:
  TInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  std::size_t Left() const { return Empty() ? 0 : size_ - pos_; }
  std::uint8_t Byte() { return Empty() ? 0 : data_[pos_++]; }
  bool Bool() { return (Byte() & 1) != 0; }
  // A number from 0 to limit (inclusive).
  std::size_t Upto(std::size_t limit) {
    const std::uint16_t raw = static_cast<std::uint16_t>(Byte() | (Byte() << 8));
    return limit == 0 ? 0 : raw % (limit + 1);
  }
  // A string of at most max bytes, its length taken from the input.
  // Copied in one piece: a copy byte by byte runs the coverage hooks at every byte.
  std::string Text(std::size_t max) {
    const std::size_t wanted = Upto(max);  // read before what is left is counted
    const std::size_t length = std::min(wanted, Left());
    std::string text(reinterpret_cast<const char*>(data_ + pos_), length);
    pos_ += length;
    return text;
  }
  // Whatever is left.
  std::string Rest() {
    std::string text(reinterpret_cast<const char*>(data_ + pos_), Left());
    pos_ = size_;
    return text;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Whether s is well-formed UTF-8 (shortest forms, no surrogates, nothing past U+10FFFF).
inline bool ValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t n;
    std::uint32_t code;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 1, code = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2, code = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3, code = c & 0x07u;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      code = code << 6 | (b & 0x3Fu);
    }
    if (n == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) return false;
    if (n == 3 && (code < 0x10000 || code > 0x10FFFF)) return false;
    i += n + 1;
  }
  return true;
}

// Makes the target's own limit the fuzzer's longest input, whatever the command line says: a
// target turns longer inputs away at once, and a fuzzer left to make them spends executions (and
// counts them) on inputs that test nothing. Called from LLVMFuzzerInitialize, which runs before
// the fuzzer reads its flags; the last -max_len given wins. Targets use FUZZ_LONGEST_INPUT below.
inline void LimitLength(int* argc, char*** argv, std::size_t longest) {
  static std::string flag;
  static std::vector<char*> args;
  flag = "-max_len=" + std::to_string(longest);
  args.assign(*argv, *argv + *argc);
  args.push_back(flag.data());
  args.push_back(nullptr);
  *argv = args.data();
  *argc = static_cast<int>(args.size()) - 1;
}

}  // namespace fuzz

// A broken promise is a crash that libFuzzer reports with its input.
#define FUZZ_CHECK(cond)                                                                 \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      std::fprintf(stderr, "promise broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// Declares the target's longest input, kLongestInput, and tells the fuzzer (see LimitLength).
#define FUZZ_LONGEST_INPUT(n)                                   \
  constexpr std::size_t kLongestInput = (n);                    \
  extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) { \
    fuzz::LimitLength(argc, argv, kLongestInput);                \
    return 0;                                                    \
  }                                                              \
  static_assert(true, "ends the macro with a semicolon")
