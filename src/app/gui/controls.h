#pragma once
// The two kinds of control the window is built from that Qt has no exact match for: a grid
// of free-text cells with fixed title cells, and a captioned group of radio buttons with an
// item index.
#include <QButtonGroup>
#include <QGroupBox>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <vector>

#include "color/grids.h"

namespace plotmint {

class StringGrid : public QTableWidget {
    Q_OBJECT
public:
    // fixed_rows / fixed_cols: leading rows and columns that show titles and cannot be edited.
    StringGrid(int cols, int rows, int fixed_rows, int fixed_cols, QWidget* parent = nullptr);

    QString cell(int row, int col) const;
    void set_cell(int row, int col, const QString& text);
    std::string cell_utf8(int row, int col) const;

    // The first four columns as the grid operations of the colour tables see them.
    GridCells cells4() const;
    void set_cells4(const GridCells& cells);

    void set_default_col_width(int width);
    void set_default_row_height(int height);

signals:
    // Enter typed in the grid, also while a cell is being edited (the edit is committed first).
    void enter_pressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class GridCellDelegate;
    int fixed_rows_, fixed_cols_;
};

// Commits a cell edit at once on Enter, so the grid's text is current when the grid reports
// the key; the view's own handling would commit only on the next turn of the event loop.
class GridCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit GridCellDelegate(StringGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

protected:
    bool eventFilter(QObject* editor, QEvent* event) override;

private:
    StringGrid* grid_;
};

class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);
    // -1 when no item is selected.
    int item_index() const;
    void set_item_index(int index);
    QAbstractButton* item(int index) const;
    int count() const { return static_cast<int>(buttons_.size()); }
    // Shrinks the caption's font until the caption fits inside the frame; the items keep the
    // font they had.
    void fit_caption();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void place_items();
    QButtonGroup group_;
    std::vector<QAbstractButton*> buttons_;
};

}  // namespace plotmint
