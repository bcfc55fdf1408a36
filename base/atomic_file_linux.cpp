#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "base/atomic_file.h"
#include "base/atomic_file_steps.h"

namespace quillon {
namespace {

std::string Reason(int error) {
  return std::system_category().message(error);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now; close reports a write that failed late (on some network file systems).
  bool Close() { return close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_;
};

}  // namespace

namespace atomic_file_steps {

FileRead Read(const std::filesystem::path& file, std::string& bytes, std::string& why) {
  // Not blocking: a named pipe of that name is refused below instead of waiting for a writer.
  FileDescriptor in(open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (in.get() < 0) {
    if (errno == ENOENT) return FileRead::kMissing;
    why = Reason(errno);
    return FileRead::kFailed;
  }
  struct stat info;
  if (fstat(in.get(), &info) != 0) {
    why = Reason(errno);
    return FileRead::kFailed;
  }
  if (!S_ISREG(info.st_mode)) {
    why = S_ISDIR(info.st_mode) ? Reason(EISDIR) : "not a regular file";
    return FileRead::kFailed;
  }
  char buffer[16384];
  for (;;) {
    const ssize_t count = read(in.get(), buffer, sizeof buffer);
    if (count == 0) return FileRead::kRead;
    if (count > 0) {
      bytes.append(buffer, static_cast<std::size_t>(count));
    } else if (errno != EINTR) {
      why = Reason(errno);
      break;
    }
  }
  return FileRead::kFailed;
}

bool MayWrite(const std::filesystem::path& file, std::string& why) {
  struct stat info;
  if (stat(file.c_str(), &info) != 0) {
    if (errno == ENOENT) return true;
    why = Reason(errno);
    return false;
  }
  // Root may write any file, but a file without a single write bit was made read-only on purpose.
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    why = "the file is read-only";
    return false;
  }
  if (faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0) {
    why = Reason(errno);
    return false;
  }
  return true;
}

bool CreateFlushed(const std::filesystem::path& temporary, std::string_view bytes,
                   const std::filesystem::path& like, std::string& why) {
  FileDescriptor out(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (out.get() < 0) {
    why = Reason(errno);
    return false;
  }
  struct stat old;
  if (stat(like.c_str(), &old) == 0) fchmod(out.get(), old.st_mode & 07777);
  int error = 0;
  while (error == 0 && !bytes.empty()) {
    const ssize_t count = write(out.get(), bytes.data(), bytes.size());
    if (count >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(count));
    } else if (errno != EINTR) {
      error = errno;
    }
  }
  if (error == 0 && fsync(out.get()) != 0) error = errno;
  if (!out.Close() && error == 0) error = errno;
  if (error == 0) return true;
  why = Reason(error);
  unlink(temporary.c_str());
  return false;
}

bool RenameFlushed(const std::filesystem::path& from, const std::filesystem::path& to,
                   std::string& why) {
  if (rename(from.c_str(), to.c_str()) != 0) {
    why = Reason(errno);
    return false;
  }
  // The new name is in the folder; the folder's own blocks make it last.
  const std::filesystem::path folder = to.has_parent_path() ? to.parent_path() : ".";
  FileDescriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() >= 0) fsync(directory.get());
  return true;
}

}  // namespace atomic_file_steps
}  // namespace quillon
