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
class TrayIcon {
public:
    virtual ~TrayIcon() = default;
    virtual void show() = 0;
    virtual void setHint(const std::string& hint) = 0;
    virtual std::string hint() const = 0;
    // Double-click (any button) and the menu's "&Restore".
    std::function<void()> onRestore;
    // The menu's "&Close".
    std::function<void()> onClose;
};

// A tray for tests and for desktops without a notification area: keeps the hint.
class PlainTrayIcon : public TrayIcon {
public:
    void show() override { }
    void setHint(const std::string& hint) override { hint_ = hint; }
    std::string hint() const override { return hint_; }

private:
    std::string hint_;
};

} // namespace qm
