// Allocation failures of every allocating operation of the property and
// argument managers, each allocation failed in turn (alone, and with every
// later one): ENOMEM (12), what the call documents left in place, and
// nothing allocated behind (LeakSanitizer, in the sanitizer build).
#include <errno.h>

#include "config_test_support.h"
#include "support/alloc_sweep.h"
#include "vantrel/vdatacrypt.h"

namespace {

using vtest::Int;
using vtest::PropMgr;
using vtest::Text;

class ConfigAllocTest : public vtest::ConfigTest {
 public:
  void SetUp() override {
    vtest::ConfigTest::SetUp();
    VLogMgrSetLevel(VLOG_FATAL);  // failure lines come by the hundred
    setenv("VPROPTEST_DIR", Path("").c_str(), 1);
  }
  void TearDown() override { VLogMgrSetLevel(VLOG_WARN); }
};

// Runs op on a fresh state from make each time: a failed run must have
// failed an allocation and return ENOMEM; a successful one must not have,
// unless that failure is benign.  check sees the state and the code.
template <typename Make, typename Op, typename Check>
uint64_t Sweep(Make make, Op op, Check check, bool benign = false) {
  return vtest::SweepAllocations([&](vtest::Fault &fault) {
    auto state = make();
    fault.Arm();
    VRC rc = op(state);
    bool fired = fault.Disarm();
    if (rc != 0) {
      EXPECT_TRUE(fired) << "failed without a failed allocation: " << rc;
      EXPECT_EQ(rc, ENOMEM);
    } else if (!benign) {
      EXPECT_FALSE(fired) << "a failed allocation went unseen";
    }
    check(state, rc);
  });
}

// A creation sweep: a failed one leaves the output null.
template <typename T, typename Create, typename Destroy>
uint64_t SweepCreate(Create create, Destroy destroy) {
  return Sweep([] { return reinterpret_cast<T>(0x1); }, create,
               [&](T &out, VRC rc) {
                 EXPECT_TRUE(rc == 0 || out == nullptr);
                 destroy(rc == 0 ? out : nullptr);
               });
}

const auto kNoCheck = [](auto &, VRC) {};

// The check that name exists exactly when the operation succeeded.
auto ExistsIfDone(const char *name, bool done = true) {
  return [=](PropMgr &m, VRC rc) {
    EXPECT_EQ(VPropMgrExists(m.get(), name), (rc == 0) == done ? 1 : 0);
  };
}

// A manager with a few properties of every kind and an alias.
PropMgr PopulatedWith(uint32_t flags) {
  auto m = vtest::MakePropMgr(flags);
  uint8_t bytes[] = {1, 2, 3};
  EXPECT_EQ(vtest::Define(m.get(), "text", Text("$VPROPTEST_DIR/x"),
                          VPROP_FLAG_EXPAND),
            0);
  EXPECT_EQ(vtest::Define(m.get(), "plain", Text("$VPROPTEST_DIR/x")), 0);
  EXPECT_EQ(vtest::Define(m.get(), "number", Int(1)), 0);
  EXPECT_EQ(vtest::Define(m.get(), "blob", vtest::Binary(bytes, 3)), 0);
  EXPECT_EQ(VPropMgrAddAlias(m.get(), "number", "old"), 0);
  return m;
}
PropMgr Populated() { return PopulatedWith(0); }
PropMgr Dynamic() { return PopulatedWith(VPROPMGR_FLAG_DYNAMIC); }

VRC Accept(VProperty, const VTypedValue *, void *) { return 0; }

TEST_F(ConfigAllocTest, CreateDefineAndDynamicCreationLeaveNothingHalfMade) {
  EXPECT_GE(SweepCreate<VPropMgr>(
                [](VPropMgr &out) { return VPropMgrCreateWithFlags(&out, 0); },
                VPropMgrDestroy),
            6u);
  for (uint32_t flags : {0u, VPROP_FLAG_EXPAND}) {
    Sweep(
        Populated,
        [flags](PropMgr &m) {
          VTypedValue v = Text("${VPROPTEST_DIR}new");
          return VPropMgrDefineWithFlags(m.get(), "new", "d", &v, flags);
        },
        [](PropMgr &m, VRC rc) {
          ExistsIfDone("new")(m, rc);
          EXPECT_EQ(vtest::Define(m.get(), "new", Int(2)),
                    rc == 0 ? VRC_PROP_EXISTS : 0);
        });
  }
  uint8_t bytes[40] = {};
  Sweep(
      Populated,
      [&](PropMgr &m) {
        return vtest::Define(m.get(), "bin", vtest::Binary(bytes, 40));
      },
      ExistsIfDone("bin"));
  Sweep(
      Dynamic,
      [](PropMgr &m) {
        return vtest::Set(m.get(), "fresh", Text("${VPROPTEST_DIR}fresh"));
      },
      ExistsIfDone("fresh"));
}

// Growing an index that fails leaves every entry so far, and not the new.
TEST_F(ConfigAllocTest, GrowingTheNameAndAliasIndexesFailsTheAddition) {
  // 192 properties fill three quarters of the name index; the next
  // definition doubles it.  Props.CheckNames is the 192nd.
  constexpr int kFull = 192, kAliases = 64;  // the 64th alias builds one
  auto check = [](const char *prefix, int count) {
    return [=](PropMgr &m, VRC rc) {
      VLogMgrSetLevel(VLOG_ERROR);  // every use of an alias warns
      for (int i = 1; i <= count; ++i) {
        std::string name = prefix + std::to_string(i);
        EXPECT_EQ(VPropMgrExists(m.get(), name.c_str()),
                  i < count || rc == 0 ? 1 : 0)
            << name;
      }
      VLogMgrSetLevel(VLOG_FATAL);
    };
  };
  Sweep(
      [] {
        auto m = vtest::MakePropMgr();
        for (int i = 1; i < kFull; ++i) {
          std::string name = "p" + std::to_string(i);
          EXPECT_EQ(vtest::Define(m.get(), name.c_str(), Int(i)), 0);
        }
        return m;
      },
      [](PropMgr &m) { return vtest::Define(m.get(), "p192", Int(kFull)); },
      check("P", kFull));
  Sweep(
      [] {
        auto m = vtest::MakePropMgr();
        EXPECT_EQ(vtest::Define(m.get(), "p", Int(1)), 0);
        for (int i = 1; i < kAliases; ++i) {
          std::string alias = "a" + std::to_string(i);
          EXPECT_EQ(VPropMgrAddAlias(m.get(), "p", alias.c_str()), 0);
        }
        return m;
      },
      [](PropMgr &m) { return VPropMgrAddAlias(m.get(), "p", "a64"); },
      check("A", kAliases));
}

TEST_F(ConfigAllocTest, SetAliasCallbackAndUndefineKeepTheOldState) {
  for (const char *name : {"text", "plain", "old"}) {
    Sweep(
        Populated,
        [name](PropMgr &m) {
          VTypedValue v = strcmp(name, "old") == 0 ? vtest::Real(7.5)
                                                   : Text("$VPROPTEST_DIR/new");
          return VPropMgrSetValueForWrite(m.get(), name, &v);
        },
        [name](PropMgr &m, VRC rc) {
          if (rc == 0) return;
          std::string old = vtest::ValueText(m.get(), name);
          EXPECT_TRUE(old == "1" || old.find("/x") != std::string::npos) << old;
        });
  }
  Sweep(
      Populated,
      [](PropMgr &m) { return VPropMgrAddAlias(m.get(), "text", "t2"); },
      ExistsIfDone("t2"));
  Sweep(
      Populated,
      [](PropMgr &m) {
        return VPropMgrAddCallback(m.get(), "text", Accept, nullptr);
      },
      [](PropMgr &m, VRC rc) {  // a failed first addition leaves no list
        EXPECT_EQ(VPropMgrRemoveCallback(m.get(), "text", Accept, nullptr),
                  rc == 0 ? 0 : VRC_PROP_NOT_FOUND);
      });
  Sweep(
      Populated, [](PropMgr &m) { return VPropMgrUndefine(m.get(), "number"); },
      [](PropMgr &m, VRC rc) {
        ExistsIfDone("number", false)(m, rc);
        ExistsIfDone("old", false)(m, rc);
      });
}

TEST_F(ConfigAllocTest, GettersHandOutNothingOnFailure) {
  for (const char *name : {"text", "blob", "number"}) {
    auto get = [name](PropMgr &m) {
      char *text = nullptr;
      VRC rc = VPropMgrGetStringValue(m.get(), name, &text);
      EXPECT_TRUE(rc == 0 || text == nullptr);
      free(text);
      return rc;
    };
    Sweep(Populated, get, kNoCheck);
  }
}

TEST_F(ConfigAllocTest, ParseStopsWithOutOfMemory) {
  WriteFile("inc.props", "number: 3 fresh2: 'in include'\n");
  std::string top =
      WriteFile("top.props",
                "text: 'a\\tb' number: 2\ninclude '$VPROPTEST_DIR/inc.props'\n"
                "fresh: 1.5 other: ~86400 more: 'x' blob2: 0x0102\n");
  Sweep(
      Dynamic,
      [&](PropMgr &m) {
        VPropParseError error{};
        VRC rc = VPropMgrParseFile(m.get(), top.c_str(), &error);
        // An include statement short of memory says so only in the record.
        if (rc == 0 && strcmp(error.text, "Out of memory") == 0) rc = ENOMEM;
        EXPECT_STREQ(error.text, rc == ENOMEM ? error.text : "blob2");
        free(error.file);
        return rc == VRC_TYPE_MISMATCH ? 0 : rc;  // the binary entry
      },
      [](PropMgr &m, VRC rc) {
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
  Sweep(
      read,
      [&](PropMgr &m) { return VPropMgrWriteToFile(m.get(), out.c_str()); },
      kNoCheck);
  Sweep(
      read,
      [&](PropMgr &m) {
        FILE *f = fopen(out.c_str(), "w");
        VRC rc = VPropMgrReproduceToStream(m.get(), f);
        fclose(f);
        return rc;
      },
      kNoCheck);
}

// A property manager and an argument manager bound to it.
struct Managers {
  PropMgr props;
  vtest::ArgMgr args;
};

Managers MakeManagers() {
  Managers m{Populated(), nullptr};
  VArgMgr args = nullptr;
  EXPECT_EQ(VArgMgrCreate(m.props.get(), &args), 0);
  m.args.reset(args);
  return m;
}

VRC DefineFixed(Managers &m) {
  VTypedValue fixed = Text("fixed");
  return VArgMgrDefineWithFlags(m.args.get(), "-fixed", "text", "%s",
                                VARG_KIND_SWITCH, &fixed, 0);
}

TEST_F(ConfigAllocTest, ArgumentManagers) {
  auto props = Populated();
  SweepCreate<VArgMgr>(
      [&](VArgMgr &out) { return VArgMgrCreate(props.get(), &out); },
      VArgMgrDestroy);
  Sweep(MakeManagers, DefineFixed, [](Managers &m, VRC rc) {
    EXPECT_EQ(DefineFixed(m), rc == 0 ? VRC_ARG_EXISTS : 0);
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
    EXPECT_EQ(vtest::Define(m.props.get(), "PropsFile", Text(file.c_str())), 0);
    EXPECT_EQ(vtest::Define(m.props.get(), "Name", Text("")), 0);
    for (const char *option : {"-propsfile", "-text"}) {
      EXPECT_EQ(VArgMgrDefineWithFlags(args, option,
                                       option[1] == 'p' ? "PropsFile" : "text",
                                       "%s", VARG_KIND_VALUE, nullptr, 0),
                0);
    }
    return m;
  };
  // ("-name" is left out: a failure to set it is ignored by design.)
  char *argv[] = {const_cast<char *>("prog"), const_cast<char *>("-text"),
                  const_cast<char *>("$VPROPTEST_DIR"),
                  const_cast<char *>("-x"), nullptr};
  Sweep(
      make, [&](Managers &m) { return VArgMgrProcess(m.args.get(), 4, argv); },
      [&](Managers &m, VRC rc) {
        if (rc != 0) {  // processing again, without failures, completes it
          EXPECT_EQ(VArgMgrProcess(m.args.get(), 4, argv), 0);
          EXPECT_EQ(vtest::ValueText(m.props.get(), "number"), "5");
        }
        EXPECT_EQ(vtest::ValueText(m.props.get(), "plain"), "pw");
      },
      // An include statement short of memory stops the file quietly.
      /*benign=*/true);
  Sweep(
      make,
      [](Managers &m) {
        vb_buffer buffer;
        VRC rc = VArgHelpAsString(m.args.get(), &buffer);
        vb_free(&buffer);
        return rc;
      },
      kNoCheck);
}

}  // namespace
