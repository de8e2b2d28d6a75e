#include "player/transparent/TransparentColor.h"

#include "platform/com/PropertyBag.h"
#include "platform/ui/LayeredWindow.h"
#include "player/StoredLayout.h"
#include "tests/support/TimerTurn.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kOrange = 0x000080FF;
const QColor kOrangeColour(255, 128, 0);

// Records the names of properties the control reports as changed.
class NotifySink : public com::Object<IPropertyNotifySink> {
public:
    HRESULT OnChanged(DISPID, const char* name) override {
        names << QString::fromUtf8(name);
        return S_OK;
    }
    QStringList names;
};

void paint(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// A host window like the main window: orange background, a white picture, and one control
// hosted below the visible area, created from a bag with the given saved values.
class HostedTest : public ::testing::Test {
protected:
    QWidget host;
    QWidget* picture = new QWidget(&host);
    TransparentColor* control = nullptr;
    com::ComPtr<com::PropertyBag> bag = com::makePropertyBag();

    HostedTest() {
        paint(&host, kOrangeColour);
        paint(picture, Qt::white);
        host.resize(293, 66);
        picture->setGeometry(20, 10, 100, 40);
    }
    ~HostedTest() override {
        if (control) {
            control->Close();
            control->Release();
        }
    }
    void save(const char* name, const VARIANT& value) { bag->Write(name, &value); }
    // Creates the control as a container does; no event is processed in between, so the
    // timer has not ticked yet.
    void create(QWidget* hostWidget) {
        control = com::createControl<TransparentColor>();
        if (hostWidget)
            control->SetHost(hostWidget);
        control->SetObjectRect(360, 6360, 375, 375);
        control->Load(bag.get());
    }
    void waitForFirstTick() {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !control->Enable(); }, 5000));
    }
};

} // namespace

TEST_F(HostedTest, MainWindowValuesMakeTheOrangeSeeThroughAndGiveTheControlTheHostColour) {
    save("maskcolor", com::makeI4(kOrange));
    save("backcolor", com::makeI4(kOrange));
    save("enable", com::makeBool(false));
    host.show();
    create(&host);
    EXPECT_EQ(control->MaskColor(), kOrange);
    EXPECT_FALSE(control->Enable());
    EXPECT_EQ(GetWindowLongA(&host, GWL_EXSTYLE), 0); // nothing before the first tick

    EXPECT_TRUE(
        QTest::qWaitFor([&] { return GetWindowLongA(&host, GWL_EXSTYLE) & WS_EX_LAYERED; }, 5000));
    EXPECT_EQ(host.mask(), QRegion(20, 10, 100, 40));
    EXPECT_EQ(control->BackColor(), kOrange);
}

TEST_F(HostedTest, NoSavedKeysGiveDefaultsAndBlackBecomesTheKey) {
    auto* black = new QWidget(&host);
    paint(black, Qt::black);
    black->setGeometry(150, 10, 30, 30);
    host.show();
    create(&host);
    EXPECT_EQ(control->MaskColor(), 0u);
    EXPECT_EQ(control->BackColor(), 0x00FFFFFFu);
    EXPECT_TRUE(control->Enable());

    waitForFirstTick();
    EXPECT_TRUE(host.mask().contains(QPoint(5, 5)));     // orange stays
    EXPECT_FALSE(host.mask().contains(QPoint(160, 20))); // black is see-through
    EXPECT_EQ(control->BackColor(), kOrange);            // the host's colour, taken directly
}

TEST_F(HostedTest, RunsOnceAndALaterMaskColourDoesNotReapply) {
    save("MASKCOLOR", com::makeI4(kOrange));
    host.show();
    create(&host);
    auto sink = com::ComPtr<NotifySink>::adopt(new NotifySink);
    com::ComPtr<IConnectionPoint> point;
    ASSERT_EQ(control->FindConnectionPoint(IPropertyNotifySink::kIid, point.put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink->identity(), &cookie), S_OK);

    waitForFirstTick();
    const QRegion applied = host.mask();
    ASSERT_FALSE(applied.isEmpty());

    // A second tick would set the layered bit again.
    SetWindowLongA(&host, GWL_EXSTYLE, WS_EX_LAYERED | 0x1);
    control->setEnable(true);
    EXPECT_TRUE(waitPastTimers(2));
    EXPECT_EQ(GetWindowLongA(&host, GWL_EXSTYLE), WS_EX_LAYERED | 0x1);
    EXPECT_TRUE(control->Enable());

    control->setMaskColor(0x00FFFFFF);
    host.resize(300, 70);
    EXPECT_TRUE(waitPastTimers(2));                   // the reshape a resize schedules
    EXPECT_FALSE(host.mask().contains(QPoint(5, 5))); // orange is still the key
    EXPECT_TRUE(host.mask().contains(QPoint(30, 20)));
    EXPECT_EQ(control->MaskColor(), 0x00FFFFFFu);

    control->setBackColor(0x00123456);
    control->setEnable(false);
    EXPECT_EQ(sink->names, QStringList({"MaskColor", "BackColor"}));
    point->Unadvise(cookie);
}

TEST_F(HostedTest, WithoutAHostTheStepIsSkippedAndStillRunsOnce) {
    create(nullptr);
    waitForFirstTick();
    EXPECT_EQ(control->BackColor(), 0x00FFFFFFu);
    control->setEnable(true);
    EXPECT_TRUE(waitPastTimers(2));
    EXPECT_TRUE(control->Enable());
}

TEST_F(HostedTest, WritesOmitDefaultsAndReadBack) {
    create(&host);
    auto empty = com::makePropertyBag();
    control->Save(empty.get());
    EXPECT_TRUE(empty->names().empty());

    control->setMaskColor(kOrange);
    control->setEnable(false);
    auto written = com::makePropertyBag();
    control->Save(written.get());
    EXPECT_EQ(written->names(), (std::vector<std::string>{"MaskColor", "Enable"}));
    EXPECT_EQ(com::toLong(*written->value("maskcolor")), std::int32_t(kOrange));
    EXPECT_EQ(com::toBool(*written->value("Enable")), false);
}

TEST_F(HostedTest, PropertiesAreLateBound) {
    create(&host);
    DISPID ids[3] = {};
    const char* names[] = {"maskcolor", "BackColor", "ENABLE"};
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(control->GetIDsOfNames(&names[i], 1, &ids[i]), S_OK) << names[i];
    EXPECT_EQ(ids[0], TransparentColor::kDispidMaskColor);

    VARIANT value = com::makeI4(0x00010203);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    ASSERT_EQ(control->Invoke(ids[1], DISPATCH_PROPERTYPUT, &put, nullptr, nullptr), S_OK);
    EXPECT_EQ(control->BackColor(), 0x00010203u);

    com::Variant result;
    DISPPARAMS none{};
    ASSERT_EQ(control->Invoke(ids[2], DISPATCH_PROPERTYGET, &none, result.get(), nullptr), S_OK);
    EXPECT_EQ(result.type(), VT_BOOL);
    EXPECT_EQ((*result).boolVal, VARIANT_TRUE);
}

TEST(StoredTransparentColorTest, MainWindowLayoutCreatesTheControlThatKeysTheOrange) {
    TransparentColor::registerBuiltIn();
    QWidget host;
    paint(&host, kOrangeColour);
    auto* picture = new QWidget(&host);
    paint(picture, Qt::white);
    host.resize(293, 66);
    picture->setGeometry(20, 10, 100, 40);
    host.show();
    layout::HostedControls controls =
        layout::createHostedControls(&host, QStringLiteral(":/quiva/frmMain.layout"));
    ASSERT_TRUE(controls.names().contains("TransparentColor1"));

    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return (GetWindowLongA(&host, GWL_EXSTYLE) & WS_EX_LAYERED) != 0; }, 5000));
    EXPECT_EQ(host.mask(), QRegion(20, 10, 100, 40));
    IDispatch* control = controls.dispatch("TransparentColor1");
    DISPID id = 0;
    const char* name = "BackColor";
    ASSERT_EQ(control->GetIDsOfNames(&name, 1, &id), S_OK);
    com::Variant result;
    DISPPARAMS none{};
    ASSERT_EQ(control->Invoke(id, DISPATCH_PROPERTYGET, &none, result.get(), nullptr), S_OK);
    EXPECT_EQ(com::toLong(*result), std::int32_t(kOrange));
}
