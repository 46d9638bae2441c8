// The in-process server as a host uses it: the library loaded with dlopen for each test and
// unloaded after it, every call made through its exports and function tables.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <source_location>
#include <tuple>

#include "com/VarnLogProcess.h"
#include "runtime/Text.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

namespace fs = std::filesystem;

// A method through the object's function table, the object first, as a C host calls it (p is
// named twice: a plain name or member only).
#define CALL(p, Method, ...) (p)->lpVtbl->Method((p)__VA_OPT__(, ) __VA_ARGS__)

// What calls made in order gave, each beside what it must be (results, counts, flags, amounts).
using Row = std::pair<double, double>;
Row Is(double dblGot, double dblWant) { return {dblGot, dblWant}; }
void Expect(std::initializer_list<Row> vRows, std::source_location at = std::source_location::current()) {
  int nRow = 0;
  for (auto [dblGot, dblWant] : vRows) EXPECT_EQ(dblGot, dblWant) << "line " << at.line() << ", row " << ++nRow;
}

std::string LibraryPath() { return (fs::path(VarnlogPath()).parent_path() / VARNLOGPROCESS_LIBRARY).string(); }

// The library with its exports bound; unloaded at the end unless a test does it first.
struct Library {
  explicit Library(const std::string& sPath = LibraryPath()) : mpHandle(dlopen(sPath.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
  void* Bind(const char* sName) {
    void* pSymbol = mpHandle ? dlsym(mpHandle, sName) : nullptr;
    return pSymbol ? pSymbol : throw std::runtime_error(std::string(sName) + ": " + dlerror());
  }
  void Unload() {
    if (void* p = std::exchange(mpHandle, nullptr)) dlclose(p);
  }
  ~Library() { Unload(); }

  void* mpHandle;
#define VARN_EXPORT(name) PFN_##name name = reinterpret_cast<PFN_##name>(Bind(#name))
  VARN_EXPORT(DllGetClassObject);
  VARN_EXPORT(DllCanUnloadNow);
  VARN_EXPORT(DllRegisterServer);
  VARN_EXPORT(DllUnregisterServer);
  VARN_EXPORT(SysAllocString);
  VARN_EXPORT(SysAllocStringLen);
  VARN_EXPORT(SysStringLen);
  VARN_EXPORT(SysFreeString);
  VARN_EXPORT(VariantClear);
#undef VARN_EXPORT
};

// An interface pointer the test holds: released when it goes.
template <class I>
class Ref {
 public:
  explicit Ref(I* p = nullptr) : mp(p) {}
  Ref(Ref&& other) noexcept : mp(std::exchange(other.mp, nullptr)) {}
  ~Ref() { Reset(); }
  void Reset() {
    if (I* p = std::exchange(mp, nullptr)) CALL(p, Release);
  }
  operator I*() const { return mp; }
  I* operator->() const { return mp; }
  I** Out() { return Reset(), &mp; }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }

 private:
  I* mp;
};

// A property through its getter, which must succeed.
template <class T, class P, class Fn>
T Get(const P& p, Fn fnGetter) {
  T value{};
  if constexpr (requires { value.Out(); }) EXPECT_EQ(fnGetter(p, value.Out()), S_OK);
  else EXPECT_EQ(fnGetter(p, &value), S_OK);
  return value;
}

// The reference count, read by taking one more and giving it back; the object's one IUnknown.
uint32_t Refs(IUnknown* p) { return CALL(p, AddRef), CALL(p, Release); }
IUnknown* IdentityOf(IUnknown* p) {
  Ref<IUnknown> unknown;
  EXPECT_EQ(CALL(p, QueryInterface, &IID_IUnknown, unknown.OutVoid()), S_OK);
  return unknown;
}
int32_t Count(_Collection* p) { return Get<int32_t>(p, p->lpVtbl->Count); }
auto HistoryOf(_clsLogAnalysis* p) { return Get<Ref<_Collection>>(p, p->lpVtbl->get_HistoryLogDates); }
auto ConnectionOf(_clsLogAnalysis* p) { return Get<Ref<_clsConnection>>(p, p->lpVtbl->get_DBConnection); }
VARIANT_BOOL Connected(_clsConnection* p) { return Get<VARIANT_BOOL>(p, p->lpVtbl->get_IsConnected); }
double GoodsColumns(const std::string& sDB) {
  return std::stod(SqlValue(sDB, "SELECT COUNT(*) FROM pragma_table_info('Goods') WHERE name LIKE 'Goods_%'"));
}

// A VARIANT of the type given, the value in the first bytes of its union.
VARIANT Var(VARTYPE vt, auto value) {
  VARIANT v{};
  v.vt = vt;
  std::memcpy(&v.llVal, &value, sizeof value);
  return v;
}

// The history's item at an index, or the failure it must give (and leave the result empty).
template <class I = IDispatch>
Ref<I> Item(_Collection* p, VARIANT index, HRESULT hrWant = S_OK) {
  VARIANT item = Var(VT_I4, 7);
  EXPECT_EQ(CALL(p, Item, &index, &item), hrWant);
  EXPECT_EQ(item.vt, hrWant == S_OK ? VT_DISPATCH : VT_EMPTY);
  return Ref<I>(item.vt == VT_DISPATCH ? reinterpret_cast<I*>(item.pdispVal) : nullptr);
}

bool HoldsOpen(const std::string& sPath) {
  std::error_code ec;
  return std::ranges::any_of(fs::directory_iterator("/proc/self/fd"), [&](const fs::directory_entry& fd) {
    return fs::read_symlink(fd, ec) == fs::canonical(sPath, ec);
  });
}

class ComServer : public ::testing::Test {
 protected:
  // A BSTR of the test's, freed before the library goes.
  BSTR Text(std::u16string_view s) { return mvTexts.emplace_back(mLib.SysAllocStringLen(s.data(), s.size())); }
  BSTR PathText(const std::string& sPath) { return Text(fs::path(sPath).u16string()); }
  std::u16string Taken(BSTR bstr) {
    std::u16string s(bstr ? bstr : u"", mLib.SysStringLen(bstr));
    return mLib.SysFreeString(bstr), s;
  }
  template <class I>
  Ref<I> Create(const CLSID& clsid, const IID& iid) {
    Ref<IClassFactory> factory;
    EXPECT_EQ(mLib.DllGetClassObject(&clsid, &IID_IClassFactory, factory.OutVoid()), S_OK);
    Ref<I> object;
    EXPECT_EQ(CALL(factory, CreateInstance, nullptr, &iid, object.OutVoid()), S_OK);
    return object;
  }
  Ref<_clsItemGoods> Goods() { return Create<_clsItemGoods>(CLSID_clsItemGoods, IID__clsItemGoods); }
  Ref<_clsLogAnalysis> Service(const std::string& sDB) {
    auto service = Create<_clsLogAnalysis>(CLSID_clsLogAnalysis, IID__clsLogAnalysis);
    EXPECT_TRUE(sDB.empty() || CALL(service, Initialize, PathText(sDB)) == S_OK);
    return service;
  }
  // The example log as the log of another day: its date line and its file name changed.
  std::string ExampleLog(const std::string& sDay) {
    std::string sLog = Replace(ReadFile(SourceDir() + "/examples/14-03-2024.log"), "14/03/2024", sDay);
    return WriteFile(mTemp / (Replace(sDay, "/", "-") + ".log"), sLog);
  }
  bool Import(_clsLogAnalysis* service, const std::string& sLog) {
    VARIANT_BOOL bDone = VARIANT_FALSE;
    EXPECT_EQ(CALL(service, ProcessLogFile, PathText(sLog), &bDone), S_OK);
    return bDone == VARIANT_TRUE;
  }
  void TearDown() override {
    for (BSTR bstr : std::exchange(mvTexts, {})) mLib.SysFreeString(bstr);
    mLib.Unload();
  }

  Library mLib;
  TempFolder mTemp;
  std::vector<BSTR> mvTexts;
};

TEST_F(ComServer, FactoriesMakeTheThreeClassesAndTheServerStaysWhileAnythingIsHeld) {
  const GUID kUnknownClass = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  for (const GUID* pClsid : {&LIBID_VarnLogProcess, &IID__clsItemDateRange, &IID__clsLogAnalysis, &kUnknownClass}) {
    void* pFactory = &mLib;
    Expect({Is(mLib.DllGetClassObject(pClsid, &IID_IClassFactory, &pFactory), CLASS_E_CLASSNOTAVAILABLE),
            Is(pFactory == nullptr, true)});
  }
  // Each object comes out with the one reference the host holds (every interface adds one).
  for (const GUID* pClsid : {&CLSID_clsLogAnalysis, &CLSID_clsConnection, &CLSID_clsItemGoods}) {
    Ref<IClassFactory> factory;
    ASSERT_EQ(mLib.DllGetClassObject(pClsid, &IID_IUnknown, factory.OutVoid()), S_OK);
    void* pNone = &mLib;
    IUnknown outer{};
    Ref<IUnknown> object;
    Expect({Is(CALL(factory, CreateInstance, &outer, &IID_IUnknown, &pNone), CLASS_E_NOAGGREGATION),
            Is(CALL(factory, CreateInstance, nullptr, &IID_IClassFactory, &pNone), E_NOINTERFACE),
            Is(pNone == nullptr, true),
            Is(CALL(factory, CreateInstance, nullptr, &IID_IDispatch, object.OutVoid()), S_OK), Is(Refs(object), 1)});
  }
  void* pFactory = nullptr;
  Expect({Is(mLib.DllGetClassObject(&CLSID_clsItemGoods, &IID__clsItemGoods, &pFactory), E_NOINTERFACE),
          Is(mLib.DllGetClassObject(&CLSID_clsItemGoods, &IID_IClassFactory, nullptr), E_POINTER),
          Is(mLib.DllCanUnloadNow(), S_OK)});

  auto goods = Goods();
  Expect({Is(CALL(goods, AddRef), 2), Is(CALL(goods, AddRef), 3), Is(CALL(goods, Release), 2),
          Is(CALL(goods, Release), 1), Is(mLib.DllCanUnloadNow(), S_FALSE)});
  goods.Reset();
  EXPECT_EQ(mLib.DllCanUnloadNow(), S_OK);
  // A lock holds the server without a factory; unlocking more often than locking stays at none.
  Ref<IClassFactory> factory;
  ASSERT_EQ(mLib.DllGetClassObject(&CLSID_clsConnection, &IID_IClassFactory, factory.OutVoid()), S_OK);
  Expect({Is(mLib.DllCanUnloadNow(), S_FALSE), Is(CALL(factory, LockServer, 1), S_OK)});
  factory.Reset();
  EXPECT_EQ(mLib.DllCanUnloadNow(), S_FALSE);
  ASSERT_EQ(mLib.DllGetClassObject(&CLSID_clsConnection, &IID_IClassFactory, factory.OutVoid()), S_OK);
  Expect({Is(CALL(factory, LockServer, 0), S_OK), Is(CALL(factory, LockServer, 0), S_OK)});
  factory.Reset();
  EXPECT_EQ(mLib.DllCanUnloadNow(), S_OK);
}

// A host's day: a log imported as the command line imports it, the duplicate check, every object
// asked for every interface, the history read, enumerated and changed, and a history item that
// keeps the server in use.
TEST_F(ComServer, AHostImportsAndReadsTheHistory) {
  const std::string sDatabase = mTemp / "varnrpt.mdb", sCli = mTemp / "cli.mdb", sLog = ExampleLog("14/03/2024");
  auto service = Service(sDatabase);
  ASSERT_TRUE(Import(service, sLog));
  ASSERT_EQ(RunVarnlog({"--db", sCli, "import", "--rejects", mTemp / "rejects", sLog}).nExit, 0);
  EXPECT_EQ(FirstDifference(Dump(sDatabase, false), Dump(sCli, false)), "");
  // The service gives the lines left out each after a CRLF; the command line one a line, after the file's name.
  std::string sLines = fs::path(Taken(Get<BSTR>(service, service->lpVtbl->get_UncategorisedLines))).string();
  EXPECT_EQ(ReadFile(mTemp / "rejects"), Replace(sLines, "\r\n", "\n14-03-2024.log: ").substr(1) + "\n");

  // The duplicate check gives the import date to the caller.
  VARIANT_BOOL bFound = 0, bNotFound = 7, bFoundAgain = 0;
  BSTR bstrImported = mLib.SysAllocString(u"replaced"), bstrNone = nullptr;
  Expect({Is(CALL(service, IsAlreadyImported, Text(u"14-03-2024"), &bstrImported, &bFound), S_OK),
          Is(CALL(service, IsAlreadyImported, Text(u"01-01-2000"), &bstrNone, &bNotFound), S_OK),
          Is(CALL(service, IsAlreadyImported, Text(u"14-03-2024"), nullptr, &bFoundAgain), S_OK),
          Is(bFound, VARIANT_TRUE), Is(bNotFound, VARIANT_FALSE), Is(bstrNone == nullptr, true),
          Is(bFoundAgain, VARIANT_TRUE)});
  std::u16string sImported = Taken(bstrImported);
  EXPECT_TRUE(sImported != u"replaced" && !sImported.empty());

  ASSERT_TRUE(Import(service, ExampleLog("15/03/2024")));
  EXPECT_EQ(Get<int32_t>(service, service->lpVtbl->get_WhatDBAction), enuInsert);
  auto history = HistoryOf(service);
  ASSERT_EQ(Count(history), 2);
  {
    auto connection = ConnectionOf(service);
    auto record = Item(history, Var(VT_I4, 1));
    Ref<IUnknown> factory;
    ASSERT_EQ(mLib.DllGetClassObject(&CLSID_clsConnection, &IID_IUnknown, factory.OutVoid()), S_OK);
    auto goods = Goods();
    auto created = Create<IUnknown>(CLSID_clsConnection, IID__clsConnection);
    auto enumerator = Get<Ref<IUnknown>>(history, history->lpVtbl->_NewEnum);
    auto database = Get<Ref<IUnknown>>(connection, connection->lpVtbl->get_DBConnection);
    const IID* const kAsked[] = {&IID_IUnknown,       &IID_IDispatch,     &IID_IClassFactory,
                                 &IID_IEnumVARIANT,   &IID__Collection,   &IID__clsLogAnalysis,
                                 &IID__clsConnection, &IID__clsItemGoods, &IID__clsItemDateRange};
    // Which of those each object answers, in that order.
    const std::tuple<const char*, void*, std::string> kObjects[] = {
        {"service", service, "110001000"},          {"its connection", connection, "110000100"},
        {"a new connection", created, "110000100"}, {"goods", goods, "110000010"},
        {"history", history, "110010000"},          {"history item", record, "110000001"},
        {"enumerator", enumerator, "100100000"},    {"database connection", database, "100000000"},
        {"class factory", factory, "101000000"}};
    for (const auto& [sObject, pv, sAnswers] : kObjects) {
      auto* pObject = static_cast<IUnknown*>(pv);
      for (size_t n = 0; n < std::size(kAsked); ++n) {
        SCOPED_TRACE(std::string(sObject) + " asked for interface " + std::to_string(n));
        void* pAnswer = &mLib;
        const bool bAnswers = sAnswers[n] == '1';
        EXPECT_EQ(CALL(pObject, QueryInterface, kAsked[n], &pAnswer), bAnswers ? S_OK : E_NOINTERFACE);
        ASSERT_EQ(pAnswer != nullptr, bAnswers);
        if (!bAnswers) continue;
        Ref<IUnknown> answer(static_cast<IUnknown*>(pAnswer));
        Expect({Is(IdentityOf(answer) == IdentityOf(pObject), true), Is(Refs(pObject), 2)});
      }
      EXPECT_EQ(CALL(pObject, QueryInterface, &IID_IUnknown, nullptr), E_POINTER);
    }

    // Items by position and by key; dates count the days since 30/12/1899: 45365 is 14/03/2024.
    const auto vStored = SqlRows(sDatabase, "SELECT Date_ID, DateTotal FROM DateRange ORDER BY LogDate");
    for (int16_t n = 0; n < 2; ++n) {
      auto record = Item<_clsItemDateRange>(history, Var(VT_I2, static_cast<int16_t>(n + 1)));
      auto same = Item<_clsItemDateRange>(history, Var(VT_BSTR, Text(n == 0 ? u"14/03/2024" : u"15/03/2024")));
      Expect({Is(same == record, true), Is(Get<DATE>(record, record->lpVtbl->get_LogDate), 45365 + n),
              Is(Get<DATE>(record, record->lpVtbl->get_ImportedDate) > 45366, true),
              Is(Get<int32_t>(record, record->lpVtbl->get_Date_ID), std::stod(vStored[n][0])),
              Is(Get<double>(record, record->lpVtbl->get_DateTotal), std::stod(vStored[n][1]))});
    }
    for (VARIANT bad : {Var(VT_I4, 0), Var(VT_I4, 3), Var(VT_I4, -1), Var(VT_BSTR, Text(u"16/03/2024")),
                        Var(VT_BSTR, Text(u"not a date"))}) {
      Item(history, bad, DISP_E_BADINDEX);
    }
    Item(history, Var(VT_R8, 1.0), DISP_E_TYPEMISMATCH);

    // Enumeration in order, with skipping, starting over and copies that go on from where they are.
    auto unknown = Get<Ref<IUnknown>>(history, history->lpVtbl->_NewEnum);
    Ref<IEnumVARIANT> cursor, copy;
    ASSERT_EQ(CALL(unknown, QueryInterface, &IID_IEnumVARIANT, cursor.OutVoid()), S_OK);
    auto second = Item(history, Var(VT_I4, 2));
    VARIANT items[3], rest, copied;
    uint32_t lFetched = 9, lCopied = 0;
    Expect({Is(CALL(cursor, Next, 3, items, &lFetched), S_FALSE), Is(lFetched, 2),
            Is(items[1].pdispVal == second, true), Is(CALL(cursor, Reset), S_OK), Is(CALL(cursor, Skip, 1), S_OK),
            Is(CALL(cursor, Clone, copy.Out()), S_OK), Is(CALL(cursor, Skip, 5), S_FALSE),
            Is(CALL(cursor, Next, 1, &rest, nullptr), S_FALSE), Is(CALL(copy, Next, 1, &copied, &lCopied), S_OK),
            Is(lCopied, 1), Is(copied.pdispVal == second, true)});
    for (VARIANT* p : {&items[0], &items[1], &copied}) mLib.VariantClear(p);

    // Adding under a key, before a position; a key held twice; removing by key and position.
    auto held = Item(history, Var(VT_I4, 1));
    VARIANT item = Var(VT_DISPATCH, static_cast<IDispatch*>(held)), first = Var(VT_I4, 1), third = Var(VT_I4, 3);
    VARIANT taken = Var(VT_BSTR, Text(u"14/03/2024")), key = Var(VT_BSTR, Text(u"Spare"));
    VARIANT notARecord = Var(VT_UNKNOWN, static_cast<_clsLogAnalysis*>(service)), upper = Var(VT_BSTR, Text(u"SPARE"));
    Expect({Is(CALL(history, Add, &item, &taken, nullptr, nullptr), VARN_E_RUNTIME(457)),
            Is(CALL(history, Add, &item, &key, &first, &first), E_INVALIDARG),
            Is(CALL(history, Add, &notARecord, &key, nullptr, nullptr), DISP_E_TYPEMISMATCH),
            Is(CALL(history, Add, &item, &key, &first, nullptr), S_OK), Is(Count(history), 3),
            Is(Item(history, first) == held, true), Is(CALL(history, Remove, &upper), S_OK),
            Is(CALL(history, Remove, &third), DISP_E_BADINDEX), Is(Count(history), 2)});

    // A history taken earlier keeps its items when the service loads a new one.
    VARIANT_BOOL bDone = 0;
    Expect({Is(CALL(service, DeleteLogDate, Text(u"15.03.2024"), &bDone), S_OK), Is(bDone, VARIANT_TRUE),
            Is(CALL(service, GetHistoryDates), S_OK), Is(HistoryOf(service) == history, false),
            Is(Count(HistoryOf(service)), 1), Is(Count(history), 2)});
  }

  // The history's items keep the server in use as long as the host holds them.
  VARIANT kept, first = Var(VT_I4, 1);
  ASSERT_EQ(CALL(history, Item, &first, &kept), S_OK);
  service.Reset();
  history.Reset();
  Expect({Is(mLib.DllCanUnloadNow(), S_FALSE), Is(mLib.VariantClear(&kept), S_OK), Is(kept.vt, VT_EMPTY),
          Is(mLib.DllCanUnloadNow(), S_OK)});
}

TEST_F(ComServer, RecordsUseTheServiceThatRanInitializeLastAndUnloadingEndsIt) {
  const std::string sFirst = mTemp / "first.mdb", sSecond = mTemp / "second.mdb", sThird = mTemp / "third.mdb";
  const std::u16string sTwelve = u"1,2,3,4,5,6,7,8,9,10,11,12";
  auto first = Service(sFirst);
  auto firstConnection = ConnectionOf(first);
  auto goods = Goods();
  VARIANT_BOOL bSetUp = 0, bSetUp2 = 0, bWritten = 0;
  Expect(
      {Is(CALL(goods, SetUp, Text(sTwelve), &bSetUp), S_OK), Is(bSetUp, VARIANT_TRUE), Is(GoodsColumns(sFirst), 12)});

  auto second = Service(sSecond);
  auto goods2 = Goods();
  Expect({Is(CALL(goods2, SetUp, Text(sTwelve + u",13"), &bSetUp2), S_OK),
          Is(Get<double>(goods2, goods2->lpVtbl->get_TotalGoods), 91), Is(CALL(goods2, put_Date_ID, 4), S_OK),
          Is(CALL(goods2, put_Session_ID, 7), S_OK), Is(CALL(goods2, DBUpdate, enuInsert, &bWritten), S_OK),
          Is(bWritten, VARIANT_TRUE), Is(GoodsColumns(sFirst), 12), Is(GoodsColumns(sSecond), 13)});
  EXPECT_EQ(SqlValue(sSecond, "SELECT Date_ID || ':' || Goods_13 FROM Goods WHERE Session_ID=7"), "4:13");
  EXPECT_EQ(SqlValue(sFirst, "SELECT COUNT(*) FROM Goods"), "0");

  // The host's reference was the first service's last: it ends and closes its database.
  EXPECT_EQ(Connected(firstConnection), VARIANT_TRUE);
  first.Reset();
  Expect({Is(Connected(firstConnection), VARIANT_FALSE), Is(HoldsOpen(sFirst), false)});
  // The second is still the component's own: it ends when a third runs Initialize.
  auto secondConnection = ConnectionOf(second);
  second.Reset();
  Expect({Is(Connected(secondConnection), VARIANT_TRUE), Is(HoldsOpen(sSecond), true)});
  Service(sThird);
  IUnknown* pDatabase = reinterpret_cast<IUnknown*>(&mLib);  // a failure must clear it
  Expect({Is(Connected(secondConnection), VARIANT_FALSE), Is(HoldsOpen(sSecond), false),
          Is(CALL(secondConnection, get_DBConnection, &pDatabase), VARN_E_RUNTIME(91)),
          Is(pDatabase == nullptr, true)});

  // Unloading ends the service the component still holds (the host holds nothing).
  for (auto* pRef : {&goods, &goods2}) pRef->Reset();
  firstConnection.Reset();
  secondConnection.Reset();
  Expect({Is(mLib.DllCanUnloadNow(), S_OK), Is(HoldsOpen(sThird), true)});
  TearDown();
  EXPECT_EQ(ReadFile("/proc/self/maps").find(VARNLOGPROCESS_LIBRARY), std::string::npos);
  EXPECT_FALSE(HoldsOpen(sThird));
}

TEST_F(ComServer, ErrorsComeBackAsFailingResultsAndTextsCrossAsUtf16) {
  // First, while no service is initialised (records use the last one): operations with a trap of
  // their own report to the user and answer False; without a database the goods take their line (the missing columns
  // are reported) but cannot be written.
  auto unset = Service("");
  auto goods = Goods();
  auto connection = Create<_clsConnection>(CLSID_clsConnection, IID__clsConnection);
  Ref<_clsConnection> none;
  Ref<_Collection> noHistory;
  Ref<IUnknown> ownDatabase;
  VARIANT_BOOL bConnected = 7, bImported = 7, bSetUp = 0, bWritten = 7, bSignedOn = 0;
  uint32_t lTypeInfos = 9;
  Expect({Is(CALL(unset, get_IsConnected, &bConnected), VARN_E_RUNTIME(91)),
          Is(CALL(unset, get_DBConnection, none.Out()), S_OK), Is(none == nullptr, true),
          Is(CALL(unset, get_HistoryLogDates, noHistory.Out()), S_OK), Is(noHistory == nullptr, true),
          Is(CALL(unset, ProcessLogFile, Text(u"/nowhere/14-03-2024.log"), &bImported), S_OK),
          Is(bImported, VARIANT_FALSE), Is(CALL(goods, SetUp, Text(u"1,2"), &bSetUp), S_OK), Is(bSetUp, VARIANT_TRUE),
          Is(CALL(goods, DBUpdate, enuInsert, &bWritten), S_OK), Is(bWritten, VARIANT_FALSE),
          Is(CALL(connection, get_IsConnected, &bConnected), VARN_E_RUNTIME(91)),
          Is(CALL(connection, get_DBConnection, ownDatabase.Out()), VARN_E_RUNTIME(91)),
          Is(CALL(connection, SignOn, PathText(mTemp / "own.mdb"), &bSignedOn), S_OK), Is(bSignedOn, VARIANT_TRUE),
          Is(Connected(connection), VARIANT_TRUE), Is(CALL(connection, get_DBConnection, ownDatabase.Out()), S_OK),
          Is(ownDatabase != nullptr, true)});
  Expect({Is(CALL(unset, get_IsConnected, nullptr), E_POINTER),
          Is(CALL(unset, get_UncategorisedLines, nullptr), E_POINTER),
          Is(CALL(connection, SignOn, nullptr, nullptr), E_POINTER),
          Is(CALL(goods, get_TotalGoods, nullptr), E_POINTER), Is(CALL(unset, GetTypeInfoCount, &lTypeInfos), S_OK),
          Is(lTypeInfos, 0),
          Is(CALL(unset, Invoke, 1, &IID_IUnknown, 0, 0, nullptr, nullptr, nullptr, nullptr), E_NOTIMPL)});

  // Texts cross as UTF-16 both ways, once a service is initialised in through a path too.
  const std::u16string sWide = u"Ĉaŝ 日本 😀";  // nine units: the last letter takes two
  BSTR bstr = mLib.SysAllocString(sWide.c_str());
  ASSERT_NE(bstr, nullptr);
  uint32_t lBytes = 0;  // the length in bytes stands before the text
  std::memcpy(&lBytes, reinterpret_cast<const char*>(bstr) - sizeof lBytes, sizeof lBytes);
  Expect({Is(mLib.SysStringLen(bstr), 9), Is(lBytes, 18), Is(bstr[9], 0), Is(mLib.SysStringLen(nullptr), 0)});
  EXPECT_EQ(Taken(bstr), sWide);
  EXPECT_EQ(Taken(mLib.SysAllocStringLen(u"a\0b", 3)), std::u16string(u"a\0b", 3));
  EXPECT_EQ(Taken(mLib.SysAllocStringLen(nullptr, 2)), std::u16string(2, u'\0'));
  EXPECT_EQ(mLib.SysAllocString(nullptr), nullptr);
  mLib.SysFreeString(nullptr);

  // In through a path, out through the lines the import did not recognise, apart from those it could not read.
  const fs::path folder = mTemp.Path() / fs::path(u"Zürich 日報"), database = folder / fs::path(u"Ünïcode.mdb");
  fs::create_directory(folder);
  auto service = Service(database.string());
  EXPECT_EQ(Get<VARIANT_BOOL>(service, service->lpVtbl->get_IsConnected), VARIANT_TRUE);
  EXPECT_TRUE(fs::exists(database));
  const std::u16string sNote = u"Café Ŝtelo – 日本 😀 closed early";
  const std::string sLog = (folder / "14-03-2024.log").string();
  WriteFile(sLog, LogText({"#14/03/2024#", fs::path(sNote).string(), ">> 14.03.2024", "End Total 0"}));
  ASSERT_TRUE(Import(service, sLog));
  EXPECT_EQ(Taken(Get<BSTR>(service, service->lpVtbl->get_UncategorisedLines)), u"\r\n" + sNote);
  EXPECT_EQ(Taken(Get<BSTR>(service, service->lpVtbl->get_UnreadableLines)),
            u"\r\n14-03-2024.log: line 3 unreadable (9 Subscript out of range): >> 14.03.2024");
}

// The command line registers the same lines as the library itself, and removes exactly its own.
// Where the registry file may go (only an absolute folder: a relative one would move with the
// working folder), which library paths it refuses, and that rewriting it keeps who may read it.
// The settings it changes stay changed for the rest of this program, which reads none of them.
TEST_F(ComServer, RegistrationWritesItsOwnLinesInSafePlacesAndKeepsTheFilesPermissions) {
  setenv("XDG_CONFIG_HOME", mTemp.Path().c_str(), 1);
  setenv("HOME", (mTemp / "home").c_str(), 1);
  const std::string sRegistry = mTemp / "varnlogimp/registry";
  const std::string sForeign = "Other.Program/CLSID={00000000-1111-2222-3333-444444444444}\nnot a key line\n";
  fs::create_directories(mTemp.Path() / "varnlogimp");
  WriteFile(sRegistry, sForeign + "CLSID/{683949D4-9150-4AEA-A2E4-98E533B88A6F}/InprocServer32=/old/place.so\n");
  const std::string sOurs =
      Replace(ReadFile(DataFile("com_registry.txt")), "@LIBRARY@", fs::canonical(LibraryPath()).string());

  Expect({Is(mLib.DllRegisterServer(), S_OK), Is(mLib.DllRegisterServer(), S_OK)});
  EXPECT_EQ(FirstDifference(ReadFile(sRegistry), sForeign + sOurs), "");
  ASSERT_EQ(mLib.DllUnregisterServer(), S_OK);
  EXPECT_EQ(ReadFile(sRegistry), sForeign);
  EXPECT_EQ(RunVarnlog({"register"}).nExit, 0);
  EXPECT_EQ(FirstDifference(ReadFile(sRegistry), sForeign + sOurs), "");
  EXPECT_EQ(RunVarnlog({"unregister"}).nExit, 0);
  EXPECT_EQ(ReadFile(sRegistry), sForeign);

  setenv("XDG_CONFIG_HOME", WriteFile(mTemp / "plain-file", "").c_str(), 1);
  EXPECT_EQ(mLib.DllRegisterServer(), SELFREG_E_CLASS);

  const std::string sHome = mTemp / "home", sFile = sHome + "/.config/varnlogimp/registry";
  const fs::path previous = fs::current_path();
  fs::current_path(mTemp.Path());
  // XDG_CONFIG_HOME (nullptr: unset) and HOME, and whether the file is placed under that HOME.
  const std::tuple<const char*, std::string, bool> kPlaces[] = {{nullptr, sHome, true},
                                                                {"", sHome, true},
                                                                {"relative/config", sHome, true},
                                                                {nullptr, "relative/home", false},
                                                                {"relative/config", "relative/home", false},
                                                                {nullptr, "", false}};
  for (const auto& [pConfig, sHomeValue, bPlaced] : kPlaces) {
    fs::remove_all(sHome);
    pConfig ? setenv("XDG_CONFIG_HOME", pConfig, 1) : unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", sHomeValue.c_str(), 1);
    EXPECT_EQ(mLib.DllRegisterServer(), bPlaced ? S_OK : SELFREG_E_CLASS)
        << (pConfig ? pConfig : "unset") << sHomeValue;
    EXPECT_EQ(fs::exists(sFile), bPlaced) << (pConfig ? pConfig : "unset") << sHomeValue;
  }
  RunResult relative = RunVarnlog({"register"});
  EXPECT_EQ(relative.nExit, 1);
  EXPECT_NE(relative.sOutput.find("HOME"), std::string::npos) << relative.sOutput;
  EXPECT_FALSE(fs::exists(mTemp / "relative"));
  fs::current_path(previous);

  // A rewrite keeps the file's permission bits; a path with a control character could add lines.
  setenv("HOME", sHome.c_str(), 1);
  ASSERT_EQ(mLib.DllRegisterServer(), S_OK);
  const fs::perms ePrivate = fs::perms::owner_read | fs::perms::owner_write;
  fs::permissions(sFile, ePrivate);
  const std::string sRegistered = ReadFile(sFile);
  for (std::string sFolder : {"lib\nTypeLib/{0}/1.0/409=/tmp/other.so\nx", "escape\x1b[2J"}) {
    const fs::path copy = mTemp.Path() / sFolder / VARNLOGPROCESS_LIBRARY;
    fs::create_directories(copy.parent_path());
    fs::copy_file(LibraryPath(), copy);
    EXPECT_EQ(Library(copy.string()).DllRegisterServer(), SELFREG_E_CLASS) << sFolder;
  }
  EXPECT_EQ(ReadFile(sFile), sRegistered);
  Expect({Is(mLib.DllRegisterServer(), S_OK), Is(fs::status(sFile).permissions() == ePrivate, true)});
  Expect({Is(RunVarnlog({"unregister"}).nExit, 0), Is(fs::status(sFile).permissions() == ePrivate, true)});

  // Unregistering where nothing is registered says so, and creates no file.
  const std::string sLeft = ReadFile(sFile);
  RunResult none = RunVarnlog({"unregister"});
  EXPECT_EQ(none.sOutput, "nothing to remove: " + sFile + " holds no entries of " VARNLOGPROCESS_LIBRARY "\n");
  EXPECT_EQ(ReadFile(sFile), sLeft);
  fs::remove(sFile);
  none = RunVarnlog({"unregister"});
  EXPECT_EQ(std::pair(none.nExit, none.sOutput),
            std::pair(0, "nothing to remove: there is no registry file " + sFile + "\n"));
  EXPECT_FALSE(fs::exists(sFile));
}

}  // namespace
}  // namespace varn::test
