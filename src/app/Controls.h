#pragma once
// The few composite controls of the main window: radio group, check list, spin box.
#include <QGroupBox>
#include <QListWidget>
#include <QSpinBox>
#include <functional>

class QButtonGroup;
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
    std::vector<QRadioButton*> buttons_;
    QButtonGroup* group_;
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

} // namespace qm
