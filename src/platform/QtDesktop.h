#pragma once
// Desktop implementations over Qt Widgets: message boxes, screens, the tray icon.
#include "platform/Desktop.h"
#include "platform/Prompts.h"

#include <memory>

class QSystemTrayIcon;
class QMenu;

namespace qm {

class QtPrompts : public Prompts {
public:
    void error(const std::string& text) override;
    void warning(const std::string& text) override;
    bool confirm(const std::string& text) override;
    bool errorYesNo(const std::string& text) override;
    bool warningYesNo(const std::string& text) override;
};

class QtDesktopGeometry : public DesktopGeometry {
public:
    PixelSize primaryScreen() const override;
    PixelSize virtualDesktop() const override;
};

class QtTrayIcon : public TrayIcon {
public:
    QtTrayIcon();
    ~QtTrayIcon() override;
    void show() override;
    void setHint(const std::string& hint) override;
    std::string hint() const override { return hint_; }
    bool available() const override;

private:
    std::string hint_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
};

} // namespace qm
