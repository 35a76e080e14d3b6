// The progress windows of the two long operations: adding files (a text
// line, a bar and "取消") and converting (the current file's text and bar,
// the run's text and bar, and "取消"). Both are small frameless windows
// owned by the main window, centred on it and moved by dragging their body.
// They are the engine's IProgress: Pump keeps the program alive by
// processing pending events, at most every 30 ms so that drawing never
// dominates the work; Cancel, Escape and closing the window set the cancel
// flag, which the operation reads after its next pump.
#pragma once

#include "engine/HostInterfaces.h"

#include <QElapsedTimer>
#include <QWidget>

#include <functional>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

namespace quelvox::ui {

class CProgressWindow : public QWidget, public IProgress {
    Q_OBJECT
public:
    enum class Kind { Adding, Converting };
    // `alsoCancelled`, when set, is read as a second cancel request (the
    // main window's close request).
    CProgressWindow(QWidget* owner, Kind kind, std::function<bool()> alsoCancelled = {});

    void SetFileText(const Text& text) override;
    // A text the window translated itself, shown as it is.
    void SetFileText(const std::string& shown) { SetFileText(Text(shown)); }
    void SetFileProgress(uint64_t position, uint64_t total) override;
    void SetRunText(const Text& text) override;
    void SetRunProgress(int done, int count) override;
    void Pump() override;
    bool IsCancelled() const override;

    // Sets the cancel flag, as the button does.
    void Cancel() { cancelled_ = true; }
    // Shows the window centred on its owner and draws it at once.
    void ShowCentred();

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
    QElapsedTimer sincePump_;
    QLabel* fileText_ = nullptr;
    QProgressBar* fileBar_ = nullptr;
    QLabel* runText_ = nullptr;
    QProgressBar* runBar_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace quelvox::ui
