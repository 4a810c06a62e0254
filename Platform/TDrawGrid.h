#pragma once
// An owner-drawn grid: the base control of every alert grid.
//
// The grid keeps no per-row storage: a row count of 100,000 costs nothing but a scroll range,
// and painting calls DrawCell only for the cells that are on screen. Row 0 is the header
// (FixedRows = 1) and stays at the top while the data rows scroll under it. There is no
// horizontal scrolling: columns that do not fit are cut at the right edge.

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QColor>
#include <QEvent>
#include <QPoint>
#include <QRect>
#include <functional>
#include <vector>

class QPainter;

class TDrawGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum TGridOption {
        goColSizing = 0x1,     // the user may drag the column borders in the header row
        goThumbTracking = 0x2, // the view follows the scroll-bar thumb while it is dragged
        goRowSelect = 0x4,     // a whole row is the selection; Row() is the selected row
    };
    using TGridOptions = int; // an or-combination of TGridOption

    enum TScrollBars {
        ssNone,     // neither scroll bar is ever shown
        ssVertical, // vertical scroll bar when the rows do not fit; never a horizontal one
    };

    explicit TDrawGrid(QWidget* parent = nullptr);
    ~TDrawGrid() override;

    // Counts. Changing the row count is O(1).
    int ColCount() const { return Cols; }
    void SetColCount(int count);
    int RowCount() const { return Rows; }
    void SetRowCount(int count);
    int FixedRows() const { return Fixed; } // 0 or 1
    void SetFixedRows(int count);
    int FixedCols() const { return 0; }

    // Sizes in pixels. A column without its own width uses DefaultColWidth (64 at first).
    int DefaultRowHeight() const { return RowHeight; }
    void SetDefaultRowHeight(int height);
    int DefaultColWidth() const { return DefaultWidth; }
    void SetDefaultColWidth(int width); // also resets every column to that width
    int ColWidths(int col) const;
    void SetColWidths(int col, int width);

    TGridOptions Options() const { return GridOptions; }
    void SetOptions(TGridOptions options);
    TScrollBars ScrollBars() const { return Bars; }
    void SetScrollBars(TScrollBars bars);

    // 3-D look: header cells are drawn raised by the subclasses that honour it.
    bool Ctl3D() const { return Look3D; }
    void SetCtl3D(bool on);

    // Background of the area without cells and of data cells (black at first), and of the
    // header (the palette's button colour at first).
    QColor Color() const { return Background; }
    void SetColor(const QColor& color);
    QColor FixedColor() const { return HeaderColor; }
    void SetFixedColor(const QColor& color);

    // Geometry, in viewport coordinates. A cell that is scrolled away has an empty rect.
    QRect CellRect(int col, int row) const;
    // False when the point is on no visible cell (outside the viewport, past the last column
    // or row); col and row are then -1. A cell cut by the viewport's edge counts as visible.
    bool MouseToCell(const QPoint& pos, int& col, int& row) const;

    // Scrolling: TopRow is the first data row shown under the fixed rows.
    int TopRow() const { return Top; }
    void SetTopRow(int row);
    // Data rows that fit completely under the header.
    int VisibleRowCount() const;

    // Row selection (goRowSelect). -1: no row selected. Code that sets the row does not fire
    // SelectCell unless asked to; the selected row is scrolled into view.
    int Row() const { return Selected; }
    void SetRow(int row, bool notify = false);

    // Repaint all, or one cell. At most one paint per display frame follows: a request within
    // a frame of the last paint is collected and painted when the frame is over, so a flood
    // of changes costs one paint per frame while a change after a quiet frame shows at once.
    // Only these two are held back; Qt's own repaints (expose, resize) are not.
    void InvalidateGrid();
    void InvalidateCell(int col, int row);
    // The shortest time between two paints the invalidations ask for (one display frame).
    static constexpr qint64 FrameMs = 16;
    // True while an invalidation waits for the end of the frame.
    bool PaintDeferred() const { return FrameTimer.isActive(); }

    // Fired after the grid's own handling of a released mouse button (a column drag ends
    // first). Subclasses may override MouseUp instead; the default calls this when assigned.
    std::function<void(Qt::MouseButton button, const QPoint& pos)> OnMouseUp;
    // Asked before the user moves the selection to a row (mouse or keyboard); returning false
    // keeps the selection where it is. The default SelectCell calls this when assigned.
    std::function<bool(int col, int row)> OnSelectCell;

    // How many times DrawCell ran since the counter was last reset (painting cost checks).
    quint64 DrawCellCount() const { return CellsDrawn; }
    void ResetDrawCellCount() { CellsDrawn = 0; }

protected:
    // Paints one cell; rect is in viewport coordinates and the painter has no clip of its own.
    virtual void DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed);
    // Once per paint, before the first cell: for settings every cell shares (the font).
    virtual void BeginPaint(QPainter& canvas) {}
    // Called after the grid's own mouse-release handling, with viewport coordinates.
    virtual void MouseUp(Qt::MouseButton button, const QPoint& pos);
    // The user moves the selection to (col, row); false vetoes the move.
    virtual bool SelectCell(int col, int row);
    // The widget's font changed (set directly or inherited from the parent).
    virtual void FontChanged();

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void timerEvent(QTimerEvent* event) override;
    QSize viewportSizeHint() const override;

private:
    int ColumnLeft(int col) const;
    int SizingBorderAt(const QPoint& pos) const; // column whose right border is under pos, or -1
    // Row selection by mouse: the data row under pos becomes the selected one when the grid
    // agrees (SelectCell), and is scrolled into view.
    void SelectRowAt(const QPoint& pos);
    int FirstScrollRow() const { return Fixed; }
    int MaxTopRow() const;
    void UpdateScrollRange();
    void MoveSelection(int row);
    void ScrollRowIntoView(int row);
    void RequestPaint(const QRect* area); // nullptr: the whole viewport
    void AskForWholeUpdate();

    int Cols = 5;
    int Rows = 5;
    int Fixed = 1;
    int RowHeight = 24;
    int DefaultWidth = 64;
    std::vector<int> Widths;
    TGridOptions GridOptions = 0;
    TScrollBars Bars = ssVertical;
    bool Look3D = true;
    QColor Background;
    QColor HeaderColor;
    int Top = 1;
    int Selected = -1;
    bool SyncingScrollBar = false;
    bool ScrollRangePending = false; // the row count changed since the bar last followed
    static QEvent::Type ScrollRangeEventType();
    void SyncScrollRange(); // the bar follows now if it is behind

    int SizingCol = -1; // the column being resized by a drag, -1 when none
    int SizingStartX = 0;
    int SizingStartWidth = 0;

    quint64 CellsDrawn = 0;

    // Paint coalescing: when the last paint began (on the injectable clock), and what was
    // asked for since, waiting for the frame timer. A bounding rectangle, not a region: it
    // never allocates, and the cells it covers are painted the same either way.
    qint64 LastPaintMs = -(qint64(1) << 62);
    QBasicTimer FrameTimer;
    bool PendingAll = false;
    QRect PendingRect;
    bool UpdateAllAsked = false; // Qt was asked to paint the whole viewport and has not yet

};
