#pragma once

#include "platform/com/UserControl.h"
#include "volume/Module1.h"

#include <QWidget> // UserControl keeps its window in a QPointer, which needs the full type
#include <cstdint>

// The volume control: `Volume` and `Mute` of one mixer line, chosen by `DeviceToControl`, kept
// in step with changes made elsewhere by polling the mixer every 100 ms and reporting each
// difference with `VolumeChanged` / `MuteChanged`. All mixer work goes through Module1.
//
// Late-bound members (DISPIDs in volume/PemrikGuids.h): Enabled, Volume, Mute,
// DeviceToControl; events MuteChanged(1) and VolumeChanged(2), each with one by-reference
// argument whose change by a handler becomes the control's value.
//
// Thread rule: apartment-threaded, like every user control; Module1's state is the creating
// thread's. Errors: every member returns an HRESULT; mixer failures are not reported.
class Dalvex : public com::UserControl {
public:
    // The `ControlDevices` enumeration of the type library.
    enum ControlDevices : std::int32_t {
        mMaster = 0,
        mLineIn = 1,
        mMicrophone = 2,
        mSynthesizer = 3,
        mCD = 4,
        mWave = 5,
        mAuxiliary = 6,
    };

    static constexpr LONG kSizeTwips = 480;

    explicit Dalvex(com::ModuleCount* module = nullptr);

    // The accessors of `_Dalvex`, as Invoke calls them.
    HRESULT get_Enabled(VARIANT_BOOL* value);
    HRESULT put_Enabled(VARIANT_BOOL New_Enabled);
    HRESULT get_Volume(std::int32_t* value);
    HRESULT put_Volume(std::int32_t New_Volume);
    HRESULT get_Mute(VARIANT_BOOL* value);
    HRESULT put_Mute(VARIANT_BOOL New_mute);
    HRESULT get_DeviceToControl(std::int32_t* value);
    // Values outside mMaster..mAuxiliary are refused with E_INVALIDARG and change nothing.
    HRESULT put_DeviceToControl(std::int32_t New_DeviceToControl);

protected:
    void UserControl_Initialize() override;
    void UserControl_InitProperties() override;
    void UserControl_ReadProperties(com::PropBag& bag) override;
    void UserControl_WriteProperties(com::PropBag& bag) override;
    void UserControl_Resize() override;
    void UserControl_Terminate() override;

private:
    void declareMembers();
    void showFace();
    void Timer1_Timer();
    std::int32_t muteSlot() const { return m_DeviceToControl + Module1::kMuteSlotOffset; }
    void raiseVolumeChanged(std::int32_t& newVolume);
    void raiseMuteChanged(VARIANT_BOOL& newMute);

    VARIANT_BOOL m_Mute = VARIANT_FALSE;
    std::int32_t m_DeviceToControl = mMaster;
    std::int32_t m_Volume = 0;
    bool m_mixerOpened = false;
    com::ControlTimer Timer1{*this, 100, true, [this] { Timer1_Timer(); }};
};
