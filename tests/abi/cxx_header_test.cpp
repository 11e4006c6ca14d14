// C++ client of the public header, linked against the shared library.
#include <vantrel.h>

#include <cstdio>
#include <cstdlib>

namespace {

int CompareInt(const void *a, const void *b, void *) {
  return *static_cast<const int *>(a) - *static_cast<const int *>(b);
}

int FreeNode(void *item, void *) {
  VTreeFree(item);
  return 0;
}

}  // namespace

int main() {
  VTree *tree = VTreeCreateWith(std::malloc, CompareInt, nullptr);
  if (tree == nullptr) return 1;
  for (int i = 0; i < 10; ++i) {
    int *item = static_cast<int *>(VTreeAlloc(sizeof(int)));
    if (item == nullptr) return 1;
    *item = (i * 7) % 10;
    if (VTreeInsert(tree, item) != nullptr) return 1;
  }
  int key = 3;
  bool ok = VTreeNumItems(tree) == 10 &&
            *static_cast<int *>(VTreeFindMin(tree)) == 0 &&
            *static_cast<int *>(VTreeFind(tree, &key)) == 3;
  VTreeDestroyWith(tree, FreeNode, nullptr, std::free);

  VIncrAllocator *arena = VIncrAllocatorCreate(256);
  ok = ok && arena != nullptr && VIncrAllocatorAlloc(arena, 10) != nullptr;
  VIncrAllocatorDestroy(arena);
  std::puts(ok ? "C++ client OK" : "C++ client FAILED");
  return ok ? 0 : 1;
}
