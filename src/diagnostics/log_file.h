// Appending one entry to a log or report file: open, write, close, one writer at a time.
#pragma once

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qar::diagnostics {

// An input/output failure on a log or report file. what() holds the path and the
// system's text for the error; Code() the system's code (errno / GetLastError).
class EInOutError : public std::runtime_error {
 public:
  EInOutError(const std::string& path, int code, const std::string& systemText);
  int Code() const { return code_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int code_;
};

// A log or report file opened for one entry. Construction waits until no other
// thread of the process has the same path open through a TLogFile, then opens the
// file for appending, creating it when missing; destruction closes it. Nothing is
// kept open between entries, so other processes, editors and log shippers see whole
// files. Compose the entry first and Write it in one piece: another process appending
// at the same time then cannot split it.
//
//   TLogFile file(path);                 // throws EInOutError
//   file.Write(file.Existed() ? separator + entry : entry);
class TLogFile {
 public:
  explicit TLogFile(const std::string& path);
  ~TLogFile();
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  // True when the file was there before this opening.
  bool Existed() const { return existed_; }
  // Appends all of `bytes`; throws EInOutError when the system refuses.
  void Write(std::string_view bytes);

  const std::string& Path() const { return path_; }

 private:
  // The system's side, in log_file_posix.cpp / log_file_win32.cpp. The handle is a
  // file descriptor on POSIX and a HANDLE on Windows; -1 when closed. Paths are ANSI
  // text; POSIX hands them to the system as UTF-8.
  static std::intptr_t OpenNative(const std::string& path, bool& existed);
  static void WriteNative(std::intptr_t handle, const std::string& path, std::string_view bytes);
  static void CloseNative(std::intptr_t handle) noexcept;

  std::string path_;
  std::unique_lock<std::mutex> pathLock_;
  std::intptr_t handle_ = -1;
  bool existed_ = false;
};

// Appends `bytes` to the file at `path` as one entry (see TLogFile).
void AppendToLogFile(const std::string& path, std::string_view bytes);

}  // namespace qar::diagnostics
