#pragma once
// The few composite controls of the main window and its dialogs: radio group, check
// list, spin box, status text and link.
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <functional>
#include <string>

class QActionGroup;
class QButtonGroup;
class QMenu;
class QRadioButton;

namespace qm {

// A titled group of radio buttons with an item index (-1: nothing selected).
class RadioGroup : public QGroupBox {
public:
    RadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent = nullptr);
    int itemIndex() const;
    // Sets the selection without running any handler.
    void setItemIndex(int index);
    int count() const { return static_cast<int>(buttons_.size()); }
    // A stored index above the last item selects the last; one below -1 counts as -1.
    int clampIndex(int index) const;
    QRadioButton* button(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }
    // Wide enough for the whole title, which the style's own hint pads well beyond the text.
    QSize minimumSizeHint() const override;
    // Every click on an item, whether or not it changes the selection.
    std::function<void()> onClick;

private:
    // Tab into the group lands on its selected button, where the arrows move the selection.
    void keepTabStopOnSelection();
    std::vector<QRadioButton*> buttons_;
    QButtonGroup* group_;
};

// A submenu of exclusive, checkable items with an item index, like a radio group in a
// menu: one item is always selected.
class MenuChoice : public QObject {
public:
    MenuChoice(QMenu* parentMenu, const QString& title, const QStringList& items);
    int itemIndex() const;
    // Selects an item (an index out of range selects the first) without running any handler.
    void setItemIndex(int index);
    QMenu* menu() const { return menu_; }
    QAction* item(int index) const { return items_.at(static_cast<std::size_t>(index)); }
    // Every click on an item, whether or not it changes the selection.
    std::function<void()> onClick;

private:
    QMenu* menu_;
    QActionGroup* group_;
    std::vector<QAction*> items_;
};

class ColumnDelegate;

// A check list laid out in columns, filled down each column. Each column is as wide as
// its longest caption needs, and any room left is shared out, so no caption is cut
// while another column has room to spare. Header items are drawn black on silver
// across their column and have no box.
class CheckListBox : public QListWidget {
public:
    CheckListBox(const QStringList& items, int columns, QWidget* parent = nullptr);
    bool checked(int index) const;
    // Sets a check state without running any handler.
    void setChecked(int index, bool on);
    void markHeader(int index);
    bool isHeader(int index) const;
    // The height that shows `rows` rows in full.
    int rowsHeight(int rows) const;
    // A click on an item (also one that does not toggle it) and a toggle by keyboard.
    std::function<void()> onClick;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Focus that comes by keyboard, or from a control that was disabled, rests on an
    // item that can be ticked, never on a header.
    void focusInEvent(QFocusEvent* event) override;

private:
    int rowHeight() const;
    void updateColumns();
    int columns_;
    ColumnDelegate* delegate_;
    bool quiet_ = false;
};

// The "Initial delay" box: changed by its arrows only, no typing.
class DelaySpinBox : public QSpinBox {
public:
    explicit DelaySpinBox(QWidget* parent = nullptr);
    std::function<void()> onClick;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// A one-line text that never widens its parent: when it does not fit it is cut with
// "…" and the whole text becomes its tool tip.
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();
    QString full_;
};

// A blue underlined link that turns purple once it has been clicked. `onOpen` gets
// the target; the link itself opens nothing. Screen readers see a link named by its
// caption, which their action follows.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit LinkLabel(QWidget* parent = nullptr);
    void setLink(const QString& target, const QString& caption);
    const QString& caption() const { return caption_; }
    bool visited() const { return visited_; }
    // What a click on the link does.
    void follow();
    std::function<void(const std::string& target)> onOpen;

protected:
    // Tab lands on the link itself, where the focus shows and Enter opens it.
    void focusInEvent(QFocusEvent* event) override;

private:
    void render();
    QString target_;
    QString caption_;
    bool visited_ = false;
};

// The feedback mail link of the main window and the about box:
// "mailto:" + address + "?subject=" + the subject, escaped for a URL.
QString feedbackMailTarget();
// The author credit the feedback links show.
inline constexpr const char* kFeedbackCredit = "Feedback to the author";

} // namespace qm
