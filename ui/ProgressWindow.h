// The progress windows of the two long operations: adding files (a text
// line, a bar and "取消") and converting (the current file's text and bar,
// the run's text and bar, and "取消"). Both are small frameless windows
// owned by the main window, centred on it and moved by dragging their body.
// They only show what a job reports; the normal event loop draws them.
// Cancel, Escape and closing the window set the cancel flag and say so
// (CancelRequested), and the owner stops the job.
#pragma once

#include "common/Text.h"

#include <cstdint>
#include <QWidget>

#include <functional>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

namespace quelvox::ui {

class CProgressWindow : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Adding, Converting };
    // `alsoCancelled`, when set, is read as a second cancel request (the
    // main window's close request).
    CProgressWindow(QWidget* owner, Kind kind, std::function<bool()> alsoCancelled = {});

    void SetFileText(const Text& text);
    // Bar of the current file; total 0 is counted as 1.
    void SetFileProgress(uint64_t position, uint64_t total);
    void SetRunText(const Text& text);
    void SetRunProgress(int done, int count);
    // Whether Cancel was asked for (or the owner's close request stands).
    bool IsCancelled() const;

    // Sets the cancel flag, as the button does, and says so.
    void Cancel();
    // Shows the window centred on its owner.
    void ShowCentred();

signals:
    void CancelRequested();

public:

    Kind WindowKind() const { return kind_; }
    QLabel* FileText() const { return fileText_; }
    QProgressBar* FileBar() const { return fileBar_; }
    QLabel* RunText() const { return runText_; }
    QProgressBar* RunBar() const { return runBar_; }
    QPushButton* CancelButton() const { return cancelButton_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void SetElided(QLabel* label, const QString& text);

    Kind kind_;
    std::function<bool()> alsoCancelled_;
    bool cancelled_ = false;
    QLabel* fileText_ = nullptr;
    QProgressBar* fileBar_ = nullptr;
    QLabel* runText_ = nullptr;
    QProgressBar* runBar_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace quelvox::ui
