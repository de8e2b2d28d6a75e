#include "volume/Dalvex.h"

#include "platform/ui/Png.h"
#include "volume/PemrikGuids.h"

#include <QLabel>
#include <QPixmap>
#include <QWidget>

namespace {

constexpr std::int32_t kDefaultDevice = Dalvex::mWave;

VARIANT_BOOL toVariantBool(bool value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

HRESULT hresultOf(Module1::Error error) {
    switch (error) {
    case Module1::Error::None:
        return S_OK;
    case Module1::Error::Overflow:
        return DISP_E_OVERFLOW;
    case Module1::Error::SlotOutOfRange:
        return E_INVALIDARG;
    }
    return E_FAIL;
}

bool isControlDevice(std::int32_t value) {
    return value >= Dalvex::mMaster && value <= Dalvex::mAuxiliary;
}

} // namespace

Dalvex::Dalvex(com::ModuleCount* module)
    : UserControl({"Dalvex", pemrik::kClsidDalvex, pemrik::kIidDalvex, pemrik::kIidDalvexEvents},
                  module) {
    declareMembers();
}

void Dalvex::declareMembers() {
    auto readBoolean = [this](HRESULT (Dalvex::*get)(VARIANT_BOOL*)) {
        return [this, get](VARIANT* out) {
            VARIANT_BOOL value = VARIANT_FALSE;
            const HRESULT result = (this->*get)(&value);
            out->vt = VT_BOOL;
            out->boolVal = value;
            return result;
        };
    };
    auto readLong = [this](HRESULT (Dalvex::*get)(std::int32_t*)) {
        return [this, get](VARIANT* out) {
            std::int32_t value = 0;
            const HRESULT result = (this->*get)(&value);
            *out = com::makeI4(value);
            return result;
        };
    };
    com::DispatchTable& members = dispatch();
    members.addProperty("Enabled", pemrik::kDispidEnabled, VT_BOOL,
                        readBoolean(&Dalvex::get_Enabled),
                        [this](const VARIANT& in) { return put_Enabled(in.boolVal); });
    members.addProperty("Volume", pemrik::kDispidVolume, VT_I4, readLong(&Dalvex::get_Volume),
                        [this](const VARIANT& in) { return put_Volume(in.lVal); });
    members.addProperty("Mute", pemrik::kDispidMute, VT_BOOL, readBoolean(&Dalvex::get_Mute),
                        [this](const VARIANT& in) { return put_Mute(in.boolVal); });
    members.addProperty("DeviceToControl", pemrik::kDispidDeviceToControl, VT_I4,
                        readLong(&Dalvex::get_DeviceToControl),
                        [this](const VARIANT& in) { return put_DeviceToControl(in.lVal); });
}

HRESULT Dalvex::get_Enabled(VARIANT_BOOL* value) {
    *value = toVariantBool(enabled());
    return S_OK;
}

HRESULT Dalvex::put_Enabled(VARIANT_BOOL New_Enabled) {
    setEnabled(New_Enabled != VARIANT_FALSE);
    propertyChanged("Enabled");
    Timer1.setEnabled(New_Enabled != VARIANT_FALSE);
    return S_OK;
}

HRESULT Dalvex::get_Volume(std::int32_t* value) {
    *value = m_Volume;
    return S_OK;
}

HRESULT Dalvex::put_Volume(std::int32_t New_Volume) {
    if (!enabled())
        return S_OK;
    m_Volume = New_Volume;
    const Module1::Result<std::int16_t> written = Module1::SetVolume(m_DeviceToControl, New_Volume);
    if (!written.ok())
        return hresultOf(written.error);
    propertyChanged("Volume");
    return S_OK;
}

HRESULT Dalvex::get_Mute(VARIANT_BOOL* value) {
    *value = m_Mute;
    return S_OK;
}

HRESULT Dalvex::put_Mute(VARIANT_BOOL New_mute) {
    if (!enabled())
        return S_OK;
    m_Mute = New_mute;
    const Module1::Result<std::int16_t> written = Module1::SetMute(muteSlot(), New_mute);
    if (!written.ok())
        return hresultOf(written.error);
    propertyChanged("Mute");
    return S_OK;
}

HRESULT Dalvex::get_DeviceToControl(std::int32_t* value) {
    *value = m_DeviceToControl;
    return S_OK;
}

HRESULT Dalvex::put_DeviceToControl(std::int32_t New_DeviceToControl) {
    if (!enabled())
        return S_OK;
    if (!isControlDevice(New_DeviceToControl))
        return E_INVALIDARG;
    m_DeviceToControl = New_DeviceToControl;
    propertyChanged("DeviceToControl");
    const Module1::Result<std::int32_t> volume = Module1::GetVolume(m_DeviceToControl);
    if (!volume.ok())
        return hresultOf(volume.error);
    m_Volume = volume.value;
    raiseVolumeChanged(m_Volume);
    const Module1::Result<Module1::Boolean> mute = Module1::GetMute(muteSlot());
    if (!mute.ok())
        return hresultOf(mute.error);
    m_Mute = mute.value;
    raiseMuteChanged(m_Mute);
    return S_OK;
}

void Dalvex::UserControl_Initialize() {
    m_mixerOpened = Module1::OpenMixer(0) == Module1::True;
    setSize(kSizeTwips, kSizeTwips);
    showFace();
}

void Dalvex::UserControl_InitProperties() {
    m_DeviceToControl = kDefaultDevice;
    m_Volume = Module1::GetVolume(m_DeviceToControl).value;
    m_Mute = Module1::GetMute(muteSlot()).value;
    setSize(kSizeTwips, kSizeTwips);
}

void Dalvex::UserControl_ReadProperties(com::PropBag& bag) {
    setEnabled(bag.readBool("Enabled", true));
    m_Volume = bag.readLong("Volume", 0);
    m_Mute = toVariantBool(bag.readBool("mute", false));
    const std::int32_t device = bag.readLong("DeviceToControl", kDefaultDevice);
    // A saved line outside the enumeration would make every poll fail; take the default.
    m_DeviceToControl = isControlDevice(device) ? device : kDefaultDevice;
    Timer1.setEnabled(enabled());
}

void Dalvex::UserControl_WriteProperties(com::PropBag& bag) {
    bag.writeBool("Enabled", enabled(), true);
    bag.writeLong("Volume", m_Volume, 0);
    bag.writeBool("mute", m_Mute != VARIANT_FALSE, false);
    bag.writeLong("DeviceToControl", m_DeviceToControl, kDefaultDevice);
}

void Dalvex::UserControl_Resize() {
    setSize(kSizeTwips, kSizeTwips);
}

void Dalvex::UserControl_Terminate() {
    // Only an instance whose open counted may give one back: closing for an instance whose
    // open failed would close the device that the other instances on this thread share.
    if (m_mixerOpened)
        (void)Module1::CloseMixer();
    m_mixerOpened = false;
}

void Dalvex::Timer1_Timer() {
    const Module1::Result<std::int32_t> volume = Module1::GetVolume(m_DeviceToControl);
    if (volume.ok()) {
        std::int32_t v = volume.value;
        if (v != m_Volume)
            raiseVolumeChanged(v);
        m_Volume = v;
    }
    const Module1::Result<Module1::Boolean> mute = Module1::GetMute(muteSlot());
    if (mute.ok()) {
        VARIANT_BOOL m = mute.value;
        if (m != m_Mute)
            raiseMuteChanged(m);
        m_Mute = m;
    }
}

void Dalvex::raiseVolumeChanged(std::int32_t& newVolume) {
    (void)raiseEvent(pemrik::kDispidVolumeChanged, {com::byRef(newVolume)});
}

void Dalvex::raiseMuteChanged(VARIANT_BOOL& newMute) {
    (void)raiseEvent(pemrik::kDispidMuteChanged, {com::byRefBool(newMute)});
}

// The face is the library's picture resource; without it the control stays plain.
void Dalvex::showFace() {
    const QPixmap face = QPixmap::fromImage(png::read(QStringLiteral(":/dalvex/face.png")));
    if (face.isNull() || !widget())
        return;
    auto* picture = new QLabel(widget());
    picture->setPixmap(face);
    picture->setAttribute(Qt::WA_TransparentForMouseEvents);
    picture->setGeometry(0, 0, face.width(), face.height());
}
