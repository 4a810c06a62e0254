#include "TableViewBaseline.h"

#include "Platform/TDrawGrid.h"

#include <QAbstractTableModel>
#include <QCoreApplication>
#include <QHeaderView>
#include <QImage>
#include <QTableView>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>

namespace {

const char* const Symbols[] = {"AAPL", "MSFT", "IBM", "GOOGL", "AMZN", "NVDA", "TSLA", "META",
                               "NFLX", "INTC", "AMD", "ORCL", "CSCO", "QCOM", "AVGO", "ADBE"};
const char* const Captions[] = {"Symbol", "Last", "Time", "Change", "Volume"};

// A full list of the texts an alert window shows: symbols, prices, times, changes and
// volumes, made once, as a model that keeps its rows as text would. It counts the texts the
// view asks for, which is one per cell it paints.
class TAlertTextModel : public QAbstractTableModel {
public:
    TAlertTextModel(int rows, int cols) : Rows(rows), Cols(cols)
    {
        Texts.reserve(size_t(rows) * size_t(cols));
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c)
                Texts.push_back(Text(r, c));
    }
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : Rows; }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : Cols; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        ++TextsAsked;
        return Texts[size_t(index.row()) * size_t(Cols) + size_t(index.column())];
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
            return {};
        ++CaptionsAsked;
        return QString::fromLatin1(Captions[section % 5]);
    }

    mutable quint64 TextsAsked = 0;
    mutable quint64 CaptionsAsked = 0;

private:
    static QString Text(int r, int c)
    {
        switch (c % 5) {
        case 0: return QString::fromLatin1(Symbols[r % 16]);
        case 1: return QString::number(10 + r * 0.37, 'f', 2);
        case 2: return QStringLiteral("09:%1:%2").arg(31 + r / 60 % 29, 2, 10, QLatin1Char('0')).arg(r % 60, 2, 10, QLatin1Char('0'));
        case 3: return QString::number((r % 7 - 3) * 0.11, 'f', 2);
        default: return QLocale(QLocale::English).toString((r % 1000) * 12345);
        }
    }

    int Rows, Cols;
    std::vector<QString> Texts;
};

struct TRatio {
    QString Kind;
    double Grid = 0;
};
std::map<QString, double>& Baselines()
{
    static std::map<QString, double> b;
    return b;
}
std::vector<std::pair<QString, TRatio>>& Grids()
{
    static std::vector<std::pair<QString, TRatio>> g;
    return g;
}

} // namespace

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

TGridShape ShapeOf(TDrawGrid& grid, QWidget& rendered, QSize imageSize)
{
    QImage image(imageSize, QImage::Format_RGB32);
    grid.ResetDrawCellCount();
    rendered.render(&image);
    TGridShape shape;
    shape.Cells = grid.DrawCellCount();
    grid.ResetDrawCellCount();
    shape.RowHeight = grid.DefaultRowHeight();
    shape.HeaderHeight = grid.FixedRows() * grid.DefaultRowHeight();
    shape.ListRows = grid.RowCount() - grid.FixedRows();
    shape.ScrollBar = grid.ScrollBars() != TDrawGrid::ssNone;
    const int area = grid.viewport()->width();
    for (int c = 0, x = 0; c < grid.ColCount() && x < area; ++c) {
        const int w = grid.ColWidths(c);
        if (w > 0)
            shape.Widths.push_back(w);
        x += w;
    }
    if (!shape.Widths.empty())
        shape.DataRows = int(shape.Cells / shape.Widths.size()) - grid.FixedRows();
    return shape;
}

void RunTableView(benchmark::State& state, const QString& kind, const TGridShape& shape, QSize size)
{
    const int cols = int(shape.Widths.size());
    TAlertTextModel model(std::min(shape.ListRows, 1000), cols);
    QWidget owner;
    owner.resize(size);
    QTableView view(&owner);
    // Laid out as the grid is: no frame, no horizontal scrolling (columns that do not fit are
    // cut at the right edge), a vertical scroll bar over the list when the grid has one.
    view.setFrameShape(QFrame::NoFrame);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    if (!shape.ScrollBar)
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(size);
    view.setModel(&model);
    view.verticalHeader()->hide();
    QHeaderView* header = view.horizontalHeader();
    header->setMinimumSectionSize(1);
    header->setStretchLastSection(false);
    for (int c = 0; c < cols; ++c)
        header->resizeSection(c, shape.Widths[size_t(c)]);
    header->setFixedHeight(shape.HeaderHeight);
    view.verticalHeader()->setMinimumSectionSize(1);
    view.verticalHeader()->setDefaultSectionSize(shape.RowHeight);
    owner.show();
    QCoreApplication::processEvents(); // the header lays itself out when shown

    QImage image(size, QImage::Format_RGB32);
    model.TextsAsked = model.CaptionsAsked = 0;
    const double start = ThreadCpuSeconds();
    for (auto _ : state) {
        view.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
    const double perIteration = (ThreadCpuSeconds() - start) / double(state.iterations());
    const double cells = double(model.TextsAsked + model.CaptionsAsked) / double(state.iterations());
    state.counters["cells"] = cells;
    state.counters["grid_cells"] = double(shape.Cells);
    if (quint64(cells + 0.5) != shape.Cells) {
        const QByteArray why = "the table view painted " + QByteArray::number(cells) + " cells, the grid "
                               + QByteArray::number(shape.Cells) + " (" + QByteArray::number(shape.Widths.size())
                               + " columns, " + QByteArray::number(shape.DataRows) + " rows of " + QByteArray::number(shape.RowHeight)
                               + " px; the view's viewport " + QByteArray::number(view.viewport()->height()) + " px)";
        state.SkipWithError(why.constData());
        return;
    }
    Baselines()[kind] = perIteration;
}

void RecordGridRepaint(benchmark::State& state, const QString& label, const QString& kind, double cpuPerIteration)
{
    auto& grids = Grids();
    auto it = std::find_if(grids.begin(), grids.end(), [&](const auto& g) { return g.first == label; });
    if (it == grids.end())
        grids.push_back({label, {kind, cpuPerIteration}});
    else
        it->second.Grid = cpuPerIteration;
    const auto base = Baselines().find(kind);
    if (base != Baselines().end() && base->second > 0)
        state.counters["x_tableview"] = cpuPerIteration / base->second;
}

void PrintTableViewRatios()
{
    QByteArray line;
    for (const auto& [label, ratio] : Grids()) {
        const auto base = Baselines().find(ratio.Kind);
        if (base == Baselines().end() || base->second <= 0)
            continue;
        line += (line.isEmpty() ? "" : ", ") + label.toUtf8() + ' ' + QByteArray::number(ratio.Grid / base->second, 'f', 2);
    }
    if (!line.isEmpty())
        std::printf("repaint vs table view of the same cells (thread CPU, 1.00 = as fast): %s\n", line.constData());
}
