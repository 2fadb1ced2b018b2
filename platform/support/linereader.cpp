#include "platform/support/linereader.h"

namespace kvaro {

LineReader::~LineReader() { Close(); }

bool LineReader::Open(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "rb");
  return file_ != nullptr;
}

void LineReader::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void LineReader::Rewind() {
  if (file_) std::rewind(file_);
}

int LineReader::ReadExtendedString(std::string& line) {
  line.clear();
  if (!file_) return 0;
  int c;
  bool any = false;
  while ((c = std::getc(file_)) != EOF) {
    any = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!any) return 0;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return 1;
}

}  // namespace kvaro
