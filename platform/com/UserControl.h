#pragma once

// The user-control base: what a control class needs of its host platform, so that its own code
// is only its properties, its hooks and its timer handlers. It works the same for a control
// compiled into the player (created with createControl) and for one in a library loaded by
// class identifier (created by the library's class factory, see Server.h).
//
// A control derives from UserControl, declares its late-bound members in its constructor and
// overrides the hooks it needs:
//
//     class Beeper : public com::UserControl {
//     public:
//         explicit Beeper(com::ModuleCount* module = nullptr)
//             : UserControl({"Beeper", kClsidBeeper, kIidBeeper, kIidBeeperEvents}, module) {
//             dispatch().addProperty("Volume", 1, VT_I4,
//                 [this](VARIANT* out) { *out = com::makeI4(m_volume); return S_OK; },
//                 [this](const VARIANT& in) {
//                     m_volume = in.lVal; propertyChanged("Volume"); return S_OK; });
//         }
//     protected:
//         void UserControl_Initialize() override { setSize(480, 480); }
//         void UserControl_ReadProperties(com::PropBag& bag) override {
//             m_volume = bag.readLong("Volume", 0);
//             Timer1.setEnabled(enabled());
//         }
//         void UserControl_WriteProperties(com::PropBag& bag) override {
//             bag.writeLong("Volume", m_volume, 0); // omitted when 0
//         }
//         void UserControl_Resize() override { setSize(480, 480); }
//     private:
//         void Timer1_Timer() {
//             std::int32_t v = readHardware();
//             if (v != m_volume) raiseEvent(2, {com::byRef(v)}); // the handler may change v
//             m_volume = v;
//         }
//         std::int32_t m_volume = 0;
//         com::ControlTimer Timer1{*this, 100, true, [this] { Timer1_Timer(); }};
//     };
//
//     IUnknown* made = com::createControl<Beeper>(); // one reference, Initialize has run
//
// Lifecycle, driven by the container: construction and UserControl_Initialize (createControl)
// -> IHostedControl::SetHost -> IPersistPropertyBag::InitNew (UserControl_InitProperties) or
// Load (UserControl_ReadProperties) -> SetObjectRect (UserControl_Resize when the size changes)
// -> running: Invoke, timer ticks, events -> Save (UserControl_WriteProperties) whenever the
// container stores -> Close or the last Release (UserControl_Terminate, timers stopped, window
// destroyed).
//
// Thread rule: apartment-threaded. Everything above runs on the thread that created the control
// (the UI thread); interface calls from another thread get RPC_E_WRONG_THREAD. AddRef and
// Release alone may come from any thread: when the last Release comes from another thread, the
// control is closed and destroyed on its own thread, at the next turn of that thread's event
// loop (a thread that never runs its loop again keeps the control for good).
// After Close, every interface member but Close itself (and IUnknown's) is refused with
// E_UNEXPECTED: nothing of the control's own code runs on a closed control.
// Ownership: reference counted (Object.h); the control owns its window and its timers.
// Errors: every interface member returns an HRESULT and never throws; a hook cannot fail.

#include "platform/com/Dispatch.h"
#include "platform/com/Object.h"
#include "platform/com/Server.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

class QTimer;

namespace com {

class ConnectionPoint;
class UserControl;

// What the base needs to know of the derived class.
struct ControlClass {
    std::string name;                 // "Dalvex", also the window's object name
    CLSID clsid = GUID_NULL;          // GUID_NULL for a control built into the player
    IID defaultInterface = GUID_NULL; // the dual interface ("_Dalvex"); answered by IDispatch
    IID eventInterface = GUID_NULL;   // the outgoing event interface ("__Dalvex"); none if NULL
};

// The saved properties handed to the read and write hooks. Names are matched without regard to
// case (the container's bag does that). A missing value, or one that does not convert to the
// type asked for, reads as the default. A write whose value equals its default stores nothing.
class PropBag {
public:
    explicit PropBag(IPropertyBag* bag) : m_bag(bag) {}
    bool readBool(const char* name, bool defaultValue) const;
    std::int32_t readLong(const char* name, std::int32_t defaultValue) const;
    std::string readString(const char* name, const std::string& defaultValue) const;
    void writeBool(const char* name, bool value, bool defaultValue);
    void writeLong(const char* name, std::int32_t value, std::int32_t defaultValue);
    void writeString(const char* name, const std::string& value, const std::string& defaultValue);

private:
    IPropertyBag* m_bag;
};

// A timer of a control, ticking on the control's thread through Qt's event loop. An interval
// of 0 never ticks. Stopped for good when the control closes. Construct as a member of the
// control, after the members its tick handler uses.
class ControlTimer {
public:
    ControlTimer(UserControl& owner, int intervalMs, bool enabled, std::function<void()> tick);
    ~ControlTimer();
    ControlTimer(const ControlTimer&) = delete;
    ControlTimer& operator=(const ControlTimer&) = delete;

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    int interval() const { return m_intervalMs; }
    void setInterval(int intervalMs);

private:
    friend class UserControl;
    void apply();
    void stopForGood();

    UserControl& m_owner;
    std::unique_ptr<QTimer> m_timer;
    int m_intervalMs;
    bool m_enabled;
    bool m_stopped = false;
};

class UserControl
    : public Object<IDispatch, IPersistPropertyBag, IConnectionPointContainer, IHostedControl> {
public:
    // IDispatch: over dispatch().
    HRESULT GetIDsOfNames(const char* const* names, UINT count, DISPID* ids) override;
    HRESULT Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                   UINT* argError) override;
    // IPersistPropertyBag: the InitProperties, ReadProperties and WriteProperties hooks.
    HRESULT InitNew() override;
    HRESULT Load(IPropertyBag* bag) override;
    HRESULT Save(IPropertyBag* bag) override;
    // IConnectionPointContainer: IPropertyNotifySink and the class's event interface.
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;
    // IHostedControl.
    HRESULT SetHost(QWidget* host) override;
    HRESULT SetObjectRect(LONG leftTwips, LONG topTwips, LONG widthTwips,
                          LONG heightTwips) override;
    HRESULT GetExtent(LONG* widthTwips, LONG* heightTwips) override;
    HRESULT GetWindow(QWidget** window) override;
    HRESULT Close() override;

    const ControlClass& controlClass() const { return m_class; }

protected:
    // `module`: the library's count of live objects (null for a control built into the player).
    explicit UserControl(ControlClass controlClass, ModuleCount* module = nullptr);
    ~UserControl() override;

    // ---- hooks, all on the control's thread ----
    // Every creation, before anything else; a size set here runs no Resize hook.
    virtual void UserControl_Initialize() {}
    virtual void UserControl_InitProperties() {} // a new instance without saved data
    virtual void UserControl_ReadProperties(PropBag&) {}
    virtual void UserControl_WriteProperties(PropBag&) {}
    virtual void UserControl_Resize() {} // the size changed (not re-entered from itself)
    virtual void UserControl_Terminate() {}

    // ---- services ----
    // The late-bound members; fill it in the constructor.
    DispatchTable& dispatch() { return m_dispatch; }

    // The control's own enabled state (its window's), independent of the host's.
    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);

    // Size in twips (15 twips per pixel). Setting a different size resizes the window and runs
    // UserControl_Resize, except from inside UserControl_Resize itself.
    LONG width() const { return m_widthTwips; }
    LONG height() const { return m_heightTwips; }
    void setSize(LONG widthTwips, LONG heightTwips);

    // Tells the container that a property changed: IPropertyNotifySink::OnChanged with the
    // property's DISPID (from dispatch(), DISPID_UNKNOWN when it has none) and the name.
    void propertyChanged(const char* name);

    // Raises an event synchronously at every connected sink, in the order they connected.
    // `args` in natural order; pass com::byRef(...) for an argument the handler may change;
    // when this returns, every handler has run. Returns the first failure of a sink, if any.
    HRESULT raiseEvent(DISPID id, std::vector<VARIANT> args);

    // The control's own window (lives until Close) and the container's window holding it.
    QWidget* widget() const { return m_widget; }
    QWidget* hostWindow() const;
    // The host window's background colour as 0x00BBGGRR, read now; nullopt without a host.
    std::optional<std::uint32_t> hostBackColor() const;

    bool closed() const { return m_closed; }

private:
    template <class T, class... Args> friend T* createControl(Args&&... args);
    friend class ControlTimer;

    void initialize();
    void lastReleased() override;
    void destroy();
    // What a member answers when it may not run now (S_OK when it may).
    HRESULT refusal() const;
    void* queryMore(REFIID iid) override;

    ControlClass m_class;
    ModuleCount* m_module;
    std::unique_ptr<QObject> m_home; // lives on the owner thread: where the destruction is sent
    DispatchTable m_dispatch;
    QPointer<QWidget> m_widget;
    std::unique_ptr<ConnectionPoint> m_notifyPoint;
    std::unique_ptr<ConnectionPoint> m_eventPoint;
    std::vector<ControlTimer*> m_timers;
    LONG m_widthTwips = 0;
    LONG m_heightTwips = 0;
    bool m_enabled = true;
    bool m_inResize = true; // no Resize hook until Initialize is over
    bool m_closed = false;
};

// Makes a control and runs its Initialize hook; the caller owns the one reference.
template <class T, class... Args> T* createControl(Args&&... args) {
    T* control = new T(std::forward<Args>(args)...);
    control->initialize();
    return control;
}

} // namespace com
