// Windows text-mode streams, the same on every platform.
//
// Reading: a CR LF pair is delivered as LF, and a byte 0x1A ends the data.
// Writing: LF is written as CR LF. Files themselves are opened in binary
// through crt::fopen; these classes own the translation, not the C runtime.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace text {

class TextReader {
 public:
  // Takes ownership of `file` (closed by the destructor); null is allowed and
  // reads as an empty stream.
  explicit TextReader(FILE* file);
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // Next byte after translation, or EOF at the end of the data (also after a
  // read error).
  int Get();
  // Like fgets: appends to `line` up to and including the next LF, but at most
  // `maxChars` bytes. False when nothing at all could be read (end of data).
  bool ReadLine(std::string& line, size_t maxChars);
  // True once a read has hit the end of the data (feof of the translated stream).
  bool AtEnd() const { return atEnd_; }
  // True when a read of the file failed (not merely reached its end).
  bool ReadFailed() const;
  // After the data has ended at a byte 0x1A: whether the file holds anything
  // after it but more 0x1A bytes (what an old editor pads a file with). Reads
  // on to find out; the stream is at its end either way.
  bool DataAfterEndMark();
  // Back to the first byte of the file.
  void Rewind();
  // From here on, deliver the bytes as stored: no CR LF pair, no 0x1A end.
  // The bytes of a UTF-16 file are halves of code units, not text: a 0x1A or
  // a CR LF pair among them is part of a character (U+041A, U+4E1A, ...).
  void SetRaw(bool raw) { raw_ = raw; }

 private:
  bool Fill();
  FILE* file_;
  char buf_[65536];
  size_t pos_ = 0;
  size_t len_ = 0;
  bool atEnd_ = false;     // a read has hit the end of the data
  bool sawCtrlZ_ = false;  // 0x1A seen: nothing after it is data
  bool raw_ = false;       // bytes as stored, no text-stream rules
};

class TextWriter {
 public:
  explicit TextWriter(FILE* file);  // takes ownership
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // Writes `s` with each LF as CR LF. False once any write has failed.
  bool Write(std::string_view s);
  // Flushes and closes; false when anything failed (also an earlier Write).
  bool Close();

 private:
  FILE* file_;
  bool failed_ = false;
};

}  // namespace text
