// Properties files and lookups: reading a 10,000-line file into a manager
// (its properties defined beforehand, as a program has them, or created
// while reading) against GLib's GKeyFile loading the same content, and
// finding a value by name in a manager of 1,000 properties against
// GKeyFile's typed lookup.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <vantrel.h>

#include <string>
#include <vector>

namespace {

constexpr int kLines = 10000;

// Line i: an integer, a quoted text, a real or a boolean, by i % 4.
std::string Name(int i) { return "section.property_" + std::to_string(i); }

std::string OurValue(int i) {
  switch (i % 4) {
    case 0:
      return std::to_string(i * 37);
    case 1:
      return "'value number " + std::to_string(i) + " of the file'";
    case 2:
      return std::to_string(i) + ".25";
    default:
      return i % 8 == 3 ? "true" : "false";
  }
}

std::string KeyFileValue(int i) {
  std::string v = OurValue(i);
  return i % 4 == 1 ? v.substr(1, v.size() - 2) : v;
}

// The same content in both formats, written once.
struct Files {
  std::string ours;
  std::string keyFile;
  Files() {
    char dir[] = "/tmp/vconfigbench.XXXXXX";
    if (mkdtemp(dir) == nullptr) abort();
    ours = std::string(dir) + "/app.props";
    keyFile = std::string(dir) + "/app.ini";
    FILE *a = fopen(ours.c_str(), "w");
    FILE *b = fopen(keyFile.c_str(), "w");
    fprintf(b, "[section]\n");
    for (int i = 0; i < kLines; ++i) {
      fprintf(a, "%s: %s\n", Name(i).c_str(), OurValue(i).c_str());
      fprintf(b, "%s=%s\n", Name(i).c_str(), KeyFileValue(i).c_str());
    }
    fclose(a);
    fclose(b);
  }
};

const Files &TheFiles() {
  static const Files files;
  return files;
}

VTypedValue FirstValue(int i) {
  VTypedValue v{VDT_INTEGER, VValue{}};
  switch (i % 4) {
    case 1:
      v.type = VDT_STRING;
      v.value.stringValue.text = const_cast<char *>("");
      break;
    case 2:
      v.type = VDT_REAL;
      break;
    case 3:
      v.type = VDT_BOOLEAN;
      break;
  }
  return v;
}

VPropMgr Defined(int count) {
  VPropMgr manager = nullptr;
  if (VPropMgrCreateWithFlags(&manager, 0) != 0) abort();
  for (int i = 0; i < count; ++i) {
    VTypedValue v = FirstValue(i);
    if (VPropMgrDefineWithFlags(manager, Name(i).c_str(), "", &v, 0) != 0) {
      abort();
    }
  }
  return manager;
}

void Quiet() {
  static bool done = false;
  if (done) return;
  setenv("VDE_DEFAULT_LOG_LEVEL", "fatal", 1);
  VInitialise("config_bench", nullptr);
  VLogMgrSetLevel(VLOG_FATAL);
  done = true;
}

// ---- Reading a file.

// Into the properties a program defined: each entry converted and set.
void BM_ReadIntoDefinedProperties(benchmark::State &state) {
  Quiet();
  const Files &files = TheFiles();
  VPropMgr manager = Defined(kLines);
  for (auto _ : state) {
    if (VPropMgrParseFile(manager, files.ours.c_str(), nullptr) != 0) {
      state.SkipWithError("parse failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kLines);
  VPropMgrDestroy(manager);
}
BENCHMARK(BM_ReadIntoDefinedProperties)->Unit(benchmark::kMillisecond);

// Into a new manager that creates every property it meets, then released:
// the same work of building a structure that GKeyFile does.
void BM_ReadCreatingProperties(benchmark::State &state) {
  Quiet();
  const Files &files = TheFiles();
  for (auto _ : state) {
    VPropMgr manager = nullptr;
    VPropMgrCreateWithFlags(&manager, VPROPMGR_FLAG_DYNAMIC);
    if (VPropMgrParseFile(manager, files.ours.c_str(), nullptr) != 0) {
      state.SkipWithError("parse failed");
      break;
    }
    VPropMgrDestroy(manager);
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_ReadCreatingProperties)->Unit(benchmark::kMillisecond);

void BM_GKeyFileLoad(benchmark::State &state) {
  const Files &files = TheFiles();
  for (auto _ : state) {
    GKeyFile *keys = g_key_file_new();
    GError *error = nullptr;
    if (!g_key_file_load_from_file(keys, files.keyFile.c_str(), G_KEY_FILE_NONE,
                                   &error)) {
      state.SkipWithError("load failed");
      g_clear_error(&error);
      g_key_file_free(keys);
      break;
    }
    g_key_file_free(keys);
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_GKeyFileLoad)->Unit(benchmark::kMillisecond);

// ---- Lookups by name among 1,000 properties.

constexpr int kLookups = 1000;

std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (int i = 0; i < kLookups; ++i) names.push_back(Name(i * 4));  // integers
  return names;
}

void BM_GetValue(benchmark::State &state) {
  Quiet();
  VPropMgr manager = nullptr;
  if (VPropMgrCreateWithFlags(&manager, 0) != 0) abort();
  std::vector<std::string> names = Names();
  for (size_t i = 0; i < names.size(); ++i) {
    VTypedValue v{VDT_INTEGER, VValue{}};
    v.value.integerValue = static_cast<int32_t>(i);
    VPropMgrDefineWithFlags(manager, names[i].c_str(), "", &v, 0);
  }
  size_t next = 0;
  for (auto _ : state) {
    VTypedValue v;
    VPropMgrGetValue(manager, names[next].c_str(), &v);
    benchmark::DoNotOptimize(v.value.integerValue);
    next = next + 1 == names.size() ? 0 : next + 1;
  }
  VPropMgrDestroy(manager);
}
BENCHMARK(BM_GetValue);

// A name in another letter case costs the same: the hash ignores case.
void BM_FindIgnoringCase(benchmark::State &state) {
  Quiet();
  VPropMgr manager = Defined(kLookups);
  std::vector<std::string> names;
  for (int i = 0; i < kLookups; ++i) {
    std::string n = Name(i);
    for (char &c : n) c = static_cast<char>(toupper(c));
    names.push_back(n);
  }
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(VPropMgrFind(manager, names[next].c_str()));
    next = next + 1 == names.size() ? 0 : next + 1;
  }
  VPropMgrDestroy(manager);
}
BENCHMARK(BM_FindIgnoringCase);

void BM_GKeyFileGetInteger(benchmark::State &state) {
  GKeyFile *keys = g_key_file_new();
  std::vector<std::string> names = Names();
  for (size_t i = 0; i < names.size(); ++i) {
    g_key_file_set_integer(keys, "section", names[i].c_str(),
                           static_cast<gint>(i));
  }
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        g_key_file_get_integer(keys, "section", names[next].c_str(), nullptr));
    next = next + 1 == names.size() ? 0 : next + 1;
  }
  g_key_file_free(keys);
}
BENCHMARK(BM_GKeyFileGetInteger);

}  // namespace
