// Module file names and the temporary directory.
#pragma once

#include <filesystem>
#include <string>

namespace qar::platform {

// The separator of the platform's paths.
#ifdef _WIN32
inline constexpr char kPathDelim = '\\';
#else
inline constexpr char kPathDelim = '/';
#endif

// Full file name of the running executable (ANSI).
std::string ExecutableFileName();

// Full file name of the module (executable or shared library) whose code or data
// holds `address`: pass a function, or an object of a class defined in a library.
std::string ModuleFileNameOf(const void* address);

// The system's temporary directory, ending with kPathDelim.
std::string TempDirectory();

// True when `ansiDir` is a directory in which this process may create files.
// POSIX: the permissions as the process's effective user and groups see them.
// Windows: a file is created there and deleted at once.
bool CanWriteInDirectory(const std::string& ansiDir);

// The directory part of a path including its trailing separator ("C:\\a\\" of
// "C:\\a\\b.exe"); both separators are recognised on every platform.
std::string ExtractFilePath(const std::string& path);
// The directory part without the trailing separator ("C:\\a").
std::string ExtractFileDir(const std::string& path);
// The file-name part ("b.exe").
std::string ExtractFileName(const std::string& path);

// An ANSI path as the file system wants it (POSIX: UTF-8 bytes; Windows: UTF-16).
std::filesystem::path ToNativePath(const std::string& ansiPath);
// The inverse: a native path as ANSI text.
std::string FromNativePath(const std::filesystem::path& path);

}  // namespace qar::platform
