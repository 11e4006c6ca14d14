// Allocation failures of every allocating operation of the property and
// argument managers, each allocation failed in turn (alone, and with every
// later one): the operation returns ENOMEM (12), leaves what it documents
// (the old value, no new property, no half-made record) and nothing
// allocated behind (LeakSanitizer, in the sanitizer build).
#include <errno.h>

#include "config_test_support.h"
#include "support/alloc_sweep.h"
#include "vantrel/vdatacrypt.h"

namespace {

using vtest::Int;
using vtest::Text;

class ConfigAllocTest : public vtest::ConfigTest {
 public:
  void SetUp() override {
    vtest::ConfigTest::SetUp();
    // Failure lines are expected by the hundred; fatal ones would exit.
    VLogMgrSetLevel(VLOG_FATAL);
    setenv("VPROPTEST_DIR", Path("").c_str(), 1);
  }
  void TearDown() override { VLogMgrSetLevel(VLOG_WARN); }

  // Runs op on a fresh state from make each time; a failed run must have
  // failed an allocation and return ENOMEM (or succeed only where a
  // failure is benign); check sees the state and the code.
  template <typename State>
  static uint64_t Sweep(const std::function<State()> &make,
                        const std::function<VRC(State &)> &op,
                        const std::function<void(State &, VRC)> &check,
                        bool benign = false) {
    return vtest::SweepAllocations([&](vtest::Fault &fault) {
      State state = make();
      fault.Arm();
      VRC rc = op(state);
      bool fired = fault.Disarm();
      if (rc == 0) {
        if (!benign) {
          EXPECT_FALSE(fired) << "a failed allocation went unseen";
        }
      } else {
        EXPECT_TRUE(fired) << "failed without a failed allocation: " << rc;
        EXPECT_EQ(rc, ENOMEM);
      }
      check(state, rc);
    });
  }
};

// A manager with a few properties of every kind, aliases and a callback.
vtest::PropMgr PopulatedWith(uint32_t flags) {
  auto m = vtest::MakePropMgr(flags);
  VTypedValue text = Text("$VPROPTEST_DIR/x");
  VTypedValue number = Int(1);
  uint8_t bytes[] = {1, 2, 3};
  EXPECT_EQ(vtest::Define(m.get(), "text", text, VPROP_FLAG_EXPAND), 0);
  EXPECT_EQ(vtest::Define(m.get(), "plain", text), 0);
  EXPECT_EQ(vtest::Define(m.get(), "number", number), 0);
  EXPECT_EQ(vtest::Define(m.get(), "blob", vtest::Binary(bytes, 3)), 0);
  EXPECT_EQ(VPropMgrAddAlias(m.get(), "number", "old"), 0);
  return m;
}

vtest::PropMgr Populated() { return PopulatedWith(0); }

VRC Accept(VProperty, const VTypedValue *, void *) { return 0; }

TEST_F(ConfigAllocTest, CreateLeavesNoManager) {
  uint64_t needed = Sweep<VPropMgr>(
      [] { return reinterpret_cast<VPropMgr>(0x1); },
      [](VPropMgr &out) { return VPropMgrCreateWithFlags(&out, 0); },
      [](VPropMgr &out, VRC rc) {
        if (rc != 0) {
          EXPECT_EQ(out, nullptr);
        }
        VPropMgrDestroy(rc == 0 ? out : nullptr);
      });
  EXPECT_GE(needed, 6u);
}

TEST_F(ConfigAllocTest, DefineLeavesNoProperty) {
  for (uint32_t flags : {0u, VPROP_FLAG_EXPAND}) {
    Sweep<vtest::PropMgr>(
        Populated,
        [flags](vtest::PropMgr &m) {
          VTypedValue v = Text("${VPROPTEST_DIR}new");
          return VPropMgrDefineWithFlags(m.get(), "new", "d", &v, flags);
        },
        [](vtest::PropMgr &m, VRC rc) {
          EXPECT_EQ(VPropMgrExists(m.get(), "new"), rc == 0 ? 1 : 0);
          VTypedValue again = Int(2);
          EXPECT_EQ(VPropMgrDefineWithFlags(m.get(), "new", "d", &again, 0),
                    rc == 0 ? VRC_PROP_EXISTS : 0);
        });
  }
  uint8_t bytes[40] = {};
  Sweep<vtest::PropMgr>(
      Populated,
      [&](vtest::PropMgr &m) {
        return vtest::Define(m.get(), "bin", vtest::Binary(bytes, 40));
      },
      [](vtest::PropMgr &m, VRC rc) {
        EXPECT_EQ(VPropMgrExists(m.get(), "bin"), rc == 0 ? 1 : 0);
      });
}

TEST_F(ConfigAllocTest, GrowingTheIndexFailsTheDefinition) {
  // 192 properties fill three quarters of the name index; the next
  // definition doubles it, and without memory for that it fails whole.
  constexpr int kFull = 192;
  auto fill = [] {
    auto m = vtest::MakePropMgr();
    for (int i = 1; i < kFull; ++i) {  // Props.CheckNames is the 192nd
      VTypedValue v = Int(i);
      std::string name = "p" + std::to_string(i);
      EXPECT_EQ(VPropMgrDefineWithFlags(m.get(), name.c_str(), "", &v, 0), 0);
    }
    return m;
  };
  Sweep<vtest::PropMgr>(
      fill,
      [](vtest::PropMgr &m) {
        VTypedValue v = Int(kFull);
        return VPropMgrDefineWithFlags(m.get(), "p192", "", &v, 0);
      },
      [](vtest::PropMgr &m, VRC rc) {
        for (int i = 1; i <= kFull; ++i) {
          std::string name = "P" + std::to_string(i);
          EXPECT_EQ(VPropMgrExists(m.get(), name.c_str()),
                    i < kFull || rc == 0 ? 1 : 0)
              << name;
        }
      });
}

TEST_F(ConfigAllocTest, BuildingTheAliasIndexFailsTheAlias) {
  // The 64th alias builds the alias table's index.
  constexpr int kAliases = 64;
  auto fill = [] {
    auto m = vtest::MakePropMgr();
    VTypedValue v = Int(1);
    EXPECT_EQ(VPropMgrDefineWithFlags(m.get(), "p", "", &v, 0), 0);
    for (int i = 1; i < kAliases; ++i) {
      std::string alias = "a" + std::to_string(i);
      EXPECT_EQ(VPropMgrAddAlias(m.get(), "p", alias.c_str()), 0);
    }
    return m;
  };
  Sweep<vtest::PropMgr>(
      fill,
      [](vtest::PropMgr &m) { return VPropMgrAddAlias(m.get(), "p", "a64"); },
      [](vtest::PropMgr &m, VRC rc) {
        VLogMgrSetLevel(VLOG_ERROR);  // every use of an alias warns
        for (int i = 1; i <= kAliases; ++i) {
          std::string alias = "A" + std::to_string(i);
          EXPECT_EQ(VPropMgrExists(m.get(), alias.c_str()),
                    i < kAliases || rc == 0 ? 1 : 0)
              << alias;
        }
        VLogMgrSetLevel(VLOG_WARN);
      });
}

TEST_F(ConfigAllocTest, SetKeepsTheOldValue) {
  for (const char *name : {"text", "plain", "old"}) {
    Sweep<vtest::PropMgr>(
        Populated,
        [name](vtest::PropMgr &m) {
          VTypedValue v = strcmp(name, "old") == 0 ? vtest::Real(7.5)
                                                   : Text("$VPROPTEST_DIR/new");
          return VPropMgrSetValueForWrite(m.get(), name, &v);
        },
        [name](vtest::PropMgr &m, VRC rc) {
          if (rc == 0) return;
          std::string old = vtest::ValueText(m.get(), name);
          EXPECT_TRUE(old == "1" || old.find("/x") != std::string::npos) << old;
        });
  }
}

TEST_F(ConfigAllocTest, DynamicCreationLeavesNothingWhenItFails) {
  Sweep<vtest::PropMgr>([] { return PopulatedWith(VPROPMGR_FLAG_DYNAMIC); },
                        [](vtest::PropMgr &m) {
                          VTypedValue v = Text("${VPROPTEST_DIR}fresh");
                          return VPropMgrSetValue(m.get(), "fresh", &v);
                        },
                        [](vtest::PropMgr &m, VRC rc) {
                          EXPECT_EQ(VPropMgrExists(m.get(), "fresh"),
                                    rc == 0 ? 1 : 0);
                        });
}

TEST_F(ConfigAllocTest, AliasesCallbacksAndUndefine) {
  Sweep<vtest::PropMgr>(
      Populated,
      [](vtest::PropMgr &m) { return VPropMgrAddAlias(m.get(), "text", "t2"); },
      [](vtest::PropMgr &m, VRC rc) {
        EXPECT_EQ(VPropMgrExists(m.get(), "t2"), rc == 0 ? 1 : 0);
      });
  Sweep<vtest::PropMgr>(
      Populated,
      [](vtest::PropMgr &m) {
        return VPropMgrAddCallback(m.get(), "text", Accept, nullptr);
      },
      [](vtest::PropMgr &m, VRC rc) {
        // A failed first addition leaves no list behind.
        EXPECT_EQ(VPropMgrRemoveCallback(m.get(), "text", Accept, nullptr),
                  rc == 0 ? 0 : VRC_PROP_NOT_FOUND);
      });
  Sweep<vtest::PropMgr>(
      Populated,
      [](vtest::PropMgr &m) { return VPropMgrUndefine(m.get(), "number"); },
      [](vtest::PropMgr &m, VRC rc) {
        EXPECT_EQ(VPropMgrExists(m.get(), "number"), rc == 0 ? 0 : 1);
        EXPECT_EQ(VPropMgrExists(m.get(), "old"), rc == 0 ? 0 : 1);
      });
}

TEST_F(ConfigAllocTest, GettersHandOutNothingOnFailure) {
  for (const char *name : {"text", "blob", "number"}) {
    auto get = [name](vtest::PropMgr &m) {
      char *text = nullptr;
      VRC rc = VPropMgrGetStringValue(m.get(), name, &text);
      EXPECT_TRUE(rc == 0 || text == nullptr);
      free(text);
      return rc;
    };
    Sweep<vtest::PropMgr>(Populated, get, [](vtest::PropMgr &, VRC) {});
  }
}

TEST_F(ConfigAllocTest, ParseStopsWithOutOfMemory) {
  WriteFile("inc.props", "number: 3 fresh2: 'in include'\n");
  std::string top =
      WriteFile("top.props",
                "text: 'a\\tb' number: 2\ninclude '$VPROPTEST_DIR/inc.props'\n"
                "fresh: 1.5 other: ~86400 more: 'x' blob2: 0x0102\n");
  Sweep<vtest::PropMgr>(
      [] { return PopulatedWith(VPROPMGR_FLAG_DYNAMIC); },
      [&](vtest::PropMgr &m) {
        VPropParseError error{};
        VRC rc = VPropMgrParseFile(m.get(), top.c_str(), &error);
        // An include statement short of memory says so only in the record.
        if (rc == 0 && strcmp(error.text, "Out of memory") == 0) rc = ENOMEM;
        EXPECT_STREQ(error.text, rc == ENOMEM ? error.text : "blob2");
        free(error.file);
        return rc == VRC_TYPE_MISMATCH ? 0 : rc;  // the binary entry
      },
      [](vtest::PropMgr &m, VRC rc) {
        if (rc == 0) {
          EXPECT_EQ(vtest::ValueText(m.get(), "fresh2"), "in include");
        }
      },
      /*benign=*/true);  // the record's copy of the file name may fail
}

TEST_F(ConfigAllocTest, WritersReturnOutOfMemory) {
  std::string top =
      WriteFile("top.props", "number: 2\ninclude '" + WriteFile("i.props", "") +
                                 "'\ntext: 'y'\n");
  auto read = [&] {
    auto m = Populated();
    EXPECT_EQ(VPropMgrParseFile(m.get(), top.c_str(), nullptr), 0);
    return m;
  };
  std::string out = Path("out.props");
  Sweep<vtest::PropMgr>(
      read,
      [&](vtest::PropMgr &m) {
        return VPropMgrWriteToFile(m.get(), out.c_str());
      },
      [](vtest::PropMgr &, VRC) {});
  Sweep<vtest::PropMgr>(
      read,
      [&](vtest::PropMgr &m) {
        FILE *f = fopen(out.c_str(), "w");
        VRC rc = VPropMgrReproduceToStream(m.get(), f);
        fclose(f);
        return rc;
      },
      [](vtest::PropMgr &, VRC) {});
}

// A property manager and an argument manager bound to it.
struct Managers {
  vtest::PropMgr props;
  vtest::ArgMgr args;
};

Managers MakeManagers() {
  Managers m{Populated(), nullptr};
  VArgMgr args = nullptr;
  EXPECT_EQ(VArgMgrCreate(m.props.get(), &args), 0);
  m.args.reset(args);
  return m;
}

TEST_F(ConfigAllocTest, ArgumentManagers) {
  auto props = Populated();
  Sweep<VArgMgr>([] { return reinterpret_cast<VArgMgr>(0x1); },
                 [&](VArgMgr &out) { return VArgMgrCreate(props.get(), &out); },
                 [](VArgMgr &out, VRC rc) {
                   if (rc != 0) {
                     EXPECT_EQ(out, nullptr);
                   }
                   VArgMgrDestroy(rc == 0 ? out : nullptr);
                 });
  Sweep<Managers>(
      MakeManagers,
      [](Managers &m) {
        VTypedValue fixed = Text("fixed");
        return VArgMgrDefineWithFlags(m.args.get(), "-fixed", "text", "%s",
                                      VARG_KIND_SWITCH, &fixed, 0);
      },
      [](Managers &m, VRC rc) {
        VTypedValue fixed = Text("fixed");
        EXPECT_EQ(VArgMgrDefineWithFlags(m.args.get(), "-fixed", "text", "%s",
                                         VARG_KIND_SWITCH, &fixed, 0),
                  rc == 0 ? VRC_ARG_EXISTS : 0);
      });
}

TEST_F(ConfigAllocTest, ProcessingAndHelp) {
  // A key, an encrypted value, a properties file with an include.
  std::string key = WriteFile("k.key", "128:0123456789abcdef");
  VDataCryptContext context = nullptr;
  ASSERT_EQ(VDataCryptSetupContextWithFile("AES", key.c_str(), &context), 0);
  char *secret = nullptr;
  ASSERT_EQ(VDataCryptEncrypt(context, "pw", 2, &secret), 0);
  std::string file =
      WriteFile("app.props", "ConfigKeyFile: '$VPROPTEST_DIR/k.key'\nplain: '" +
                                 std::string(secret) + "'\ninclude '" +
                                 WriteFile("inc.props", "number: 5") + "'\n");
  VDataCryptFreeEncryptedData(context, secret);
  VDataCryptCipherContextDestroy(context);

  auto make = [&] {
    Managers m = MakeManagers();
    VArgMgr args = m.args.get();
    VTypedValue path = Text(file.c_str());
    EXPECT_EQ(VPropMgrDefineWithFlags(m.props.get(), "PropsFile", "", &path, 0),
              0);
    EXPECT_EQ(VArgMgrDefineWithFlags(args, "-propsfile", "PropsFile", "%s",
                                     VARG_KIND_VALUE, nullptr, 0),
              0);
    EXPECT_EQ(VArgMgrDefineWithFlags(args, "-text", "text", "text %s",
                                     VARG_KIND_VALUE, nullptr, 0),
              0);
    VTypedValue name = Text("");
    EXPECT_EQ(VPropMgrDefineWithFlags(m.props.get(), "Name", "", &name, 0), 0);
    return m;
  };
  // ("-name" is left out: a failure to set it is ignored by design.)
  char *argv[] = {const_cast<char *>("prog"), const_cast<char *>("-text"),
                  const_cast<char *>("$VPROPTEST_DIR"),
                  const_cast<char *>("-x"), nullptr};
  Sweep<Managers>(
      make, [&](Managers &m) { return VArgMgrProcess(m.args.get(), 4, argv); },
      [&](Managers &m, VRC rc) {
        if (rc == 0) {
          EXPECT_EQ(vtest::ValueText(m.props.get(), "plain"), "pw");
          return;
        }
        // Processing again, without failures, completes the job.
        EXPECT_EQ(VArgMgrProcess(m.args.get(), 4, argv), 0);
        EXPECT_EQ(vtest::ValueText(m.props.get(), "plain"), "pw");
        EXPECT_EQ(vtest::ValueText(m.props.get(), "number"), "5");
      },
      // An include statement short of memory stops the file quietly.
      /*benign=*/true);
  Sweep<Managers>(
      make,
      [](Managers &m) {
        vb_buffer buffer;
        VRC rc = VArgHelpAsString(m.args.get(), &buffer);
        vb_free(&buffer);
        return rc;
      },
      [](Managers &, VRC) {});
}

}  // namespace
