#pragma once
// Form text: key=value items joined by "&", keys and values percent-encoded.

#include <QByteArray>
#include <QByteArrayView>
#include <vector>

class tHashTable;

// One pass: "%" and two hex digits become one byte; anything else is copied ("+" stays "+").
QByteArray UrlDecode(const QByteArray& text);

// Left is the text before the first Separator, Right the text after it; without Separator,
// Left is the whole text and Right is empty.
void SplitAt(const QByteArray& separator, const QByteArray& text, QByteArray& left, QByteArray& right);

// Puts the decoded pairs of a form into Table; items without "=" are skipped.
void ParseForm(const QByteArray& text, tHashTable& table);

// The values of a few wanted keys of a form, read in one pass without a table. Each key gets
// what a table filled by ParseForm from the same text would hold for it: the value of its
// last item, decoded the same way; GetView of a key absent from the form is a null view, as
// the table's. The items are cut exactly as ParseForm cuts them.
//
// For alerts whose reader needs only a handful of their fields: building a table of every
// field and then looking up five of them cost more than the rest of the alert's reading.
class TFormPick {
public:
    TFormPick() = default;
    explicit TFormPick(std::vector<QByteArray> keys) { SetKeys(std::move(keys)); }

    // The keys to keep (a key given twice is kept once); forgets what was read.
    void SetKeys(std::vector<QByteArray> keys);
    const std::vector<QByteArray>& Keys() const { return KeyTexts; }

    // Reads text. Values are views into it (or into room of this object's own for values
    // with "%"), valid until the next Parse or Clear while text lives.
    void Parse(const QByteArray& text);
    void Clear();

    // Asking for a key that is not one of Keys() is a programming error.
    QByteArrayView GetView(QByteArrayView key) const;
    // Which of Keys() key is, -1 for none.
    int IndexOf(QByteArrayView key) const;

private:
    struct TWanted {
        char First = 0; // the key's first byte, 0 for the empty key
        qsizetype Length = 0;
        const char* Value = nullptr; // as read: still percent-encoded if Percent
        qsizetype ValueLength = 0;
        bool Percent = false;
    };
    std::vector<QByteArray> KeyTexts;
    std::vector<TWanted> Wanted;
    qsizetype LongestKey = 0;
    quint64 LengthMask = 0; // bit n (n < 64): some wanted key has n bytes
    QByteArray KeyRoom; // a long key with "%", decoded
    QByteArray Room; // decoded values
};

// The numbered keys of a form ("symbol0", "last0", "symbol1", ...) as rows, read in one pass
// without a table: row i, column c holds what a table filled by ParseForm would hold for the
// key Columns()[c] followed by i in decimal, without leading zeros. Column 0 is the one every
// row of a list must have: rows are counted from 0 while it is there and not empty, since no
// list reads past the first row without it. Column names never end in a digit.
class TNumberedFormPick {
public:
    explicit TNumberedFormPick(std::vector<QByteArray> columns);

    void Parse(const QByteArray& text); // views as TFormPick's
    void Clear();

    const std::vector<QByteArray>& Keys() const { return Names.Keys(); } // the columns
    int ColumnCount() const { return int(Names.Keys().size()); }
    // Rows 0 to Rows() - 1 have a column 0 that is not empty; row Rows() has none.
    qsizetype Rows() const { return RowCount; }
    // Row i's values, one per column (ColumnCount of them), null where the form has none.
    void ReadRow(qsizetype row, QByteArrayView* values) const;

private:
    // 24 bytes (and 8 in Order) for an item of at least 9 ("symbol0=&"): a hostile list
    // costs under four times its frame, less than a table entry per item.
    struct TCell {
        const char* Value;
        qsizetype Length;
        qint32 Row; // nine digits at most
        qint16 Column;
        bool Percent;
    };
    TFormPick Names; // matches a key's name, without its number
    std::vector<TCell> Cells; // every numbered item, in the form's order
    std::vector<qsizetype> RowStart; // row i's cells are Order[RowStart[i]] to Order[RowStart[i + 1]] - 1
    std::vector<qsizetype> Order;
    qsizetype RowCount = 0;
    QByteArray Room;
    QByteArray KeyRoom;
};
