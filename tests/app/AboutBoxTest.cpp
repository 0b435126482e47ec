// The about box: its texts, its places, and the one box shown again and again.
#include "app/TfrmAbout.h"

#include "WindowServices.h"

#include <QAction>
#include <QPushButton>
#include <QTimer>

using namespace qm;

namespace {

class AboutBoxTest : public test::WindowTest {
protected:
    const std::string longSystem = "Debian GNU/Linux 12 (bookworm), , Version 6.1.0-18-amd64, Build #1 SMP "
                                   "PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)";
    const std::string processor = "Intel(R) Core(TM) i7-8550U CPU @ 1.80GHz, x86_64 Family 6 Model 142 "
                                  "Stepping 10, GenuineIntel";
};

TEST_F(AboutBoxTest, TextsAndPlaces)
{
    auto window = start();
    TfrmAbout about(launcher, longSystem, processor, window.get());
    about.FormCreate();
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Skarvelin Quillmaren"));
    EXPECT_TRUE(about.lblAbout->text().contains(QStringLiteral("to easily  download Skarvelin")));
    EXPECT_TRUE(about.lblAbout->text().endsWith(QStringLiteral("in the My TLEs folder.")));
    EXPECT_EQ(about.lblVersion->text(), QStringLiteral("Version 1.5.8 (2007 Oct 15)"));
    // The service level Linux lacks is left out, and the text wraps onto the lines it needs.
    EXPECT_EQ(about.lblWindows->text().toStdString(),
        "Debian GNU/Linux 12 (bookworm), Version 6.1.0-18-amd64, Build #1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 "
        "(2024-02-01)");
    EXPECT_EQ(about.lblHardware->text().toStdString(), processor);
    EXPECT_EQ(about.OvcURL->text(), window->lblFeedback->text()) << "one feedback link for both";
    EXPECT_TRUE(about.OvcURL->text().contains(
        QStringLiteral("mailto:feedback@vantoreal.example?subject=Quillmaren%20v1.5.8%20User%20Feedback")));

    // The design's places; what the about text needs beyond its 91 pixels moves
    // everything under it down by the same.
    const int overflow = about.lblAbout->height() - 91;
    EXPECT_GE(overflow, 0);
    EXPECT_GE(about.lblAbout->height(), about.lblAbout->heightForWidth(305)) << "the whole text shows";
    EXPECT_EQ(about.width(), 426);
    EXPECT_GE(about.height(), 259 + overflow);
    EXPECT_EQ(about.Image->geometry(), QRect(16, 16, 65, 65));
    EXPECT_EQ(about.lblAbout->geometry().topLeft(), QPoint(96, 16));
    EXPECT_EQ(about.lblAbout->width(), 305);
    EXPECT_EQ(about.btnOK->geometry(), QRect(328, 128 + overflow, 75, 25));
    EXPECT_EQ(about.lblVersion->pos(), QPoint(96, 120 + overflow));
    EXPECT_EQ(about.OvcURL->pos(), QPoint(96, 144 + overflow));
    EXPECT_EQ(about.lblWindows->geometry().topLeft(), QPoint(96, 168 + overflow));
    EXPECT_EQ(about.lblWindows->width(), 305);
    // Both descriptions wrap, whole and inside the box, the second below the first.
    for (const QLabel* description : {about.lblWindows, about.lblHardware}) {
        EXPECT_GE(description->height(), description->heightForWidth(305));
        EXPECT_LE(description->geometry().bottom(), about.height());
    }
    EXPECT_GT(about.lblWindows->height(), about.lblWindows->fontMetrics().height()) << "longer than one line";
    EXPECT_EQ(about.lblHardware->geometry().topLeft(), QPoint(96, about.lblWindows->geometry().bottom() + 1));
    EXPECT_EQ(about.lblHardware->width(), 305);
    EXPECT_LT(about.lblAbout->geometry().bottom(), about.lblVersion->y());
    EXPECT_LE(about.lblVersion->geometry().right(), about.btnOK->x());
}

TEST_F(AboutBoxTest, OneBoxShownFromTheMenuWithTheSameTextsEachTime)
{
    auto window = start();
    auto* about = new TfrmAbout(launcher, "Test OS", "Test CPU", window.get());
    about->FormCreate();
    window->setAboutBox([about] { about->showModal(); });
    int shown = 0;
    QStringList texts;
    QTimer ok;
    QObject::connect(&ok, &QTimer::timeout, about, [&] {
        if (!about->isVisible())
            return;
        ++shown;
        texts << about->lblVersion->text() + about->lblWindows->text() + about->lblHardware->text();
        about->btnOK->click();
    });
    ok.start(5);
    window->About->trigger();
    window->About->trigger();
    ASSERT_EQ(shown, 2);
    EXPECT_EQ(texts[0], texts[1]);
    EXPECT_EQ(texts[0], QStringLiteral("Version 1.5.8 (2007 Oct 15)Test OSTest CPU"));
    EXPECT_EQ(about->result(), QDialog::Accepted);

    // The link opens the mail program and shows itself visited.
    const QString target = feedbackMailTarget();
    Q_EMIT about->OvcURL->linkActivated(target);
    ASSERT_EQ(launcher.opened.size(), 1u);
    EXPECT_EQ(launcher.opened[0], target.toStdString());
    EXPECT_TRUE(about->OvcURL->visited());
    EXPECT_TRUE(about->OvcURL->text().contains(QStringLiteral("#800080")));
}

} // namespace
