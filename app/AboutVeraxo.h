#pragma once
// Help > About Veraxo: the version, what the program does, that it is entertainment, the licence and
// the versions of the libraries it runs on. `veraxo --version` prints the same version and libraries.

#include <QString>

class QMessageBox;
class QWidget;

class AboutVeraxo {
public:
    // "Veraxo 0.1.0".
    static QString versionLine();
    // "Qt 6.4.2, PortAudio 19.7.0, libsndfile 1.2.0": the versions in use, not those built against.
    static QString libraryLine();
    // The box's text, as rich text.
    static QString text();
    // Opens the box over parent without blocking; it deletes itself when closed.
    static QMessageBox* show(QWidget* parent);
};
