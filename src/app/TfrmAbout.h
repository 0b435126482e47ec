#pragma once
// The about box: what the program is for, its version, the feedback link and the
// system it runs on. Created once at start-up; its texts never change afterwards.
#include "app/Controls.h"
#include "app/DesignScale.h"
#include "platform/ShellLauncher.h"

#include <QDialog>
#include <string>

class QPushButton;

namespace qm {

class TfrmAbout : public QDialog {
public:
    static constexpr int kDesignWidth = 426;
    static constexpr int kDesignHeight = 259;

    // `parent` is the main window, over which the box is centred.
    TfrmAbout(
        ShellLauncher& launcher, std::string operatingSystemText, std::string processorText, QWidget* parent = nullptr);

    // Sets the texts, once.
    void FormCreate();
    void btnOKClick();
    // Shows the box modally.
    void showModal();

    QLabel* Image;
    QLabel* lblAbout;
    QLabel* lblVersion;
    LinkLabel* OvcURL;
    QLabel* lblWindows;
    QLabel* lblHardware;
    QPushButton* btnOK;

private:
    // Places the labels whose size follows their text, and sizes the box to hold them.
    void placeTexts();
    // A design place below the about text, moved down by what the text needs beyond
    // its design height.
    QRect below(int left, int top, int width, int height) const;

    const DesignScale scale_;
    int textOverflow_ = 0;
    ShellLauncher& launcher_;
    const std::string operatingSystemText_;
    const std::string processorText_;
};

} // namespace qm
