// The server's local socket; see local_socket.h. libcups binds a domain
// socket with every permission bit set, and a client that connects before
// the mode is narrowed stays connected, so the socket is bound inside a
// folder only this user can enter, narrowed there, and then renamed into
// place: a rename keeps the bound socket, and the old file at `path` (a
// stale socket, or the link the system service's package puts at
// /run/NAME.sock) is replaced at once.
#include "app/local_socket.h"

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

std::string localSocketPath(const char* programName) {
  if (getuid() == 0) return std::string("/run/") + programName + ".sock";
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + programName +
         std::to_string(getuid()) + ".sock";
}

std::vector<std::string> serverSocketPaths(const char* programName) {
  std::vector<std::string> paths{localSocketPath(programName)};
  if (getuid() != 0) paths.push_back(std::string("/run/") + programName + ".sock");
  return paths;
}

bool serverAnswersAt(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool answers = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return answers;
}

namespace {

// Narrows the socket at `path` to this user, or to this user and `group`.
bool narrowSocket(const std::string& path, const std::string& group, std::string& why) {
  mode_t mode = S_IRWXU;
  if (const struct group* entry = group.empty() ? nullptr : getgrnam(group.c_str())) {
    if (chown(path.c_str(), static_cast<uid_t>(-1), entry->gr_gid) == 0) mode |= S_IRWXG;
  }
  if (chmod(path.c_str(), mode) != 0) {
    why = "cannot set the mode of " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

bool listenOnLocalSocket(pappl_system_t* system, const std::string& path, const std::string& adminGroup,
                         ino_t& inode, std::string& why) {
  std::string folder = path + ".XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) {
    why = "cannot make a folder beside " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string bound = folder + "/s";
  bool listening = papplSystemAddListeners(system, bound.c_str());
  struct stat info {};
  bool placed = listening && narrowSocket(bound, adminGroup, why) && stat(bound.c_str(), &info) == 0 &&
                rename(bound.c_str(), path.c_str()) == 0;
  if (listening && !placed && why.empty()) why = "cannot put the socket at " + path + ": " + std::strerror(errno);
  if (!listening) why = "cannot listen on a socket beside " + path + " (see the log)";
  unlink(bound.c_str());
  rmdir(folder.c_str());
  inode = info.st_ino;
  return placed;
}

void removeLocalSocket(const std::string& path, ino_t inode) {
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_ino == inode) unlink(path.c_str());
}
