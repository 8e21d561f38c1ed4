#pragma once
// File > Open Recent: the last ten recordings opened (by name, in the dialog or by a drop), newest
// first, kept in the user's settings. An entry whose file is gone is greyed; "Clear Menu" forgets them
// all. Choosing an entry only announces it; whoever owns the source opens it.

#include <QMenu>
#include <QStringList>

class RecentFilesMenu : public QMenu {
    Q_OBJECT
public:
    static constexpr int MAX_FILES = 10;

    explicit RecentFilesMenu(QWidget* parent = nullptr);

    // Puts the file first, dropping an older mention of it and whatever falls past the tenth.
    void add(const QString& path);
    void clearFiles();
    // Absolute paths, newest first.
    QStringList files() const;

signals:
    void fileChosen(const QString& path);

private:
    void rebuild();
};
