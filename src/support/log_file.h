#pragma once
// The engine's text log: created anew or appended to, with insertion of lines
// at a line position while the rest of the file is kept.
#include <cstdio>
#include <string>

namespace vx {

class TLogFile {
 public:
  enum State : unsigned char { Closed = 0, CreatedNew = 1, Appending = 2, Inserting = 3 };

  explicit TLogFile(std::string fileName);
  ~TLogFile();  // closes; while inserting, moves the remaining old lines back
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  void CreateNew();
  void OpenAppend();
  void InsertAt(int lineNo);
  void WriteLine(const std::string& text);
  int LineCount() const;  // -1 while closed
  void Close();           // what the destructor does, but may throw
  State state() const { return state_; }
  const std::string& fileName() const { return fileName_; }

 private:
  std::string fileName_;
  State state_ = Closed;
  std::FILE* log_ = nullptr;
  std::FILE* copy_ = nullptr;
  std::string copyPath_;

  void MovePendingLines();  // state 3: the rest of the copy back into the log
  void DropCopy();          // closes and removes the private copy
};

}  // namespace vx
