#include "platform/com/UserControl.h"

#include "platform/com/ConnectionPoint.h"
#include "platform/ui/Twips.h"

#include <QPalette>
#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace com {

// ---- PropBag ----

namespace {

Variant readAs(IPropertyBag* bag, const char* name, VARTYPE type) {
    Variant value;
    value.get()->vt = type;
    if (!bag || FAILED(bag->Read(name, value.get())) || value.type() != type)
        return Variant();
    return value;
}

void writeUnlessDefault(IPropertyBag* bag, const char* name, const VARIANT& value, bool isDefault) {
    if (bag && !isDefault)
        bag->Write(name, &value);
}

} // namespace

bool PropBag::readBool(const char* name, bool defaultValue) const {
    Variant value = readAs(m_bag, name, VT_BOOL);
    return value.type() == VT_BOOL ? value.get()->boolVal != VARIANT_FALSE : defaultValue;
}

std::int32_t PropBag::readLong(const char* name, std::int32_t defaultValue) const {
    Variant value = readAs(m_bag, name, VT_I4);
    return value.type() == VT_I4 ? value.get()->lVal : defaultValue;
}

std::string PropBag::readString(const char* name, const std::string& defaultValue) const {
    Variant value = readAs(m_bag, name, VT_BSTR);
    return value.type() == VT_BSTR ? *toText(*value) : defaultValue;
}

void PropBag::writeBool(const char* name, bool value, bool defaultValue) {
    writeUnlessDefault(m_bag, name, makeBool(value), value == defaultValue);
}

void PropBag::writeLong(const char* name, std::int32_t value, std::int32_t defaultValue) {
    writeUnlessDefault(m_bag, name, makeI4(value), value == defaultValue);
}

void PropBag::writeString(const char* name, const std::string& value,
                          const std::string& defaultValue) {
    Variant text(makeBstr(value));
    writeUnlessDefault(m_bag, name, *text, value == defaultValue);
}

// ---- ControlTimer ----

ControlTimer::ControlTimer(UserControl& owner, int intervalMs, bool enabled,
                           std::function<void()> tick)
    : m_owner(owner), m_timer(std::make_unique<QTimer>()), m_intervalMs(intervalMs),
      m_enabled(enabled) {
    // A handler may drop the last reference to its control (an event handler releasing it);
    // the control then goes only when the tick is over.
    QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(),
                     [this, tick = std::move(tick)] {
                         ComPtr<IUnknown> keepAlive(m_owner.identity());
                         tick();
                     });
    m_owner.m_timers.push_back(this);
    apply();
}

ControlTimer::~ControlTimer() {
    std::erase(m_owner.m_timers, this);
}

void ControlTimer::setEnabled(bool enabled) {
    m_enabled = enabled;
    apply();
}

void ControlTimer::setInterval(int intervalMs) {
    m_intervalMs = intervalMs;
    apply();
}

void ControlTimer::apply() {
    if (m_enabled && m_intervalMs > 0 && !m_stopped)
        m_timer->start(m_intervalMs); // restarts the count, as setting Interval does
    else
        m_timer->stop();
}

void ControlTimer::stopForGood() {
    m_stopped = true;
    m_timer->stop();
}

// ---- UserControl ----

UserControl::UserControl(ControlClass controlClass, ModuleCount* module)
    : m_class(std::move(controlClass)), m_module(module), m_home(std::make_unique<QObject>()),
      m_widget(new QWidget), m_notifyPoint(std::make_unique<ConnectionPoint>(
                                 *identity(), IPropertyNotifySink::kIid, GUID_NULL)) {
    if (m_module)
        m_module->lock();
    if (m_class.eventInterface != GUID_NULL)
        m_eventPoint =
            std::make_unique<ConnectionPoint>(*identity(), m_class.eventInterface, IDispatch::kIid);
    m_widget->setObjectName(QString::fromStdString(m_class.name));
}

UserControl::~UserControl() {
    delete m_widget.data();
    if (m_module)
        m_module->unlock();
}

void UserControl::initialize() {
    UserControl_Initialize();
    m_inResize = false;
}

void UserControl::lastReleased() {
    if (onOwnerThread()) {
        destroy();
        return;
    }
    // The window and the timers may only be stopped and destroyed on their own thread: the
    // destruction waits there for the next turn of its event loop.
    QMetaObject::invokeMethod(
        m_home.get(), [this] { destroy(); }, Qt::QueuedConnection);
}

void UserControl::destroy() {
    AddRef(); // the terminate hook may hand itself around; it is not destroyed midway
    Close();
    m_notifyPoint->disconnectAll();
    if (m_eventPoint)
        m_eventPoint->disconnectAll();
    delete this;
}

HRESULT UserControl::refusal() const {
    if (!onOwnerThread())
        return RPC_E_WRONG_THREAD;
    return m_closed ? E_UNEXPECTED : S_OK;
}

void* UserControl::queryMore(REFIID iid) {
    if (iid == m_class.defaultInterface && iid != GUID_NULL)
        return static_cast<IDispatch*>(this);
    return nullptr;
}

HRESULT UserControl::GetIDsOfNames(const char* const* names, UINT count, DISPID* ids) {
    if (const HRESULT refused = refusal(); FAILED(refused))
        return refused;
    return m_dispatch.getIDsOfNames(names, count, ids);
}

HRESULT UserControl::Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                            UINT* argError) {
    if (const HRESULT refused = refusal(); FAILED(refused))
        return refused;
    ComPtr<IUnknown> keepAlive(identity());
    return m_dispatch.invoke(id, flags, params, result, argError);
}

HRESULT UserControl::InitNew() {
    if (const HRESULT refused = refusal(); FAILED(refused))
        return refused;
    UserControl_InitProperties();
    return S_OK;
}

HRESULT UserControl::Load(IPropertyBag* bag) {
    if (const HRESULT refused = refusal(); FAILED(refused))
        return refused;
    if (!bag)
        return E_POINTER;
    PropBag properties(bag);
    UserControl_ReadProperties(properties);
    return S_OK;
}

HRESULT UserControl::Save(IPropertyBag* bag) {
    if (const HRESULT refused = refusal(); FAILED(refused))
        return refused;
    if (!bag)
        return E_POINTER;
    PropBag properties(bag);
    UserControl_WriteProperties(properties);
    return S_OK;
}

HRESULT UserControl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (const HRESULT refused = refusal(); FAILED(refused))
        return refused;
    if (!point)
        return E_POINTER;
    *point = nullptr;
    ConnectionPoint* found = nullptr;
    if (iid == IPropertyNotifySink::kIid)
        found = m_notifyPoint.get();
    else if (m_eventPoint && iid == m_class.eventInterface)
        found = m_eventPoint.get();
    if (!found)
        return CONNECT_E_NOCONNECTION;
    found->AddRef();
    *point = found;
    return S_OK;
}

HRESULT UserControl::SetHost(QWidget* host) {
    if (const HRESULT refused = refusal(); FAILED(refused))
        return refused;
    if (!m_widget)
        return E_UNEXPECTED;
    m_widget->setParent(host);
    if (host)
        m_widget->show();
    return S_OK;
}

HRESULT UserControl::SetObjectRect(LONG leftTwips, LONG topTwips, LONG widthTwips,
                                   LONG heightTwips) {
    if (const HRESULT refused = refusal(); FAILED(refused))
        return refused;
    if (!m_widget)
        return E_UNEXPECTED;
    m_widget->move(twips::toPixels(leftTwips), twips::toPixels(topTwips));
    setSize(widthTwips, heightTwips);
    return S_OK;
}

HRESULT UserControl::GetExtent(LONG* widthTwips, LONG* heightTwips) {
    if (const HRESULT refused = refusal(); FAILED(refused))
        return refused;
    if (!widthTwips || !heightTwips)
        return E_POINTER;
    *widthTwips = m_widthTwips;
    *heightTwips = m_heightTwips;
    return S_OK;
}

HRESULT UserControl::GetWindow(QWidget** window) {
    if (const HRESULT refused = refusal(); FAILED(refused))
        return refused;
    if (!window)
        return E_POINTER;
    *window = m_widget;
    return m_widget ? S_OK : E_UNEXPECTED;
}

HRESULT UserControl::Close() {
    if (!onOwnerThread())
        return RPC_E_WRONG_THREAD;
    if (m_closed)
        return S_OK;
    m_closed = true;
    for (ControlTimer* timer : m_timers)
        timer->stopForGood();
    UserControl_Terminate();
    delete m_widget.data();
    return S_OK;
}

void UserControl::setEnabled(bool enabled) {
    m_enabled = enabled;
    if (m_widget)
        m_widget->setEnabled(enabled);
}

void UserControl::setSize(LONG widthTwips, LONG heightTwips) {
    if (widthTwips == m_widthTwips && heightTwips == m_heightTwips)
        return;
    m_widthTwips = widthTwips;
    m_heightTwips = heightTwips;
    if (m_widget)
        m_widget->resize(twips::toPixels(widthTwips), twips::toPixels(heightTwips));
    if (m_inResize || m_closed)
        return;
    m_inResize = true;
    UserControl_Resize();
    m_inResize = false;
}

void UserControl::propertyChanged(const char* name) {
    const DISPID id = m_dispatch.idOf(name).value_or(DISPID_UNKNOWN);
    for (const auto& sink : m_notifyPoint->sinks<IPropertyNotifySink>())
        sink->OnChanged(id, name);
}

HRESULT UserControl::raiseEvent(DISPID id, std::vector<VARIANT> args) {
    if (!m_eventPoint)
        return CONNECT_E_NOCONNECTION;
    ComPtr<IUnknown> keepAlive(identity());
    std::reverse(args.begin(), args.end());
    HRESULT outcome = S_OK;
    for (const auto& sink : m_eventPoint->sinks<IDispatch>()) {
        DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        const HRESULT result = sink->Invoke(id, DISPATCH_METHOD, &params, nullptr, nullptr);
        if (FAILED(result) && SUCCEEDED(outcome))
            outcome = result;
    }
    return outcome;
}

QWidget* UserControl::hostWindow() const {
    return m_widget ? m_widget->parentWidget() : nullptr;
}

std::optional<std::uint32_t> UserControl::hostBackColor() const {
    QWidget* host = hostWindow();
    if (!host)
        return std::nullopt;
    const QColor colour = host->palette().color(host->backgroundRole());
    return static_cast<std::uint32_t>(colour.red()) |
           static_cast<std::uint32_t>(colour.green()) << 8 |
           static_cast<std::uint32_t>(colour.blue()) << 16;
}

} // namespace com
