#include "platform/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Exception.h"

namespace driftpost {

namespace {

bool WriteAll(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t put = ::write(fd, content.data() + done, content.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// A symbolic link stays a link: the file it points to is the one replaced.
std::string ResolveTarget(const std::string& fileName) {
  struct stat info;
  if (::lstat(fileName.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(fileName.c_str(), resolved)) return resolved;
  }
  return fileName;
}

// The folder part of a file-system path, with its trailing '/'; only '/' separates here,
// since a file name on this platform may contain '\' and ':'.
std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

void WriteFileAtomically(const std::string& fileName, const std::string& content) {
  const std::string target = ResolveTarget(fileName);
  const std::string folder = FolderOf(target);
  std::string temporary = folder + "." + target.substr(folder.size()) + ".XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) throw EFCreateError::ForFile(fileName);

  // Keep the permissions of the file being replaced; a new file gets the usual ones.
  struct stat info;
  mode_t mode = 0666;
  if (::stat(target.c_str(), &info) == 0) {
    mode = info.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode &= ~mask;
  }
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    throw EFCreateError::ForFile(fileName);
  }
  // Make the rename itself durable.
  int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

}  // namespace driftpost
