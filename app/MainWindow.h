#pragma once
// The program's one window: a main window with the menu bar over the navigation controller. A local
// file dropped anywhere on it is announced, so it can be opened like one chosen in File > Open.

#include <QMainWindow>

class QMimeData;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

signals:
    void fileDropped(const QString& path);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The first local file among the dragged items, or an empty string.
    static QString droppedFile(const QMimeData* data);
};
