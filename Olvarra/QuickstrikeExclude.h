#pragma once
// The QuickStrike exclusion dialog: one symbol per line; "Update" replaces the exclusion
// list with the lines, "Cancel" leaves it and discards the edits.

#include <QDialog>

class QPlainTextEdit;
class QPushButton;
class TQuickStrikeExcludeList;

class TQuickstrikeExcludeForm : public QDialog {
    Q_OBJECT
public:
    explicit TQuickstrikeExcludeForm(QWidget* parent = nullptr);

    QPlainTextEdit* SymbolsMemo = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

// The main window's "Quickstrike Exclude" button: shows the dialog modally and applies
// what the user chose to the list.
void QuickStrikeButtonClick(TQuickstrikeExcludeForm& form, TQuickStrikeExcludeList& list);
void QuickStrikeButtonClick(TQuickstrikeExcludeForm& form); // the process-wide list

// The outcome alone. Accepted: the list is emptied and every non-empty line (blanks around
// it removed) is added. In both outcomes the memo is refilled from the list, so it next
// shows the list sorted and without duplicates.
void ApplyQuickStrikeExclude(TQuickstrikeExcludeForm& form, bool accepted, TQuickStrikeExcludeList& list);
