#include <windows.h>

#include <algorithm>
#include <string>
#include <system_error>

#include "base/atomic_file.h"
#include "base/atomic_file_steps.h"

namespace quillon {
namespace {

std::string Reason(DWORD error) {
  return "error " + std::to_string(error) + " (" +
         std::system_category().message(static_cast<int>(error)) + ")";
}

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (valid()) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

namespace atomic_file_steps {

FileRead Read(const std::filesystem::path& file, std::string& bytes, std::string& why) {
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileRead::kMissing;
    why = Reason(error);
    return FileRead::kFailed;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = "a folder, not a file";
    return FileRead::kFailed;
  }
  FileHandle in(CreateFileW(file.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in.valid()) {
    why = Reason(GetLastError());
    return FileRead::kFailed;
  }
  if (GetFileType(in.get()) != FILE_TYPE_DISK) {
    why = "not a regular file";
    return FileRead::kFailed;
  }
  char buffer[16384];
  for (;;) {
    DWORD count = 0;
    if (!ReadFile(in.get(), buffer, sizeof buffer, &count, nullptr)) {
      why = Reason(GetLastError());
      break;
    }
    if (count == 0) return FileRead::kRead;
    bytes.append(buffer, count);
  }
  return FileRead::kFailed;
}

bool MayWrite(const std::filesystem::path& file, std::string& why) {
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return true;
    why = Reason(error);
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    why = "the file is read-only";
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;  // the rename says no
  // Opening for writing asks the file's security, as WritePrivateProfileString's own open would;
  // nothing is written.
  FileHandle probe(CreateFileW(file.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!probe.valid()) {
    why = Reason(GetLastError());
    return false;
  }
  return true;
}

bool CreateFlushed(const std::filesystem::path& temporary, std::string_view bytes,
                   const std::filesystem::path& /*like: Windows keeps no permission bits*/,
                   std::string& why) {
  DWORD error = ERROR_SUCCESS;
  {
    FileHandle out(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.valid()) {
      why = Reason(GetLastError());
      return false;
    }
    while (error == ERROR_SUCCESS && !bytes.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
      DWORD count = 0;
      if (!WriteFile(out.get(), bytes.data(), chunk, &count, nullptr)) error = GetLastError();
      bytes.remove_prefix(count);
    }
    if (error == ERROR_SUCCESS && !FlushFileBuffers(out.get())) error = GetLastError();
  }
  if (error == ERROR_SUCCESS) return true;
  why = Reason(error);
  DeleteFileW(temporary.c_str());
  return false;
}

bool RenameFlushed(const std::filesystem::path& from, const std::filesystem::path& to,
                   std::string& why) {
  // Write-through: the call returns when the rename is on the disk.
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  why = Reason(GetLastError());
  return false;
}

}  // namespace atomic_file_steps
}  // namespace quillon
