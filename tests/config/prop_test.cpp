// The property manager: names and aliases, definitions, the set pipeline
// with conversions, callbacks and vetoes, dynamic creation, flags, groups,
// walks, and a model-based run over thousands of properties.
#include <strings.h>

#include <map>
#include <random>

#include "config_test_support.h"

namespace {

using vtest::Bool;
using vtest::Define;
using vtest::Int;
using vtest::Int64;
using vtest::LogLine;
using vtest::LogOf;
using vtest::Real;
using vtest::Set;
using vtest::Text;

// Each test starts with a new manager, m.
class VPropMgrTest : public vtest::ConfigTest {
 public:
  void SetUp() override {
    vtest::ConfigTest::SetUp();
    Reset();
  }
  void Reset(uint32_t flags = 0) {
    owned_ = vtest::MakePropMgr(flags);
    m = owned_.get();
  }
  std::string Value(const char *name) { return vtest::ValueText(m, name); }
  // Which of the names exist: '1' or '0' for each, in order.
  std::string Present(std::initializer_list<const char *> names) {
    std::string out;
    for (const char *n : names) out += VPropMgrExists(m, n) == 1 ? '1' : '0';
    return out;
  }

  vtest::PropMgr owned_;
  VPropMgr m = nullptr;
};

constexpr char kAliasWarning[] =
    "Accessing property port via alias oldport - this alias may be removed "
    "in a future version";

TEST_F(VPropMgrTest, NewManagerHoldsCheckNamesWithItsFlagDrivenDefault) {
  for (uint32_t flags : {0u, VPROPMGR_FLAG_DYNAMIC}) {
    Reset(flags);
    VProperty p = VPropMgrFind(m, "props.checknames");
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(VPropertyGetName(p), "Props.CheckNames");
    EXPECT_EQ(VPropertyGetType(p), VDT_BOOLEAN);
    EXPECT_EQ(VPropertyGetFlags(p), VPROP_FLAG_CHECKNAMES);
    EXPECT_STREQ(VPropertyGetGroup(p), "Default");
    EXPECT_STREQ(VPropertyGetDescription(p),
                 "Cause program to abort if any property is not understood at "
                 "the time it is read");
    EXPECT_EQ(Value("Props.CheckNames"), flags == 0 ? "TRUE" : "FALSE");
  }
}

TEST_F(VPropMgrTest, NamesIgnoreCaseAndAliasesShareTheNamespace) {
  ASSERT_EQ(Define(m, "Port", Int(1)), 0);
  EXPECT_EQ(Define(m, "PORT", Int(1)), VRC_PROP_EXISTS);
  ASSERT_EQ(VPropMgrAddAlias(m, "port", "OldPort"), 0);
  EXPECT_EQ(Define(m, "oldport", Int(1)), VRC_PROP_EXISTS);
  EXPECT_EQ(VPropMgrAddAlias(m, "port", "PORT"), VRC_PROP_EXISTS);
  EXPECT_EQ(VPropMgrAddAlias(m, "port", "oldPORT"), VRC_PROP_EXISTS);
  EXPECT_EQ(VPropMgrAddAlias(m, "nothing", "x"), VRC_PROP_NOT_FOUND);
  // Every letter, and bytes beyond ASCII, which only match themselves.
  ASSERT_EQ(Define(m, "AbCdEfGhIjKlMnOpQrStUvWxYz.0-_", Int(1)), 0);
  ASSERT_EQ(Define(m, "caf\xc3\xa9", Int(1)), 0);
  EXPECT_EQ(
      Present({"pOrT", "portx", "aBcDeFgHiJkLmNoPqRsTuVwXyZ.0-_",
               "ABCDEFGHIJKLMNOPQRSTUVWXYZ.0-_",
               "ABCDEFGHIJKLMNOPQRSTUVWXYZ.0-x", "CAF\xc3\xa9", "CAF\xc3\x89"}),
      "1011010");
}

TEST_F(VPropMgrTest, AliasesWarnOnEveryUseNeverChainAndGoWithTheirProperty) {
  ASSERT_EQ(Define(m, "port", Int(4100)), 0);
  ASSERT_EQ(VPropMgrAddAlias(m, "port", "oldport"), 0);
  VTypedValue got{};
  auto lines =
      LogOf([&] { EXPECT_EQ(VPropMgrGetValue(m, "OLDPORT", &got), 0); });
  EXPECT_EQ(got.value.integerValue, 4100);
  EXPECT_EQ(lines, (vtest::Lines{{'W', kAliasWarning}}));
  // An alias given as the name stands for its property.
  lines = LogOf([&] { EXPECT_EQ(VPropMgrAddAlias(m, "oldport", "older"), 0); });
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_EQ(Set(m, "older", Int(9)), 0);
  EXPECT_EQ(Value("port"), "9");

  EXPECT_EQ(VPropMgrRemoveAlias(m, "OldPort"), 0);
  EXPECT_EQ(VPropMgrRemoveAlias(m, "oldport"), VRC_PROP_NOT_FOUND);
  EXPECT_EQ(VPropMgrRemoveAlias(m, "port"), VRC_PROP_NOT_FOUND);
  EXPECT_EQ(VPropMgrFind(m, "oldport"), nullptr);
  EXPECT_NE(VPropMgrFind(m, "older"), nullptr);

  // Undefining takes every alias along; an alias name is not undefined.
  ASSERT_EQ(Define(m, "other", Text("x")), 0);
  for (const char *a : {"h1", "h2"})
    ASSERT_EQ(VPropMgrAddAlias(m, "port", a), 0);
  ASSERT_EQ(VPropMgrAddAlias(m, "other", "o1"), 0);
  EXPECT_EQ(VPropMgrUndefine(m, "h1"), VRC_PROP_NOT_FOUND);
  EXPECT_EQ(VPropMgrUndefine(m, "PORT"), 0);
  EXPECT_EQ(Present({"port", "older", "h1", "h2", "o1"}), "00001");
  EXPECT_EQ(VPropMgrUndefine(m, "port"), VRC_PROP_NOT_FOUND);
  EXPECT_EQ(Define(m, "h2", Int(1)), 0);  // the names are free again
}

// What setting a property of one type to a value of another gives.
struct SetCase {
  VDataType propertyType;
  VTypedValue value;
  VRC code;
  const char *text;  // the property's value afterwards, as text
};

TEST_F(VPropMgrTest, SetConvertsToThePropertysTypeOrRefuses) {
  VTypedValue bin{VDT_BINARY, VValue{}};
  const SetCase cases[] = {
      {VDT_INTEGER, Text("12"), VRC_TYPE_MISMATCH, "0"},
      {VDT_INTEGER, Real(2.7), 0, "2"},
      {VDT_INTEGER, Real(-2.7), 0, "-2"},
      {VDT_INTEGER, Bool(true), 0, "1"},
      {VDT_INTEGER, Int64(0x100000005LL), 0, "5"},
      {VDT_SHORT, Int(70000), 0, "4464"},
      {VDT_UNSIGNED, Int(-1), 0, "4294967295"},
      {VDT_BOOLEAN, Int(7), 0, "TRUE"},
      {VDT_BOOLEAN, Real(0.0), 0, "FALSE"},
      {VDT_REAL, Int64(3), 0, "3.000000"},
      {VDT_UTC, Int64(86400), 0, "86400"},
      {VDT_INTEGER64, Int(-1), 0, "-1"},
      {VDT_UNSIGNED64, Int(-1), 0, "18446744073709551615"},
      {VDT_STRING, Int(5), VRC_TYPE_MISMATCH, ""},
      {VDT_STRING, Text("new"), 0, "new"},
      {VDT_STRING, Text(nullptr), 0, ""},
      {VDT_BINARY, bin, VRC_TYPE_MISMATCH, ""},
      {VDT_INTEGER, bin, VRC_TYPE_MISMATCH, "0"},
      {VDT_INTEGER, VTypedValue{11, VValue{}}, VRC_TYPE_MISMATCH, "0"},
  };
  for (const SetCase &c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.propertyType << " from "
                                    << c.value.type << " -> " << c.text);
    Reset();
    VTypedValue first{c.propertyType, VValue{}};
    if (c.propertyType == VDT_STRING) first = Text("");
    ASSERT_EQ(VPropMgrDefineWithFlags(m, "p", "d", &first, 0), 0);
    EXPECT_EQ(VPropMgrSetValue(m, "p", &c.value), c.code);
    EXPECT_EQ(Value("p"), c.text);
  }
}

TEST_F(VPropMgrTest, ReadOnlyRefusesEverySetAndKeepsTheValue) {
  ASSERT_EQ(Define(m, "ro", Int(1), VPROP_FLAG_READONLY), 0);
  VTypedValue two = Int(2);
  EXPECT_EQ(VPropMgrSetValue(m, "ro", &two), VRC_PROP_READ_ONLY);
  EXPECT_EQ(VPropMgrSetValueForWrite(m, "ro", &two), VRC_PROP_READ_ONLY);
  EXPECT_EQ(VPropertySetValue(VPropMgrFind(m, "ro"), &two), VRC_PROP_READ_ONLY);
  EXPECT_EQ(Value("ro"), "1");
  VPropertySetFlags(VPropMgrFind(m, "ro"), 0);
  EXPECT_EQ(VPropMgrSetValue(m, "ro", &two), 0);
}

TEST_F(VPropMgrTest, DynamicCreationFollowsCheckNames) {
  EXPECT_EQ(Set(m, "fresh", Real(1.5)), VRC_PROP_NOT_FOUND);
  ASSERT_EQ(Set(m, "Props.CheckNames", Bool(false)), 0);
  EXPECT_EQ(LogOf([&] { EXPECT_EQ(Set(m, "fresh", Real(1.5)), 0); }, VLOG_INFO),
            (vtest::Lines{{'I', "Dynamically creating property \"fresh\""}}));
  VProperty p = VPropMgrFind(m, "FRESH");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(VPropertyGetType(p), VDT_REAL);
  EXPECT_EQ(VPropertyGetFlags(p), VPROP_FLAG_EXPAND);
  EXPECT_STREQ(VPropertyGetDescription(p), "");
  EXPECT_EQ(Value("fresh"), "1.500000");
  // Created properties expand their texts.
  setenv("VPROPTEST_HOME", "/h", 1);
  ASSERT_EQ(Set(m, "path", Text("$VPROPTEST_HOME/x")), 0);
  EXPECT_EQ(Value("path"), "/h/x");
  // Binary data makes the property but cannot set it.
  uint8_t bytes[2] = {1, 2};
  EXPECT_EQ(Set(m, "blob", vtest::Binary(bytes, 2)), VRC_TYPE_MISMATCH);
  EXPECT_EQ(Value("blob"), "0x0102");
  ASSERT_EQ(Set(m, "props.checknames", Bool(true)), 0);
  EXPECT_EQ(Set(m, "other", Real(1.5)), VRC_PROP_NOT_FOUND);
}

TEST_F(VPropMgrTest, ExpansionAppliesWhenDefinedAndSetOnlyWithTheFlag) {
  setenv("VPROPTEST_DIR", "/srv", 1);
  VTypedValue v = Text("${VPROPTEST_DIR}/a");
  ASSERT_EQ(Define(m, "e", v, VPROP_FLAG_EXPAND), 0);
  ASSERT_EQ(Define(m, "plain", v), 0);
  EXPECT_EQ(Value("e"), "/srv/a");
  EXPECT_EQ(Value("plain"), "${VPROPTEST_DIR}/a");
  ASSERT_EQ(Set(m, "e", Text("%VPROPTEST_DIR%/b")), 0);
  ASSERT_EQ(Set(m, "plain", Text("%VPROPTEST_DIR%/b")), 0);
  EXPECT_EQ(Value("e"), "/srv/b");
  EXPECT_EQ(Value("plain"), "%VPROPTEST_DIR%/b");
  VTypedValue got = vtest::Get(m, "e");
  EXPECT_EQ(got.value.stringValue.length, strlen("/srv/b"));
  VTypedValueFreeValue(&got);
}

// Records each call: the callback's tag and the value it saw.
struct Calls {
  std::vector<std::string> seen;
  VRC veto = 0;
  int vetoAt = -1;
};

VRC Record(VProperty p, const VTypedValue *v, void *arg) {
  auto *calls = static_cast<Calls *>(arg);
  char *text = nullptr;
  VTypedValueToString(v, &text);
  calls->seen.push_back(std::string(VPropertyGetName(p)) + "=" + text);
  free(text);
  return static_cast<int>(calls->seen.size()) == calls->vetoAt ? calls->veto
                                                               : 0;
}

VRC Other(VProperty, const VTypedValue *, void *arg) {
  static_cast<Calls *>(arg)->seen.push_back("other");
  return 0;
}

VRC RemoveSelf(VProperty p, const VTypedValue *, void *arg) {
  ++*static_cast<int *>(arg);
  return VPropertyRemoveCallback(p, RemoveSelf, arg);
}

TEST_F(VPropMgrTest, CallbacksRunInOrderOnTheConvertedValueAndMayVeto) {
  ASSERT_EQ(Define(m, "n", Int(1)), 0);
  Calls calls;
  ASSERT_EQ(VPropMgrAddCallback(m, "n", Record, &calls), 0);
  ASSERT_EQ(VPropMgrAddCallback(m, "n", Other, &calls), 0);
  ASSERT_EQ(VPropMgrAddCallback(m, "n", Record, &calls), 0);
  ASSERT_EQ(Set(m, "n", Real(2.7)), 0);
  EXPECT_EQ(calls.seen, (std::vector<std::string>{"n=2", "other", "n=2"}));

  // A veto comes back unchanged; later callbacks do not run.
  calls = Calls{{}, 5, 1};
  EXPECT_EQ(Set(m, "n", Int(9)), 5);
  EXPECT_EQ(calls.seen, (std::vector<std::string>{"n=9"}));
  EXPECT_EQ(Value("n"), "2");
  // A refused conversion never reaches them.
  calls = Calls{};
  EXPECT_EQ(Set(m, "n", Text("9")), VRC_TYPE_MISMATCH);
  EXPECT_TRUE(calls.seen.empty());

  // Removing takes the first matching pair only.
  EXPECT_EQ(VPropMgrRemoveCallback(m, "n", Record, nullptr), VRC_NOT_FOUND);
  EXPECT_EQ(VPropMgrRemoveCallback(m, "n", Record, &calls), 0);
  calls = Calls{};
  ASSERT_EQ(Set(m, "n", Int(9)), 0);
  EXPECT_EQ(calls.seen, (std::vector<std::string>{"other", "n=9"}));
  EXPECT_EQ(VPropertyRemoveAllCallbacks(VPropMgrFind(m, "n")), 0);
  EXPECT_EQ(VPropMgrRemoveCallback(m, "n", Other, &calls), VRC_PROP_NOT_FOUND);
  EXPECT_EQ(VPropMgrAddCallback(m, "none", Other, &calls), VRC_PROP_NOT_FOUND);

  // A callback may remove itself while it runs.
  int runs = 0;
  calls = Calls{};
  ASSERT_EQ(VPropMgrAddCallback(m, "n", RemoveSelf, &runs), 0);
  ASSERT_EQ(VPropMgrAddCallback(m, "n", Other, &calls), 0);
  ASSERT_EQ(Set(m, "n", Int(1)), 0);
  ASSERT_EQ(Set(m, "n", Int(1)), 0);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(calls.seen.size(), 2u);
}

TEST_F(VPropMgrTest, GetValueHandsOutCopies) {
  uint8_t bytes[3] = {1, 2, 3};
  ASSERT_EQ(Define(m, "b", vtest::Binary(bytes, 3)), 0);
  bytes[0] = 9;  // the definition copied them
  VTypedValue got = vtest::Get(m, "b");
  ASSERT_EQ(got.type, VDT_BINARY);
  ASSERT_EQ(got.value.binaryValue.length, 3u);
  EXPECT_EQ(memcmp(got.value.binaryValue.data, "\1\2\3", 3), 0);
  VTypedValueFreeValue(&got);
  ASSERT_EQ(Define(m, "e", vtest::Binary(nullptr, 0)), 0);
  got = vtest::Get(m, "e");
  EXPECT_EQ(got.value.binaryValue.data, nullptr);
  EXPECT_EQ(Define(m, "bad", vtest::Binary(nullptr, 4)), EINVAL);
  EXPECT_EQ(Define(m, "u", VTypedValue{11, VValue{}}), VRC_INVALID_DATATYPE);
  EXPECT_EQ(VPropMgrGetValue(m, "u", &got), VRC_PROP_NOT_FOUND);
  char *text = nullptr;
  EXPECT_EQ(VPropMgrGetStringValue(m, "u", &text), VRC_PROP_NOT_FOUND);
}

TEST_F(VPropMgrTest, TableDefineStopsAtTheFirstFailureAndGroupsKeepForty) {
  VValue port = Int(4100).value, text = Text("h").value;
  const VPropTableRow rows[] = {
      {"port", "the port", "Net", VDT_INTEGER, &port, 0},
      {"host", "the host", nullptr, VDT_STRING, &text, 0},
      {"empty", "no value", "Misc", VDT_STRING, nullptr, 0},
      {"PORT", "again", "Net", VDT_INTEGER, &port, 0},
      {"never", "after", "Net", VDT_INTEGER, &port, 0},
  };
  EXPECT_EQ(VPropMgrTableDefine(m, rows, 5), VRC_PROP_EXISTS);
  EXPECT_STREQ(VPropertyGetGroup(VPropMgrFind(m, "port")), "Net");
  EXPECT_STREQ(VPropertyGetGroup(VPropMgrFind(m, "host")), "Default");
  EXPECT_EQ(Value("port"), "4100");
  EXPECT_EQ(Value("empty"), "");
  EXPECT_EQ(VPropMgrExists(m, "never"), 0);
  EXPECT_EQ(VPropMgrTableDefine(m, rows, -1), EINVAL);
  // Groups keep forty characters.
  std::string fifty(50, 'x');
  fifty[39] = 'y';
  EXPECT_EQ(VPropMgrSetGroup(m, "Host", fifty.c_str()), 0);
  EXPECT_EQ(std::string(VPropertyGetGroup(VPropMgrFind(m, "host"))),
            fifty.substr(0, 40));
  EXPECT_EQ(VPropMgrSetGroup(m, "nothing", "x"), VRC_NOT_FOUND);
}

int Names(void *item, void *arg) {
  static_cast<std::vector<std::string> *>(arg)->push_back(
      VPropertyGetName(static_cast<VProperty>(item)));
  return 0;
}

int StopAtThird(void *, void *arg) {
  return ++*static_cast<int *>(arg) == 3 ? 7 : 0;
}

TEST_F(VPropMgrTest, SortedWalkOrdersByNameIgnoringCase) {
  for (const char *name : {"beta", "Alpha", "gamma", "ALPHA2", "Delta"}) {
    ASSERT_EQ(Define(m, name, Int(1)), 0);
  }
  std::vector<std::string> names;
  EXPECT_EQ(VPropMgrWalk(m, Names, &names, 1), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "ALPHA2", "beta", "Delta",
                                             "gamma", "Props.CheckNames"}));
  int seen = 0;
  EXPECT_EQ(VPropMgrWalk(m, StopAtThird, &seen, 0), 7);
  EXPECT_EQ(VPropMgrWalk(m, nullptr, nullptr, 0), EINVAL);
}

TEST_F(VPropMgrTest, DebugLinesNameWhatChanged) {
  Calls calls;
  auto lines = LogOf(
      [&] {
        Define(m, "n", Int(1));
        VPropMgrAddAlias(m, "n", "a");
        VPropMgrRemoveAlias(m, "a");
        VPropMgrAddCallback(m, "n", Other, &calls);
        VPropMgrRemoveCallback(m, "n", Other, &calls);
        VPropMgrAddCallback(m, "n", Other, &calls);
        VPropertyRemoveAllCallbacks(VPropMgrFind(m, "n"));
        VPropMgrUndefine(m, "n");
      },
      VLOG_DEBUG);
  char pointer[32];
  snprintf(pointer, sizeof pointer, "%p", reinterpret_cast<void *>(Other));
  std::string p(pointer);
  EXPECT_EQ(lines, (vtest::Lines{
                       {'D', "Added property n"},
                       {'D', "Added alias a for property n"},
                       {'D', "Removed alias a for property n"},
                       {'D', "Added callback " + p + " for property n"},
                       {'D', "Removed callback " + p + " for property n"},
                       {'D', "Added callback " + p + " for property n"},
                       {'D', "Removing all callbacks for property n"},
                       {'D', "Removed property n"},
                   }));
}

// Random definitions, sets, aliases and removals against a model keyed by
// upper-case name, over enough names that the tables grow several times.
TEST_F(VPropMgrTest, ModelOfNamesValuesAndAliases) {
  VLogMgrSetLevel(VLOG_ERROR);  // every use of an alias warns
  struct Entry {
    int32_t value;
    std::string canonical;  // for aliases: the property's upper-case name
  };
  std::map<std::string, Entry> properties, aliases;
  auto upper = [](std::string s) {
    for (char &c : s) c = static_cast<char>(toupper(c));
    return s;
  };
  std::mt19937 gen(20240611);
  auto name = [&] {
    std::string s = "p" + std::to_string(gen() % 3000);
    if (gen() % 2) s[0] = 'P';
    return s;
  };
  // The property a name or alias stands for.
  auto resolve = [&](const std::string &key) {
    auto alias = aliases.find(key);
    return properties.find(alias == aliases.end() ? key
                                                  : alias->second.canonical);
  };
  for (int step = 0; step < 40000; ++step) {
    std::string n = name();
    std::string key = upper(n);
    bool taken = properties.count(key) || aliases.count(key);
    int32_t value = static_cast<int32_t>(gen() % 1000);
    VTypedValue v = Int(value);
    switch (gen() % 6) {
      case 0:
      case 1:
        ASSERT_EQ(VPropMgrDefineWithFlags(m, n.c_str(), "d", &v, 0),
                  taken ? VRC_PROP_EXISTS : 0);
        if (!taken) properties[key] = {value, key};
        break;
      case 2: {
        VRC rc = VPropMgrSetValue(m, n.c_str(), &v);
        auto it = resolve(key);
        ASSERT_EQ(rc, it != properties.end() ? 0 : VRC_PROP_NOT_FOUND);
        if (it != properties.end()) it->second.value = value;
        break;
      }
      case 3: {
        if (properties.empty()) break;
        auto target = properties.begin();
        std::advance(target, gen() % properties.size());
        ASSERT_EQ(VPropMgrAddAlias(m, target->first.c_str(), n.c_str()),
                  taken ? VRC_PROP_EXISTS : 0);
        if (!taken) aliases[key] = {0, target->first};
        break;
      }
      case 4: {
        bool isProperty = properties.count(key) != 0;
        ASSERT_EQ(VPropMgrUndefine(m, n.c_str()),
                  isProperty ? 0 : VRC_PROP_NOT_FOUND);
        if (!isProperty) break;
        properties.erase(key);
        std::erase_if(aliases,
                      [&](const auto &a) { return a.second.canonical == key; });
        break;
      }
      default: {
        VProperty p = VPropMgrFind(m, n.c_str());
        auto it = resolve(key);
        ASSERT_EQ(p != nullptr, it != properties.end()) << n;
        if (p == nullptr) break;
        ASSERT_EQ(upper(VPropertyGetName(p)), it->first);
        VTypedValue got{};
        ASSERT_EQ(VPropertyGetValue(p, &got), 0);
        ASSERT_EQ(got.value.integerValue, it->second.value);
      }
    }
  }
  std::vector<std::string> names;
  ASSERT_EQ(VPropMgrWalk(m, Names, &names, 1), 0);
  EXPECT_EQ(names.size(), properties.size() + 1);
  EXPECT_GT(properties.size(), 1000u);
}

}  // namespace
