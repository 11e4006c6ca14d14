// Runs a fuzz target without libFuzzer: every argument is an input file or
// a directory whose files are fed in name order.  CTest replays the seed
// corpora with it in every build; by hand it replays a crash file.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

namespace fs = std::filesystem;

// Each input lies in a block of its exact size, so that a read past its
// end shows under AddressSanitizer as it does under libFuzzer.
bool Feed(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                          std::istreambuf_iterator<char>());
  auto *data = static_cast<uint8_t *>(malloc(bytes.empty() ? 1 : bytes.size()));
  if (!bytes.empty()) memcpy(data, bytes.data(), bytes.size());
  LLVMFuzzerTestOneInput(data, bytes.size());
  free(data);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (fs::is_directory(argv[i])) {
      for (const auto &entry : fs::directory_iterator(argv[i])) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else {
      files.push_back(argv[i]);
    }
  }
  std::sort(files.begin(), files.end());
  size_t fed = 0;
  for (const auto &file : files) fed += Feed(file) ? 1 : 0;
  printf("replayed %zu inputs\n", fed);
  // An empty corpus is a mistake in the tree, not a pass.
  return fed > 0 && fed == files.size() ? 0 : 1;
}
