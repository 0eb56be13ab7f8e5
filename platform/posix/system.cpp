#include "platform/system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace afp {

bool StartDetached(const std::string& program, const std::vector<std::string>& args, const std::string& workdir) {
  std::vector<const char*> argv{program.c_str()};
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  // The child starts a session of its own and forks again: the grandchild
  // runs the program, and the child, waited for here, leaves no zombie.
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::setsid();
    if (::fork() != 0) ::_exit(0);
    if (!workdir.empty() && ::chdir(workdir.c_str()) != 0) ::_exit(127);
    const int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, 0);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
    }
    ::execvp(argv[0], const_cast<char* const*>(argv.data()));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::FILE* CreateTempFile(const std::string& prefix, std::string& path) {
  path = prefix + "XXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    ::close(fd);
    ::unlink(path.c_str());
  }
  return f;
}

bool MakeExecutable(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && ::chmod(path.c_str(), st.st_mode | S_IXUSR) == 0;
}

}  // namespace afp
