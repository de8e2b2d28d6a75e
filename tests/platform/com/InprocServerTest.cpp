// The test control library end to end: registered with quiva-regsvr into this test's private
// registry, created by class identifier and ProgID, bound late, saved and loaded through a
// property bag, raising an event whose by-reference argument the handler changes; and every
// way loading can fail.

#include "platform/com/PropertyBag.h"
#include "platform/com/Runtime.h"
#include "platform/com/Sinks.h"
#include "platform/registry/Stores.h"
#include "tests/platform/testcontrol/TestControl.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempTree.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using com::ComPtr;
using namespace testcontrol;

struct RegsvrRun {
    int exitCode;
    QString output;
};

RegsvrRun regsvr(const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(QUIVA_REGSVR), arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return {-1, "timed out"};
    }
    return {process.exitCode(), QString::fromLocal8Bit(process.readAll())};
}

class InprocServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The registry as a fresh process sees it: this test's private per-user file.
        registry::useFileStores(registry::defaultFileStorePaths());
        const RegsvrRun run = regsvr({QStringLiteral(QUIVA_TESTCONTROL)});
        ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    }

    ComPtr<IDispatch> create() {
        ComPtr<IDispatch> control;
        const HRESULT result = CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER,
                                                IDispatch::kIid, control.putVoid());
        EXPECT_EQ(result, S_OK) << com::lastError();
        return control;
    }
    std::int32_t level(IDispatch* control) {
        com::Variant value;
        EXPECT_EQ(com::getProperty(control, kDispidLevel, value.get()), S_OK);
        return value.type() == VT_I4 ? value.get()->lVal : -999;
    }
};

TEST_F(InprocServerTest, CreatedByClassIdentifierAndBoundLate) {
    auto control = create();
    ASSERT_TRUE(control);
    EXPECT_TRUE(control.as<IHostedControl>());
    EXPECT_TRUE(control.as<IPersistPropertyBag>());
    EXPECT_EQ(control.as<IUnknown>().get(), control.as<IHostedControl>().as<IUnknown>().get());

    const char* names[] = {"level"};
    DISPID id = 0;
    ASSERT_EQ(control->GetIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, kDispidLevel);
    ASSERT_EQ(com::putProperty(control.get(), kDispidLevel, com::makeI4(100)), S_OK);
    EXPECT_EQ(level(control.get()), 100);
    com::Variant words(com::makeBstr("loud"));
    EXPECT_EQ(com::putProperty(control.get(), kDispidLevel, *words), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(com::putProperty(control.get(), 0x7777, com::makeI4(1)), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(level(control.get()), 100);
}

TEST_F(InprocServerTest, ProgIdNamesTheSameClass) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(kProgId, &clsid), S_OK);
    EXPECT_EQ(clsid, kClsid);
    ASSERT_EQ(CLSIDFromString("quivatest.testcontrol", &clsid), S_OK) << "case-insensitive";
    EXPECT_EQ(CLSIDFromProgID("Quivatest.Missing", &clsid), CO_E_CLASSSTRING);
}

TEST_F(InprocServerTest, PropertiesSurviveSaveAndLoadThroughABag) {
    auto control = create();
    ASSERT_EQ(control.as<IPersistPropertyBag>()->InitNew(), S_OK);
    EXPECT_EQ(level(control.get()), 7) << "InitProperties ran";
    com::putProperty(control.get(), kDispidFlag, com::makeBool(false));
    com::Variant caption(com::makeBstr("Quiet \"please\""));
    com::putProperty(control.get(), kDispidCaption, *caption);
    auto bag = com::makePropertyBag();
    ASSERT_EQ(control.as<IPersistPropertyBag>()->Save(bag.get()), S_OK);
    EXPECT_EQ(bag->names(), (std::vector<std::string>{"Level", "Flag", "Caption"}));

    auto copy = create();
    ASSERT_EQ(copy.as<IPersistPropertyBag>()->Load(bag.get()), S_OK);
    EXPECT_EQ(level(copy.get()), 7);
    com::Variant flag, text;
    com::getProperty(copy.get(), kDispidFlag, flag.get());
    com::getProperty(copy.get(), kDispidCaption, text.get());
    EXPECT_EQ(com::toBool(*flag), false);
    EXPECT_EQ(com::toText(*text), "Quiet \"please\"");

    auto defaults = create();
    auto empty = com::makePropertyBag();
    ASSERT_EQ(defaults.as<IPersistPropertyBag>()->Load(empty.get()), S_OK);
    auto resaved = com::makePropertyBag();
    defaults.as<IPersistPropertyBag>()->Save(resaved.get());
    EXPECT_TRUE(resaved->names().empty()) << "values at their defaults are not stored";
}

TEST_F(InprocServerTest, EventHandlerChangesTheByReferenceArgument) {
    auto control = create();
    com::putProperty(control.get(), kDispidLevel, com::makeI4(10));
    std::vector<std::int32_t> offered;
    auto sink = ComPtr<com::EventSink>::adopt(
        new com::EventSink(kIidEvents, [&](DISPID id, std::span<VARIANT> args) {
            if (id != kDispidLevelChanged || args.size() != 1 || args[0].vt != (VT_I4 | VT_BYREF))
                return;
            offered.push_back(*args[0].plVal);
            *args[0].plVal = 30;
        }));
    DWORD cookie = 0;
    ASSERT_EQ(com::connectSink(control.get(), kIidEvents, sink->identity(), &cookie), S_OK);
    ASSERT_EQ(com::callMethod(control.get(), kDispidBump, {com::makeI4(5)}), S_OK);
    EXPECT_EQ(offered, (std::vector<std::int32_t>{15}));
    EXPECT_EQ(level(control.get()), 30);
    EXPECT_EQ(com::disconnectSink(control.get(), kIidEvents, cookie), S_OK);
}

TEST_F(InprocServerTest, TimerEventsArriveThroughTheEventLoop) {
    auto control = create();
    int ticks = 0;
    auto sink = ComPtr<com::EventSink>::adopt(new com::EventSink(
        kIidEvents, [&](DISPID id, std::span<VARIANT>) { ticks += id == kDispidTick; }));
    DWORD cookie = 0;
    ASSERT_EQ(com::connectSink(control.get(), kIidEvents, sink->identity(), &cookie), S_OK);
    com::putProperty(control.get(), kDispidTicking, com::makeBool(true));
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 5000));
    control.as<IHostedControl>()->Close();
}

TEST_F(InprocServerTest, LibraryStaysLoadedWhileObjectsOrLocksLive) {
    auto control = create();
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IClassFactory::kIid,
                               factory.putVoid()),
              S_OK);
    ASSERT_EQ(factory->LockServer(true), S_OK);
    factory.reset();
    control.reset();
    CoFreeUnusedLibraries(); // locked: stays
    auto second = create();
    ASSERT_TRUE(second);
    EXPECT_EQ(level(second.get()), 0);

    ComPtr<IClassFactory> again;
    CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IClassFactory::kIid, again.putVoid());
    again->LockServer(false);
    IUnknown* aggregate = reinterpret_cast<IUnknown*>(second.get());
    void* out = nullptr;
    EXPECT_EQ(again->CreateInstance(aggregate, IUnknown::kIid, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(again->CreateInstance(nullptr, IPropertyNotifySink::kIid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    again.reset();
    second.reset();
    CoFreeUnusedLibraries(); // idle: unloaded, and loaded again on the next creation
    EXPECT_TRUE(create());
}

TEST_F(InprocServerTest, ControlIsPlacedInItsHostWindow) {
    auto control = create();
    auto hosted = control.as<IHostedControl>();
    QWidget host;
    ASSERT_EQ(hosted->SetHost(&host), S_OK);
    ASSERT_EQ(hosted->SetObjectRect(1800, 6360, 480, 480), S_OK);
    QWidget* window = nullptr;
    ASSERT_EQ(hosted->GetWindow(&window), S_OK);
    EXPECT_EQ(window->parentWidget(), &host);
    EXPECT_EQ(window->geometry(), QRect(120, 424, 32, 32));
    EXPECT_EQ(hosted->Close(), S_OK);
}

// ---- failures ----

class LoadFailureTest : public InprocServerTest {
protected:
    static constexpr CLSID kOther = guidOf(0x0BADC0DE, 0, 0, 1);
    void registerPath(const std::string& path) {
        HKEY key = 0;
        const std::string sub = "CLSID\\" + com::toString(kOther) + "\\InprocServer32";
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       DWORD(path.size() + 1));
        RegCloseKey(key);
    }
    HRESULT createOther() {
        void* out = reinterpret_cast<void*>(0x1);
        const HRESULT result =
            CoCreateInstance(kOther, nullptr, CLSCTX_INPROC_SERVER, IUnknown::kIid, &out);
        EXPECT_EQ(out, nullptr);
        EXPECT_FALSE(com::lastError().empty());
        return result;
    }
    void TearDown() override {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + com::toString(kOther)).c_str());
    }
};

// A copy of the test library at `relative` in `tree`, with the given rights on the file and on
// its folder.
QString copyOfTheLibrary(TempTree& tree, const QString& relative, QFile::Permissions file,
                         QFile::Permissions folder) {
    const QString copy = tree.file(relative, readAll(QUIVA_TESTCONTROL));
    QFile::setPermissions(copy, file);
    QFile::setPermissions(QFileInfo(copy).absolutePath(), folder);
    return copy;
}

constexpr QFile::Permissions kOwnerAll = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                         QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
constexpr QFile::Permissions kOthersRead =
    QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;

TEST_F(LoadFailureTest, EachFailureHasItsOwnResultAndMessage) {
    EXPECT_EQ(createOther(), REGDB_E_CLASSNOTREG);

    TempTree tree;
    const QString safe =
        copyOfTheLibrary(tree, "safe/libcopy.so", kOwnerAll | kOthersRead, kOwnerAll | kOthersRead);
    const QString inOpenFolder = copyOfTheLibrary(tree, "open/libcopy.so", kOwnerAll | kOthersRead,
                                                  kOwnerAll | kOthersRead | QFile::WriteOther);
    const QString groupWritable = copyOfTheLibrary(
        tree, "group/libcopy.so", kOwnerAll | kOthersRead | QFile::WriteGroup, kOwnerAll);
    const QString relative = QDir::current().relativeFilePath(safe);
    QFile::link(safe, tree.path("open/link.so"));
    const struct {
        QString path;
        HRESULT result;
        QString says; // part of the explanation
    } cases[] = {
        {"", REGDB_E_CLASSNOTREG, "no in-process server"},
        {"/nonexistent/libgone.so", CO_E_DLLNOTFOUND, "/nonexistent/libgone.so"},
        {relative, CO_E_DLLNOTFOUND, "not an absolute path"},
        {"/dev/zero", CO_E_DLLNOTFOUND, "not a regular file"},
        {QUIVA_TESTCONTROL_WRONGABI, CO_E_WRONG_ABI, "ABI"},
        {QUIVA_TESTCONTROL_NOEXPORT, CO_E_ERRORINDLL, "DllGetClassObject"},
        {inOpenFolder, E_ACCESSDENIED, tree.path("open") + " may be changed by users other"},
        // Leads to a safe library, but anyone may repoint the link.
        {tree.path("open/link.so"), E_ACCESSDENIED, tree.path("open") + " may be changed by"},
        {groupWritable, E_ACCESSDENIED, groupWritable + " may be changed by users other"},
        // Real libraries that do not serve this class: one in a folder of its own under /tmp,
        // whose sticky bit keeps others from replacing what is in it.
        {QUIVA_TESTCONTROL, CLASS_E_CLASSNOTAVAILABLE, "does not give out class"},
        {safe, CLASS_E_CLASSNOTAVAILABLE, "does not give out class"},
    };
    for (const auto& failure : cases) {
        SCOPED_TRACE(failure.path.toStdString());
        registerPath(failure.path.toStdString());
        EXPECT_EQ(com::describe(createOther()), com::describe(failure.result));
        EXPECT_TRUE(QString::fromStdString(com::lastError()).contains(failure.says))
            << com::lastError();
    }
}

// Another user repoints a link that lies in a folder open to all at his own library, and plants
// his own where a library is gone from a sticky folder: neither is loaded, so his library's
// constructor, which would end the process, never runs.
TEST_F(LoadFailureTest, ALibraryAnotherUserCanSwapIsNeverLoaded) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can act as the second user (nobody)";
    TempTree tree;
    QFile::setPermissions(tree.root(), kOwnerAll | kOthersRead); // for nobody to reach
    tree.file("exits.so", readAll(QUIVA_TESTCONTROL_EXITS));
    const QString safe =
        copyOfTheLibrary(tree, "safe/libcopy.so", kOwnerAll | kOthersRead, kOwnerAll | kOthersRead);
    ASSERT_TRUE(QFile::link(safe, tree.folder("open") + "/link.so"));
    ASSERT_EQ(::chmod(tree.path("open").toLocal8Bit().constData(), 0777), 0);
    ASSERT_EQ(::chmod(tree.folder("shared").toLocal8Bit().constData(), 01777), 0);
    const QString swap = "cd '" + tree.root() +
                         "' && mkdir shared/own && cp exits.so shared/own/libevil.so && "
                         "ln -sfn ../shared/own/libevil.so open/link.so && "
                         "cp exits.so shared/libcontrol.so";
    ASSERT_EQ(QProcess::execute("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                            "--", "sh", "-c", swap}),
              0);
    for (const QString& path : {tree.path("open/link.so"), tree.path("shared/libcontrol.so")}) {
        SCOPED_TRACE(path.toStdString());
        registerPath(path.toStdString());
        const int outcome = exitCodeInChild(
            [] {
                void* out = nullptr;
                return CoCreateInstance(kOther, nullptr, CLSCTX_INPROC_SERVER, IUnknown::kIid,
                                        &out) == E_ACCESSDENIED
                           ? 0
                           : 1;
            },
            tree.path("errors.txt"));
        EXPECT_NE(outcome, testcontrol::kBrokenConstructorExitCode) << "his constructor ran";
        EXPECT_EQ(outcome, 0) << readAll(tree.path("errors.txt")).toStdString();
    }
}

// A FIFO where the library should be would block its opening for good: it is refused unopened.
TEST_F(LoadFailureTest, AFifoRegisteredAsTheLibraryIsRefusedWithoutWaiting) {
    TempTree tree;
    const QString fifo = tree.path("libfifo.so");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0755), 0);
    registerPath(fifo.toStdString());
    const int outcome = exitCodeInChild(
        [&] {
            void* out = nullptr;
            return CoCreateInstance(kOther, nullptr, CLSCTX_INPROC_SERVER, IUnknown::kIid, &out) ==
                           CO_E_DLLNOTFOUND
                       ? 0
                       : 1;
        },
        tree.path("errors.txt"));
    EXPECT_EQ(outcome, 0) << "-1: the creation hung";
}

// A factory that asks the runtime for another class's finds the runtime unlocked.
TEST_F(LoadFailureTest, AFactoryMayAskTheRuntimeForAnotherClass) {
    TempTree tree;
    registerPath(QUIVA_TESTCONTROL_NESTED);
    const int outcome = exitCodeInChild(
        [] {
            ComPtr<IClassFactory> factory;
            const HRESULT got = CoGetClassObject(kOther, CLSCTX_INPROC_SERVER, nullptr,
                                                 IClassFactory::kIid, factory.putVoid());
            return got == S_OK && factory ? 0 : 1;
        },
        tree.path("errors.txt"));
    EXPECT_EQ(outcome, 0) << "-1: the runtime deadlocked";
}

// A library that ends the process from its constructor is named on stderr before that.
TEST_F(LoadFailureTest, TheLibraryIsNamedBeforeItsCodeRuns) {
    const RegsvrRun run = regsvr({QStringLiteral(QUIVA_TESTCONTROL_EXITS)});
    EXPECT_EQ(run.exitCode, testcontrol::kBrokenConstructorExitCode);
    const QString real = QFileInfo(QStringLiteral(QUIVA_TESTCONTROL_EXITS)).canonicalFilePath();
    EXPECT_TRUE(run.output.contains("loading component library " + real))
        << run.output.toStdString();
}

// A library cut inside its code would crash dlopen with SIGBUS: it is refused before that.
TEST_F(LoadFailureTest, ALibraryCutShortIsRefusedWithoutLoadingIt) {
    TempTree tree;
    const QString cut = tree.file("libcut.so", readAll(QUIVA_TESTCONTROL).left(4096));
    registerPath(cut.toStdString());
    EXPECT_EQ(createOther(), CO_E_ERRORINDLL);
    EXPECT_NE(com::lastError().find("cut short"), std::string::npos) << com::lastError();
}

TEST_F(LoadFailureTest, RegsvrReportsRefusedLibrariesAndUsage) {
    RegsvrRun run = regsvr({QStringLiteral(QUIVA_TESTCONTROL_WRONGABI)});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.output.contains("ABI")) << run.output.toStdString();
    run = regsvr({"/nonexistent/libgone.so"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.output.contains("cannot load"));
    EXPECT_EQ(regsvr({}).exitCode, 2);
    EXPECT_EQ(regsvr({"-x", QUIVA_TESTCONTROL}).exitCode, 2);
}

TEST_F(LoadFailureTest, UnregisteringRemovesTheClass) {
    const RegsvrRun run = regsvr({"-u", QStringLiteral(QUIVA_TESTCONTROL)});
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    void* out = nullptr;
    EXPECT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IUnknown::kIid, &out),
              REGDB_E_CLASSNOTREG);
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(kProgId, &clsid), CO_E_CLASSSTRING);
    ASSERT_EQ(regsvr({QStringLiteral(QUIVA_TESTCONTROL)}).exitCode, 0); // for later tests
}

} // namespace
