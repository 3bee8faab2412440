// Windows text-mode streams over binary files.
#include "text/textstream.h"

namespace text {
namespace {

constexpr int kCtrlZ = 0x1A;
constexpr char kCR = '\r';
constexpr char kLF = '\n';

}  // namespace

TextReader::TextReader(FILE* file) : file_(file) {}

TextReader::~TextReader() {
  if (file_) std::fclose(file_);
}

bool TextReader::Fill() {
  if (!file_ || sawCtrlZ_) return false;
  len_ = std::fread(buf_, 1, sizeof buf_, file_);
  pos_ = 0;
  return len_ > 0;
}

int TextReader::Get() {
  if (sawCtrlZ_ || (pos_ == len_ && !Fill())) {
    atEnd_ = true;
    return EOF;
  }
  auto c = static_cast<unsigned char>(buf_[pos_++]);
  if (raw_) return c;
  if (c == kCtrlZ) {
    sawCtrlZ_ = true;
    atEnd_ = true;
    return EOF;
  }
  if (c == static_cast<unsigned char>(kCR)) {
    // The LF of a CR LF pair may be the first byte of the next block.
    if (pos_ == len_ && !Fill()) return c;
    if (buf_[pos_] == kLF) {
      ++pos_;
      return kLF;
    }
  }
  return c;
}

bool TextReader::ReadLine(std::string& line, size_t maxChars) {
  size_t taken = 0;
  while (taken < maxChars) {
    int c = Get();
    if (c == EOF) break;
    line.push_back(static_cast<char>(c));
    ++taken;
    if (c == kLF) break;
  }
  return taken > 0 || (maxChars == 0 && !atEnd_);
}

bool TextReader::ReadFailed() const {
  return file_ && std::ferror(file_);
}

bool TextReader::DataAfterEndMark() {
  if (!sawCtrlZ_ || !file_) return false;
  for (;;) {
    for (; pos_ < len_; ++pos_)
      if (static_cast<unsigned char>(buf_[pos_]) != kCtrlZ) return true;
    len_ = std::fread(buf_, 1, sizeof buf_, file_);
    pos_ = 0;
    if (len_ == 0) return false;
  }
}

void TextReader::Rewind() {
  if (file_) std::rewind(file_);
  pos_ = len_ = 0;
  atEnd_ = false;
  sawCtrlZ_ = false;
}

TextWriter::TextWriter(FILE* file) : file_(file) {}

TextWriter::~TextWriter() {
  if (file_) std::fclose(file_);
}

bool TextWriter::Write(std::string_view s) {
  if (!file_) return false;
  size_t start = 0;
  while (start <= s.size() && !failed_) {
    size_t lf = s.find(kLF, start);
    size_t end = lf == std::string_view::npos ? s.size() : lf;
    if (end > start && std::fwrite(s.data() + start, 1, end - start, file_) != end - start)
      failed_ = true;
    if (lf == std::string_view::npos) break;
    if (std::fwrite("\r\n", 1, 2, file_) != 2) failed_ = true;
    start = lf + 1;
  }
  return !failed_;
}

bool TextWriter::Close() {
  if (!file_) return false;
  if (std::fflush(file_) != 0) failed_ = true;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

}  // namespace text
