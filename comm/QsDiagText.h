// Text pieces shared by the trace file and the dispatch log file: rendered data bytes, the time
// column, the heading lines, and a small text file writer that reports the system's error code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// A data byte as the files show it: itself when printable, else bracketed (decimal, or two
// upper-case hex digits in hex mode); always bracketed hex with allHex. In hex mode the space is
// shown as [20] too.
std::string RenderDataByte(std::uint8_t b, bool hexMode, bool allHex);

// Milliseconds as seconds with three decimals and at least seven digits: 1234 -> "0001.234".
std::string LogTimeText(std::uint32_t milliseconds);

// The compiler that built the program, for the log heading.
std::string CompilerDescription();

// Line end of both files.
inline constexpr const char* kDiagLineEnd = "\r\n";

// A text file written through one buffer; every failure keeps the first system error code.
class TDiagTextFile {
 public:
  TDiagTextFile() = default;
  ~TDiagTextFile();
  TDiagTextFile(const TDiagTextFile&) = delete;
  TDiagTextFile& operator=(const TDiagTextFile&) = delete;

  // Opens for appending (when asked and the file exists) or replaces the file; 0 or -errno.
  int Open(const std::string& fileName, bool append);
  void Write(const std::string& text);
  void EndLine() { Write(kDiagLineEnd); }
  // Closes the file; 0, or the negated first error of writing or closing.
  int Close();

 private:
  std::FILE* file_ = nullptr;
  int error_ = 0;
};
