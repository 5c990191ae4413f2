#include "app/gui/controls.h"

#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QFontMetrics>
#include <QRadioButton>
#include <QResizeEvent>

namespace plotmint {

StringGrid::StringGrid(int cols, int rows, int fixed_rows, int fixed_cols, QWidget* parent)
    : QTableWidget(rows, cols, parent), fixed_rows_(fixed_rows), fixed_cols_(fixed_cols) {
    // Row 0 is an ordinary row of cells that holds the titles, so every cell keeps the
    // row and column numbers the tables use; Qt's own headers are not used.
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setMinimumSectionSize(1);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setShowGrid(true);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                    QAbstractItemView::EditKeyPressed);
    setTabKeyNavigation(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);  // a narrow cell shows what fits, as a grid cell does
    setCornerButtonEnabled(false);
    setItemDelegate(new GridCellDelegate(this));

    const QColor fixed_colour = palette().color(QPalette::Button);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            auto* it = new QTableWidgetItem();
            if (r < fixed_rows || c < fixed_cols) {
                it->setFlags(Qt::ItemIsEnabled);
                it->setBackground(fixed_colour);
            } else {
                it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
            }
            setItem(r, c, it);
        }
    }
    if (rows > fixed_rows && cols > fixed_cols) setCurrentCell(fixed_rows, fixed_cols);
    clearSelection();  // nothing stands out until the user picks a cell
}

QString StringGrid::cell(int row, int col) const {
    const QTableWidgetItem* it = item(row, col);
    return it ? it->text() : QString();
}

void StringGrid::set_cell(int row, int col, const QString& text) {
    QTableWidgetItem* it = item(row, col);
    if (it) it->setText(text);
}

std::string StringGrid::cell_utf8(int row, int col) const { return cell(row, col).toStdString(); }

GridCells StringGrid::cells4() const {
    GridCells cells(static_cast<size_t>(rowCount()));
    const int cols = std::min(columnCount(), 4);
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < cols; ++c) cells[static_cast<size_t>(r)][static_cast<size_t>(c)] = cell_utf8(r, c);
    return cells;
}

void StringGrid::set_cells4(const GridCells& cells) {
    const int rows = std::min(rowCount(), static_cast<int>(cells.size()));
    const int cols = std::min(columnCount(), 4);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            set_cell(r, c, QString::fromStdString(cells[static_cast<size_t>(r)][static_cast<size_t>(c)]));
}

void StringGrid::set_default_col_width(int width) {
    horizontalHeader()->setDefaultSectionSize(width);
    for (int c = 0; c < columnCount(); ++c) setColumnWidth(c, width);
}

void StringGrid::set_default_row_height(int height) {
    verticalHeader()->setDefaultSectionSize(height);
    for (int r = 0; r < rowCount(); ++r) setRowHeight(r, height);
}

void StringGrid::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && state() != EditingState) {
        emit enter_pressed();
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

bool GridCellDelegate::eventFilter(QObject* object, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (auto* editor = qobject_cast<QWidget*>(object)) {
                emit commitData(editor);
                emit closeEditor(editor, QAbstractItemDelegate::NoHint);
            }
            emit grid_->enter_pressed();
            return true;
        }
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent) {
    group_.setExclusive(true);
    int id = 0;
    for (const QString& text : items) {
        auto* b = new QRadioButton(text, this);
        group_.addButton(b, id++);
        buttons_.push_back(b);
    }
    place_items();
}

int RadioGroup::item_index() const { return group_.checkedId(); }

void RadioGroup::set_item_index(int index) {
    if (index >= 0 && index < count()) {
        buttons_[static_cast<size_t>(index)]->setChecked(true);
    } else if (QAbstractButton* b = group_.checkedButton()) {
        group_.setExclusive(false);
        b->setChecked(false);
        group_.setExclusive(true);
    }
}

QAbstractButton* RadioGroup::item(int index) const {
    return index >= 0 && index < count() ? buttons_[static_cast<size_t>(index)] : nullptr;
}

void RadioGroup::fit_caption() {
    const QFont items_font = font();
    QFont caption_font = items_font;
    // The caption starts a few pixels in and needs as much again before the frame's end.
    const int room = width() - 16;
    int size = caption_font.pixelSize();
    while (size > 9 && QFontMetrics(caption_font).horizontalAdvance(title()) > room)
        caption_font.setPixelSize(--size);
    if (caption_font == items_font) return;
    for (QAbstractButton* b : buttons_) b->setFont(items_font);
    setFont(caption_font);
    place_items();
}

void RadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    place_items();
}

// The items share the space under the caption equally, one above the other.
void RadioGroup::place_items() {
    if (buttons_.empty()) return;
    const int caption = fontMetrics().height();
    const int top = caption + 2;
    const int space = std::max(1, height() - top - 4);
    const int step = space / count();
    for (int i = 0; i < count(); ++i) {
        QAbstractButton* b = buttons_[static_cast<size_t>(i)];
        const int h = std::min(step, b->sizeHint().height());
        b->setGeometry(8, top + i * step + (step - h) / 2, std::max(1, width() - 12), h);
    }
}

}  // namespace plotmint
