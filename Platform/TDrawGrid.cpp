#include "Platform/TDrawGrid.h"

#include "Platform/Clock.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimerEvent>
#include <algorithm>

namespace {
// How close to a column border (in pixels, either side) a press starts a column drag.
constexpr int SizingSlack = 2;

// A scroll bar that repaints only when what it shows changes. A list that grows by thousands
// of rows a second changes the bar's range on every turn of the event loop while its handle,
// already at its smallest, stays where it is; a styled bar's paint cost a sixth as much as
// the grid's own. What a bar shows is the place of its handle and whether it stands at either
// end (the arrows) or can move at all.
class TQuietScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override
    {
        if (change != SliderOrientationChange && Painted && LooksAsPainted())
            return;
        QScrollBar::sliderChange(change);
    }
    void paintEvent(QPaintEvent* event) override
    {
        QScrollBar::paintEvent(event);
        Painted = true;
        Shown = Look();
    }
    void changeEvent(QEvent* event) override
    {
        Painted = false; // a new style, palette or state: nothing is known of the old picture
        QScrollBar::changeEvent(event);
    }
    void resizeEvent(QResizeEvent* event) override
    {
        Painted = false;
        QScrollBar::resizeEvent(event);
    }

private:
    struct TLook {
        QRect Handle;
        bool AtMinimum = false;
        bool AtMaximum = false;
        bool operator==(const TLook&) const = default;
    };
    TLook Look() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                value() <= minimum(), value() >= maximum()};
    }
    bool LooksAsPainted() const { return Look() == Shown; }

    bool Painted = false;
    TLook Shown;
};
} // namespace

TDrawGrid::TDrawGrid(QWidget* parent)
    : QAbstractScrollArea(parent), Widths(size_t(Cols), DefaultWidth), Background(Qt::black),
      HeaderColor(palette().color(QPalette::Button))
{
    setVerticalScrollBar(new TQuietScrollBar(Qt::Vertical, this));
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Every pixel of the viewport is painted here; the system need not clear it first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    viewport()->setMouseTracking(true);
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setTracking(false);
    UpdateScrollRange();
}

TDrawGrid::~TDrawGrid() = default;

void TDrawGrid::SetColCount(int count)
{
    count = std::max(count, 0);
    if (count == Cols)
        return;
    Cols = count;
    Widths.resize(size_t(count), DefaultWidth);
    updateGeometry();
    InvalidateGrid();
}

void TDrawGrid::SetRowCount(int count)
{
    count = std::max(count, Fixed + 1);
    if (count == Rows)
        return;
    Rows = count;
    // A selection past the end moves to the last row, quietly: a shrinking list is the
    // program's doing, not the user's.
    if (Selected >= Rows)
        Selected = Rows - 1;
    // The scroll bar follows once per turn of the event loop rather than once per call:
    // setting its range queues a signal inside Qt (allocations), and a flood changes the row
    // count thousands of times a second. The grid's own top row is right at once.
    Top = std::clamp(Top, Fixed, MaxTopRow());
    if (!ScrollRangePending) {
        ScrollRangePending = true;
        QCoreApplication::postEvent(this, new QEvent(ScrollRangeEventType()));
    }
    InvalidateGrid();
}

QEvent::Type TDrawGrid::ScrollRangeEventType()
{
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

bool TDrawGrid::event(QEvent* event)
{
    if (event->type() == ScrollRangeEventType()) {
        SyncScrollRange();
        return true;
    }
    return QAbstractScrollArea::event(event);
}

void TDrawGrid::SyncScrollRange()
{
    if (ScrollRangePending)
        UpdateScrollRange();
}

void TDrawGrid::SetFixedRows(int count)
{
    count = std::clamp(count, 0, 1);
    if (count == Fixed)
        return;
    Fixed = count;
    Rows = std::max(Rows, Fixed + 1);
    if (Selected >= 0 && Selected < Fixed)
        Selected = -1;
    Top = Fixed;
    UpdateScrollRange();
    InvalidateGrid();
}

void TDrawGrid::SetDefaultRowHeight(int height)
{
    height = std::max(height, 1);
    if (height == RowHeight)
        return;
    RowHeight = height;
    UpdateScrollRange();
    updateGeometry();
    InvalidateGrid();
}

void TDrawGrid::SetDefaultColWidth(int width)
{
    width = std::max(width, 0);
    DefaultWidth = width;
    std::fill(Widths.begin(), Widths.end(), width);
    updateGeometry();
    InvalidateGrid();
}

int TDrawGrid::ColWidths(int col) const
{
    if (col < 0 || col >= Cols)
        return DefaultWidth;
    return Widths[size_t(col)];
}

void TDrawGrid::SetColWidths(int col, int width)
{
    if (col < 0 || col >= Cols)
        return;
    width = std::max(width, 0);
    if (Widths[size_t(col)] == width)
        return;
    Widths[size_t(col)] = width;
    updateGeometry();
    InvalidateGrid();
}

void TDrawGrid::SetOptions(TGridOptions options)
{
    GridOptions = options;
    verticalScrollBar()->setTracking((options & goThumbTracking) != 0);
    if (!(options & goRowSelect) && Selected >= 0) {
        Selected = -1;
        InvalidateGrid();
    }
}

void TDrawGrid::SetScrollBars(TScrollBars bars)
{
    Bars = bars;
    setVerticalScrollBarPolicy(bars == ssNone ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
}

void TDrawGrid::SetCtl3D(bool on)
{
    if (on == Look3D)
        return;
    Look3D = on;
    InvalidateGrid();
}

void TDrawGrid::SetColor(const QColor& color)
{
    Background = color;
    InvalidateGrid();
}

void TDrawGrid::SetFixedColor(const QColor& color)
{
    HeaderColor = color;
    InvalidateGrid();
}

int TDrawGrid::ColumnLeft(int col) const
{
    int x = 0;
    for (int c = 0; c < col && c < Cols; ++c)
        x += Widths[size_t(c)];
    return x;
}

QRect TDrawGrid::CellRect(int col, int row) const
{
    if (col < 0 || col >= Cols || row < 0 || row >= Rows)
        return {};
    int y;
    if (row < Fixed)
        y = row * RowHeight;
    else if (row < Top)
        return {};
    else
        y = Fixed * RowHeight + (row - Top) * RowHeight;
    const int x = ColumnLeft(col);
    const QSize area = viewport()->size();
    if (x >= area.width() || y >= area.height())
        return {};
    return QRect(x, y, Widths[size_t(col)], RowHeight);
}

bool TDrawGrid::MouseToCell(const QPoint& pos, int& col, int& row) const
{
    col = -1;
    row = -1;
    // Only what is on screen: a button released below or beside the window (the viewport
    // keeps the mouse while a button is down) would otherwise reach rows nobody can see.
    const QSize area = viewport()->size();
    if (pos.x() < 0 || pos.y() < 0 || pos.x() >= area.width() || pos.y() >= area.height())
        return false;
    const int headerHeight = Fixed * RowHeight;
    int r = pos.y() < headerHeight ? pos.y() / RowHeight
                                   : Top + (pos.y() - headerHeight) / RowHeight;
    if (r >= Rows)
        return false;
    int x = 0;
    for (int c = 0; c < Cols; ++c) {
        x += Widths[size_t(c)];
        if (pos.x() < x) {
            col = c;
            row = r;
            return true;
        }
    }
    return false;
}

int TDrawGrid::VisibleRowCount() const
{
    return std::max(0, (viewport()->height() - Fixed * RowHeight) / RowHeight);
}

int TDrawGrid::MaxTopRow() const
{
    return std::max(Fixed, Rows - std::max(1, VisibleRowCount()));
}

void TDrawGrid::UpdateScrollRange()
{
    ScrollRangePending = false;
    SyncingScrollBar = true;
    QScrollBar* bar = verticalScrollBar();
    const int maximum = MaxTopRow() - Fixed;
    {
        // The scroll area hears of every range change through a queued signal (three
        // allocations and an event), only to show or hide the bar: that depends on nothing
        // but whether the bar can move at all. While that stays as it was, the signal is not
        // sent; the bar itself still takes the new range.
        const bool couldMove = bar->minimum() < bar->maximum();
        const QSignalBlocker quiet(couldMove == (0 < maximum) ? bar : nullptr);
        bar->setRange(0, maximum);
    }
    bar->setPageStep(std::max(1, VisibleRowCount()));
    Top = std::clamp(Top, Fixed, MaxTopRow());
    bar->setValue(Top - Fixed);
    SyncingScrollBar = false;
}

void TDrawGrid::SetTopRow(int row)
{
    SyncScrollRange(); // the bar's value is set below
    row = std::clamp(row, Fixed, MaxTopRow());
    if (row == Top)
        return;
    Top = row;
    SyncingScrollBar = true;
    verticalScrollBar()->setValue(Top - Fixed);
    SyncingScrollBar = false;
    InvalidateGrid();
}

void TDrawGrid::scrollContentsBy(int, int)
{
    if (SyncingScrollBar)
        return;
    SyncScrollRange();
    const int row = std::clamp(Fixed + verticalScrollBar()->value(), Fixed, MaxTopRow());
    if (row == Top)
        return;
    Top = row;
    InvalidateGrid();
}

void TDrawGrid::ScrollRowIntoView(int row)
{
    if (row < Fixed)
        return;
    if (row < Top)
        SetTopRow(row);
    else if (row >= Top + std::max(1, VisibleRowCount()))
        SetTopRow(row - std::max(1, VisibleRowCount()) + 1);
}

void TDrawGrid::SetRow(int row, bool notify)
{
    if (row < Fixed || row >= Rows)
        row = -1;
    if (row == Selected)
        return;
    if (notify && row >= 0 && !SelectCell(0, row))
        return;
    Selected = row;
    if (row >= 0)
        ScrollRowIntoView(row);
    InvalidateGrid();
}

void TDrawGrid::MoveSelection(int row)
{
    row = std::clamp(row, Fixed, Rows - 1);
    if (row == Selected || row < Fixed)
        return;
    if (!SelectCell(0, row))
        return;
    Selected = row;
    ScrollRowIntoView(row);
    InvalidateGrid();
}

void TDrawGrid::InvalidateGrid()
{
    RequestPaint(nullptr);
}

void TDrawGrid::InvalidateCell(int col, int row)
{
    const QRect rect = CellRect(col, row);
    if (!rect.isEmpty())
        RequestPaint(&rect);
}

void TDrawGrid::RequestPaint(const QRect* area)
{
    // The whole viewport is already asked of Qt: in a flood every alert after the frame's
    // end lands here until the paint, and asking again costs as much as the rest of a row.
    if (UpdateAllAsked)
        return;
    // A hidden grid is painted whole when it is shown: nothing to ask, no clock to read.
    if (!viewport()->isVisible())
        return;
    if (!FrameTimer.isActive()) {
        const qint64 since = Clock().MonotonicMs() - LastPaintMs;
        // A negative span means another clock was installed since the last paint; nothing is
        // known about the frame then, so the change is shown at once.
        if (since >= FrameMs || since < 0) {
            if (area)
                viewport()->update(*area);
            else
                AskForWholeUpdate();
            return;
        }
        FrameTimer.start(int(FrameMs - since), Qt::PreciseTimer, this);
    }
    if (area)
        PendingRect |= *area;
    else
        PendingAll = true;
}

void TDrawGrid::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != FrameTimer.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    FrameTimer.stop();
    // Handed to Qt as it was collected; Qt paints it on its next pass. A paint that came in
    // between (an expose) may have covered it already: painting it twice loses nothing.
    if (PendingAll)
        AskForWholeUpdate();
    else if (!PendingRect.isEmpty())
        viewport()->update(PendingRect);
    PendingAll = false;
    PendingRect = QRect();
}

void TDrawGrid::AskForWholeUpdate()
{
    viewport()->update();
    // A viewport that cannot be painted drops the request; then nothing is pending.
    UpdateAllAsked = viewport()->isVisible() && viewport()->updatesEnabled();
}

void TDrawGrid::DrawCell(QPainter& canvas, int, int, const QRect& rect, bool fixed)
{
    canvas.fillRect(rect, fixed ? HeaderColor : Background);
}

void TDrawGrid::MouseUp(Qt::MouseButton button, const QPoint& pos)
{
    if (OnMouseUp)
        OnMouseUp(button, pos);
}

bool TDrawGrid::SelectCell(int col, int row)
{
    if (OnSelectCell)
        return OnSelectCell(col, row);
    return true;
}

void TDrawGrid::FontChanged() {}

void TDrawGrid::paintEvent(QPaintEvent* event)
{
    SyncScrollRange(); // what is painted and the bar beside it agree
    UpdateAllAsked = false;
    // The frame of the coalesced invalidations starts with the paint, whatever caused it.
    LastPaintMs = Clock().MonotonicMs();
    QPainter canvas(viewport());
    BeginPaint(canvas);
    const QRect dirty = event->rect();
    const QSize area = viewport()->size();

    int bottom = 0; // below the last painted row
    int right = 0;  // right of the last column
    for (int c = 0; c < Cols; ++c)
        right += Widths[size_t(c)];
    right = std::min(right, area.width());

    auto paintRow = [&](int row, int y) {
        int x = 0;
        for (int c = 0; c < Cols && x < area.width(); ++c) {
            const int w = Widths[size_t(c)];
            const QRect rect(x, y, w, RowHeight);
            if (w > 0 && rect.intersects(dirty)) {
                ++CellsDrawn;
                DrawCell(canvas, c, row, rect, row < Fixed);
                canvas.setClipping(false);
            }
            x += w;
        }
    };

    int y = 0;
    for (int r = 0; r < Fixed && r < Rows && y < area.height(); ++r, y += RowHeight)
        paintRow(r, y);
    for (int r = Top; r < Rows && y < area.height(); ++r, y += RowHeight)
        paintRow(r, y);
    bottom = y;

    // The area without cells shows the background.
    if (right < area.width())
        canvas.fillRect(QRect(right, 0, area.width() - right, area.height()) & dirty, Background);
    if (bottom < area.height())
        canvas.fillRect(QRect(0, bottom, right, area.height() - bottom) & dirty, Background);
}

void TDrawGrid::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRange();
}

void TDrawGrid::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        FontChanged();
}

int TDrawGrid::SizingBorderAt(const QPoint& pos) const
{
    if (!(GridOptions & goColSizing) || pos.y() < 0 || pos.y() >= Fixed * RowHeight)
        return -1;
    int x = 0;
    int found = -1;
    for (int c = 0; c < Cols; ++c) {
        x += Widths[size_t(c)];
        if (std::abs(pos.x() - x) <= SizingSlack)
            found = c; // the last one wins, so a column dragged to width 0 can be pulled out again
        else if (x > pos.x() + SizingSlack)
            break;
    }
    return found;
}

void TDrawGrid::SelectRowAt(const QPoint& pos)
{
    int col, row;
    if (MouseToCell(pos, col, row) && row >= Fixed && row != Selected && SelectCell(col, row)) {
        Selected = row;
        ScrollRowIntoView(row);
        InvalidateGrid();
    }
}

void TDrawGrid::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        const int border = SizingBorderAt(pos);
        if (border >= 0) {
            SizingCol = border;
            SizingStartX = pos.x();
            SizingStartWidth = Widths[size_t(border)];
            return;
        }
        if (GridOptions & goRowSelect)
            SelectRowAt(pos);
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void TDrawGrid::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (SizingCol >= 0) {
        SetColWidths(SizingCol, std::max(1, SizingStartWidth + pos.x() - SizingStartX));
        return;
    }
    if (event->buttons() == Qt::NoButton) {
        if (SizingBorderAt(pos) >= 0)
            viewport()->setCursor(Qt::SplitHCursor);
        else
            viewport()->unsetCursor();
    } else if ((event->buttons() & Qt::LeftButton) && (GridOptions & goRowSelect)) {
        SelectRowAt(pos);
    }
    QAbstractScrollArea::mouseMoveEvent(event);
}

void TDrawGrid::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (SizingCol >= 0 && event->button() == Qt::LeftButton) {
        SetColWidths(SizingCol, std::max(1, SizingStartWidth + pos.x() - SizingStartX));
        SizingCol = -1;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
    MouseUp(event->button(), pos);
}

void TDrawGrid::keyPressEvent(QKeyEvent* event)
{
    const int page = std::max(1, VisibleRowCount());
    const bool rowSelect = (GridOptions & goRowSelect) != 0;
    const int current = rowSelect ? (Selected >= Fixed ? Selected : Fixed - 1) : Top;
    int target;
    switch (event->key()) {
    case Qt::Key_Up: target = current - 1; break;
    case Qt::Key_Down: target = current + 1; break;
    case Qt::Key_PageUp: target = current - page; break;
    case Qt::Key_PageDown: target = current + page; break;
    case Qt::Key_Home: target = Fixed; break;
    case Qt::Key_End: target = Rows - 1; break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    if (rowSelect)
        MoveSelection(target);
    else
        SetTopRow(target);
    event->accept();
}

QSize TDrawGrid::viewportSizeHint() const
{
    int width = 0;
    for (int w : Widths)
        width += w;
    return QSize(width, std::min(Rows, 20) * RowHeight);
}
