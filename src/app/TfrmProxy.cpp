#include "app/TfrmProxy.h"

#include "app/DesignScale.h"
#include "platform/Latin1.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

namespace qm {

namespace {

// A labelled edit: the caption above the field.
QLineEdit* labelledEdit(const QString& caption, QWidget* parent, QGridLayout* grid, int row, int column)
{
    auto* edit = new QLineEdit(parent);
    auto* label = new QLabel(caption, parent);
    label->setBuddy(edit);
    grid->addWidget(label, row, column);
    grid->addWidget(edit, row + 1, column);
    return edit;
}

} // namespace

TfrmProxy::TfrmProxy(ProxyFormServices services, QWidget* parent)
    : QDialog(parent)
    , services_(std::move(services))
{
    setWindowTitle(QStringLiteral("Proxy Server Configuration"));
    buildControls();
    wire();
}

void TfrmProxy::buildControls()
{
    cbUseProxy = new QCheckBox(QStringLiteral("Use Proxy"), this);
    btnAutoCheck = new QPushButton(QStringLiteral("Auto Check Proxy Settings"), this);
    cbUseAuthentication = new QCheckBox(QStringLiteral("Use Authentication"), this);
    cbRetainAuth = new QCheckBox(QStringLiteral("Retain Authentication"), this);
    btnSave = new QPushButton(QStringLiteral("Save"), this);
    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClearSettings = new QPushButton(QStringLiteral("Clear Settings"), this);

    auto* v = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(cbUseProxy);
    top->addStretch();
    top->addWidget(btnAutoCheck);
    v->addLayout(top);

    auto* server = new QGridLayout;
    leProxyServer = labelledEdit(QStringLiteral("Proxy Server"), this, server, 0, 0);
    leProxyPort = labelledEdit(QStringLiteral("Proxy Port"), this, server, 0, 1);
    server->setColumnStretch(0, 3);
    server->setColumnStretch(1, 1);
    v->addLayout(server);

    v->addWidget(cbUseAuthentication);
    auto* credentials = new QGridLayout;
    leProxyUserID = labelledEdit(QStringLiteral("Proxy UserID"), this, credentials, 0, 0);
    leProxyPassword = labelledEdit(QStringLiteral("Proxy Password"), this, credentials, 0, 1);
    leProxyPassword->setEchoMode(QLineEdit::Password);
    leProxyPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    v->addLayout(credentials);
    v->addWidget(cbRetainAuth);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnSave);
    buttons->addWidget(btnClose);
    buttons->addWidget(btnClearSettings);
    v->addLayout(buttons);

    StatusBar = new QStatusBar(this);
    StatusBar->setAccessibleName(QStringLiteral("Status"));
    StatusBar->setSizeGripEnabled(false);
    statusLabel_ = new QLabel(StatusBar);
    StatusBar->addWidget(statusLabel_, 1);
    v->addWidget(StatusBar);
    v->setContentsMargins(8, 8, 8, 0);
    setMinimumWidth(DesignScale(font()).x(360));

    // "Save" and "Close" act only when clicked; Enter in a field does neither.
    for (QPushButton* button : {btnAutoCheck, btnSave, btnClose, btnClearSettings})
        button->setAutoDefault(false);

    QWidget* order[] = {cbUseProxy, btnAutoCheck, leProxyServer, leProxyPort, cbUseAuthentication, leProxyUserID,
        leProxyPassword, cbRetainAuth, btnSave, btnClose, btnClearSettings, StatusBar};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    leProxyPort->setText(QStringLiteral("0"));
}

void TfrmProxy::wire()
{
    auto on = [this](void (TfrmProxy::*handler)()) {
        return [this, handler] { guarded([this, handler] { (this->*handler)(); }); };
    };
    connect(cbUseProxy, &QCheckBox::clicked, this, on(&TfrmProxy::cbUseProxyClick));
    connect(cbUseAuthentication, &QCheckBox::clicked, this, on(&TfrmProxy::cbUseAuthenticationClick));
    connect(cbRetainAuth, &QCheckBox::clicked, this, on(&TfrmProxy::leProxyServerChange));
    for (QLineEdit* edit : {leProxyServer, leProxyUserID, leProxyPassword})
        connect(edit, &QLineEdit::textChanged, this, on(&TfrmProxy::leProxyServerChange));
    connect(leProxyPort, &QLineEdit::textChanged, this, on(&TfrmProxy::leProxyPortChange));
    connect(btnAutoCheck, &QPushButton::clicked, this, on(&TfrmProxy::btnAutoCheckClick));
    connect(btnSave, &QPushButton::clicked, this, on(&TfrmProxy::btnSaveClick));
    connect(btnClose, &QPushButton::clicked, this, on(&TfrmProxy::btnCloseClick));
    connect(btnClearSettings, &QPushButton::clicked, this, on(&TfrmProxy::btnClearSettingsClick));
}

void TfrmProxy::guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        services_.prompts->error(e.what());
    }
}

ProxyValues TfrmProxy::values() const
{
    return {cbUseProxy->isChecked(), fromLatin1(leProxyServer->text()), fromLatin1(leProxyPort->text()),
        cbUseAuthentication->isChecked(), fromLatin1(leProxyUserID->text()), fromLatin1(leProxyPassword->text()),
        cbRetainAuth->isChecked()};
}

std::string TfrmProxy::statusText() const
{
    return fromLatin1(statusLabel_->text());
}

bool TfrmProxy::credentialsMissing() const
{
    return cbUseAuthentication->isChecked() && (leProxyUserID->text().isEmpty() || leProxyPassword->text().isEmpty());
}

bool TfrmProxy::showModal()
{
    return exec() != kResultNo;
}

void TfrmProxy::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormActivate();
}

void TfrmProxy::FormCreate()
{
    SettingsFile settings(services_.settingsPath);
    settings.deleteObsoleteProxyKeys();
    const ProxyValues stored = ReadProxySettings(settings);

    cbUseProxy->setChecked(stored.useProxy);
    cbUseProxyClick();
    // Loaded also when no proxy is used: they then stand in disabled fields.
    leProxyServer->setText(latin1(stored.server));
    leProxyPort->setText(latin1(stored.port));
    if (cbUseAuthentication->isChecked() != stored.useAuthentication) {
        cbUseAuthentication->setChecked(stored.useAuthentication);
        cbUseAuthenticationClick();
    }
    leProxyUserID->setText(latin1(stored.userId));
    leProxyPassword->setText(latin1(stored.password));
    if (cbRetainAuth->isChecked() != stored.retainAuthentication) {
        cbRetainAuth->setChecked(stored.retainAuthentication);
        leProxyServerChange();
    }
    LogProxyState(*services_.reporter, "Initial proxy inputs", values());

    // A saved proxy holds from the start, so that scheduled and "-update" runs use it
    // before anybody opens the form.
    if (stored.useProxy)
        ApplyProxy(*services_.http, values());
}

void TfrmProxy::FormActivate()
{
    ProxySettingsChanged = false;
    statusLabel_->setText(QStringLiteral("Ready"));
}

void TfrmProxy::applyEnabling()
{
    const bool proxy = cbUseProxy->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{btnAutoCheck, leProxyServer, leProxyPort, cbUseAuthentication})
        w->setEnabled(proxy);
    const bool credentials = proxy && cbUseAuthentication->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{leProxyUserID, leProxyPassword, cbRetainAuth})
        w->setEnabled(credentials);
    // A field's caption is greyed with it.
    for (QLabel* caption : findChildren<QLabel*>())
        if (caption->buddy())
            caption->setEnabled(caption->buddy()->isEnabled());
}

void TfrmProxy::cbUseProxyClick()
{
    ProxySettingsChanged = true;
    if (!cbUseProxy->isChecked())
        btnClearSettingsClick();
    applyEnabling();
}

void TfrmProxy::cbUseAuthenticationClick()
{
    ProxySettingsChanged = true;
    applyEnabling();
}

void TfrmProxy::leProxyServerChange()
{
    ProxySettingsChanged = true;
}

void TfrmProxy::leProxyPortChange()
{
    ProxySettingsChanged = true;
    if (leProxyPort->text().isEmpty())
        leProxyPort->setText(QStringLiteral("0"));
}

void TfrmProxy::btnClearSettingsClick()
{
    ProxySettingsChanged = true;
    cbUseProxy->setChecked(false);
    leProxyServer->clear();
    leProxyPort->setText(QStringLiteral("0"));
    cbUseAuthentication->setChecked(false);
    leProxyUserID->clear();
    leProxyPassword->clear();
    cbRetainAuth->setChecked(false);
    applyEnabling();
}

void TfrmProxy::btnAutoCheckClick()
{
    const SystemProxy found = SystemProxyFromEnvironment(*services_.environment);
    if (!found.status.empty()) {
        statusLabel_->setText(latin1(found.status));
        return;
    }
    // "Use Proxy" stays as it is; the fields' change handlers mark the change.
    if (found.entry) {
        leProxyServer->setText(latin1(found.entry->server));
        leProxyPort->setText(latin1(found.entry->port));
    }
    if (found.userId)
        leProxyUserID->setText(latin1(*found.userId));
    if (found.password)
        leProxyPassword->setText(latin1(*found.password));
}

void TfrmProxy::btnSaveClick()
{
    SettingsFile settings(services_.settingsPath);
    WriteProxySettings(settings, values());
    ProxySettingsChanged = false;
}

void TfrmProxy::btnCloseClick()
{
    if (ProxySettingsChanged
        && services_.prompts->confirm("Proxy settings have been changed.\nDo you want to save them?"))
        btnSaveClick();
    ProxySettingsChanged = false;
    LogProxyState(*services_.reporter, "Updated proxy inputs", values());
    ApplyProxy(*services_.http, values());
    if (!credentialsMissing()
        || services_.prompts->warningYesNo("Proxy username and password required but not set. Continue?"))
        done(QDialog::Accepted);
    else
        done(kResultNo);
}

} // namespace qm
