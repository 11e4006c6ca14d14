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

using VPropMgrTest = vtest::ConfigTest;

constexpr char kAliasWarning[] =
    "Accessing property port via alias oldport - this alias may be removed "
    "in a future version";

TEST_F(VPropMgrTest, NewManagerHoldsCheckNamesWithItsFlagDrivenDefault) {
  for (uint32_t flags : {0u, VPROPMGR_FLAG_DYNAMIC}) {
    auto m = vtest::MakePropMgr(flags);
    VProperty p = VPropMgrFind(m.get(), "props.checknames");
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(VPropertyGetName(p), "Props.CheckNames");
    EXPECT_EQ(VPropertyGetType(p), VDT_BOOLEAN);
    EXPECT_EQ(VPropertyGetFlags(p), VPROP_FLAG_CHECKNAMES);
    EXPECT_STREQ(VPropertyGetGroup(p), "Default");
    EXPECT_STREQ(VPropertyGetDescription(p),
                 "Cause program to abort if any property is not understood at "
                 "the time it is read");
    EXPECT_EQ(vtest::ValueText(m.get(), "Props.CheckNames"),
              flags == 0 ? "TRUE" : "FALSE");
  }
}

TEST_F(VPropMgrTest, NamesIgnoreCaseAndAliasesShareTheNamespace) {
  auto m = vtest::MakePropMgr();
  ASSERT_EQ(Define(m.get(), "Port", Int(1)), 0);
  EXPECT_EQ(Define(m.get(), "PORT", Int(1)), VRC_PROP_EXISTS);
  ASSERT_EQ(VPropMgrAddAlias(m.get(), "port", "OldPort"), 0);
  EXPECT_EQ(Define(m.get(), "oldport", Int(1)), VRC_PROP_EXISTS);
  EXPECT_EQ(VPropMgrAddAlias(m.get(), "port", "PORT"), VRC_PROP_EXISTS);
  EXPECT_EQ(VPropMgrAddAlias(m.get(), "port", "oldPORT"), VRC_PROP_EXISTS);
  EXPECT_EQ(VPropMgrAddAlias(m.get(), "nothing", "x"), VRC_PROP_NOT_FOUND);
  EXPECT_EQ(VPropMgrExists(m.get(), "pOrT"), 1);
  EXPECT_EQ(VPropMgrExists(m.get(), "portx"), 0);
  // Every letter, and bytes beyond ASCII, which only match themselves.
  ASSERT_EQ(Define(m.get(), "AbCdEfGhIjKlMnOpQrStUvWxYz.0-_", Int(1)), 0);
  EXPECT_EQ(VPropMgrExists(m.get(), "aBcDeFgHiJkLmNoPqRsTuVwXyZ.0-_"), 1);
  EXPECT_EQ(VPropMgrExists(m.get(), "ABCDEFGHIJKLMNOPQRSTUVWXYZ.0-_"), 1);
  EXPECT_EQ(VPropMgrExists(m.get(), "ABCDEFGHIJKLMNOPQRSTUVWXYZ.0-x"), 0);
  ASSERT_EQ(Define(m.get(), "caf\xc3\xa9", Int(1)), 0);
  EXPECT_EQ(VPropMgrExists(m.get(), "CAF\xc3\xa9"), 1);
  EXPECT_EQ(VPropMgrExists(m.get(), "CAF\xc3\x89"), 0);
}

TEST_F(VPropMgrTest, AliasesWarnOnEveryUseNeverChainAndGoWithTheirProperty) {
  auto m = vtest::MakePropMgr();
  ASSERT_EQ(Define(m.get(), "port", Int(4100)), 0);
  ASSERT_EQ(VPropMgrAddAlias(m.get(), "port", "oldport"), 0);
  VTypedValue got{};
  auto lines =
      LogOf([&] { EXPECT_EQ(VPropMgrGetValue(m.get(), "OLDPORT", &got), 0); });
  EXPECT_EQ(got.value.integerValue, 4100);
  EXPECT_EQ(lines, (std::vector<LogLine>{{'W', kAliasWarning}}));
  // An alias given as the name stands for its property.
  lines = LogOf(
      [&] { EXPECT_EQ(VPropMgrAddAlias(m.get(), "oldport", "older"), 0); });
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_EQ(Set(m.get(), "older", Int(9)), 0);
  EXPECT_EQ(vtest::ValueText(m.get(), "port"), "9");

  EXPECT_EQ(VPropMgrRemoveAlias(m.get(), "OldPort"), 0);
  EXPECT_EQ(VPropMgrRemoveAlias(m.get(), "oldport"), VRC_PROP_NOT_FOUND);
  EXPECT_EQ(VPropMgrRemoveAlias(m.get(), "port"), VRC_PROP_NOT_FOUND);
  EXPECT_EQ(VPropMgrFind(m.get(), "oldport"), nullptr);
  EXPECT_NE(VPropMgrFind(m.get(), "older"), nullptr);

  // Undefining takes every alias along; an alias name is not undefined.
  ASSERT_EQ(Define(m.get(), "other", Text("x")), 0);
  for (const char *alias : {"h1", "h2"}) {
    ASSERT_EQ(VPropMgrAddAlias(m.get(), "port", alias), 0);
  }
  ASSERT_EQ(VPropMgrAddAlias(m.get(), "other", "o1"), 0);
  EXPECT_EQ(VPropMgrUndefine(m.get(), "h1"), VRC_PROP_NOT_FOUND);
  EXPECT_EQ(VPropMgrUndefine(m.get(), "PORT"), 0);
  for (const char *gone : {"port", "older", "h1", "h2"}) {
    EXPECT_EQ(VPropMgrExists(m.get(), gone), 0) << gone;
  }
  EXPECT_EQ(VPropMgrExists(m.get(), "o1"), 1);
  EXPECT_EQ(VPropMgrUndefine(m.get(), "port"), VRC_PROP_NOT_FOUND);
  EXPECT_EQ(Define(m.get(), "h2", Int(1)), 0);  // the names are free again
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
    auto m = vtest::MakePropMgr();
    VTypedValue first{c.propertyType, VValue{}};
    if (c.propertyType == VDT_STRING) first = Text("");
    ASSERT_EQ(VPropMgrDefineWithFlags(m.get(), "p", "d", &first, 0), 0);
    EXPECT_EQ(VPropMgrSetValue(m.get(), "p", &c.value), c.code);
    EXPECT_EQ(vtest::ValueText(m.get(), "p"), c.text);
  }
}

TEST_F(VPropMgrTest, ReadOnlyRefusesEverySetAndKeepsTheValue) {
  auto m = vtest::MakePropMgr();
  ASSERT_EQ(Define(m.get(), "ro", Int(1), VPROP_FLAG_READONLY), 0);
  VTypedValue two = Int(2);
  EXPECT_EQ(VPropMgrSetValue(m.get(), "ro", &two), VRC_PROP_READ_ONLY);
  EXPECT_EQ(VPropMgrSetValueForWrite(m.get(), "ro", &two), VRC_PROP_READ_ONLY);
  EXPECT_EQ(VPropertySetValue(VPropMgrFind(m.get(), "ro"), &two),
            VRC_PROP_READ_ONLY);
  EXPECT_EQ(vtest::ValueText(m.get(), "ro"), "1");
  VPropertySetFlags(VPropMgrFind(m.get(), "ro"), 0);
  EXPECT_EQ(VPropMgrSetValue(m.get(), "ro", &two), 0);
}

TEST_F(VPropMgrTest, DynamicCreationFollowsCheckNames) {
  auto m = vtest::MakePropMgr();
  EXPECT_EQ(Set(m.get(), "fresh", Real(1.5)), VRC_PROP_NOT_FOUND);
  ASSERT_EQ(Set(m.get(), "Props.CheckNames", Bool(false)), 0);
  VLogMgrSetLevel(VLOG_INFO);
  std::vector<LogLine> lines =
      LogOf([&] { EXPECT_EQ(Set(m.get(), "fresh", Real(1.5)), 0); });
  VLogMgrSetLevel(VLOG_WARN);
  EXPECT_EQ(
      lines,
      (std::vector<LogLine>{{'I', "Dynamically creating property \"fresh\""}}));
  VProperty p = VPropMgrFind(m.get(), "FRESH");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(VPropertyGetType(p), VDT_REAL);
  EXPECT_EQ(VPropertyGetFlags(p), VPROP_FLAG_EXPAND);
  EXPECT_STREQ(VPropertyGetDescription(p), "");
  EXPECT_EQ(vtest::ValueText(m.get(), "fresh"), "1.500000");
  // Created properties expand their texts.
  setenv("VPROPTEST_HOME", "/h", 1);
  ASSERT_EQ(Set(m.get(), "path", Text("$VPROPTEST_HOME/x")), 0);
  EXPECT_EQ(vtest::ValueText(m.get(), "path"), "/h/x");
  // Binary data makes the property but cannot set it.
  uint8_t bytes[2] = {1, 2};
  EXPECT_EQ(Set(m.get(), "blob", vtest::Binary(bytes, 2)), VRC_TYPE_MISMATCH);
  EXPECT_EQ(vtest::ValueText(m.get(), "blob"), "0x0102");
  ASSERT_EQ(Set(m.get(), "props.checknames", Bool(true)), 0);
  EXPECT_EQ(Set(m.get(), "other", Real(1.5)), VRC_PROP_NOT_FOUND);
}

TEST_F(VPropMgrTest, ExpansionAppliesWhenDefinedAndSetOnlyWithTheFlag) {
  setenv("VPROPTEST_DIR", "/srv", 1);
  auto m = vtest::MakePropMgr();
  VTypedValue v = Text("${VPROPTEST_DIR}/a");
  ASSERT_EQ(Define(m.get(), "e", v, VPROP_FLAG_EXPAND), 0);
  ASSERT_EQ(Define(m.get(), "plain", v), 0);
  EXPECT_EQ(vtest::ValueText(m.get(), "e"), "/srv/a");
  EXPECT_EQ(vtest::ValueText(m.get(), "plain"), "${VPROPTEST_DIR}/a");
  ASSERT_EQ(Set(m.get(), "e", Text("%VPROPTEST_DIR%/b")), 0);
  ASSERT_EQ(Set(m.get(), "plain", Text("%VPROPTEST_DIR%/b")), 0);
  EXPECT_EQ(vtest::ValueText(m.get(), "e"), "/srv/b");
  EXPECT_EQ(vtest::ValueText(m.get(), "plain"), "%VPROPTEST_DIR%/b");
  VTypedValue got = vtest::Get(m.get(), "e");
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
  auto m = vtest::MakePropMgr();
  ASSERT_EQ(Define(m.get(), "n", Int(1)), 0);
  Calls calls;
  ASSERT_EQ(VPropMgrAddCallback(m.get(), "n", Record, &calls), 0);
  ASSERT_EQ(VPropMgrAddCallback(m.get(), "n", Other, &calls), 0);
  ASSERT_EQ(VPropMgrAddCallback(m.get(), "n", Record, &calls), 0);
  ASSERT_EQ(Set(m.get(), "n", Real(2.7)), 0);
  EXPECT_EQ(calls.seen, (std::vector<std::string>{"n=2", "other", "n=2"}));

  // A veto comes back unchanged; later callbacks do not run.
  calls = Calls{{}, 5, 1};
  EXPECT_EQ(Set(m.get(), "n", Int(9)), 5);
  EXPECT_EQ(calls.seen, (std::vector<std::string>{"n=9"}));
  EXPECT_EQ(vtest::ValueText(m.get(), "n"), "2");
  // A refused conversion never reaches them.
  calls = Calls{};
  EXPECT_EQ(Set(m.get(), "n", Text("9")), VRC_TYPE_MISMATCH);
  EXPECT_TRUE(calls.seen.empty());

  // Removing takes the first matching pair only.
  EXPECT_EQ(VPropMgrRemoveCallback(m.get(), "n", Record, nullptr),
            VRC_NOT_FOUND);
  EXPECT_EQ(VPropMgrRemoveCallback(m.get(), "n", Record, &calls), 0);
  calls = Calls{};
  ASSERT_EQ(Set(m.get(), "n", Int(9)), 0);
  EXPECT_EQ(calls.seen, (std::vector<std::string>{"other", "n=9"}));
  EXPECT_EQ(VPropertyRemoveAllCallbacks(VPropMgrFind(m.get(), "n")), 0);
  EXPECT_EQ(VPropMgrRemoveCallback(m.get(), "n", Other, &calls),
            VRC_PROP_NOT_FOUND);
  EXPECT_EQ(VPropMgrAddCallback(m.get(), "none", Other, &calls),
            VRC_PROP_NOT_FOUND);

  // A callback may remove itself while it runs.
  int runs = 0;
  calls = Calls{};
  ASSERT_EQ(VPropMgrAddCallback(m.get(), "n", RemoveSelf, &runs), 0);
  ASSERT_EQ(VPropMgrAddCallback(m.get(), "n", Other, &calls), 0);
  ASSERT_EQ(Set(m.get(), "n", Int(1)), 0);
  ASSERT_EQ(Set(m.get(), "n", Int(1)), 0);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(calls.seen.size(), 2u);
}

TEST_F(VPropMgrTest, GetValueHandsOutCopies) {
  auto m = vtest::MakePropMgr();
  uint8_t bytes[3] = {1, 2, 3};
  ASSERT_EQ(Define(m.get(), "b", vtest::Binary(bytes, 3)), 0);
  bytes[0] = 9;  // the definition copied them
  VTypedValue got = vtest::Get(m.get(), "b");
  ASSERT_EQ(got.type, VDT_BINARY);
  ASSERT_EQ(got.value.binaryValue.length, 3u);
  EXPECT_EQ(memcmp(got.value.binaryValue.data, "\1\2\3", 3), 0);
  VTypedValueFreeValue(&got);
  ASSERT_EQ(Define(m.get(), "e", vtest::Binary(nullptr, 0)), 0);
  got = vtest::Get(m.get(), "e");
  EXPECT_EQ(got.value.binaryValue.data, nullptr);
  EXPECT_EQ(Define(m.get(), "bad", vtest::Binary(nullptr, 4)), EINVAL);
  EXPECT_EQ(Define(m.get(), "u", VTypedValue{11, VValue{}}),
            VRC_INVALID_DATATYPE);
  EXPECT_EQ(VPropMgrGetValue(m.get(), "u", &got), VRC_PROP_NOT_FOUND);
  char *text = nullptr;
  EXPECT_EQ(VPropMgrGetStringValue(m.get(), "u", &text), VRC_PROP_NOT_FOUND);
}

TEST_F(VPropMgrTest, TableDefineStopsAtTheFirstFailureAndGroupsKeepForty) {
  auto m = vtest::MakePropMgr();
  VValue port{};
  port.integerValue = 4100;
  VValue text{};
  text.stringValue.text = const_cast<char *>("h");
  text.stringValue.length = 1;
  const VPropTableRow rows[] = {
      {"port", "the port", "Net", VDT_INTEGER, &port, 0},
      {"host", "the host", nullptr, VDT_STRING, &text, 0},
      {"empty", "no value", "Misc", VDT_STRING, nullptr, 0},
      {"PORT", "again", "Net", VDT_INTEGER, &port, 0},
      {"never", "after", "Net", VDT_INTEGER, &port, 0},
  };
  EXPECT_EQ(VPropMgrTableDefine(m.get(), rows, 5), VRC_PROP_EXISTS);
  EXPECT_STREQ(VPropertyGetGroup(VPropMgrFind(m.get(), "port")), "Net");
  EXPECT_STREQ(VPropertyGetGroup(VPropMgrFind(m.get(), "host")), "Default");
  EXPECT_EQ(vtest::ValueText(m.get(), "port"), "4100");
  EXPECT_EQ(vtest::ValueText(m.get(), "empty"), "");
  EXPECT_EQ(VPropMgrExists(m.get(), "never"), 0);
  EXPECT_EQ(VPropMgrTableDefine(m.get(), rows, -1), EINVAL);
  // Groups keep forty characters.
  std::string fifty(50, 'x');
  fifty[39] = 'y';
  EXPECT_EQ(VPropMgrSetGroup(m.get(), "Host", fifty.c_str()), 0);
  EXPECT_EQ(std::string(VPropertyGetGroup(VPropMgrFind(m.get(), "host"))),
            fifty.substr(0, 40));
  EXPECT_EQ(VPropMgrSetGroup(m.get(), "nothing", "x"), VRC_NOT_FOUND);
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
  auto m = vtest::MakePropMgr();
  for (const char *name : {"beta", "Alpha", "gamma", "ALPHA2", "Delta"}) {
    ASSERT_EQ(Define(m.get(), name, Int(1)), 0);
  }
  std::vector<std::string> names;
  EXPECT_EQ(VPropMgrWalk(m.get(), Names, &names, 1), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "ALPHA2", "beta", "Delta",
                                             "gamma", "Props.CheckNames"}));
  int seen = 0;
  EXPECT_EQ(VPropMgrWalk(m.get(), StopAtThird, &seen, 0), 7);
  EXPECT_EQ(VPropMgrWalk(m.get(), nullptr, nullptr, 0), EINVAL);
}

TEST_F(VPropMgrTest, DebugLinesNameWhatChanged) {
  auto m = vtest::MakePropMgr();
  VLogMgrSetLevel(VLOG_DEBUG);
  Calls calls;
  auto lines = LogOf([&] {
    Define(m.get(), "n", Int(1));
    VPropMgrAddAlias(m.get(), "n", "a");
    VPropMgrRemoveAlias(m.get(), "a");
    VPropMgrAddCallback(m.get(), "n", Other, &calls);
    VPropMgrRemoveCallback(m.get(), "n", Other, &calls);
    VPropMgrAddCallback(m.get(), "n", Other, &calls);
    VPropertyRemoveAllCallbacks(VPropMgrFind(m.get(), "n"));
    VPropMgrUndefine(m.get(), "n");
  });
  VLogMgrSetLevel(VLOG_WARN);
  char pointer[32];
  snprintf(pointer, sizeof pointer, "%p", reinterpret_cast<void *>(Other));
  std::string p(pointer);
  EXPECT_EQ(lines, (std::vector<LogLine>{
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
  auto m = vtest::MakePropMgr();
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
        ASSERT_EQ(VPropMgrDefineWithFlags(m.get(), n.c_str(), "d", &v, 0),
                  taken ? VRC_PROP_EXISTS : 0);
        if (!taken) properties[key] = {value, key};
        break;
      case 2: {
        VRC rc = VPropMgrSetValue(m.get(), n.c_str(), &v);
        auto it = resolve(key);
        ASSERT_EQ(rc, it != properties.end() ? 0 : VRC_PROP_NOT_FOUND);
        if (it != properties.end()) it->second.value = value;
        break;
      }
      case 3: {
        if (properties.empty()) break;
        auto target = properties.begin();
        std::advance(target, gen() % properties.size());
        ASSERT_EQ(VPropMgrAddAlias(m.get(), target->first.c_str(), n.c_str()),
                  taken ? VRC_PROP_EXISTS : 0);
        if (!taken) aliases[key] = {0, target->first};
        break;
      }
      case 4: {
        bool isProperty = properties.count(key) != 0;
        ASSERT_EQ(VPropMgrUndefine(m.get(), n.c_str()),
                  isProperty ? 0 : VRC_PROP_NOT_FOUND);
        if (!isProperty) break;
        properties.erase(key);
        std::erase_if(aliases,
                      [&](const auto &a) { return a.second.canonical == key; });
        break;
      }
      default: {
        VProperty p = VPropMgrFind(m.get(), n.c_str());
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
  ASSERT_EQ(VPropMgrWalk(m.get(), Names, &names, 1), 0);
  EXPECT_EQ(names.size(), properties.size() + 1);
  EXPECT_GT(properties.size(), 1000u);
}

}  // namespace
