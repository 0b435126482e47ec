#pragma once
// The proxy form: whether and how the HTTP exchange goes through a proxy. Created once
// at start-up after the main window; keeps its values while hidden. Its values reach
// the exchange when the user leaves it with "Close", and at creation when a proxy was
// saved as in use.
#include "app/TfrmMain.h"
#include "platform/Environment.h"
#include "service/ProxySettings.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace qm {

struct ProxyFormServices {
    Prompts* prompts = nullptr;
    Reporter* reporter = nullptr;
    HttpExchange* http = nullptr;
    const Environment* environment = nullptr;
    std::string settingsPath;
};

class TfrmProxy : public QDialog, public ProxyDialog {
public:
    // The modal result when the user declines to go on with missing credentials.
    static constexpr int kResultNo = 2;

    explicit TfrmProxy(ProxyFormServices services, QWidget* parent = nullptr);

    // Some value was changed since the form was last shown, saved or closed.
    bool ProxySettingsChanged = false;

    // ProxyDialog.
    bool credentialsMissing() const override;
    bool showModal() override;

    // The values as the form holds them.
    ProxyValues values() const;
    std::string statusText() const;

    // Handlers.
    void FormCreate();
    void FormActivate();
    void cbUseProxyClick();
    void cbUseAuthenticationClick();
    void leProxyServerChange();
    void leProxyPortChange();
    void btnAutoCheckClick();
    void btnSaveClick();
    void btnCloseClick();
    void btnClearSettingsClick();

    QCheckBox* cbUseProxy;
    QPushButton* btnAutoCheck;
    QLineEdit* leProxyServer;
    QLineEdit* leProxyPort;
    QCheckBox* cbUseAuthentication;
    QLineEdit* leProxyUserID;
    QLineEdit* leProxyPassword;
    QCheckBox* cbRetainAuth;
    QPushButton* btnSave;
    QPushButton* btnClose;
    QPushButton* btnClearSettings;
    QStatusBar* StatusBar;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    void wire();
    void applyEnabling();
    void clearFields();
    // Runs a handler; an error goes to the general error report and the form stays.
    void guarded(const std::function<void()>& handler);

    ProxyFormServices services_;
    QLabel* statusLabel_ = nullptr;
};

} // namespace qm
