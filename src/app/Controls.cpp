#include "app/Controls.h"

#include "core/Version.h"
#include "desktop/Links.h"

#include <QAccessibleWidget>
#include <QActionGroup>
#include <QButtonGroup>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <algorithm>
#include <numeric>

namespace qm {

namespace {

// The feedback link as a screen reader should know it: a link named by its caption,
// marked once followed, with an action that follows it.
class AccessibleLink : public QAccessibleWidget {
public:
    explicit AccessibleLink(LinkLabel* link)
        : QAccessibleWidget(link, QAccessible::Link)
    {
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && link()->accessibleName().isEmpty())
            return link()->caption();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.traversed = link()->visited();
        return s;
    }
    QStringList actionNames() const override { return QStringList(pressAction()) << QAccessibleWidget::actionNames(); }
    void doAction(const QString& action) override
    {
        if (action == pressAction())
            link()->follow();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    LinkLabel* link() const { return static_cast<LinkLabel*>(widget()); }
};

QAccessibleInterface* accessibleLink(const QString& className, QObject* object)
{
    return className == QLatin1String(LinkLabel::staticMetaObject.className())
        ? new AccessibleLink(static_cast<LinkLabel*>(object))
        : nullptr;
}

} // namespace

// Gives every item the width of its column and one fixed row height.
class ColumnDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    int naturalWidth(const QStyleOptionViewItem& option, const QModelIndex& index) const
    {
        return QStyledItemDelegate::sizeHint(option, index).width();
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const std::size_t column = rows_ > 0 ? static_cast<std::size_t>(index.row() / rows_) : 0;
        if (column >= widths_.size())
            return {naturalWidth(option, index), rowHeight_};
        return {widths_[column], rowHeight_};
    }
    void setColumns(std::vector<int> widths, int rows, int rowHeight)
    {
        widths_ = std::move(widths);
        rows_ = rows;
        rowHeight_ = rowHeight;
    }

private:
    std::vector<int> widths_;
    int rows_ = 0;
    int rowHeight_ = 0;
};

MenuChoice::MenuChoice(QMenu* parentMenu, const QString& title, const QStringList& items)
    : QObject(parentMenu)
    , menu_(parentMenu->addMenu(title))
    , group_(new QActionGroup(this))
{
    group_->setExclusive(true);
    for (const QString& caption : items) {
        QAction* action = menu_->addAction(caption);
        action->setCheckable(true);
        group_->addAction(action);
        items_.push_back(action);
        connect(action, &QAction::triggered, this, [this] {
            if (onClick)
                onClick();
        });
    }
    setItemIndex(0);
}

int MenuChoice::itemIndex() const
{
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i]->isChecked())
            return static_cast<int>(i);
    return 0;
}

void MenuChoice::setItemIndex(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= items_.size())
        index = 0;
    items_[static_cast<std::size_t>(index)]->setChecked(true);
}

RadioGroup::RadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(title, parent)
    , group_(new QButtonGroup(this))
{
    // Unnamed, a group inside another group would be read out by the outer one's title.
    setAccessibleName(title);
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
    connect(group_, &QButtonGroup::buttonToggled, this, [this] { keepTabStopOnSelection(); });
}

void RadioGroup::keepTabStopOnSelection()
{
    // Qt leaves one Tab stop in an exclusive group only once a button has had the focus,
    // and then it is that button: until then Tab stops at the first one, and Space there
    // switches the setting. The stop follows the selection instead, also one the program
    // makes; with none, every button is a stop.
    const QAbstractButton* selected = group_->checkedButton();
    for (QRadioButton* b : buttons_) {
        const bool stop = selected == nullptr || b == selected;
        const int policy = stop ? b->focusPolicy() | Qt::TabFocus : b->focusPolicy() & ~Qt::TabFocus;
        b->setFocusPolicy(static_cast<Qt::FocusPolicy>(policy));
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

QSize RadioGroup::minimumSizeHint() const
{
    QSize hint = QGroupBox::minimumSizeHint();
    const int items = layout() ? layout()->totalMinimumSize().width() : 0;
    hint.setWidth(std::max(fontMetrics().horizontalAdvance(title()) + 4, items));
    return hint;
}

CheckListBox::CheckListBox(const QStringList& items, int columns, QWidget* parent)
    : QListWidget(parent)
    , columns_(std::max(1, columns))
    , delegate_(new ColumnDelegate(this))
{
    setItemDelegate(delegate_);
    setFlow(QListView::TopToBottom);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
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
    updateColumns();
}

bool CheckListBox::isHeader(int index) const
{
    return !(item(index)->flags() & Qt::ItemIsUserCheckable);
}

int CheckListBox::rowHeight() const
{
    return fontMetrics().height() + 1;
}

int CheckListBox::rowsHeight(int rows) const
{
    return rows * rowHeight() + 2 * frameWidth() + 2;
}

void CheckListBox::resizeEvent(QResizeEvent* event)
{
    updateColumns();
    QListWidget::resizeEvent(event);
}

void CheckListBox::changeEvent(QEvent* event)
{
    QListWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        updateColumns();
}

void CheckListBox::focusInEvent(QFocusEvent* event)
{
    if (event->reason() != Qt::MouseFocusReason && (currentRow() < 0 || isHeader(currentRow())))
        for (int i = 0; i < count(); ++i)
            if (!isHeader(i)) {
                setCurrentRow(i, QItemSelectionModel::NoUpdate);
                break;
            }
    QListWidget::focusInEvent(event);
}

void CheckListBox::updateColumns()
{
    const int rows = std::max(1, (count() + columns_ - 1) / columns_);
    std::vector<int> widths(static_cast<std::size_t>(columns_), 0);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    for (int i = 0; i < count(); ++i) {
        int& width = widths[static_cast<std::size_t>(i / rows)];
        width = std::max(width, delegate_->naturalWidth(option, indexFromItem(item(i))));
    }
    // Share out the room left (or the shortfall), keeping one pixel clear of the edge
    // so the last column never wraps.
    const int spare = viewport()->width() - 1 - std::accumulate(widths.begin(), widths.end(), 0);
    for (int c = 0; c < columns_; ++c)
        widths[static_cast<std::size_t>(c)] += spare / columns_ + (c < spare % columns_ ? 1 : 0);
    delegate_->setColumns(std::move(widths), rows, rowHeight());
    scheduleDelayedItemsLayout();
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

ElidedLabel::ElidedLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

void ElidedLabel::setFullText(const QString& text)
{
    full_ = text;
    // A screen reader reads the whole text, however much of it the line shows.
    setAccessibleName(text);
    elide();
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {0, QLabel::minimumSizeHint().height()};
}

QSize ElidedLabel::sizeHint() const
{
    return {0, QLabel::sizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        elide();
}

void ElidedLabel::elide()
{
    const int room = contentsRect().width() - 2 * margin() - 2 * indent();
    const QString shown = fontMetrics().elidedText(full_, Qt::ElideRight, std::max(0, room));
    QLabel::setText(shown);
    setToolTip(shown == full_ ? QString() : full_);
}

LinkLabel::LinkLabel(QWidget* parent)
    : QLabel(parent)
{
    static const bool accessible = (QAccessible::installFactory(accessibleLink), true);
    (void)accessible;
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(this, &QLabel::linkActivated, this, [this] { follow(); });
}

void LinkLabel::follow()
{
    visited_ = true;
    render();
    if (onOpen)
        onOpen(target_.toStdString());
}

void LinkLabel::focusInEvent(QFocusEvent* event)
{
    QLabel::focusInEvent(event);
    // A label takes the focus before its link does: without this, one Tab would stop on
    // the label with nothing to show.
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        focusNextPrevChild(event->reason() == Qt::TabFocusReason);
}

void LinkLabel::setLink(const QString& target, const QString& caption)
{
    target_ = target;
    caption_ = caption;
    render();
}

void LinkLabel::render()
{
    const QString colour = visited_ ? QStringLiteral("#800080") : QStringLiteral("#0000ff");
    setText(QStringLiteral("<a href=\"%1\" style=\"color:%2\">%3</a>")
                .arg(target_.toHtmlEscaped(), colour, caption_.toHtmlEscaped()));
}

QString feedbackMailTarget()
{
    return QString::fromLatin1(feedbackMailAddress());
}

} // namespace qm
