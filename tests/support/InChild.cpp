#include "tests/support/InChild.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>

namespace ombrix::testing {

UserIds Nobody() {
  if (const passwd* pw = getpwnam("nobody")) return {pw->pw_uid, pw->pw_gid};
  return {65534, 65534};
}

void HandOverToNobody(const std::string& tree) {
  const UserIds nobody = Nobody();
  lchown(tree.c_str(), nobody.Uid, nobody.Gid);
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(tree, ec))
    lchown(entry.path().c_str(), nobody.Uid, nobody.Gid);
}

namespace {

bool BecomeNobody() {
  const UserIds nobody = Nobody();
  return setgroups(0, nullptr) == 0 && setresgid(nobody.Gid, nobody.Gid, nobody.Gid) == 0 &&
         setresuid(nobody.Uid, nobody.Uid, nobody.Uid) == 0;
}

std::string RunBody(const std::function<std::string()>& body, ChildUser user) {
  if (user == ChildUser::Nobody && geteuid() == 0 && !BecomeNobody())
    return "could not become nobody";
  try {
    return body();
  } catch (const std::exception& e) {
    return e.what();  // the child must never go on to run the tests
  } catch (...) {
    return "the child raised";
  }
}

}  // namespace

Child StartChild(const std::function<std::string()>& body, ChildUser user) {
  platform::os::Pipe report = platform::os::OpenPipe(O_CLOEXEC);
  if (!report.Read) return {};
  std::fflush(nullptr);  // nothing buffered is written twice
  const pid_t pid = fork();
  if (pid == 0) {
    report.Read.Reset();
    const std::string failures = RunBody(body, user);
    [[maybe_unused]] const ssize_t n = write(report.Write.Get(), failures.data(), failures.size());
    _exit(failures.empty() ? 0 : 1);
  }
  if (pid < 0) return {};
  return {pid, std::move(report.Read)};  // the write end closes here: end of file on exit
}

std::string Finish(Child child) {
  if (child.Pid < 0) return "no child";
  std::string failures;
  char buffer[512];
  for (ssize_t n; (n = read(child.Report.Get(), buffer, sizeof buffer)) > 0;)
    failures.append(buffer, n);
  int status = 0;
  while (waitpid(child.Pid, &status, 0) < 0) {
    if (errno != EINTR) return "the child was lost";
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return failures;
  if (failures.empty()) failures = "the child ended with status " + std::to_string(status);
  return failures;
}

std::string InChild(const std::function<std::string()>& body, ChildUser user) {
  return Finish(StartChild(body, user));
}

}  // namespace ombrix::testing
