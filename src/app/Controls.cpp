#include "app/Controls.h"

#include <QButtonGroup>
#include <QEvent>
#include <QGridLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>

namespace qm {

RadioGroup::RadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(title, parent)
    , group_(new QButtonGroup(this))
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 0, 6, 0);
    grid->setVerticalSpacing(0);
    const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        group_->addButton(b, i);
        // Items run down each column, then on to the next.
        grid->addWidget(b, i % rows, i / rows);
        buttons_.push_back(b);
        connect(b, &QRadioButton::clicked, this, [this] {
            if (onClick)
                onClick();
        });
    }
}

int RadioGroup::itemIndex() const
{
    return group_->checkedId();
}

void RadioGroup::setItemIndex(int index)
{
    index = clampIndex(index);
    if (index < 0) {
        group_->setExclusive(false);
        for (auto* b : buttons_)
            b->setChecked(false);
        group_->setExclusive(true);
    } else {
        buttons_[static_cast<std::size_t>(index)]->setChecked(true);
    }
}

int RadioGroup::clampIndex(int index) const
{
    return std::clamp(index, -1, count() - 1);
}

CheckListBox::CheckListBox(const QStringList& items, int columns, QWidget* parent)
    : QListWidget(parent)
    , columns_(columns)
{
    setFlow(QListView::TopToBottom);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    for (const auto& text : items) {
        auto* item = new QListWidgetItem(text, this);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    connect(this, &QListWidget::itemClicked, this, [this] {
        if (onClick)
            onClick();
    });
    connect(this, &QListWidget::itemChanged, this, [this] {
        if (!quiet_ && onClick)
            onClick();
    });
}

bool CheckListBox::checked(int index) const
{
    return item(index)->checkState() == Qt::Checked;
}

void CheckListBox::setChecked(int index, bool on)
{
    quiet_ = true;
    item(index)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    quiet_ = false;
}

void CheckListBox::markHeader(int index)
{
    quiet_ = true;
    QListWidgetItem* it = item(index);
    it->setData(Qt::CheckStateRole, QVariant());
    it->setFlags(Qt::ItemIsEnabled);
    it->setBackground(QColor(Qt::lightGray));
    it->setForeground(QColor(Qt::black));
    quiet_ = false;
}

bool CheckListBox::isHeader(int index) const
{
    return !(item(index)->flags() & Qt::ItemIsUserCheckable);
}

int CheckListBox::rowsHeight(int rows) const
{
    return rows * (fontMetrics().height() + 1) + 2 * frameWidth() + 2;
}

void CheckListBox::resizeEvent(QResizeEvent* event)
{
    QListWidget::resizeEvent(event);
    updateGrid();
}

void CheckListBox::updateGrid()
{
    const int rowHeight = fontMetrics().height() + 1;
    setGridSize(QSize(std::max(40, viewport()->width() / columns_ - 1), rowHeight));
}

DelaySpinBox::DelaySpinBox(QWidget* parent)
    : QSpinBox(parent)
{
    lineEdit()->setReadOnly(true);
    // A click on the number counts as a click on the box.
    lineEdit()->installEventFilter(this);
}

bool DelaySpinBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lineEdit() && event->type() == QEvent::MouseButtonPress && onClick)
        onClick();
    return QSpinBox::eventFilter(watched, event);
}

void DelaySpinBox::mousePressEvent(QMouseEvent* event)
{
    QSpinBox::mousePressEvent(event);
    if (onClick)
        onClick();
}

} // namespace qm
