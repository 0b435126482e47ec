#include "app/TfrmAbout.h"

#include "app/DesignScale.h"
#include "app/TfrmMain.h"
#include "core/SystemDescriptions.h"
#include "core/Version.h"
#include "platform/Latin1.h"

#include <QPushButton>
#include <algorithm>

namespace qm {

namespace {

// Two blanks after "easily", as the text has always read.
const char* const kAboutText
    = "The Skarvelin Quillmaren is provided as a service to Vantoreal users to allow them to easily  download "
      "Skarvelin data sets and convert them to standard Vantoreal data sets (the user must have an active "
      "Skarvelin account to use the program). Data conversion automatically unzips the files, quality checks "
      "the data, and builds the selected Vantoreal data sets in the My TLEs folder.";

} // namespace

TfrmAbout::TfrmAbout(
    ShellLauncher& launcher, std::string operatingSystemText, std::string processorText, QWidget* parent)
    : QDialog(parent)
    , scale_(font())
    , launcher_(launcher)
    , operatingSystemText_(std::move(operatingSystemText))
    , processorText_(std::move(processorText))
{
    setWindowTitle(QStringLiteral("About Skarvelin Quillmaren"));

    Image = new QLabel(this);
    Image->setPixmap(publisherLogo());
    Image->setAccessibleName(QStringLiteral("Vantoreal logo"));
    Image->setGeometry(scale_.x(16), scale_.y(16), 65, 65);

    // The design's height holds the text in a narrow font; where the lines need more,
    // everything under the text moves down and the box grows by the same.
    lblAbout = new QLabel(QString::fromLatin1(kAboutText), this);
    lblAbout->setWordWrap(true);
    lblAbout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const QRect about = scale_.rect(96, 16, 305, 91);
    textOverflow_ = std::max(0, lblAbout->heightForWidth(about.width()) - about.height());
    lblAbout->setGeometry(about.adjusted(0, 0, 0, textOverflow_));

    lblVersion = new QLabel(QStringLiteral("Version"), this);
    OvcURL = new LinkLabel(this);
    OvcURL->setToolTip(QStringLiteral("Send feedback to author"));
    OvcURL->onOpen = [this](const std::string& target) { launcher_.open(target); };
    lblWindows = new QLabel(this);
    lblHardware = new QLabel(this);
    for (QLabel* description : {lblWindows, lblHardware}) {
        description->setWordWrap(true);
        description->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setGeometry(below(328, 128, 75, 25));
    btnOK->setDefault(true);
    // The box opens with OK focused, as a message box does; otherwise the focus would
    // rest on the link's label with no link shown, and the first Tab would go nowhere.
    btnOK->setFocus();
    connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    placeTexts();
}

QRect TfrmAbout::below(int left, int top, int width, int height) const
{
    return scale_.rect(left, top, width, height).translated(0, textOverflow_);
}

void TfrmAbout::FormCreate()
{
    lblVersion->setText(latin1(versionLabel()));
    OvcURL->setLink(feedbackMailTarget(), QString::fromLatin1(kFeedbackCredit));
    lblWindows->setText(latin1(withoutEmptyItems(operatingSystemText_)));
    lblHardware->setText(latin1(withoutEmptyItems(processorText_)));
    placeTexts();
}

void TfrmAbout::placeTexts()
{
    const QRect version = below(96, 120, 0, 0);
    lblVersion->setGeometry(
        version.left(), version.top(), lblVersion->sizeHint().width(), lblVersion->sizeHint().height());
    const QRect link = below(96, 144, 0, 0);
    OvcURL->setGeometry(link.left(), link.top(), OvcURL->sizeHint().width(), OvcURL->sizeHint().height());
    // Both descriptions wrap onto the lines they need (a Linux one is longer than the
    // design's line); the processor's moves down by what the system's needs beyond its
    // line, and the box grows to show both whole.
    const QRect windows = below(96, 168, 305, 0);
    lblWindows->setGeometry(
        windows.left(), windows.top(), windows.width(), std::max(0, lblWindows->heightForWidth(windows.width())));
    const QRect hardware = below(96, 184, 305, 0);
    lblHardware->setGeometry(hardware.left(), std::max(hardware.top(), lblWindows->geometry().bottom() + 1),
        hardware.width(), std::max(0, lblHardware->heightForWidth(hardware.width())));
    const QSize design = scale_.size(kDesignWidth, kDesignHeight) + QSize(0, textOverflow_);
    setFixedSize(design.width(), std::max(design.height(), lblHardware->geometry().bottom() + 1 + scale_.y(16)));
}

void TfrmAbout::btnOKClick()
{
    accept();
}

void TfrmAbout::showModal()
{
    exec();
}

} // namespace qm
