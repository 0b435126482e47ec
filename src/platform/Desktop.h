#pragma once
// Desktop services the main window needs: screen sizes and the notification-area icon.
#include <functional>
#include <string>

namespace qm {

struct PixelSize {
    int width = 0;
    int height = 0;
};

class DesktopGeometry {
public:
    virtual ~DesktopGeometry() = default;
    virtual PixelSize primaryScreen() const = 0;
    // The whole virtual desktop across all monitors.
    virtual PixelSize virtualDesktop() const = 0;
};

// The notification-area icon. The hint is the tool tip; the idle rule reads it back.
// The two switches say where the window goes when it is minimised or its close box is
// used; the window follows them only while available() says the icon can be seen,
// otherwise it minimises and closes as usual.
class TrayIcon {
public:
    virtual ~TrayIcon() = default;
    virtual void show() = 0;
    virtual void setHint(const std::string& hint) = 0;
    virtual std::string hint() const = 0;
    // The desktop has a notification area and the icon is in it.
    virtual bool available() const = 0;

    void setMinimizeToTray(bool on) { minimizeToTray_ = on; }
    bool minimizeToTray() const { return minimizeToTray_; }
    void setCloseToTray(bool on) { closeToTray_ = on; }
    bool closeToTray() const { return closeToTray_; }
    // Double-click (any button) and the menu's "&Restore".
    std::function<void()> onRestore;
    // The menu's "&Close".
    std::function<void()> onClose;

private:
    bool minimizeToTray_ = false;
    bool closeToTray_ = false;
};

// A tray for tests and for desktops without a notification area: keeps the hint.
// Tests that need a window to hide into make one that counts as available.
class PlainTrayIcon : public TrayIcon {
public:
    explicit PlainTrayIcon(bool available = false)
        : available_(available)
    {
    }
    void show() override { }
    void setHint(const std::string& hint) override { hint_ = hint; }
    std::string hint() const override { return hint_; }
    bool available() const override { return available_; }

private:
    bool available_;
    std::string hint_;
};

} // namespace qm
