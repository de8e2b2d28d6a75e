#pragma once

// A window's stored layout of hosted controls, and the container that creates them from it.
//
// The layout is a text resource (":/quiva/frmMain.layout"): one [section] per control, named
// after the control, with
//     class = {clsid} | ProgID | built-in name      left = / top = / width = / height = (twips)
//     extentx = / extenty = (HIMETRIC, instead of width and height)
//     prop <key> = Boolean True|False | Integer n | Long n|&Hhex | String "text"
// Keys keep the case the layout holds; controls read them without regard to case.
//
// Thread rule: UI thread only (the controls are created on and bound to the calling thread).

#include "platform/com/PropertyBag.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QWidget;

namespace layout {

struct StoredControl {
    QString name;      // "Dalvex1"
    QString className; // "{8CE00BF8-...}", "Pemrik.Dalvex" or "TransparentColor"
    int leftTwips = 0;
    int topTwips = 0;
    int widthTwips = 0;
    int heightTwips = 0;
    com::ComPtr<com::PropertyBag> properties;
};

struct StoredLayout {
    std::vector<StoredControl> controls; // in the order the layout lists them
    QStringList problems;                // one line per line that could not be read
};

// Parses layout text; unreadable lines are skipped and described in `problems`.
StoredLayout parseStoredLayout(const QString& text);
// Reads a resource or file; a missing one gives an empty layout with one problem.
StoredLayout readStoredLayout(const QString& path);

// A control compiled into the player: returns a new control with one reference (the caller's)
// whose Initialize hook has run, e.g. `[] { return
// com::createControl<TransparentColor>()->identity(); }`.
using BuiltInFactory = std::function<IUnknown*()>;
// Makes `className` (case-insensitive) a built-in control class. Registering again replaces.
void registerBuiltInControl(const QString& className, BuiltInFactory factory);

// The controls created for one window. Owns one reference to each and closes them (their
// Terminate hooks run) when it goes, which must be before the host window is destroyed: keep it
// as a member of the window. Move-only.
class HostedControls {
public:
    HostedControls() = default;
    HostedControls(HostedControls&&) noexcept = default;
    HostedControls& operator=(HostedControls&& other) noexcept;
    ~HostedControls();

    // The control of that name (case-insensitive) as its late-bound interface, or null when it
    // was left out. No reference is added: the pointer lives as long as this object.
    IDispatch* dispatch(const QString& name) const;
    // The control's identity (reference added), or empty.
    com::ComPtr<IUnknown> control(const QString& name) const;
    QStringList names() const;

private:
    friend HostedControls createHostedControls(QWidget* host, const QString& layoutResource);
    void closeAll();
    struct Hosted {
        QString name;
        com::ComPtr<IUnknown> object;
        com::ComPtr<IDispatch> dispatch;
    };
    std::vector<Hosted> m_controls;
};

// Creates every control of the layout in `host`: the object (Initialize), its window in the
// host, ReadProperties with its saved properties, then its place and size. A control that
// cannot be created or loaded is left out with one line on stderr naming it and the reason;
// the others are created normally. Call it before the window's load handler runs.
HostedControls createHostedControls(QWidget* host, const QString& layoutResource);

} // namespace layout
