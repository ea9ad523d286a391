#include "StuGrid.h"

#include "ClientDataSet.h"
#include "CodePage.h"
#include "QtGbk.h"

#include <QHeaderView>
#include <QPainter>
#include <QTableView>
#include <array>

namespace {

struct TColumn {
    const char* Field; // nullptr: the row number
    const char8_t* Title;
    int Width;
    Qt::Alignment Alignment;
};

const std::array<TColumn, 6> Columns{{
    {nullptr, u8"", 30, Qt::AlignCenter},
    {"Name", u8"学员姓名", 85, Qt::AlignLeft | Qt::AlignVCenter},
    {"Account", u8"手机号码", 110, Qt::AlignLeft | Qt::AlignVCenter},
    {"verifycode", u8"登录密码", 120, Qt::AlignCenter},
    {"RegDate", u8"登记日期", 120, Qt::AlignLeft | Qt::AlignVCenter},
    {"DueDate", u8"有效截止日期", 120, Qt::AlignLeft | Qt::AlignVCenter},
}};

constexpr int FieldColumns = static_cast<int>(Columns.size()) - 1;

} // namespace

TStuListModel::TStuListModel(const TClientDataSet& dataSet, QObject* parent)
    : QAbstractTableModel(parent), FDataSet(dataSet) {}

void TStuListModel::Reload() {
    beginResetModel();
    FCells.clear();
    FRows = FDataSet.Active() ? FDataSet.RecordCount() : 0;
    FCells.reserve(FRows * FieldColumns);
    std::array<int, FieldColumns> fields{};
    for (int c = 0; c < FieldColumns; ++c)
        fields[static_cast<std::size_t>(c)] =
            FRows > 0 ? FDataSet.FieldIndex(Columns[static_cast<std::size_t>(c) + 1].Field) : -1;
    for (int row = 0; row < FRows; ++row)
        for (const int field : fields)
            FCells.push_back(field < 0 ? QString() : ToQ(FDataSet.CellText(row, field)));
    endResetModel();
}

int TStuListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FRows;
}

int TStuListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Columns.size());
}

QVariant TStuListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= FRows)
        return {};
    const auto& column = Columns[static_cast<std::size_t>(index.column())];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(column.Alignment);
    if (role != Qt::DisplayRole || index.column() == 0)
        return {};
    return FCells[index.row() * FieldColumns + index.column() - 1];
}

QVariant TStuListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(Columns[static_cast<std::size_t>(section)].Title);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    return {};
}

void TStuGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const int recNo = index.row() + 1;
    const auto* grid = qobject_cast<const QAbstractItemView*>(option.widget);
    const bool rowSelected = grid != nullptr && grid->selectionModel() != nullptr &&
                             grid->selectionModel()->isRowSelected(index.row(), QModelIndex());
    QColor background;
    if (index.column() == 0)
        background = QColor(206, 221, 240);
    else if ((option.state & QStyle::State_Selected) || rowSelected)
        background = QColor(255, 240, 193);
    else
        background = recNo % 2 == 1 ? QColor(255, 255, 255) : QColor(247, 250, 253);
    painter->fillRect(option.rect, background);

    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    cell.font.setPointSize(9);
    cell.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    cell.backgroundBrush = Qt::NoBrush;
    cell.palette.setColor(QPalette::Text, Qt::black);
    QStyledItemDelegate::paint(painter, cell, index);

    if (index.column() == 0 && index.model()->rowCount() > 0) {
        const QString number = QString::number(recNo);
        // The column's width, grid line included, as the formula counts it.
        const auto* table = qobject_cast<const QTableView*>(option.widget);
        const int width =
            table != nullptr ? table->columnWidth(index.column()) : option.rect.width();
        const int x = option.rect.left() + (width - 6 * static_cast<int>(number.size())) / 2;
        const int y = option.rect.top() + 2;
        QFont font = cell.font;
        painter->save();
        painter->setFont(font);
        painter->setPen(Qt::black);
        painter->drawText(QRect(x, y, width, option.rect.height() - 2),
                          Qt::AlignLeft | Qt::AlignTop, number);
        painter->restore();
    }
}

void SetUpStudentGrid(QTableView* grid, TStuListModel* model, TStuGridDelegate* delegate) {
    grid->setModel(model);
    grid->setItemDelegate(delegate);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Cells hold one line, clipped at the column's edge, not shortened with
    // an ellipsis.
    grid->setWordWrap(false);
    grid->setTextElideMode(Qt::ElideNone);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setDefaultSectionSize(20);
    grid->horizontalHeader()->setMinimumSectionSize(20); // column 0 is 30 wide
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    for (std::size_t c = 0; c < Columns.size(); ++c)
        grid->setColumnWidth(static_cast<int>(c), Columns[c].Width);
}
