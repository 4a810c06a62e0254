#pragma once
// The baseline for the grids' repaint: a plain QTableView over a QAbstractTableModel with the
// default delegate, laid out cell for cell like the grid it stands for (the same column
// widths, row height and header height, so the same number of cells is painted) and rendered
// the same way. Each grid's repaint is then stated as a ratio against the table view of the
// same cells: the counter "x_tableview" when the baseline ran first, and a summary line at the
// end of the run ("repaint vs table view: ...").

#include <QSize>
#include <QString>
#include <benchmark/benchmark.h>
#include <vector>

class QWidget;
class TDrawGrid;

// What a grid painted in one full repaint: the columns that showed, the row and header
// heights, and how many data rows were painted.
struct TGridShape {
    std::vector<int> Widths;
    int RowHeight = 0;
    int HeaderHeight = 0;
    int DataRows = 0;
    int ListRows = 0;       // data rows the grid holds (the symbol wall holds what fits)
    bool ScrollBar = true;  // false: the grid never shows one
    quint64 Cells = 0; // header cells included
};

// Renders the grid once and reads its shape; render is the grid's own benchmark's way of
// painting it into an image of the given size.
TGridShape ShapeOf(TDrawGrid& grid, QWidget& rendered, QSize imageSize);

// The table view's repaint for a grid of that shape, at the size the grid is shown at. The
// "cells" counter is what the view painted: data cells and header sections.
void RunTableView(benchmark::State& state, const QString& kind, const TGridShape& shape, QSize size);

// Thread CPU time per iteration of the grid's benchmark, recorded under the kind of its
// baseline; sets "x_tableview" when the baseline has run.
void RecordGridRepaint(benchmark::State& state, const QString& label, const QString& kind, double cpuPerIteration);

// Thread CPU time of this thread, for the figures above.
double ThreadCpuSeconds();

// Prints the ratios measured in this run (nothing when no pair ran).
void PrintTableViewRatios();
