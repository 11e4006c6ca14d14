// Shared by the networking tests: temporary homes with driver modules,
// open descriptors, the calling thread's exception text.
#ifndef VANTREL_TESTS_NET_NET_TEST_SUPPORT_H
#define VANTREL_TESTS_NET_NET_TEST_SUPPORT_H

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "vantrel/vexcept.h"
#include "vantrel/vthread.h"

namespace vtest {

namespace fs = std::filesystem;

// The staged driver modules' directory.
inline std::string StagedModule(const std::string &name) {
  return std::string(VTEST_STAGE_DIR) + "/platform/linux/module/network/" +
         name + ".so";
}

// A temporary directory, removed with everything in it.
class TempHome {
 public:
  TempHome() {
    char pattern[] = "/tmp/vnettest.XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempHome() { fs::remove_all(path_); }
  const std::string &path() const { return path_; }
  // <path>/platform/linux/module/network, made on demand.
  std::string NetworkDir() const {
    std::string dir = path_ + "/platform/linux/module/network";
    fs::create_directories(dir);
    return dir;
  }
  // Places the module file `from` as driver `name` of this home.
  void Install(const std::string &from, const std::string &name) const {
    fs::copy_file(from, NetworkDir() + "/" + name + ".so");
  }

 private:
  std::string path_;
};

// The descriptors open now.
inline std::set<std::string> OpenDescriptors() {
  std::set<std::string> fds;
  DIR *dir = opendir("/proc/self/fd");
  int own = dirfd(dir);
  for (dirent *e = readdir(dir); e != nullptr; e = readdir(dir)) {
    if (e->d_name[0] != '.' && atoi(e->d_name) != own) fds.insert(e->d_name);
  }
  closedir(dir);
  return fds;
}

// The calling thread's exception chain as text ("" when empty).
inline std::string ExceptionText() {
  char *text = nullptr;
  VThreadExceptionToBuffer(VThreadGetID(), &text);
  std::string result = text != nullptr ? text : "";
  free(text);
  return result;
}

}  // namespace vtest

#endif  // VANTREL_TESTS_NET_NET_TEST_SUPPORT_H
