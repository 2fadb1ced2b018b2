#pragma once

#include <cstdio>
#include <string>

namespace kvaro {

// Reads a text file line by line (the logical-line reader). Lines end at "\n"; a "\r"
// before it is dropped as well, so files with CR LF line ends read the same. Lines of
// any length are read whole.
class LineReader {
 public:
  LineReader() = default;
  explicit LineReader(const std::string& path) { Open(path); }
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  bool Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  void Close();
  // Back to the first line.
  void Rewind();
  // Reads the next line without its line end into `line`; 1 when a line was read,
  // 0 at the end of the file (or when no file is open).
  int ReadExtendedString(std::string& line);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace kvaro
