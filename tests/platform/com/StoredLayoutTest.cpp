// The stored layout of a window and the container that creates its controls from it.

#include "player/StoredLayout.h"
#include "platform/com/Runtime.h"
#include "platform/com/UserControl.h"
#include "platform/registry/Stores.h"
#include "tests/platform/testcontrol/TestControl.h"
#include "tests/support/TempTree.h"

#include <QFileInfo>
#include <QProcess>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// A built-in control that keeps what it read, under the keys of the see-through control.
class Swatch : public com::UserControl {
public:
    Swatch() : UserControl({"Swatch"}) {
        dispatch().addProperty("MaskColor", 1, VT_I4, [this](VARIANT* out) {
            return *out = com::makeI4(m_maskColor), S_OK;
        });
        dispatch().addProperty("Enable", 2, VT_BOOL, [this](VARIANT* out) {
            return *out = com::makeBool(enabled()), S_OK;
        });
    }
    static inline int s_terminated = 0;

protected:
    void UserControl_ReadProperties(com::PropBag& bag) override {
        m_maskColor = bag.readLong("MaskColor", 0);
        setEnabled(bag.readBool("Enable", true));
    }
    void UserControl_Terminate() override { ++s_terminated; }

private:
    std::int32_t m_maskColor = 0;
};

std::int32_t readLong(IDispatch* control, DISPID id) {
    com::Variant value;
    if (FAILED(com::getProperty(control, id, value.get())))
        return -999;
    return com::toLong(*value).value_or(-998);
}

TEST(StoredLayoutTest, FrmMainLayoutHoldsItsTwoControls) {
    const layout::StoredLayout stored = layout::readStoredLayout(":/quiva/frmMain.layout");
    EXPECT_TRUE(stored.problems.isEmpty()) << stored.problems.join('\n').toStdString();
    ASSERT_EQ(stored.controls.size(), 2u);

    const layout::StoredControl& dalvex = stored.controls[0];
    EXPECT_EQ(dalvex.name, "Dalvex1");
    EXPECT_EQ(dalvex.className, "{8CE00BF8-8A01-454F-B127-C1EE4FFE2BE8}");
    EXPECT_EQ(std::tie(dalvex.leftTwips, dalvex.topTwips, dalvex.widthTwips, dalvex.heightTwips),
              std::make_tuple(1800, 6360, 480, 480))
        << "847 HIMETRIC are 480 twips";
    EXPECT_EQ(dalvex.properties->names(), (std::vector<std::string>{"volume"}));
    EXPECT_EQ(dalvex.properties->value("Volume").get()->vt, VT_I4);
    EXPECT_EQ(dalvex.properties->value("Volume").get()->lVal, 100);

    const layout::StoredControl& transparent = stored.controls[1];
    EXPECT_EQ(transparent.className, "TransparentColor");
    EXPECT_EQ(std::tie(transparent.leftTwips, transparent.topTwips, transparent.widthTwips,
                       transparent.heightTwips),
              std::make_tuple(360, 6360, 375, 375));
    EXPECT_EQ(transparent.properties->names(),
              (std::vector<std::string>{"maskcolor", "backcolor", "enable"}));
    EXPECT_EQ(transparent.properties->value("MaskColor").get()->lVal, 0x000080FF);
    EXPECT_EQ(transparent.properties->value("BackColor").get()->lVal, 0x000080FF);
    EXPECT_EQ(transparent.properties->value("Enable").get()->vt, VT_BOOL);
    EXPECT_EQ(transparent.properties->value("Enable").get()->boolVal, VARIANT_FALSE);
}

TEST(StoredLayoutTest, UnreadableLinesAreReportedAndSkipped) {
    const layout::StoredLayout stored =
        layout::parseStoredLayout("stray = 1\n"
                                  "[One]\n"
                                  "class = Swatch\n"
                                  "left = twelve\n"
                                  "prop a = Long 12x\n"
                                  "prop b = Colour 1\n"
                                  "prop c = String \"say \\\"hi\\\"\"\n"
                                  "prop d = Integer 40000\n"
                                  "prop e = Long &HFFFFFFFF\n"
                                  "PROP\t f = Long 1\n"
                                  "propg = Long 1\n"
                                  "prop h i = Long 1\n"
                                  "prop = Long 1\n");
    EXPECT_EQ(stored.problems.size(), 8) << stored.problems.join('\n').toStdString();
    ASSERT_EQ(stored.controls.size(), 1u);
    EXPECT_EQ(stored.controls[0].properties->names(), (std::vector<std::string>{"c", "e", "f"}));
    EXPECT_EQ(com::toText(*stored.controls[0].properties->value("c")), "say \"hi\"");
    EXPECT_EQ(stored.controls[0].properties->value("e").get()->lVal, -1);
}

TEST(StoredLayoutTest, ContainerCreatesWhatItCanAndLeavesOutTheRest) {
    registry::useFileStores(registry::defaultFileStorePaths());
    QProcess regsvr;
    regsvr.start(QStringLiteral(QUIVA_REGSVR), {QStringLiteral(QUIVA_TESTCONTROL)});
    ASSERT_TRUE(regsvr.waitForFinished(30000));
    ASSERT_EQ(regsvr.exitCode(), 0);
    layout::registerBuiltInControl("Swatch",
                                   [] { return com::createControl<Swatch>()->identity(); });

    TempTree tree;
    const QString path =
        tree.file("form.layout", "[Swatch1]\nclass = swatch\nleft = 360\ntop = 6360\n"
                                 "width = 375\nheight = 375\n"
                                 "prop maskcolor = Long &H000080FF\nprop enable = Boolean False\n"
                                 "[Missing1]\nclass = {0BADC0DE-0000-0000-0000-000000000001}\n"
                                 "[Control1]\nclass = Quivatest.TestControl\nleft = 1800\n"
                                 "top = 6360\nextentx = 847\nextenty = 847\n"
                                 "prop level = Long 100\n");
    QWidget host;
    testing::internal::CaptureStderr();
    Swatch::s_terminated = 0;
    {
        layout::HostedControls hosted = layout::createHostedControls(&host, path);
        const std::string messages = testing::internal::GetCapturedStderr();
        EXPECT_EQ(hosted.names(), (QStringList{"Swatch1", "Control1"}));
        const QStringList lines = QString::fromStdString(messages).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 2) << messages;
        EXPECT_TRUE(lines[0].contains("control Missing1") && lines[0].contains("not registered"))
            << messages;
        EXPECT_TRUE(lines[1].startsWith("quiva: loading component library ") &&
                    lines[1].endsWith(QFileInfo(QUIVA_TESTCONTROL).canonicalFilePath()))
            << "the library is named before it is loaded: " << messages;

        EXPECT_EQ(readLong(hosted.dispatch("swatch1"), 1), 0x000080FF)
            << "lower-case keys are found";
        EXPECT_EQ(readLong(hosted.dispatch("Swatch1"), 2), 0);
        EXPECT_EQ(readLong(hosted.dispatch("Control1"), testcontrol::kDispidLevel), 100);
        EXPECT_EQ(hosted.dispatch("Missing1"), nullptr);

        QWidget* window = nullptr;
        hosted.control("Control1").as<IHostedControl>()->GetWindow(&window);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->parentWidget(), &host);
        EXPECT_EQ(window->geometry(), QRect(120, 424, 32, 32));
    }
    EXPECT_EQ(Swatch::s_terminated, 1) << "the controls end with their container";
    layout::registerBuiltInControl("Swatch", {});
}

TEST(StoredLayoutTest, MissingLayoutGivesNoControlsAndOneMessage) {
    QWidget host;
    testing::internal::CaptureStderr();
    layout::HostedControls hosted = layout::createHostedControls(&host, ":/quiva/none.layout");
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(hosted.names().isEmpty());
    EXPECT_NE(messages.find("cannot read"), std::string::npos);
}

} // namespace
