#include "platform/QtDesktop.h"

#include "platform/Latin1.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSystemTrayIcon>

namespace qm {

namespace {

QString boxTitle()
{
    return QApplication::applicationName();
}

bool askYesNo(QMessageBox::Icon icon, const std::string& text)
{
    QMessageBox box(icon, boxTitle(), latin1(text), QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void tell(QMessageBox::Icon icon, const std::string& text)
{
    QMessageBox box(icon, boxTitle(), latin1(text), QMessageBox::Ok);
    box.exec();
}

} // namespace

void QtPrompts::error(const std::string& text)
{
    tell(QMessageBox::Critical, text);
}
void QtPrompts::warning(const std::string& text)
{
    tell(QMessageBox::Warning, text);
}
bool QtPrompts::confirm(const std::string& text)
{
    return askYesNo(QMessageBox::Question, text);
}
bool QtPrompts::errorYesNo(const std::string& text)
{
    return askYesNo(QMessageBox::Critical, text);
}
bool QtPrompts::warningYesNo(const std::string& text)
{
    return askYesNo(QMessageBox::Warning, text);
}

PixelSize QtDesktopGeometry::primaryScreen() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    return {screen->size().width(), screen->size().height()};
}

PixelSize QtDesktopGeometry::virtualDesktop() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect all = screen->virtualGeometry();
    return {all.width(), all.height()};
}

QtTrayIcon::QtTrayIcon()
    : menu_(std::make_unique<QMenu>())
    , icon_(std::make_unique<QSystemTrayIcon>())
{
    QIcon appIcon = QApplication::windowIcon();
    icon_->setIcon(appIcon);
    QObject::connect(menu_->addAction(QStringLiteral("&Close")), &QAction::triggered, menu_.get(), [this] {
        if (onClose)
            onClose();
    });
    QObject::connect(menu_->addAction(QStringLiteral("&Restore")), &QAction::triggered, menu_.get(), [this] {
        if (onRestore)
            onRestore();
    });
    icon_->setContextMenu(menu_.get());
    QObject::connect(
        icon_.get(), &QSystemTrayIcon::activated, icon_.get(), [this](QSystemTrayIcon::ActivationReason reason) {
            // Notification areas that speak the StatusNotifierItem protocol report each
            // click as one activation and never a double-click; so any click but the
            // menu's restores, and a double-click does so on every desktop.
            const bool restore = reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger
                || reason == QSystemTrayIcon::MiddleClick;
            if (restore && onRestore)
                onRestore();
        });
}

QtTrayIcon::~QtTrayIcon()
{
    icon_.reset();
    menu_.reset();
}

void QtTrayIcon::show()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        icon_->show();
}

bool QtTrayIcon::available() const
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return false;
    // A logon start may come before the panel: the icon goes in once there is a tray,
    // so a window never hides where no icon can bring it back.
    if (!icon_->isVisible())
        icon_->show();
    return true;
}

void QtTrayIcon::setHint(const std::string& hint)
{
    hint_ = hint;
    // The notification area shows at most 63 characters of a hint.
    icon_->setToolTip(latin1(hint.substr(0, 63)));
}

} // namespace qm
