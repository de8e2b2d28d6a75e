#include "player/Layout.h"
#include "player/Settings.h"
#include "tests/player/frmmain/MainWindowFixture.h"

#include "platform/com/Runtime.h"
#include "platform/mixer/FakeMixer.h"
#include "platform/registry/Stores.h"
#include "platform/ui/Twips.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSlider>
#include <QTest>

#include <dlfcn.h>
#include <utility>

namespace {

using mixer::ComponentType;
using mixer::ControlType;

// The real volume control library, registered in a registry of the test's own, on a fake mixer
// whose wave-out line holds 60 of 100.
class VolumeSliderTest : public MainWindowTest {
protected:
    VolumeSliderTest() : m_mixerScope(m_mixer) {
        m_mixer.addDevice();
        m_mixer.addControl(0, ComponentType::WaveOut, ControlType::Volume, 0, 65535, 60 * 655);
        m_mixer.addControl(0, ComponentType::WaveOut, ControlType::Mute, 0, 1, 0);
    }

    void SetUp() override {
        MainWindowTest::SetUp();
        const std::string path =
            qEnvironmentVariable("QUIVA_BUILD_DIR").toStdString() + "/lib/libDalvex.so";
        HRESULT failure = S_OK;
        void* library = com::loadServerLibrary(path, &failure);
        ASSERT_NE(library, nullptr) << com::lastError();
        auto registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(library, "DllRegisterServer"));
        ASSERT_NE(registerServer, nullptr);
        ASSERT_EQ(registerServer(), S_OK);
    }

    std::int32_t waveVolume() const {
        return m_mixer.value(0, ComponentType::WaveOut, ControlType::Volume).value_or(-1);
    }

    registry::ScopedInMemoryStore m_registry;
    mixer::FakeMixer m_mixer;
    mixer::ScopedService m_mixerScope;
};

TEST_F(VolumeSliderTest, SliderStartsAtTheControlsSavedVolumeNotTheMixers) {
    frmMain& w = load();
    ASSERT_NE(w.Dalvex1(), nullptr);
    EXPECT_EQ(w.SliderVol->value(), 100);
    EXPECT_EQ(waveVolume(), 60 * 655); // loading alone sends nothing to the mixer
}

TEST_F(VolumeSliderTest, EveryScrollPutsTheSlidersValue) {
    frmMain& w = load();
    w.SliderVol->setValue(30);
    EXPECT_EQ(waveVolume(), 30 * 655);
    w.SliderVol->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(waveVolume(), 31 * 655);
    w.SliderVol->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(waveVolume(), 26 * 655);
    w.SliderVol->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(waveVolume(), 0);
    w.SliderVol->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(waveVolume(), 100 * 655);
}

// The thumb is drawn where the slider takes it to be: dragged by its painted middle to either
// end of the slider, it gives the end's value.
TEST_F(VolumeSliderTest, TheThumbIsDraggedWhereItIsDrawn) {
    frmMain& w = load();
    QSlider& slider = *w.SliderVol;
    slider.setValue(50);
    const QImage look = slider.grab().toImage();
    int first = -1, last = -1;
    for (int x = 0; x < look.width(); ++x) {
        if (look.pixelColor(x, look.height() / 2) == QColor(0xe8, 0xe8, 0xe8)) {
            first = first < 0 ? x : first;
            last = x;
        }
    }
    ASSERT_GE(first, 0) << "no thumb drawn";
    const QPoint thumb((first + last) / 2, look.height() / 2);
    for (const auto& [to, value] : {std::pair{slider.width() - 1, 100}, std::pair{0, 0}}) {
        QTest::mousePress(&slider, Qt::LeftButton, {}, thumb);
        QMouseEvent move(QEvent::MouseMove, QPointF(to, thumb.y()),
                         slider.mapToGlobal(QPointF(to, thumb.y())), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&slider, &move);
        QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(to, thumb.y()));
        EXPECT_EQ(slider.value(), value) << "dragged to x " << to;
        slider.setValue(50);
    }
}

TEST_F(VolumeSliderTest, HostedControlsLieBelowEveryHeightTheWindowTakes) {
    frmMain& w = load();
    const QStringList names = w.hostedControls().names();
    EXPECT_TRUE(names.contains("Dalvex1"));
    EXPECT_TRUE(names.contains("TransparentColor1"));
    int placedBelow = 0;
    for (QWidget* child : w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->y() == twips::toPixels(6360)) {
            ++placedBelow;
            for (int height : {layout::Image1.height, settings::kPlaylistHeight}) {
                w.setHeight(height);
                EXPECT_FALSE(child->geometry().intersects(w.rect()));
            }
        }
    EXPECT_EQ(placedBelow, 2); // the two controls' own windows
}

} // namespace
