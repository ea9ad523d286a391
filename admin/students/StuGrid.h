// The student grid: a table model over the page's data set (DataSource1)
// and the delegate that paints its cells.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QVector>

class TClientDataSet;
class QTableView;

class TStuListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit TStuListModel(const TClientDataSet& dataSet, QObject* parent = nullptr);

    // Reads the data set anew: call after it was loaded or closed.
    void Reload();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const TClientDataSet& FDataSet;
    QVector<QString> FCells; // row by row, the five field columns
    int FRows = 0;
};

// Column 0 holds the row number; the others the fields by title.
class TStuGridDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

// Sets the grid's columns: widths, titles, read-only whole-row selection.
void SetUpStudentGrid(QTableView* grid, TStuListModel* model, TStuGridDelegate* delegate);
